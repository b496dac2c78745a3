// FBX load time and peak memory, all in the same run so the numbers compare. Two
// files: Blender's 500k-triangle grid from the corpus, and a larger venue written
// here the way Blender writes binary FBX 7.4 (zlib arrays; normals per corner; UVs by
// polygon vertex through an index), so the big case does not depend on what the
// corpus happens to hold.
//
// 1. Whole processes, as a user meets a load: `lumbrix-inspect --json FILE` against
//    ufbx (bench/anchor_ufbx.c, built from ../shared/anchors when it exists) loading
//    and triangulating into unshared vertices, each load a fresh process.
// 2. In-process throughput and peak memory: our reader (scene load plus fan
//    triangulation of every polygon) and our whole import against assimp (with
//    aiProcess_Triangulate) (Google Benchmark; --processes-only leaves this out).
//
// Environment: LUMBRIX_BENCH_TRIANGLES overrides the generated venue's triangle
// count (default 2M); LUMBRIX_BENCH_RUNS the runs per process contender (default 5);
// LUMBRIX_BENCH_KEEP_FILE=1 keeps the generated file.
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
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "bench/process_runner.h"
#include "fbx/fbx_scene.h"
#include "model/fbx_scene_importer.h"
#include "tests/support/fbx_binary_writer.h"

