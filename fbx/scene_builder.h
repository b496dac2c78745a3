#pragma once
#if !defined(LUMBRIX_INSIDE_FBX) && !defined(LUMBRIX_TESTS)
#error "fbx/scene_builder.h is internal to fbx/"
#endif
// Builds a Scene from a parsed Document: collects the objects the viewer uses,
// links them through the Connections block, evaluates transforms and decodes
// geometry. Everything is keyed by object id.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "fbx/fbx_document.h"
#include "fbx/fbx_scene.h"
#include "fbx/scene_geometry_reader.h"

namespace lumbrix::fbx {

class SceneBuilder {
public:
    explicit SceneBuilder(const Document& document) : document_(document) {}
    // nullptr with `error` set when geometry arrays are corrupt.
    std::unique_ptr<Scene> build(std::string& error);
    // The mesh count build() would give, or false with its error, without building
    // anything: the geometry arrays are only decoded to see that they can be.
    bool countMeshes(int& meshes, std::string& error);

private:
    enum class Role : uint8_t { model, geometry, cameraAttribute, material };
    struct Ref {
        Role role;
        uint32_t index;  // into the list of its role (unused for materials)
    };
    struct ModelRecord {
        uint64_t id = 0;
        const Node* node = nullptr;
        bool meshClass = false;
        int parent = -1;          // index into models_
        bool parentKnown = false;  // first usable parent connection seen
        bool underRoot = false;    // connected to the scene root (id 0) itself
        bool reachesRoot = false;
        int geometry = -1;  // index into geometries_
        int materialCount = 0;
        Object* object = nullptr;
        Mesh* mesh = nullptr;  // set when the model is listed as a mesh
    };
    struct GeometryRecord {
        const Node* node = nullptr;
        int users = 0;
        bool decoded = false;  // or, when counting, checked
        DecodedGeometry data;
    };
    struct AttributeRecord {
        uint64_t id = 0;
        const Node* node = nullptr;
        int model = -1;
    };

    void collectObjects(const Node& objects);
    void readConnections(const Node& connections);
    void createModelObjects(Scene& scene);
    void resolveHierarchy();
    bool buildMeshes(Scene& scene, std::string& error);
    void buildCameras(Scene& scene);
    const Ref* find(uint64_t id) const;

    const Document& document_;
    std::unordered_map<uint64_t, Ref> ids_;
    std::vector<ModelRecord> models_;
    std::vector<GeometryRecord> geometries_;
    std::vector<AttributeRecord> cameraAttributes_;
};

}  // namespace lumbrix::fbx
