// libFuzzer entry: any bytes through Scene::load must load or fail with a
// one-line error, and whatever loads must be safe to walk the way the importer
// and Varnel walk it. Loads with flags 0 (the viewer) and 4676 (Varnel) must
// agree on what Varnel decides from: the meshes.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fbx/fbx_scene.h"

namespace {

using namespace lumbrix::fbx;

constexpr uint64_t kVarnelFlags = 4676;
constexpr uint32_t kTriangleBuffer = 256;

void check(bool condition) {
    if (!condition) std::abort();
}

// Reads every byte of a double so that ASan sees a stale or short pointer.
volatile double g_sink = 0;
void touch(double value) { g_sink = g_sink + value; }
void touch(const Vec3& v) { touch(v.x + v.y + v.z); }
void touch(const Vec2& v) { touch(v.x + v.y); }
void touch(const Matrix& matrix) {
    for (double value : matrix.m) touch(value);
}

template <class T>
void walkAttribute(const Attributes<T>& attribute) {
    check(attribute.count >= 0 && attribute.valueCount >= 0);
    if (attribute.count == 0) return;
    check(attribute.values != nullptr || attribute.valueCount == 0);
    // Without an index array, corner c reads values[c]: every corner needs a value.
    if (attribute.indices == nullptr) check(attribute.count <= attribute.valueCount);
    for (int c = 0; c < attribute.count; ++c) {
        const int index = attribute.indices != nullptr ? attribute.indices[c] : c;
        if (index >= 0 && index < attribute.valueCount) touch(attribute.values[index]);
    }
}

void walkParents(const Object& object) {
    // A loop in the parent chain would hang every caller that walks it; a chain
    // longer than this from a fuzzed input can only be a loop.
    int steps = 0;
    for (const Object* parent = object.parent(); parent != nullptr; parent = parent->parent()) {
        check(++steps < 1'000'000);
        check(parent != &object);
        touch(parent->globalTransform());
        (void)parent->name().size();
    }
}

void walkPolygon(const GeometryData& geometry, const Polygon& polygon, int corners) {
    check(polygon.fromVertex >= 0 && polygon.vertexCount >= 0);
    check(int64_t(polygon.fromVertex) + polygon.vertexCount <= corners);

    std::array<int, kTriangleBuffer + 1> buffer;
    buffer.fill(-7);
    const uint32_t written = triangulate(geometry, polygon, buffer.data(), kTriangleBuffer);
    check(buffer[kTriangleBuffer] == -7);
    const int64_t needed = polygon.vertexCount >= 3 ? 3 * (int64_t(polygon.vertexCount) - 2) : 0;
    if (needed == 0 || needed > kTriangleBuffer) {
        check(written == 0);
        return;
    }
    check(written == uint32_t(needed));
    const int f = polygon.fromVertex;
    for (uint32_t t = 0; t < written / 3; ++t) {
        check(buffer[3 * t] == f);
        check(buffer[3 * t + 1] == f + int(t) + 1);
        check(buffer[3 * t + 2] == f + int(t) + 2);
    }
    for (uint32_t k = 0; k < written; ++k) check(buffer[k] >= 0 && buffer[k] < corners);

    // One entry short: nothing past the given capacity may be written.
    buffer.fill(-7);
    const uint32_t capacity = written - 1;
    check(triangulate(geometry, polygon, buffer.data(), capacity) == 0);
    for (uint32_t k = capacity; k <= kTriangleBuffer; ++k) check(buffer[k] == -7);
}

void walkMesh(const Mesh& mesh) {
    check(mesh.kind() == ObjectKind::mesh);
    (void)mesh.id();
    (void)std::string(mesh.name());
    touch(mesh.globalTransform());
    touch(mesh.geometricMatrix());
    walkParents(mesh);

    const GeometryData& geometry = mesh.geometryData();
    const Attributes<Vec3> positions = geometry.positions();
    check(geometry.hasVertices() == (positions.valueCount > 0));
    walkAttribute(positions);
    const Attributes<Vec2> uvs = geometry.uvs(0);
    walkAttribute(uvs);
    // Set 0 is per corner of the same polygons, when it exists.
    if (uvs.count != 0) check(uvs.count == positions.count);
    walkAttribute(geometry.uvs(1));

    check(geometry.partitionCount() >= 0);
    for (int p = 0; p < geometry.partitionCount(); ++p) {
        for (const Polygon& polygon : geometry.partition(p).polygons) walkPolygon(geometry, polygon, positions.count);
    }
}

void walkCamera(const Camera& camera) {
    (void)camera.id();
    (void)std::string(camera.name());
    touch(camera.globalTransform());
    touch(camera.focalLength() + camera.filmWidth() + camera.filmHeight() + camera.nearPlane() + camera.farPlane());
    walkParents(camera);
}

struct Summary {
    int meshes = 0;
    int cameras = 0;
    std::vector<int> corners;  // per mesh
};

Summary walk(const Scene& scene) {
    Summary summary;
    summary.meshes = scene.meshCount();
    summary.cameras = scene.cameraCount();
    check(summary.meshes >= 0 && summary.cameras >= 0);
    check(scene.version() >= 7000 && scene.version() < 8000);
    check(scene.mesh(-1) == nullptr && scene.mesh(summary.meshes) == nullptr);
    check(scene.camera(-1) == nullptr && scene.camera(summary.cameras) == nullptr);
    for (int i = 0; i < summary.meshes; ++i) {
        const Mesh* mesh = scene.mesh(i);
        check(mesh != nullptr);
        walkMesh(*mesh);
        summary.corners.push_back(mesh->geometryData().positions().count);
    }
    for (int i = 0; i < summary.cameras; ++i) {
        const Camera* camera = scene.camera(i);
        check(camera != nullptr);
        walkCamera(*camera);
    }
    return summary;
}

// Loads from a private copy that is wiped and freed before the walk: the scene
// must own everything it hands out.
std::unique_ptr<Scene> loadFromCopy(const uint8_t* data, size_t size, uint64_t flags, std::string& error) {
    auto copy = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
    if (size != 0) std::memcpy(copy.get(), data, size);
    std::unique_ptr<Scene> scene = Scene::load(copy.get(), size, flags, error);
    std::memset(copy.get(), 0xA5, size);
    return scene;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<Summary> summaries[2];
    const uint64_t flags[2] = {0, kVarnelFlags};
    for (int k = 0; k < 2; ++k) {
        std::string error;
        const std::unique_ptr<Scene> scene = loadFromCopy(data, size, flags[k], error);
        if (!scene) {
            check(!error.empty());
            check(error.find('\n') == std::string::npos);
            continue;
        }
        summaries[k] = std::make_unique<Summary>(walk(*scene));
    }
    // Varnel judges with 4676 what the viewer then imports with 0: skipping
    // animation, blend shapes and videos must not change the meshes.
    if (summaries[0] && summaries[1]) {
        check(summaries[0]->meshes == summaries[1]->meshes);
        check(summaries[0]->cameras == summaries[1]->cameras);
        check(summaries[0]->corners == summaries[1]->corners);
    }
    return 0;
}
