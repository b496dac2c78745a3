#include "model/fbx_scene_importer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "fbx/fbx_document.h"
#include "fbx/fbx_scene.h"
#include "model/fbx_camera_extraction.h"
#include "model/vertex.h"
#include "platform/file_buffer.h"
#include "platform/regular_file.h"
#include "platform/system_log.h"

namespace lumbrix {

namespace {

using Float4x4 = std::array<float, 16>;  // column-major

// Corner indices one polygon may fill: larger polygons are dropped.
constexpr uint32_t kTriangulationEntries = 256;

Error importError(int code, std::string message) {
    return Error(FBXSceneImporter::kErrorDomain, code, std::move(message));
}

Float4x4 toFloat(const fbx::Matrix& matrix) {
    Float4x4 result;
    for (size_t i = 0; i < 16; ++i) result[i] = static_cast<float>(matrix.m[i]);
    return result;
}

Float4x4 multiply(const Float4x4& a, const Float4x4& b) {
    Float4x4 result{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += a[k * 4 + row] * b[column * 4 + k];
            result[column * 4 + row] = sum;
        }
    }
    return result;
}

std::array<float, 3> transformPoint(const Float4x4& t, const fbx::Vec3& p) {
    const float x = static_cast<float>(p.x), y = static_cast<float>(p.y), z = static_cast<float>(p.z);
    return {t[0] * x + t[4] * y + t[8] * z + t[12], t[1] * x + t[5] * y + t[9] * z + t[13],
            t[2] * x + t[6] * y + t[10] * z + t[14]};
}

constexpr const char* kReadFailed = "Failed to read FBX file.";

// The system's reason follows the fixed text, as an OBJ load shows it.
Error readError(const Error& reason) {
    return importError(FBXSceneImporter::readFailed, std::string(kReadFailed) + " " + reason.description);
}

Expected<FileBuffer, Error> readFile(const std::string& path) {
    // A file that is not FBX at all is told from its first bytes, not after reading
    // all of it.
    HeadCheck head;
    head.bytes = static_cast<size_t>(fbx::kFBXHeadBytes);
    head.check = [](const char* bytes, size_t headBytes, uint64_t fileBytes) -> std::optional<Error> {
        if (fileBytes == 0 || fbx::couldBeFBX(reinterpret_cast<const uint8_t*>(bytes), headBytes, fileBytes)) {
            return std::nullopt;
        }
        return importError(FBXSceneImporter::parseFailed, fbx::kNotAnFBXFile);
    };
    auto file = readWholeFile(path, size_t(1) << 40, head);
    if (!file) {
        if (file.error().domain == FBXSceneImporter::kErrorDomain) return unexpected(std::move(file.error()));
        return unexpected(readError(file.error()));
    }
    // The file length stays 64-bit all the way into the reader.
    if (file->size() == 0) return unexpected(readError(Error(kPosixErrorDomain, ENODATA, "Cannot read " + path + ": The file is empty")));
    return file;
}

Expected<std::unique_ptr<fbx::Scene>, Error> loadFBX(const uint8_t* data, uint64_t size) {
    if (data == nullptr || size == 0) {
        return unexpected(importError(FBXSceneImporter::readFailed, kReadFailed));
    }
    std::string readerError;
    auto scene = fbx::Scene::load(data, size, 0, readerError);
    if (!scene) {
        return unexpected(importError(FBXSceneImporter::parseFailed,
                                      readerError.empty() ? "OpenFBX failed to parse scene." : readerError));
    }
    return scene;
}

// The message for polygons of five or more corners in the one mesh, or empty.
std::string ngonMessage(const fbx::Mesh* mesh) {
    if (mesh == nullptr || !mesh->geometryData().hasVertices()) return {};
    const fbx::GeometryData& data = mesh->geometryData();
    int count = 0, largest = 0;
    std::vector<int> examples;
    for (int p = 0; p < data.partitionCount(); ++p) {
        for (const fbx::Polygon& polygon : data.partition(p).polygons) {
            if (polygon.vertexCount < 5) continue;
            ++count;
            largest = std::max(largest, polygon.vertexCount);
            if (examples.size() < 3) examples.push_back(polygon.vertexCount);
        }
    }
    if (count == 0) return {};
    std::string text = "N-gons found: " + std::to_string(count) + " (max " + std::to_string(largest) +
                       " vertices). Export triangulated/quads. Examples: ";
    for (size_t i = 0; i < examples.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(examples[i]) + " vertices";
    }
    return text;
}

struct MergedGeometry {
    // Sized to the upper bound up front and never zero-filled: every record up to
    // vertexCount is written once, in file order.
    PodArray<uint8_t> vertexBytes;
    PodArray<uint8_t> indexBytes;  // vertex i's index is i
    size_t vertexCount = 0;
    int meshesWithData = 0;
    std::string warning;