namespace {

using lumbrix::bench::jitter;
using lumbrix::bench::statusFieldKiB;
using lumbrix::bench::ThroughputReporter;
using lumbrix::bench::triangleCountFromEnvironment;

constexpr double kMB = 1e6;  // decimal megabytes throughout, also for MB/s

// ---------------------------------------------------------------------------
// The generated venue.

struct VenueFile {
    std::string label;
    std::string path;
    uint64_t bytes = 0;
    uint64_t triangles = 0;  // expected after triangulation; 0 when not known
};


using lumbrix::testing::FbxArrayEncoding;
using lumbrix::testing::FbxBinaryWriter;

void property(FbxBinaryWriter& w, const char* name, const char* type, const char* label, const char* flags) {
    w.beginNode("P").addString(name).addString(type).addString(label).addString(flags);
}

// The grid's geometry in Blender's layout: control points in metres with Z up,
// quads wound counter-clockwise seen from above, the last corner of each
// polygon stored as its bitwise complement.
struct Grid {
    uint64_t columns = 0, rows = 0;
    std::vector<double> vertices, normals, uv;
    std::vector<int32_t> polygonVertexIndex, edges, uvIndex;
};

Grid makeGrid(uint64_t triangles) {
    Grid g;
    const uint64_t quads = (triangles + 1) / 2;
    g.columns = static_cast<uint64_t>(std::ceil(std::sqrt(double(quads))));
    g.rows = (quads + g.columns - 1) / g.columns;
    const uint64_t stride = g.columns + 1;
    const double step = 50.0 / double(g.columns);
    auto height = [](double x, double y) { return 0.35 * std::sin(0.31 * x) * std::cos(0.23 * y) + 0.05 * std::sin(1.7 * x + 0.9 * y); };
    for (uint64_t j = 0; j <= g.rows; ++j) {
        for (uint64_t i = 0; i <= g.columns; ++i) {
            const double x = step * (double(i) + 0.3 * jitter(i, j, 1)) - 25.0;
            const double y = step * (double(j) + 0.3 * jitter(i, j, 2)) - 25.0;
            g.vertices.insert(g.vertices.end(), {x, y, height(x, y)});
            g.uv.insert(g.uv.end(), {double(i) / double(g.columns), double(j) / double(g.rows)});
        }
    }
    uint64_t written = 0;
    for (uint64_t j = 0; j < g.rows; ++j) {
        for (uint64_t i = 0; i < g.columns && written < quads; ++i, ++written) {
            const auto a = static_cast<int32_t>(j * stride + i);
            const int32_t corners[4] = {a, a + 1, a + 1 + static_cast<int32_t>(stride), a + static_cast<int32_t>(stride)};
            // Every grid edge once: the bottom and left sides only where no
            // neighbour already owns them, so Edges has Blender's size.
            const auto first = static_cast<int32_t>(g.polygonVertexIndex.size());
            if (j == 0) g.edges.push_back(first);
            g.edges.push_back(first + 1);
            g.edges.push_back(first + 2);
            if (i == 0) g.edges.push_back(first + 3);
            for (int k = 0; k < 4; ++k) {
                g.polygonVertexIndex.push_back(k == 3 ? ~corners[k] : corners[k]);
                g.uvIndex.push_back(corners[k]);
                const double* p = &g.vertices[3 * static_cast<size_t>(corners[k])];
                const double e = 1e-3;
                const double dx = (height(p[0] + e, p[1]) - height(p[0] - e, p[1])) / (2 * e);
                const double dy = (height(p[0], p[1] + e) - height(p[0], p[1] - e)) / (2 * e);
                const double length = std::sqrt(dx * dx + dy * dy + 1.0);
                g.normals.insert(g.normals.end(), {-dx / length, -dy / length, 1.0 / length});
            }
        }
    }
    return g;
}

std::vector<uint8_t> writeVenueFbx(const Grid& g) {
    constexpr int64_t kGeometryId = 1000001, kModelId = 1000002, kDocumentId = 1000003;
    constexpr auto z = FbxArrayEncoding::zlib;
    FbxBinaryWriter w(7400);

    w.beginNode("FBXHeaderExtension");
    w.beginNode("FBXHeaderVersion").addInt32(1003).endNode();
    w.beginNode("FBXVersion").addInt32(7400).endNode();
    w.beginNode("EncryptionType").addInt32(0).endNode();
    w.beginNode("CreationTimeStamp");
    for (const auto& [name, value] : {std::pair{"Version", 1000}, {"Year", 2026}, {"Month", 1}, {"Day", 1},
                                      {"Hour", 0}, {"Minute", 0}, {"Second", 0}, {"Millisecond", 0}}) {
        w.beginNode(name).addInt32(value).endNode();
    }
    w.endNode();
    w.beginNode("Creator").addString("Lumbrix benchmark venue").endNode();
    w.endNode();
    const uint8_t fileId[16] = {0x28, 0xb3, 0x2a, 0xeb, 0xb6, 0x24, 0xcc, 0xc2, 0xbf, 0xc8, 0xb0, 0x2a, 0xa9, 0x2b, 0xfc, 0xf1};
    w.beginNode("FileId").addRaw(fileId).endNode();
    w.beginNode("CreationTime").addString("1970-01-01 10:00:00:000").endNode();
    w.beginNode("Creator").addString("Lumbrix benchmark venue").endNode();

    w.beginNode("GlobalSettings");
    w.beginNode("Version").addInt32(1000).endNode();
    w.beginNode("Properties70");
    for (const auto& [name, value] : {std::pair{"UpAxis", 1}, {"UpAxisSign", 1}, {"FrontAxis", 2}, {"FrontAxisSign", 1},
                                      {"CoordAxis", 0}, {"CoordAxisSign", 1}}) {
        property(w, name, "int", "Integer", "");
        w.addInt32(value).endNode();
    }
    property(w, "UnitScaleFactor", "double", "Number", "");
    w.addDouble(1.0).endNode();
    w.endNode();
    w.endNode();

    w.beginNode("Documents");
    w.beginNode("Count").addInt32(1).endNode();
    w.beginNode("Document").addInt64(kDocumentId).addString("Scene").addString("Scene");
    w.beginNode("Properties70").endNode();
    w.beginNode("RootNode").addInt64(0).endNode();
    w.endNode();
    w.endNode();
    w.beginNode("References").endNode();

    w.beginNode("Definitions");
    w.beginNode("Version").addInt32(100).endNode();
    w.beginNode("Count").addInt32(3).endNode();
    for (const char* type : {"GlobalSettings", "Geometry", "Model"}) {
        w.beginNode("ObjectType").addString(type);
        w.beginNode("Count").addInt32(1).endNode();
        w.endNode();
    }
    w.endNode();

    w.beginNode("Objects");
    w.beginNode("Geometry").addInt64(kGeometryId).addString(std::string_view("Venue\0\x01Geometry", 15)).addString("Mesh");
    w.beginNode("Properties70").endNode();
    w.beginNode("GeometryVersion").addInt32(124).endNode();
    w.beginNode("Vertices").addArray(std::span<const double>(g.vertices), z).endNode();
    w.beginNode("PolygonVertexIndex").addArray(std::span<const int32_t>(g.polygonVertexIndex), z).endNode();
    w.beginNode("Edges").addArray(std::span<const int32_t>(g.edges), z).endNode();
    w.beginNode("LayerElementNormal").addInt32(0);
    w.beginNode("Version").addInt32(101).endNode();
    w.beginNode("Name").addString("").endNode();
    w.beginNode("MappingInformationType").addString("ByPolygonVertex").endNode();
    w.beginNode("ReferenceInformationType").addString("Direct").endNode();
    w.beginNode("Normals").addArray(std::span<const double>(g.normals), z).endNode();
    w.endNode();
    w.beginNode("LayerElementUV").addInt32(0);
    w.beginNode("Version").addInt32(101).endNode();
    w.beginNode("Name").addString("UVMap").endNode();
    w.beginNode("MappingInformationType").addString("ByPolygonVertex").endNode();
    w.beginNode("ReferenceInformationType").addString("IndexToDirect").endNode();
    w.beginNode("UV").addArray(std::span<const double>(g.uv), z).endNode();
    w.beginNode("UVIndex").addArray(std::span<const int32_t>(g.uvIndex), z).endNode();
    w.endNode();
    w.beginNode("Layer").addInt32(0);
    w.beginNode("Version").addInt32(100).endNode();
    for (const char* type : {"LayerElementNormal", "LayerElementUV"}) {
        w.beginNode("LayerElement");
        w.beginNode("Type").addString(type).endNode();
        w.beginNode("TypedIndex").addInt32(0).endNode();
        w.endNode();
    }
    w.endNode();
    w.endNode();  // Geometry

    w.beginNode("Model").addInt64(kModelId).addString(std::string_view("Venue\0\x01Model", 12)).addString("Mesh");
    w.beginNode("Version").addInt32(232).endNode();
    w.beginNode("Properties70");
    // Blender's own correction from Z up in metres to Y up in centimetres.
    property(w, "Lcl Rotation", "Lcl Rotation", "", "A");
    w.addDouble(-90.0).addDouble(0.0).addDouble(0.0).endNode();
    property(w, "Lcl Scaling", "Lcl Scaling", "", "A");
    w.addDouble(100.0).addDouble(100.0).addDouble(100.0).endNode();
    property(w, "DefaultAttributeIndex", "int", "Integer", "");
    w.addInt32(0).endNode();
    w.endNode();
    w.beginNode("MultiLayer").addInt32(0).endNode();
    w.beginNode("MultiTake").addInt32(0).endNode();
    w.beginNode("Shading").addBool('T').endNode();
    w.beginNode("Culling").addString("CullingOff").endNode();
    w.endNode();  // Model
    w.endNode();  // Objects

    w.beginNode("Connections");
    w.beginNode("C").addString("OO").addInt64(kModelId).addInt64(0).endNode();
    w.beginNode("C").addString("OO").addInt64(kGeometryId).addInt64(kModelId).endNode();
    w.endNode();
    w.beginNode("Takes");
    w.beginNode("Current").addString("").endNode();
    w.endNode();
    return w.finish();
}

bool writeVenue(VenueFile& venue) {
    std::vector<uint8_t> bytes;
    {
        const Grid grid = makeGrid(venue.triangles);
        venue.triangles = 2 * (grid.polygonVertexIndex.size() / 4);
        bytes = writeVenueFbx(grid);
    }
    FILE* file = std::fopen(venue.path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(venue.path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "Cannot write %s: %s\n", venue.path.c_str(), std::strerror(errno));
        return false;
    }
    venue.bytes = bytes.size();
    return true;
}

// ---------------------------------------------------------------------------
// Whole-file read for our reader, which loads from memory.

bool readFile(const std::string& path, std::vector<uint8_t>& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && info.st_size > 0;
    if (ok) {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) continue;
            ok = got > 0;
            if (ok) done += static_cast<size_t>(got);
        }
    }
    close(fd);
    return ok;
}

