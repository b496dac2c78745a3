#include "bench/process_runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumbrix::bench {

namespace {

constexpr size_t kOutputLimit = size_t(64) << 10;
constexpr double kMB = 1e6;

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; }

}  // namespace

namespace {

ProcessRun spawnAndWait(const std::vector<std::string>& argv) {
    ProcessRun run;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    const auto started = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return run;
    }
    run.started = true;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        if (run.output.size() < kOutputLimit) run.output.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = 0;
    struct rusage usage {};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.userSeconds = seconds(usage.ru_utime);
    run.systemSeconds = seconds(usage.ru_stime);
    run.maxRssMB = double(usage.ru_maxrss) * 1024.0 / kMB;
    return run;
}

// The helper's pipes, from the benchmark's side.
int g_toHelper = -1;
int g_fromHelper = -1;

bool writeAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeString(int fd, const std::string& text) {
    const auto size = static_cast<uint32_t>(text.size());
    return writeAll(fd, &size, sizeof size) && writeAll(fd, text.data(), text.size());
}

bool readString(int fd, std::string& text) {
    uint32_t size = 0;
    if (!readAll(fd, &size, sizeof size)) return false;
    text.resize(size);
    return readAll(fd, text.data(), size);
}

struct RunRecord {
    int started;
    int exitStatus;
    double seconds, userSeconds, systemSeconds, maxRssMB;
};

// The helper: reads an argument count and the arguments, runs them, answers with the
// record and the output, until the benchmark closes its end.
[[noreturn]] void serve(int in, int out) {
    for (;;) {
        uint32_t count = 0;
        if (!readAll(in, &count, sizeof count)) _exit(0);
        std::vector<std::string> argv(count);
        for (std::string& arg : argv) {
            if (!readString(in, arg)) _exit(0);
        }
        const ProcessRun run = spawnAndWait(argv);
        const RunRecord record{run.started ? 1 : 0, run.exitStatus, run.seconds, run.userSeconds, run.systemSeconds,
                               run.maxRssMB};
        if (!writeAll(out, &record, sizeof record) || !writeString(out, run.output)) _exit(0);
    }
}

}  // namespace

bool startProcessRunner() {
    if (g_toHelper >= 0) return true;
    int request[2], reply[2];
    if (pipe2(request, O_CLOEXEC) != 0) return false;
    if (pipe2(reply, O_CLOEXEC) != 0) {
        close(request[0]);
        close(request[1]);
        return false;
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(request[1]);
        close(reply[0]);
        serve(request[0], reply[1]);
    }
    close(request[0]);
    close(reply[1]);
    g_toHelper = request[1];
    g_fromHelper = reply[0];
    return true;
}

ProcessRun runProcess(const std::vector<std::string>& argv) {
    if (g_toHelper < 0) return spawnAndWait(argv);
    ProcessRun run;
    const auto count = static_cast<uint32_t>(argv.size());
    bool ok = writeAll(g_toHelper, &count, sizeof count);
    for (const std::string& arg : argv) ok = ok && writeString(g_toHelper, arg);
    RunRecord record{};
    ok = ok && readAll(g_fromHelper, &record, sizeof record) && readString(g_fromHelper, run.output);
    if (!ok) return run;
    run.started = record.started != 0;
    run.exitStatus = record.exitStatus;
    run.seconds = record.seconds;
    run.userSeconds = record.userSeconds;
    run.systemSeconds = record.systemSeconds;
    run.maxRssMB = record.maxRssMB;
    return run;
}

std::vector<ProcessStats> compareProcesses(const std::vector<Contender>& contenders, int runs) {
    std::vector<ProcessStats> stats(contenders.size());
    for (size_t i = 0; i < contenders.size(); ++i) {
        stats[i].name = contenders[i].name;
        stats[i].ok = true;
        const ProcessRun warm = runProcess(contenders[i].argv);
        stats[i].firstOutput = warm.output;
    }
    for (int round = 0; round < runs; ++round) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            ProcessRun run = runProcess(contenders[i].argv);
            if (!run.started || run.exitStatus != 0) {
                if (stats[i].ok) {
                    stats[i].failure = run.started ? "exit status " + std::to_string(run.exitStatus) + ": " + run.output
                                                   : "cannot start " + contenders[i].argv[0];
                }
                stats[i].ok = false;
            }
            stats[i].runs.push_back(std::move(run));
        }
    }
    for (ProcessStats& s : stats) {
        std::vector<double> times, cpu, rss;
        for (const ProcessRun& run : s.runs) {
            times.push_back(run.seconds);
            cpu.push_back(run.userSeconds + run.systemSeconds);
            rss.push_back(run.maxRssMB);
        }
        if (times.empty()) continue;
        s.median = median(times);
        s.minimum = *std::min_element(times.begin(), times.end());
        s.maximum = *std::max_element(times.begin(), times.end());
        s.cpuMedian = median(cpu);
        s.rssMedian = median(rss);
        s.rssMaximum = *std::max_element(rss.begin(), rss.end());
    }
    return stats;
}

std::string loadAverage() {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) != 3) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

int64_t jsonInteger(const std::string& json, const std::string& key) {
    const std::string needle = "\"" + key + "\":";
    const size_t at = json.find(needle);
    if (at == std::string::npos) return -1;
    return std::strtoll(json.c_str() + at + needle.size(), nullptr, 10);
}

void printComparison(const std::string& title, const std::vector<ProcessStats>& stats) {
    std::printf("\n%s (load average %s)\n", title.c_str(), loadAverage().c_str());
    std::printf("  %-22s %9s %9s %9s %9s %9s %9s %11s %11s\n", "whole process", "median s", "min s", "max s", "cpu s",
                "peak MB", "max MB", "peer/ours", "(min/min)");
    const ProcessStats* ours = stats.empty() || !stats[0].ok ? nullptr : &stats[0];
    for (const ProcessStats& s : stats) {
        if (!s.ok) {
            std::printf("  %-22s FAILED: %s\n", s.name.c_str(), s.failure.c_str());
            continue;
        }
        std::printf("  %-22s %9.3f %9.3f %9.3f %9.3f %9.1f %9.1f", s.name.c_str(), s.median, s.minimum, s.maximum,
                    s.cpuMedian, s.rssMedian, s.rssMaximum);
        if (ours != nullptr && &s != ours && ours->median > 0 && ours->minimum > 0) {
            std::printf(" %10.2fx %10.2fx", s.median / ours->median, s.minimum / ours->minimum);
            if (s.median < ours->median) std::printf("  (ours slower)");
        }
        std::printf("\n");
    }
}

int runsFromEnvironment() {
    const char* text = std::getenv("LUMBRIX_BENCH_RUNS");
    if (text == nullptr || *text == '\0') return 5;
    const long runs = std::strtol(text, nullptr, 10);
    return runs >= 1 && runs <= 1000 ? static_cast<int>(runs) : 5;
}

bool startProcessBenchmark(int& argc, char** argv) {
    // While this process is small: the measured processes are spawned by the runner.
    if (!startProcessRunner()) {
        std::printf("Cannot start the process runner: peak memory below includes this benchmark's own\n");
    }
    bool processesOnly = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--processes-only") == 0) {
            processesOnly = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    return processesOnly;
}

}  // namespace lumbrix::bench
