#pragma once
// Pieces every load benchmark shares: file generation helpers, memory readings
// and a reporter that keeps each run's throughput for the ratio lines.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lumbrix::bench {

// Cheap deterministic jitter in [-0.5, 0.5): a regular lattice would print the
// same few digit patterns (and compress to almost nothing), which scanned and
// sculpted venues never do.
double jitter(uint64_t i, uint64_t j, uint64_t salt);

// A "Field:  123 kB" line of /proc/self/status, in KiB; 0 when absent.
uint64_t statusFieldKiB(const char* field);

// A path for the generated file `name` in a fresh /tmp folder (one per process, up
// to eight files), all removed at exit and on SIGINT/SIGTERM unless
// LUMBRIX_BENCH_KEEP_FILE=1; empty on failure.
std::string temporaryVenuePath(const char* name);

// LUMBRIX_BENCH_TRIANGLES, or 2,000,000; false (with a message) when malformed.
bool triangleCountFromEnvironment(uint64_t& triangles);

// Console output as usual, plus each benchmark's throughput and time.
class ThroughputReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override;

    // 0 when the benchmark did not run or failed.
    double bytesPerSecond(const std::string& name) const;
    double milliseconds(const std::string& name) const;

private:
    struct Entry {
        double bytesPerSecond = 0.0;
        double milliseconds = 0.0;
        bool fromMedian = false;
    };
    std::map<std::string, Entry> entries_;
};

}  // namespace lumbrix::bench