// ---------------------------------------------------------------------------
// The loaders behind one shape. Each call includes freeing the result, so every
// loader pays for its own teardown.

struct LoadCounts {
    bool ok = false;
    uint64_t meshes = 0;
    uint64_t triangles = 0;
    char error[200] = "";  // fixed size: it crosses a pipe from the measuring child
};

// What the importer does before building vertices: the scene, then every
// polygon of every mesh fanned into corner indices in one buffer.
LoadCounts loadLumbrixBytes(const uint8_t* data, size_t size) {
    LoadCounts counts;
    std::string error;
    const std::unique_ptr<lumbrix::fbx::Scene> scene = lumbrix::fbx::Scene::load(data, size, 0, error);
    if (!scene) {
        std::snprintf(counts.error, sizeof counts.error, "%s", error.c_str());
        return counts;
    }
    uint64_t needed = 0;
    for (int m = 0; m < scene->meshCount(); ++m) {
        const lumbrix::fbx::GeometryData& geometry = scene->mesh(m)->geometryData();
        for (int p = 0; p < geometry.partitionCount(); ++p) {
            for (const lumbrix::fbx::Polygon& polygon : geometry.partition(p).polygons) {
                if (polygon.vertexCount >= 3) needed += 3 * uint64_t(polygon.vertexCount - 2);
            }
        }
    }
    std::unique_ptr<int[]> indices(new int[needed]);
    uint64_t written = 0;
    for (int m = 0; m < scene->meshCount(); ++m) {
        const lumbrix::fbx::GeometryData& geometry = scene->mesh(m)->geometryData();
        for (int p = 0; p < geometry.partitionCount(); ++p) {
            for (const lumbrix::fbx::Polygon& polygon : geometry.partition(p).polygons) {
                const uint64_t room = needed - written;
                written += lumbrix::fbx::triangulate(geometry, polygon, indices.get() + written,
                                                     static_cast<uint32_t>(room < UINT32_MAX ? room : UINT32_MAX));
            }
        }
    }
    benchmark::DoNotOptimize(indices.get());
    counts.ok = true;
    counts.meshes = static_cast<uint64_t>(scene->meshCount());
    counts.triangles = written / 3;
    return counts;
}

