// OBJ load time and peak memory, all in the same run so the numbers compare:
//
// 1. Whole processes, as a user meets a load: `lumbrix-inspect --json FILE` against
//    fast_obj (bench/anchor_fast_obj.c, built from ../shared/anchors when it exists) on
//    generated venues of T/2 and T triangles, each load a fresh process, five runs each.
// 2. In-process throughput and peak memory against tinyobjloader and assimp on the
//    T-triangle venue (Google Benchmark; --processes-only leaves this part out).
//
// Environment: LUMBRIX_BENCH_TRIANGLES sets T (default 2M); LUMBRIX_BENCH_RUNS the runs
// per process contender (default 5); LUMBRIX_BENCH_KEEP_FILE=1 keeps the generated files.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <tiny_obj_loader.h>
#include <vector>

#include "bench/bench_support.h"
#include "bench/process_runner.h"
#include "model/obj_loader.h"

namespace {

using lumbrix::bench::jitter;
using lumbrix::bench::statusFieldKiB;
using lumbrix::bench::ThroughputReporter;
using lumbrix::bench::triangleCountFromEnvironment;

constexpr double kMB = 1e6;  // decimal megabytes throughout, also for MB/s

// ---------------------------------------------------------------------------
// The venue file.

struct VenueFile {
    std::string path;
    uint64_t bytes = 0;
    uint64_t triangles = 0;
    uint64_t positions = 0;
    uint64_t referencedPositions = 0;  // the distinct vertices a deduplicating loader must end with
};

// Buffered text output; fwrite per line would dominate the generation time.
class TextSink {
public:
    explicit TextSink(FILE* file) : file_(file), buffer_(8u << 20) {}
    ~TextSink() { flush(); }

    // Room for one line; every line we write is far shorter.
    char* line() {
        if (buffer_.size() - used_ < 256) flush();
        return buffer_.data() + used_;
    }
    void commit(char* end) { used_ = static_cast<size_t>(end - buffer_.data()); }
    char* limit() { return buffer_.data() + buffer_.size(); }

