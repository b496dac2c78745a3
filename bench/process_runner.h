#pragma once
// Whole-process timing for the load benchmarks: each load runs as a fresh process, so
// page faults on new memory, start-up and teardown count on every side, as a user
// meets them. Contenders take turns, run by run, so a change in the machine's load
// falls on all of them alike.
#include <cstdint>
#include <string>
#include <vector>

namespace lumbrix::bench {

struct ProcessRun {
    bool started = false;
    int exitStatus = -1;      // the exit code, or -1 when killed by a signal
    double seconds = 0.0;     // wall time from spawn to reaped
    double userSeconds = 0.0;
    double systemSeconds = 0.0;
    double maxRssMB = 0.0;    // ru_maxrss from wait4, in 10^6 bytes
    std::string output;       // the first 64 KiB of standard output
};

// Starts the helper process that spawns every measured process. Call it first thing in
// main, while the benchmark is still small: Linux carries the peak memory of the
// process that spawns a program over into the program's ru_maxrss, so the spawner must
// not be the benchmark once it holds its generated files. False when it cannot start
// (runProcess then spawns directly and peak memory includes the benchmark's).
bool startProcessRunner();

// A whole-process benchmark's start: the runner started (saying so when it cannot be) and
// our own --processes-only taken out of argv before Google Benchmark, which refuses flags
// it does not know, reads it. Returns whether it was given.
bool startProcessBenchmark(int& argc, char** argv);

// Runs `argv` (argv[0] a path) with standard input and error on /dev/null, through the
// helper when it runs.
ProcessRun runProcess(const std::vector<std::string>& argv);

struct Contender {
    std::string name;
    std::vector<std::string> argv;
};

struct ProcessStats {
    std::string name;
    bool ok = false;          // every run exited with 0
    std::string failure;      // the first failed run's output, when not ok
    std::vector<ProcessRun> runs;
    double median = 0.0, minimum = 0.0, maximum = 0.0;  // seconds
    double cpuMedian = 0.0;   // user + system seconds
    double rssMedian = 0.0, rssMaximum = 0.0;  // MB
    std::string firstOutput;
};

// One untimed run of each (so the files and programs are in the page cache), then
// `runs` rounds in which each contender runs once, in turn.
std::vector<ProcessStats> compareProcesses(const std::vector<Contender>& contenders, int runs);

// The 1-, 5- and 15-minute load averages, as "0.12 0.34 0.56".
std::string loadAverage();

// The integer after "\"key\":" in a line of JSON, or -1.
int64_t jsonInteger(const std::string& json, const std::string& key);

// Prints the table for one file: median, minimum and maximum seconds, CPU seconds and
// peak memory of each contender, and the peers' median time over ours (the first row):
// above 1.0 we are faster.
void printComparison(const std::string& title, const std::vector<ProcessStats>& stats);

// LUMBRIX_BENCH_RUNS, or 5.
int runsFromEnvironment();

}  // namespace lumbrix::bench