LoadCounts loadLumbrix(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes)) {
        LoadCounts counts;
        std::snprintf(counts.error, sizeof counts.error, "cannot read %s", path.c_str());
        return counts;
    }
    return loadLumbrixBytes(bytes.data(), bytes.size());
}

// aiProcess_Triangulate and nothing more: the nearest thing to our fan
// triangulation. Validation, normal generation, joining and cache optimisation
// stay off since we do none of them.
constexpr unsigned kAssimpFlags = aiProcess_Triangulate;

LoadCounts countAssimp(const Assimp::Importer& importer, const aiScene* scene) {
    LoadCounts counts;
    if (scene == nullptr) {
        std::snprintf(counts.error, sizeof counts.error, "%s", importer.GetErrorString());
        return counts;
    }
    counts.ok = true;
    counts.meshes = scene->mNumMeshes;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) counts.triangles += scene->mMeshes[m]->mNumFaces;
    return counts;
}

LoadCounts loadAssimp(const std::string& path) {
    Assimp::Importer importer;
    return countAssimp(importer, importer.ReadFile(path, kAssimpFlags));
}

// The file's bytes for the from-memory pair, read once outside the timing.
std::map<std::string, std::vector<uint8_t>> g_preloaded;

LoadCounts loadLumbrixMemory(const std::string& path) {
    const std::vector<uint8_t>& bytes = g_preloaded.at(path);
    return loadLumbrixBytes(bytes.data(), bytes.size());
}

LoadCounts loadAssimpMemory(const std::string& path) {
    const std::vector<uint8_t>& bytes = g_preloaded.at(path);
    Assimp::Importer importer;
    return countAssimp(importer, importer.ReadFileFromMemory(bytes.data(), bytes.size(), kAssimpFlags, "fbx"));
}

// The viewer's whole import: read, reader, transforms, unshared FBXVertexPU output.
LoadCounts loadLumbrixImport(const std::string& path) {
    LoadCounts counts;
    const auto scene = lumbrix::FBXSceneImporter::loadSceneFromURL(path);
    if (!scene) {
        std::snprintf(counts.error, sizeof counts.error, "%s", scene.error().description.c_str());
        return counts;
    }
    counts.ok = true;
    counts.meshes = static_cast<uint64_t>(scene.value()->sourceMeshCount());
    if (const auto& mesh = scene.value()->mesh()) {
        benchmark::DoNotOptimize(mesh->vertexData().data());
        counts.triangles = static_cast<uint64_t>(mesh->indexCount() / 3);
    }
    return counts;
}

using Loader = LoadCounts (*)(const std::string&);

struct Contender {
    const char* name;  // as printed in the summary
    Loader load;
    bool fromMemory;
};

