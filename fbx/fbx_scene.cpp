#include "fbx/fbx_scene.h"

#include <new>

#include "fbx/fbx_document.h"
#include "fbx/scene_builder.h"

namespace lumbrix::fbx {

Attributes<Vec3> GeometryData::positions() const {
    Attributes<Vec3> attributes;
    attributes.values = positionValues_.empty() ? nullptr : positionValues_.data();
    attributes.indices = positionIndices_.empty() ? nullptr : positionIndices_.data();
    attributes.count = static_cast<int>(positionIndices_.size());
    attributes.valueCount = static_cast<int>(positionValues_.size());
    return attributes;
}

Attributes<Vec2> GeometryData::uvs(int set) const {
    // Only set 0 is decoded: the viewer maps one texture.
    Attributes<Vec2> attributes;
    if (set != 0 || uvCount_ == 0) return attributes;
    attributes.values = uvValues_.empty() ? nullptr : uvValues_.data();
    attributes.indices = uvIndices_.empty() ? nullptr : uvIndices_.data();
    attributes.count = uvCount_;
    attributes.valueCount = static_cast<int>(uvValues_.size());
    return attributes;
}

uint32_t triangulate(const GeometryData& geometry, const Polygon& polygon, int* out, uint32_t capacity) {
    const int64_t corners = geometry.positions().count;
    const int64_t first = polygon.fromVertex;
    const int64_t count = polygon.vertexCount;
    // Polygons built by hand may point anywhere; only corners of this geometry come out.
    if (count < 3 || first < 0 || first + count > corners || !out) return 0;
    const uint64_t needed = 3 * static_cast<uint64_t>(count - 2);
    if (needed > capacity) return 0;
    uint32_t written = 0;
    for (int64_t i = 1; i + 1 < count; ++i) {
        out[written++] = static_cast<int>(first);
        out[written++] = static_cast<int>(first + i);
        out[written++] = static_cast<int>(first + i + 1);
    }
    return written;
}

const Mesh* Scene::mesh(int i) const {
    return i >= 0 && i < meshCount() ? meshes_[static_cast<size_t>(i)] : nullptr;
}

const Camera* Scene::camera(int i) const {
    return i >= 0 && i < cameraCount() ? cameras_[static_cast<size_t>(i)] : nullptr;
}

std::unique_ptr<Scene> Scene::load(const uint8_t* data, uint64_t size, uint64_t flags, std::string& error) {
    // Every object the skip flags name is one the scene never reads, so they
    // change nothing here; the bits stay part of the interface.
    (void)flags;
    try {
        std::string message;
        std::unique_ptr<Document> document = Document::parse(data, size, message);
        std::unique_ptr<Scene> scene;
        if (document) scene = SceneBuilder(*document).build(message);
        if (!scene) {
            error = message.empty() ? "Failed to read the FBX scene" : message;
            return nullptr;
        }
        return scene;
    } catch (const std::bad_alloc&) {
        error = "Not enough memory to read the FBX file";
        return nullptr;
    }
}

bool Scene::countMeshes(const uint8_t* data, uint64_t size, uint64_t flags, int& meshes, std::string& error) {
    (void)flags;  // as in load()
    meshes = 0;
    try {
        std::string message;
        std::unique_ptr<Document> document = Document::parse(data, size, message);
        if (document && SceneBuilder(*document).countMeshes(meshes, message)) return true;
        meshes = 0;
        error = message.empty() ? "Failed to read the FBX scene" : message;
        return false;
    } catch (const std::bad_alloc&) {
        meshes = 0;
        error = "Not enough memory to read the FBX file";
        return false;
    }
}

}  // namespace lumbrix::fbx