    bool flush() {
        if (used_ > 0 && std::fwrite(buffer_.data(), 1, used_, file_) != used_) failed_ = true;
        used_ = 0;
        return !failed_;
    }
    bool failed() const { return failed_; }

private:
    FILE* file_;
    std::vector<char> buffer_;
    size_t used_ = 0;
    bool failed_ = false;
};

char* putFixed6(char* p, char* end, double value) {
    return std::to_chars(p, end, value, std::chars_format::fixed, 6).ptr;
}

char* putIndex(char* p, char* end, uint64_t value) { return std::to_chars(p, end, value).ptr; }


// A rolling floor, Y up as Blender exports it: quads split into two triangles,
// one vt and one vn per position, so each corner reads "a/a/a".
bool writeVenue(VenueFile& venue) {
    const uint64_t quads = (venue.triangles + 1) / 2;
    const auto columns = static_cast<uint64_t>(std::ceil(std::sqrt(double(quads))));
    const uint64_t rows = (quads + columns - 1) / columns;
    const uint64_t stride = columns + 1;
    venue.positions = stride * (rows + 1);

    FILE* file = std::fopen(venue.path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(venue.path.c_str());
        return false;
    }
    bool ok = true;
    {
        TextSink out(file);
        char* p = out.line();
        p += std::snprintf(p, 200, "# Lumbrix benchmark venue\no venue\n");
        out.commit(p);

        const double step = 50.0 / double(columns);
        const double originX = -0.5 * step * double(columns);
        const double originZ = -0.5 * step * double(rows);
        auto height = [](double x, double z) { return 0.35 * std::sin(0.31 * x) * std::cos(0.23 * z) + 0.05 * std::sin(1.7 * x + 0.9 * z); };

        for (uint64_t j = 0; j <= rows; ++j) {
            for (uint64_t i = 0; i <= columns; ++i) {
                const double x = originX + step * (double(i) + 0.3 * jitter(i, j, 1));
                const double z = originZ + step * (double(j) + 0.3 * jitter(i, j, 2));
                p = out.line();
                char* end = out.limit();
                *p++ = 'v';
                *p++ = ' ';
                p = putFixed6(p, end, x);
                *p++ = ' ';
                p = putFixed6(p, end, height(x, z));
                *p++ = ' ';
                p = putFixed6(p, end, z);
                *p++ = '\n';
                out.commit(p);
            }
        }
        for (uint64_t j = 0; j <= rows; ++j) {
            for (uint64_t i = 0; i <= columns; ++i) {
                p = out.line();
                char* end = out.limit();
                *p++ = 'v';
                *p++ = 't';
                *p++ = ' ';
                p = putFixed6(p, end, double(i) / double(columns));
                *p++ = ' ';
                p = putFixed6(p, end, double(j) / double(rows));
                *p++ = '\n';
                out.commit(p);
            }
        }
        for (uint64_t j = 0; j <= rows; ++j) {
            for (uint64_t i = 0; i <= columns; ++i) {
                // Normal of the smooth surface, from central differences.
                const double x = originX + step * double(i);
                const double z = originZ + step * double(j);
                const double e = 1e-3;
                const double dx = (height(x + e, z) - height(x - e, z)) / (2 * e);
                const double dz = (height(x, z + e) - height(x, z - e)) / (2 * e);
                const double len = std::sqrt(dx * dx + 1.0 + dz * dz);
                p = out.line();
                char* end = out.limit();
                *p++ = 'v';
                *p++ = 'n';
                *p++ = ' ';
                p = putFixed6(p, end, -dx / len);
                *p++ = ' ';
                p = putFixed6(p, end, 1.0 / len);
                *p++ = ' ';
                p = putFixed6(p, end, -dz / len);
                *p++ = '\n';
                out.commit(p);
            }
        }
        p = out.line();
        p += std::snprintf(p, 200, "s 1\n");
        out.commit(p);

        std::vector<uint8_t> used(venue.positions, 0);
        uint64_t written = 0;
        auto corner = [&](char* q, char* end, uint64_t index) {
            used[index] = 1;
            for (int k = 0; k < 3; ++k) {
                q = putIndex(q, end, index + 1);
                *q++ = k < 2 ? '/' : ' ';
            }
            return q;
        };
        auto triangle = [&](uint64_t a, uint64_t b, uint64_t c) {
            char* q = out.line();
            char* end = out.limit();
            *q++ = 'f';
            *q++ = ' ';
            q = corner(q, end, a);
            q = corner(q, end, b);
            q = corner(q, end, c);
            q[-1] = '\n';
            out.commit(q);
            ++written;
        };
        for (uint64_t j = 0; j < rows && written < venue.triangles; ++j) {
            for (uint64_t i = 0; i < columns && written < venue.triangles; ++i) {
                const uint64_t a = j * stride + i;
                const uint64_t b = a + 1;
                const uint64_t c = a + stride + 1;
                const uint64_t d = a + stride;
                triangle(a, d, c);
                if (written < venue.triangles) triangle(a, c, b);
            }
        }
        ok = out.flush();
        for (uint8_t u : used) venue.referencedPositions += u;
    }
    if (std::fclose(file) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "Cannot write %s: %s\n", venue.path.c_str(), std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (stat(venue.path.c_str(), &info) != 0) return false;
    venue.bytes = static_cast<uint64_t>(info.st_size);
    return true;
}

// ---------------------------------------------------------------------------
// The three loaders behind one shape. Each call includes freeing the result, so
// every loader pays for its own teardown.

struct LoadCounts {
    bool ok = false;
    uint64_t vertices = 0;
    uint64_t indices = 0;
    char error[200] = "";  // fixed size: it crosses a pipe from the measuring child
};

LoadCounts loadLumbrix(const std::string& path) {
    LoadCounts counts;
    auto result = lumbrix::OBJLoader::load(path);
    if (!result.hasValue()) {
        std::snprintf(counts.error, sizeof counts.error, "%s", lumbrix::describe(result.error()).c_str());
        return counts;
    }
    benchmark::DoNotOptimize(result.value().vertices.data());
    counts.ok = true;
    counts.vertices = result.value().vertices.size();
    counts.indices = result.value().indices.size();
    return counts;
}

// tinyobjloader hands back per-attribute index triples, not a vertex buffer a GPU
// can take, so it does less than the other two: no corner deduplication. Vertex
// colours are off because nothing else produces them.
LoadCounts loadTinyObj(const std::string& path) {
    LoadCounts counts;
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromFile(path, config)) {
        std::snprintf(counts.error, sizeof counts.error, "%s", reader.Error().c_str());
        return counts;
    }
    benchmark::DoNotOptimize(reader.GetAttrib().vertices.data());
    counts.ok = true;
    counts.vertices = reader.GetAttrib().vertices.size() / 3;
    for (const auto& shape : reader.GetShapes()) counts.indices += shape.mesh.indices.size();
    return counts;
}

// aiProcess_Triangulate | aiProcess_JoinIdenticalVertices and nothing more: the
// OBJ importer emits one vertex per face corner, and joining identical ones is
// what turns that into a shared-vertex indexed mesh like ours. Validation, normal
// generation and cache optimisation are left off since we do none of them.
constexpr unsigned kAssimpFlags = aiProcess_Triangulate | aiProcess_JoinIdenticalVertices;

LoadCounts loadAssimp(const std::string& path) {
    LoadCounts counts;
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, kAssimpFlags);
    if (scene == nullptr) {
        std::snprintf(counts.error, sizeof counts.error, "%s", importer.GetErrorString());
        return counts;
    }
    counts.ok = true;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        counts.vertices += mesh->mNumVertices;
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) counts.indices += mesh->mFaces[f].mNumIndices;
    }
    return counts;
}