const Contender kContenders[] = {
    {"lumbrix", loadLumbrix, false},
    {"assimp", loadAssimp, false},
    {"lumbrix-mem", loadLumbrixMemory, true},
    {"assimp-mem", loadAssimpMemory, true},
    {"lumbrix-import", loadLumbrixImport, false},
};

std::string benchmarkName(const Contender& contender, const VenueFile& file) {
    return std::string(contender.name) + ":" + file.label;
}

void runLoad(benchmark::State& state, Loader load, const VenueFile* file) {
    LoadCounts counts;
    for (auto _ : state) {
        counts = load(file->path);
        if (!counts.ok) {
            state.SkipWithError((std::string("load failed: ") + counts.error).c_str());
            break;
        }
        if (file->triangles != 0 && counts.triangles != file->triangles) {
            const std::string message =
                "expected " + std::to_string(file->triangles) + " triangles, got " + std::to_string(counts.triangles);
            state.SkipWithError(message.c_str());
            break;
        }
    }
    if (state.error_occurred()) return;
    state.SetBytesProcessed(static_cast<int64_t>(file->bytes) * state.iterations());
    state.counters["meshes"] = double(counts.meshes);
    state.counters["triangles"] = double(counts.triangles);
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
};

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
        report.counts = load(path);
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
    if (waitpid(pid, &status, 0) != pid) return result;
    result.ok = got == ssize_t(sizeof result.report) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

