#pragma once
// What lumbrix-inspect says about one model file, as JSON or as text for people.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "model/fbx_imported_scene.h"
#include "model/mesh.h"

namespace lumbrix::inspect {

enum class ModelFormat { obj, fbx, unknown };

ModelFormat formatForPath(const std::string& path);

struct Bounds {
    std::array<float, 3> min;
    std::array<float, 3> max;
};

// Bounds of all vertex positions; NaN components are skipped. A component that
// is NaN in every vertex stays NaN.
std::optional<Bounds> meshBounds(const Vertex* vertices, size_t count);
inline std::optional<Bounds> meshBounds(const Mesh& mesh) { return meshBounds(mesh.vertices.data(), mesh.vertices.size()); }

struct Report {
    bool ok = false;
    std::string format;   // "obj" or "fbx" on success
    std::string kind;     // failure kind: read, invalid-utf8, validation, parse, import, unsupported, usage
    std::vector<std::string> messages;
    size_t vertices = 0;
    size_t indices = 0;
    std::optional<Bounds> bounds;

    // FBX only.
    int64_t sourceMeshCount = 0;
    std::string status;
    std::string warning;
    std::vector<std::shared_ptr<FBXImportedCamera>> cameras;
};

// Loads `path` through the viewer's own loaders.
Report inspectFile(const std::string& path);

std::string toJson(const Report& report);
std::string toText(const std::string& path, const Report& report);

}  // namespace lumbrix::inspect