    void addWarning(const std::string& text) {
        if (!warning.empty()) warning += "; ";
        warning += text;
    }

    // Room for every triangle the meshes can yield.
    void reserveFor(uint64_t triangles) {
        vertexBytes.reset(static_cast<size_t>(triangles * 3 * sizeof(Vertex)));
        indexBytes.reset(static_cast<size_t>(triangles * 3 * sizeof(uint32_t)));
    }

    Vertex* vertices() { return reinterpret_cast<Vertex*>(vertexBytes.data()); }
    uint32_t* indices() { return reinterpret_cast<uint32_t*>(indexBytes.data()); }

    void trim() {
        vertexBytes.shrink(vertexCount * sizeof(Vertex));
        indexBytes.shrink(vertexCount * sizeof(uint32_t));
    }
};

// Whether fbx::triangulate fans `polygon` into the buffer of `bufferEntries` corners:
// three corners or more, all its triangles fitting.
bool fitsTriangulation(const fbx::Polygon& polygon, uint32_t bufferEntries) {
    return polygon.vertexCount >= 3 && uint64_t(polygon.vertexCount - 2) * 3 <= bufferEntries;
}

// Triangles the fan of every polygon that fits the triangulation buffer yields.
uint64_t triangleBound(const fbx::Mesh& mesh, uint32_t bufferEntries) {
    uint64_t triangles = 0;
    const fbx::GeometryData& data = mesh.geometryData();
    for (int p = 0; p < data.partitionCount(); ++p) {
        for (const fbx::Polygon& polygon : data.partition(p).polygons) {
            if (fitsTriangulation(polygon, bufferEntries)) triangles += uint64_t(polygon.vertexCount - 2);
        }
    }
    return triangles;
}

// Index of corner c in an attribute's values, or -1 when the file's data does
// not lead to a value (a corner beyond the attribute, or an index outside it).
template <class T>
int valueIndex(const fbx::Attributes<T>& attribute, int corner) {
    if (corner < 0 || corner >= attribute.count) return -1;
    const int index = attribute.indices != nullptr ? attribute.indices[corner] : corner;
    return (index >= 0 && index < attribute.valueCount) ? index : -1;
}

// One mesh's inputs to the vertex writer.
struct MeshSource {
    const fbx::GeometryData* data = nullptr;
    Float4x4 transform{};
    fbx::Attributes<fbx::Vec3> positions;
    fbx::Attributes<fbx::Vec2> uvs;
    bool hasUVs = false;
};

// Polygons [begin, end) of the mesh, counted through its partitions in order.
struct PolygonRange {
    size_t begin = 0;
    size_t end = 0;
};

// Writes the vertices of the triangles of `range` at `out`, in file order, and returns
// how many it wrote; at most 3 x the range's triangle bound. Each polygon is fanned
// exactly as fbx::triangulate fans it into a buffer of kTriangulationEntries corners;
// a triangle whose corners lead outside the positions is dropped whole.
size_t writeTriangles(const MeshSource& mesh, PolygonRange range, Vertex* out) {
    const fbx::GeometryData& data = *mesh.data;
    const int corners = mesh.positions.count;
    Vertex* const first = out;
    size_t skipped = 0;  // polygons of earlier partitions
    for (int p = 0; p < data.partitionCount() && skipped < range.end; ++p) {
        const std::vector<fbx::Polygon>& polygons = data.partition(p).polygons;
        const size_t from = range.begin > skipped ? range.begin - skipped : 0;
        const size_t to = std::min(polygons.size(), range.end - skipped);
        skipped += polygons.size();
        for (size_t i = from; i < to; ++i) {
            const fbx::Polygon& polygon = polygons[i];
            if (!fitsTriangulation(polygon, kTriangulationEntries)) continue;
            // fbx::triangulate writes nothing for polygons outside the corners.
            const int64_t start = polygon.fromVertex;
            if (start < 0 || start + polygon.vertexCount > corners) continue;
            for (int t = 1; t + 1 < polygon.vertexCount; ++t) {
                const int triangle[3] = {static_cast<int>(start), static_cast<int>(start + t),
                                         static_cast<int>(start + t + 1)};
                int positionIndex[3];
                bool valid = true;
                for (int k = 0; k < 3 && valid; ++k) {
                    positionIndex[k] = valueIndex(mesh.positions, triangle[k]);
                    valid = positionIndex[k] >= 0;
                }
                if (!valid) continue;
                for (int k = 0; k < 3; ++k) {
                    Vertex vertex;
                    vertex.position = transformPoint(mesh.transform, mesh.positions.values[positionIndex[k]]);
                    const int uvIndex = mesh.hasUVs ? valueIndex(mesh.uvs, triangle[k]) : -1;
                    if (uvIndex >= 0) {
                        const fbx::Vec2& uv = mesh.uvs.values[uvIndex];
                        vertex.uv = {static_cast<float>(uv.x), 1.0f - static_cast<float>(uv.y)};
                    }
                    std::memcpy(static_cast<void*>(out), &vertex, sizeof vertex);
                    ++out;
                }
            }
        }
    }
    return static_cast<size_t>(out - first);
}

// Below this many vertices one thread writes them all.
constexpr uint64_t kParallelVertices = uint64_t(1) << 16;

// Runs work(0) .. work(count - 1), the first here and the others on threads of their own.
template <class Work>
void runEach(size_t count, Work&& work) {
    std::vector<std::thread> threads;
    std::vector<std::exception_ptr> failures(count);
    for (size_t i = 1; i < count; ++i) {
        threads.emplace_back([&work, &failures, i] {
            try {
                work(i);
            } catch (...) {
                failures[i] = std::current_exception();
            }
        });
    }
    try {
        work(0);
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& thread : threads) thread.join();
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

size_t writerCount(uint64_t vertexBound) {
    if (vertexBound < kParallelVertices) return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<size_t>(cores, 1, 4);
}

void appendMesh(const fbx::Mesh& mesh, int meshIndex, MergedGeometry& merged) {
    const fbx::GeometryData& data = mesh.geometryData();
    if (!data.hasVertices()) return;
    ++merged.meshesWithData;
    MeshSource source;
    source.data = &data;
    source.transform = multiply(toFloat(mesh.globalTransform()), toFloat(mesh.geometricMatrix()));
    source.positions = data.positions();
    source.uvs = data.uvs(0);
    if (source.positions.count == 0) return;
    if (data.partitionCount() == 0) {
        merged.addWarning("Mesh " + std::to_string(meshIndex) + ": no partitions");
        return;
    }
    source.hasUVs = source.uvs.count >= 1 && source.uvs.values != nullptr;

    // Polygons split into runs of about equal triangle bounds, one writer each; each run
    // writes at the start its bound gives it, and a run that dropped triangles leaves a
    // gap that is closed afterwards.
    std::vector<size_t> bounds;  // vertex bound of each polygon run
    std::vector<PolygonRange> ranges;
    {
        const auto vertexBound = [](const fbx::Polygon& polygon) -> uint64_t {
            return fitsTriangulation(polygon, kTriangulationEntries) ? 3 * uint64_t(polygon.vertexCount - 2) : 0;
        };
        uint64_t total = 0;
        for (int p = 0; p < data.partitionCount(); ++p) {
            for (const fbx::Polygon& polygon : data.partition(p).polygons) total += vertexBound(polygon);
        }
        const size_t writers = writerCount(total);
        uint64_t sum = 0, closed = 0;
        size_t index = 0;
        PolygonRange range;
        for (int p = 0; p < data.partitionCount(); ++p) {
            for (const fbx::Polygon& polygon : data.partition(p).polygons) {
                sum += vertexBound(polygon);
                ++index;
                // A run ends once the runs so far hold their share.
                if (ranges.size() + 1 < writers && sum * writers >= total * (ranges.size() + 1)) {
                    range.end = index;
                    ranges.push_back(range);
                    bounds.push_back(static_cast<size_t>(sum - closed));
                    closed = sum;
                    range.begin = index;
                }
            }
        }
        range.end = index;
        ranges.push_back(range);
        bounds.push_back(static_cast<size_t>(sum - closed));
    }
    std::vector<size_t> starts(ranges.size());
    std::vector<size_t> written(ranges.size(), 0);
    size_t offset = merged.vertexCount;
    for (size_t r = 0; r < ranges.size(); ++r) {
        starts[r] = offset;
        offset += bounds[r];
    }
    Vertex* const vertices = merged.vertices();
    uint32_t* const indices = merged.indices();
    runEach(ranges.size(), [&](size_t r) {
        written[r] = writeTriangles(source, ranges[r], vertices + starts[r]);
        for (size_t i = 0; i < written[r]; ++i) indices[starts[r] + i] = static_cast<uint32_t>(starts[r] + i);
    });
    // Close the gaps of runs that dropped triangles; their indices then move too.
    size_t end = merged.vertexCount;
    bool moved = false;
    for (size_t r = 0; r < ranges.size(); ++r) {
        if (starts[r] != end) {
            std::memmove(static_cast<void*>(vertices + end), vertices + starts[r], written[r] * sizeof(Vertex));
            moved = true;
        }
        end += written[r];
    }
    if (moved) {
        for (size_t i = merged.vertexCount; i < end; ++i) indices[i] = static_cast<uint32_t>(i);
    }
    merged.vertexCount = end;
}

void logImport(MergedGeometry& merged) {
    const size_t triangles = merged.vertexCount / 3;
    SystemLog::info("=== FBX Import Debug ===");
    SystemLog::info("sizeof(FBXVertexPU) = %zu bytes", sizeof(FBXVertexPU));
    SystemLog::info("Total vertices: %zu", merged.vertexCount);
    SystemLog::info("Total indices: %zu", merged.vertexCount);
    SystemLog::info("Total triangles: %zu", triangles);
    // The dumps can run to millions of lines: only with debug logging on.
    if (SystemLog::debugEnabled()) {
        SystemLog::debug("\n=== All Vertices ===");
        for (size_t i = 0; i < merged.vertexCount; ++i) {
            Vertex v;
            std::memcpy(&v, merged.vertexBytes.data() + i * sizeof(Vertex), sizeof(Vertex));
            SystemLog::debug("Vertex[%zu]: pos=(%.2f, %.2f, %.2f), uv=(%.2f, %.2f)", i, v.position[0], v.position[1],
                             v.position[2], v.uv[0], v.uv[1]);
        }
        SystemLog::debug("\n=== All Triangles (indices) ===");
        const uint32_t* indices = merged.indices();
        for (size_t t = 0; t < triangles; ++t) {
            SystemLog::debug("Triangle[%zu]: (%u, %u, %u)", t, indices[3 * t], indices[3 * t + 1], indices[3 * t + 2]);
        }
    }
    SystemLog::info("=== End Debug ===");
}

}  // namespace

namespace {

Expected<std::shared_ptr<FBXImportedScene>, Error> importScene(const fbx::Scene& scene);

}  // namespace

Expected<std::shared_ptr<FBXImportedScene>, Error> FBXSceneImporter::loadSceneFromURL(const std::string& path) {
    std::unique_ptr<fbx::Scene> scene;
    {
        // The scene keeps what it needs, so the file's bytes go before the mesh is built.
        auto file = readFile(path);
        if (!file) return unexpected(file.error());
        auto loaded = loadFBX(reinterpret_cast<const uint8_t*>(file->data()), file->size());
        if (!loaded) return unexpected(loaded.error());
        scene = std::move(loaded.value());
    }
    return importScene(*scene);
}

std::optional<Error> FBXSceneImporter::checkFile(const std::string& path) {
    if (auto problem = checkRegularFile(path)) return readError(*problem);
    return std::nullopt;
}

Expected<std::shared_ptr<FBXImportedScene>, Error> FBXSceneImporter::loadScene(const uint8_t* data, uint64_t size) {
    auto loaded = loadFBX(data, size);
    if (!loaded) return unexpected(loaded.error());
    return importScene(*loaded.value());
}

namespace {

Expected<std::shared_ptr<FBXImportedScene>, Error> importScene(const fbx::Scene& scene) {
    using Code = FBXSceneImporter::ErrorCode;
    auto result = std::make_shared<FBXImportedScene>();
    auto cameras = extractFBXCameras(scene);
    result->setCameraCount(static_cast<int64_t>(cameras.size()));
    result->setCameras(std::move(cameras));

    const int meshCount = scene.meshCount();
    result->setSourceMeshCount(meshCount);
    if (meshCount == 0) {
        result->setStatusText("FBX loaded: no meshes");
        return result;
    }
    if (meshCount >= 2) {
        return unexpected(importError(Code::unsupportedContent, "Multiple meshes found: " + std::to_string(meshCount) +
                                                              ". Export as a single mesh."));
    }
    const std::string ngons = ngonMessage(scene.mesh(0));
    if (!ngons.empty()) return unexpected(importError(Code::unsupportedContent, ngons));

    MergedGeometry merged;
    uint64_t bound = 0;
    for (int i = 0; i < meshCount; ++i) {
        if (const fbx::Mesh* mesh = scene.mesh(i)) bound += triangleBound(*mesh, kTriangulationEntries);
    }
    if (bound * 3 > (uint64_t(1) << 32)) {
        return unexpected(importError(Code::unsupportedContent, "The mesh needs more than 4294967296 vertices."));
    }
    merged.reserveFor(bound);
    for (int i = 0; i < meshCount; ++i) {
        const fbx::Mesh* mesh = scene.mesh(i);
        if (mesh != nullptr) appendMesh(*mesh, i, merged);
    }
    merged.trim();
    logImport(merged);

    if (merged.vertexCount == 0) {
        result->setStatusText("FBX loaded: no valid geometry");
    } else {
        auto mesh = std::make_shared<FBXImportedMesh>();
        mesh->setVertexCount(static_cast<int64_t>(merged.vertexCount));
        mesh->setIndexCount(static_cast<int64_t>(merged.vertexCount));
        mesh->setVertexData(std::move(merged.vertexBytes));
        mesh->setIndexData(std::move(merged.indexBytes));
        result->setMesh(std::move(mesh));
        result->setStatusText("FBX loaded: " + std::to_string(merged.meshesWithData) + " mesh(es), " +
                              std::to_string(merged.vertexCount) + " vertices, " +
                              std::to_string(merged.vertexCount / 3) + " triangles");
    }
    if (!merged.warning.empty()) result->setWarningText(merged.warning);
    return result;
}

}  // namespace

Expected<std::vector<std::shared_ptr<FBXImportedCamera>>, Error> FBXSceneImporter::loadCamerasFromURL(
    const std::string& path) {
    auto file = readFile(path);
    if (!file) return unexpected(file.error());
    auto loaded = loadFBX(reinterpret_cast<const uint8_t*>(file->data()), file->size());
    if (!loaded) return unexpected(loaded.error());
    return extractFBXCameras(*loaded.value());
}

}  // namespace lumbrix