void reportPeakMemory(const std::vector<VenueFile>& files) {
    std::printf("\nPeak resident memory of one load from file (forked child; growth over its own RSS at start):\n");
    for (const VenueFile& file : files) {
        for (const Contender& contender : kContenders) {
            if (contender.fromMemory) continue;
            const PeakMeasurement m = measurePeak(contender.load, file.path);
            const std::string name = benchmarkName(contender, file);
            if (!m.ok) {
                std::printf("  %-28s child failed\n", name.c_str());
            } else if (!m.report.counts.ok) {
                std::printf("  %-28s load failed: %s\n", name.c_str(), m.report.counts.error);
            } else {
                const double peak = double(m.report.hwmAfterKiB - m.report.rssBeforeKiB) * 1024 / kMB;
                std::printf("  %-28s peak %8.1f MB = %5.2f x file%s  (%llu meshes, %llu triangles)\n", name.c_str(), peak,
                            peak * kMB / double(file.bytes), m.report.hwmReset ? "" : " (VmHWM reset unavailable)",
                            static_cast<unsigned long long>(m.report.counts.meshes),
                            static_cast<unsigned long long>(m.report.counts.triangles));
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Whole processes against ufbx.

void compareWholeProcesses(const std::vector<VenueFile>& files) {
    const int runs = lumbrix::bench::runsFromEnvironment();
    std::printf("\nWhole-process loads, each a fresh process, %d runs each after one untimed run, in turns.\n"
                "  lumbrix = %s --json FILE (the viewer's import: read, scene, triangulation into unshared\n"
                "            48-byte vertices and 32-bit indices; then bounds and a JSON line)\n",
                runs, LUMBRIX_INSPECT);
#ifdef LUMBRIX_ANCHOR_UFBX
    std::printf("  ufbx = %s FILE (ufbx_load_file, ufbx_triangulate_face, position and UV per corner in world\n"
                "         space into the same 48-byte records and 32-bit indices as ours)\n"
                "  ufbx-lean = the same writing 20 bytes per corner (x y z u v) and no indices\n",
                LUMBRIX_ANCHOR_UFBX);
#else
    std::printf("  ufbx skipped: %s/ufbx was missing when the benchmarks were configured\n", LUMBRIX_ANCHORS_DIR);
#endif
    std::printf("  built %s: C++ flags \"%s\", C flags \"%s\"\n", LUMBRIX_BENCH_BUILD_TYPE, LUMBRIX_BENCH_CXX_FLAGS,
                LUMBRIX_BENCH_C_FLAGS);
    for (const VenueFile& file : files) {
        std::vector<lumbrix::bench::Contender> contenders = {{"lumbrix-inspect", {LUMBRIX_INSPECT, "--json", file.path}}};
#ifdef LUMBRIX_ANCHOR_UFBX
        contenders.push_back({"ufbx", {LUMBRIX_ANCHOR_UFBX, file.path}});
        contenders.push_back({"ufbx-lean", {LUMBRIX_ANCHOR_UFBX, "--lean", file.path}});
#endif
        const auto stats = lumbrix::bench::compareProcesses(contenders, runs);
        char title[256];
        std::snprintf(title, sizeof title, "%s (%s): %llu triangles, %.1f MB", file.label.c_str(), file.path.c_str(),
                      static_cast<unsigned long long>(file.triangles), double(file.bytes) / kMB);
        lumbrix::bench::printComparison(title, stats);
        // Every side must have made the same triangles.
        for (const auto& s : stats) {
            const int64_t triangles = lumbrix::bench::jsonInteger(s.firstOutput, "triangles");
            if (s.ok && file.triangles != 0 && triangles != int64_t(file.triangles)) {
                std::printf("  WARNING: %s reports %lld triangles, expected %llu\n", s.name.c_str(),
                            static_cast<long long>(triangles), static_cast<unsigned long long>(file.triangles));
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

    std::vector<VenueFile> files;
    VenueFile grid;
    grid.label = "bl_g_big_grid";
    grid.path = std::string(LUMBRIX_CORPUS_DIR) + "/generated/blender/bl_g_big_grid.fbx";
    grid.triangles = 500'000;
    struct stat info {};
    if (stat(grid.path.c_str(), &info) == 0) {
        grid.bytes = static_cast<uint64_t>(info.st_size);
        files.push_back(grid);
    } else {
        std::printf("Corpus file %s missing: measuring the generated venue only\n", grid.path.c_str());
    }

    VenueFile venue;
    venue.label = "venue";
    if (!triangleCountFromEnvironment(venue.triangles)) return 1;
    venue.path = lumbrix::bench::temporaryVenuePath("venue.fbx");
    if (venue.path.empty()) return 1;
    if (!writeVenue(venue)) return 1;
    venue.label = "venue_" + std::to_string(venue.triangles / 1000) + "k";
    files.push_back(venue);

    compareWholeProcesses(files);
    if (processesOnly) return 0;

    std::printf("\nIn-process FBX load: warm page cache; ours = Scene::load (flags 0) + fan triangulation of every\n"
                "polygon, assimp = Importer with aiProcess_Triangulate; \"-mem\" = from bytes already in memory\n");
    for (const VenueFile& file : files) {
        std::printf("  %-16s %s, %.1f MB, %llu triangles\n", file.label.c_str(), file.path.c_str(),
                    double(file.bytes) / kMB, static_cast<unsigned long long>(file.triangles));
    }

    // Before the timed runs, so the forked children start from a small parent.
    reportPeakMemory(files);
    std::printf("\n");
    std::fflush(stdout);

    for (const VenueFile& file : files) {
        if (!readFile(file.path, g_preloaded[file.path])) {
            std::fprintf(stderr, "Cannot read %s\n", file.path.c_str());
            return 1;
        }
    }
    for (const VenueFile& file : files) {
        for (const Contender& contender : kContenders) {
            const Loader load = contender.load;
            const VenueFile* target = &file;
            benchmark::RegisterBenchmark(benchmarkName(contender, file).c_str(),
                                         [load, target](benchmark::State& state) { runLoad(state, load, target); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(3);
        }
    }
    ThroughputReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nThroughput (MB = 10^6 bytes of FBX file):\n");
    for (const VenueFile& file : files) {
        for (const Contender& contender : kContenders) {
            const std::string name = benchmarkName(contender, file);
            const double rate = reporter.bytesPerSecond(name);
            if (rate > 0) std::printf("  %-28s %8.1f MB/s %9.1f ms\n", name.c_str(), rate / kMB, reporter.milliseconds(name));
        }
    }
    for (const VenueFile& file : files) {
        for (const auto& [ours, theirs] : {std::pair{kContenders[0], kContenders[1]}, {kContenders[2], kContenders[3]},
                                         {kContenders[4], kContenders[1]}}) {
            const double a = reporter.bytesPerSecond(benchmarkName(ours, file));
            const double b = reporter.bytesPerSecond(benchmarkName(theirs, file));
            if (a > 0 && b > 0) {
                std::printf("ratio %s/%s on %s: %.2fx\n", ours.name, theirs.name, file.label.c_str(), a / b);
            }
        }
    }
    benchmark::Shutdown();
    return 0;
}
