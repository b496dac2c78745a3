#pragma once
// Decodes the arrays of one Geometry node that the scene hands out.
#include <string>
#include <vector>

#include "fbx/fbx_document.h"
#include "fbx/fbx_scene.h"
#include "fbx/scene_geometry.h"

namespace lumbrix::fbx {

// One Geometry's data, decoded once and shared by every Model instancing it;
// partitions are made per Model because the slot count is the Model's.
struct DecodedGeometry {
    std::vector<Vec3> positions;
    std::vector<int> vertexIndices;  // per corner, end markers undone
    std::vector<Polygon> polygons;
    bool hasUvs = false;
    std::vector<Vec2> uvValues;
    std::vector<int> uvIndices;  // per corner; empty when uvValues are per corner
    LayerMapping materialMapping = LayerMapping::unsupported;
    std::vector<int> materials;
};

// Reads positions, polygons, UV set 0 and material indices. Returns false and
// sets `error` when an array is corrupt or too large to index with int.
bool decodeGeometry(const Node& geometry, DecodedGeometry& out, std::string& error);

}  // namespace lumbrix::fbx
