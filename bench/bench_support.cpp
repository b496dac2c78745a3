#include "bench/bench_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <signal.h>
#include <unistd.h>

namespace lumbrix::bench {

namespace {

// Fixed buffers: the cleanup also runs from a signal handler.
constexpr int kMaxFiles = 8;
char g_dir[64] = "";
char g_files[kMaxFiles][128] = {};
int g_fileCount = 0;

void removeTemporaryFiles() {
    // Only async-signal-safe calls.
    for (int i = 0; i < g_fileCount; ++i) {
        if (g_files[i][0] != '\0') unlink(g_files[i]);
    }
    if (g_dir[0] != '\0') rmdir(g_dir);
}

void onTerminatingSignal(int sig) {
    removeTemporaryFiles();
    signal(sig, SIG_DFL);
    raise(sig);
}

}  // namespace

std::string temporaryVenuePath(const char* name) {
    if (g_fileCount == kMaxFiles) return {};
    if (g_dir[0] == '\0') {
        std::snprintf(g_dir, sizeof g_dir, "/tmp/lumbrix-bench-XXXXXX");
        if (mkdtemp(g_dir) == nullptr) {
            std::perror("mkdtemp");
            g_dir[0] = '\0';
            return {};
        }
        // LUMBRIX_BENCH_KEEP_FILE=1 leaves the venue files behind for profiling.
        const char* keep = std::getenv("LUMBRIX_BENCH_KEEP_FILE");
        if (keep == nullptr || *keep == '\0' || *keep == '0') std::atexit(removeTemporaryFiles);
        signal(SIGINT, onTerminatingSignal);
        signal(SIGTERM, onTerminatingSignal);
    }
    char* file = g_files[g_fileCount];
    std::snprintf(file, sizeof g_files[0], "%s/%s", g_dir, name);
    ++g_fileCount;
    return file;
}

double jitter(uint64_t i, uint64_t j, uint64_t salt) {
    uint64_t h = (i * 0x9E3779B97F4A7C15ull) ^ (j * 0xC2B2AE3D27D4EB4Full) ^ salt;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return double(h >> 11) / double(uint64_t(1) << 53) - 0.5;
}

uint64_t statusFieldKiB(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    uint64_t value = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            value = std::strtoull(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

bool triangleCountFromEnvironment(uint64_t& triangles) {
    triangles = 2'000'000;
    const char* text = std::getenv("LUMBRIX_BENCH_TRIANGLES");
    if (text == nullptr || *text == '\0') return true;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > 1'000'000'000ull) {
        std::fprintf(stderr, "LUMBRIX_BENCH_TRIANGLES must be a positive integer up to 1e9, got \"%s\"\n", text);
        return false;
    }
    triangles = value;
    return true;
}

void ThroughputReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred) continue;
        const auto rate = run.counters.find("bytes_per_second");
        if (rate == run.counters.end()) continue;
        // With --benchmark_repetitions the median stands for the family.
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (run.run_type == Run::RT_Iteration || median) {
            Entry& entry = entries_[run.run_name.function_name];
            if (median || !entry.fromMedian) entry = {rate->second.value, run.GetAdjustedRealTime(), median};
        }
    }
}

double ThroughputReporter::bytesPerSecond(const std::string& name) const {
    const auto it = entries_.find(name);
    return it == entries_.end() ? 0.0 : it->second.bytesPerSecond;
}

double ThroughputReporter::milliseconds(const std::string& name) const {
    const auto it = entries_.find(name);
    return it == entries_.end() ? 0.0 : it->second.milliseconds;
}

}  // namespace lumbrix::bench
