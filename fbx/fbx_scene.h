#pragma once
// FBX scene: meshes, their geometry and transforms, and cameras, read from a
// binary or ASCII FBX 7.x file held in memory.
//
// Scene::load decodes what a viewer needs (positions, polygon indices, UV set 0,
// material indices, transforms, camera values) into its own storage; the
// caller's buffer is not needed afterwards. Objects are keyed by their ids,
// never by their names, which may be empty, repeated, non-ASCII or hold "::".
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fbx/page_memory.h"

namespace lumbrix::fbx {

// Load flags: the bit values are part of the interface (Varnel passes 4676).
inline constexpr uint64_t kLoadSkipBlendShapes = uint64_t(1) << 2;   // "BlendShape", "BlendShapeChannel" deformers
inline constexpr uint64_t kLoadSkipAnimations = uint64_t(1) << 9;    // animation stacks, layers, curves, curve nodes
inline constexpr uint64_t kLoadSkipVideos = uint64_t(1) << 12;       // "Video" objects (embedded media)

// 4x4 matrix of doubles, column-major: m[12], m[13], m[14] is the translation.
struct Matrix {
    std::array<double, 16> m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    Matrix operator*(const Matrix& right) const;
};

struct Vec2 {
    double x = 0, y = 0;
};
struct Vec3 {
    double x = 0, y = 0, z = 0;
};

// Values of one attribute addressed per polygon corner: corner c's value is
// values[indices[c]] when indices is not null, else values[c]. Entries of
// `indices` come from the file and are NOT guaranteed to lie in
// [0, valueCount): callers check.
template <class T>
struct Attributes {
    const T* values = nullptr;
    const int* indices = nullptr;
    int count = 0;       // corners addressed (0: the attribute is absent)
    int valueCount = 0;  // entries at values
};

struct Polygon {
    int fromVertex = 0;   // first corner index
    int vertexCount = 0;  // corners
};

// The polygons that share one material slot.
struct Partition {
    std::vector<Polygon> polygons;
};

class GeometryData {
public:
    bool hasVertices() const { return !positionValues_.empty(); }
    // values: control points; indices: the polygon-vertex index array (with
    // the polygon-end markers already turned back into indices); count: corners.
    Attributes<Vec3> positions() const;
    // UV set `set` mapped to corners whatever the file's mapping and reference
    // modes; count 0 when the set does not exist.
    Attributes<Vec2> uvs(int set = 0) const;
    int partitionCount() const { return static_cast<int>(partitions_.size()); }
    const Partition& partition(int i) const { return partitions_[static_cast<size_t>(i)]; }

private:
    friend class SceneBuilder;
    // Filled once by the reader, never value-initialised first.
    PodArray<Vec3> positionValues_;
    PodArray<int> positionIndices_;
    PodArray<Vec2> uvValues_;
    PodArray<int> uvIndices_;  // per corner; empty when the values are per corner already
    int uvCount_ = 0;
    std::vector<Partition> partitions_;
};

// Fan triangulation of one polygon into corner indices: (f, f+1, f+2),
// (f, f+2, f+3), ... Writes at most `capacity` entries and returns how many were
// written: 0 when the polygon has fewer than 3 corners or its triangles do not fit.
uint32_t triangulate(const GeometryData& geometry, const Polygon& polygon, int* out, uint32_t capacity);

enum class ObjectKind { model, mesh, camera, other };

class Object {
public:
    virtual ~Object() = default;
    uint64_t id() const { return id_; }
    // The object's name without its class ("Cube" of "Model::Cube"); may be empty.
    std::string_view name() const { return name_; }
    ObjectKind kind() const { return kind_; }
    // Models: the parent model, or nullptr under the scene root. Cameras: the
    // model the camera attribute is attached to.
    const Object* parent() const { return parent_; }
    // Models: the full FBX chain through the parents (translation, rotation
    // offset and pivot, pre-rotation, rotation in its order, post-rotation,
    // scaling offset and pivot, scaling). Cameras: their model's.
    const Matrix& globalTransform() const { return globalTransform_; }

protected:
    friend class SceneBuilder;
    uint64_t id_ = 0;
    std::string name_;
    ObjectKind kind_ = ObjectKind::other;
    const Object* parent_ = nullptr;
    Matrix globalTransform_;
};

class Mesh : public Object {
public:
    // GeometricTranslation x GeometricRotation x GeometricScaling of the model.
    const Matrix& geometricMatrix() const { return geometricMatrix_; }
    const GeometryData& geometryData() const { return geometry_; }

private:
    friend class SceneBuilder;
    Matrix geometricMatrix_;
    GeometryData geometry_;
};

class Camera : public Object {
public:
    // The file's values, or FBX's defaults when a property is absent.
    double focalLength() const { return focalLength_; }
    double filmWidth() const { return filmWidth_; }
    double filmHeight() const { return filmHeight_; }
    double nearPlane() const { return nearPlane_; }
    double farPlane() const { return farPlane_; }

private:
    friend class SceneBuilder;
    double focalLength_ = 34.89327621;
    double filmWidth_ = 0.816;
    double filmHeight_ = 0.612;
    double nearPlane_ = 10.0;
    double farPlane_ = 4000.0;
};

class Scene {
public:
    // Loads a scene from `size` bytes at `data`. On failure returns nullptr and
    // sets `error` to a one-line text (never empty).
    static std::unique_ptr<Scene> load(const uint8_t* data, uint64_t size, uint64_t flags, std::string& error);

    // The meshCount() of the scene load() would give, or false with the error it
    // would give, without building the meshes: their arrays are decoded only to
    // see that they can be, into scratch memory. What a check of a file needs.
    static bool countMeshes(const uint8_t* data, uint64_t size, uint64_t flags, int& meshes, std::string& error);

    // Models of class "Mesh" with a geometry, in file order.
    int meshCount() const { return static_cast<int>(meshes_.size()); }
    const Mesh* mesh(int i) const;  // nullptr when out of range
    // Camera attributes attached to a model that is connected to the scene root.
    int cameraCount() const { return static_cast<int>(cameras_.size()); }
    const Camera* camera(int i) const;  // nullptr when out of range

    uint32_t version() const { return version_; }

private:
    friend class SceneBuilder;
    std::vector<std::unique_ptr<Object>> objects_;
    std::vector<const Mesh*> meshes_;
    std::vector<const Camera*> cameras_;
    uint32_t version_ = 0;
};

}  // namespace lumbrix::fbx