using Loader = LoadCounts (*)(const std::string&);

struct Contender {
    const char* name;       // as printed in the ratio lines
    const char* benchmark;  // Google Benchmark name
    Loader load;
};

const Contender kContenders[] = {
    {"lumbrix", "BM_Lumbrix", loadLumbrix},
    {"tinyobjloader", "BM_TinyObjLoader", loadTinyObj},
    {"assimp", "BM_Assimp", loadAssimp},
};

VenueFile g_venue;

void runLoad(benchmark::State& state, Loader load) {
    LoadCounts counts;
    for (auto _ : state) {
        counts = load(g_venue.path);
        if (!counts.ok) {
            state.SkipWithError((std::string("load failed: ") + counts.error).c_str());
            break;
        }
        if (counts.indices != g_venue.triangles * 3) {
            const std::string message = "expected " + std::to_string(g_venue.triangles) + " triangles, got " +
                                        std::to_string(counts.indices / 3) + " (" + std::to_string(counts.indices) +
                                        " indices)";
            state.SkipWithError(message.c_str());
            break;
        }
    }
    if (state.error_occurred()) return;
    state.SetBytesProcessed(static_cast<int64_t>(g_venue.bytes) * state.iterations());
    state.counters["vertices"] = double(counts.vertices);
    state.counters["triangles"] = double(counts.indices / 3);
}

// ---------------------------------------------------------------------------
// Peak resident memory of one load, in a child so that neither the benchmark
// harness nor the other loaders' freed-but-kept heap pages count against it.

struct ChildReport {
    LoadCounts counts;
    bool hwmReset = false;
    uint64_t rssBeforeKiB = 0;
    uint64_t hwmAfterKiB = 0;
};


struct PeakMeasurement {
    bool ok = false;
    ChildReport report;
    uint64_t maxrssKiB = 0;  // the kernel's view, from wait4
};

// `load == nullptr` measures a child that loads nothing: the baseline that
// ru_maxrss alone would otherwise include.
PeakMeasurement measurePeak(Loader load, const std::string& path) {
    PeakMeasurement result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (pid == 0) {
        close(fds[0]);
        ChildReport report;
        // "5" resets VmHWM to the current RSS, dropping what the fork inherited.
        const int clear = open("/proc/self/clear_refs", O_WRONLY);
        if (clear >= 0) {
            report.hwmReset = write(clear, "5", 1) == 1;
            close(clear);
        }
        report.rssBeforeKiB = statusFieldKiB("VmRSS");
        if (load != nullptr) {
            report.counts = load(path);
        } else {
            report.counts.ok = true;
        }
        report.hwmAfterKiB = statusFieldKiB("VmHWM");
        const ssize_t sent = write(fds[1], &report, sizeof report);
        _exit(sent == ssize_t(sizeof report) ? 0 : 1);
    }
    close(fds[1]);
    ssize_t got = 0;
    while (got < ssize_t(sizeof result.report)) {
        const ssize_t n = read(fds[0], reinterpret_cast<char*>(&result.report) + got, sizeof result.report - size_t(got));
        if (n <= 0) break;
        got += n;
    }
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return result;
    result.maxrssKiB = static_cast<uint64_t>(usage.ru_maxrss);
    result.ok = got == ssize_t(sizeof result.report) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

void reportPeakMemory() {
    std::printf("\nPeak resident memory of one load (forked child; growth over its own RSS at start):\n");
    const PeakMeasurement idle = measurePeak(nullptr, g_venue.path);
    if (!idle.ok) {
        std::printf("  cannot measure: fork or pipe failed\n");
        return;
    }
    std::printf("  %-14s ru_maxrss %8.1f MB (baseline subtracted below)\n", "idle child", double(idle.maxrssKiB) * 1024 / kMB);
    for (const Contender& contender : kContenders) {
        const PeakMeasurement m = measurePeak(contender.load, g_venue.path);
        if (!m.ok) {
            std::printf("  %-14s child failed\n", contender.name);
            continue;
        }
        if (!m.report.counts.ok) {
            std::printf("  %-14s load failed: %s\n", contender.name, m.report.counts.error);
            continue;
        }
        const double peak = double(m.report.hwmAfterKiB - m.report.rssBeforeKiB) * 1024 / kMB;
        const double viaRusage = (double(m.maxrssKiB) - double(idle.maxrssKiB)) * 1024 / kMB;
        std::printf("  %-14s peak %8.1f MB  (ru_maxrss minus idle child: %.1f MB%s)  %llu vertices, %llu triangles\n",
                    contender.name, peak, viaRusage, m.report.hwmReset ? "" : "; VmHWM reset unavailable",
                    static_cast<unsigned long long>(m.report.counts.vertices),
                    static_cast<unsigned long long>(m.report.counts.indices / 3));
        if (contender.load == loadLumbrix) {
            const double meshBytes = double(m.report.counts.vertices) * sizeof(lumbrix::Vertex) +
                                     double(m.report.counts.indices) * sizeof(uint32_t);
            const double budget = (double(g_venue.bytes) + 1.5 * meshBytes) / kMB;
            std::printf("  %-14s budget = file %.1f MB + 1.5 x mesh %.1f MB = %.1f MB -> %s (%.0f%% of budget)\n", "",
                        double(g_venue.bytes) / kMB, meshBytes / kMB, budget,
                        peak <= budget ? "within budget" : "OVER BUDGET", 100.0 * peak / budget);
        }
    }
}

// ---------------------------------------------------------------------------
// Whole processes against fast_obj.

void compareWholeProcesses(const std::vector<VenueFile>& venues) {
    const int runs = lumbrix::bench::runsFromEnvironment();
    std::printf("\nWhole-process loads, each a fresh process, %d runs each after one untimed run, in turns.\n"
                "  lumbrix = %s --json FILE (the viewer's OBJ loader, then bounds and a JSON line)\n",
                runs, LUMBRIX_INSPECT);
#ifdef LUMBRIX_ANCHOR_FAST_OBJ
    std::printf("  fast_obj = %s FILE (fast_obj_read: no vertex buffer, no duplicate removal)\n",
                LUMBRIX_ANCHOR_FAST_OBJ);
#else
    std::printf("  fast_obj skipped: %s/fast_obj was missing when the benchmarks were configured\n",
                LUMBRIX_ANCHORS_DIR);
#endif
    std::printf("  built %s: C++ flags \"%s\", C flags \"%s\"\n", LUMBRIX_BENCH_BUILD_TYPE, LUMBRIX_BENCH_CXX_FLAGS,
                LUMBRIX_BENCH_C_FLAGS);
    for (const VenueFile& venue : venues) {
        std::vector<lumbrix::bench::Contender> contenders = {{"lumbrix-inspect", {LUMBRIX_INSPECT, "--json", venue.path}}};
#ifdef LUMBRIX_ANCHOR_FAST_OBJ
        contenders.push_back({"fast_obj", {LUMBRIX_ANCHOR_FAST_OBJ, venue.path}});
#endif
        const auto stats = lumbrix::bench::compareProcesses(contenders, runs);
        char title[256];
        std::snprintf(title, sizeof title, "%s: %llu triangles, %.1f MB", venue.path.c_str(),
                      static_cast<unsigned long long>(venue.triangles), double(venue.bytes) / kMB);
        lumbrix::bench::printComparison(title, stats);
        // Both sides must have read the same triangles.
        for (const auto& s : stats) {
            const int64_t triangles = lumbrix::bench::jsonInteger(s.firstOutput, "triangles");
            if (s.ok && triangles != int64_t(venue.triangles)) {
                std::printf("  WARNING: %s reports %lld triangles, expected %llu\n", s.name.c_str(),
                            static_cast<long long>(triangles), static_cast<unsigned long long>(venue.triangles));
            }
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const bool processesOnly = lumbrix::bench::startProcessBenchmark(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!triangleCountFromEnvironment(g_venue.triangles)) return 1;

    VenueFile half;
    half.triangles = g_venue.triangles / 2;
    half.path = lumbrix::bench::temporaryVenuePath("venue_half.obj");
    g_venue.path = lumbrix::bench::temporaryVenuePath("venue.obj");
    if (g_venue.path.empty() || half.path.empty()) return 1;

    if (!writeVenue(g_venue)) return 1;
    if (half.triangles > 0 && !writeVenue(half)) return 1;
    std::printf("OBJ load: %s, %llu triangles, %llu positions, %.1f MB; warm page cache (the file was just written)\n",
                g_venue.path.c_str(), static_cast<unsigned long long>(g_venue.triangles),
                static_cast<unsigned long long>(g_venue.positions), double(g_venue.bytes) / kMB);
    std::printf("Expected distinct vertices after corner deduplication: %llu\n",
                static_cast<unsigned long long>(g_venue.referencedPositions));

    std::vector<VenueFile> venues;
    if (half.triangles > 0) venues.push_back(half);
    venues.push_back(g_venue);
    compareWholeProcesses(venues);
    if (processesOnly) return 0;

    // Before the timed runs, so the forked children start from a small parent.
    reportPeakMemory();
    std::printf("\n");
    std::fflush(stdout);

    for (const Contender& contender : kContenders) {
        const Loader load = contender.load;
        benchmark::RegisterBenchmark(contender.benchmark, [load](benchmark::State& state) { runLoad(state, load); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
    }
    ThroughputReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double ours = reporter.bytesPerSecond("BM_Lumbrix");
    std::printf("\nThroughput (MB = 10^6 bytes):\n");
    for (const Contender& contender : kContenders) {
        const double rate = reporter.bytesPerSecond(contender.benchmark);
        if (rate > 0) std::printf("  %-14s %8.1f MB/s\n", contender.name, rate / kMB);
    }
    for (const Contender& contender : kContenders) {
        if (contender.load == loadLumbrix) continue;
        const double theirs = reporter.bytesPerSecond(contender.benchmark);
        if (ours > 0 && theirs > 0) std::printf("ratio lumbrix/%s: %.2fx\n", contender.name, ours / theirs);
    }
    benchmark::Shutdown();
    return 0;
}
