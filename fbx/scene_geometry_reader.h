#pragma once
#if !defined(LUMBRIX_INSIDE_FBX) && !defined(LUMBRIX_TESTS)
#error "fbx/scene_geometry_reader.h is internal to fbx/"
#endif
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
    PodArray<Vec3> positions;
    PodArray<int> vertexIndices;  // per corner, end markers undone
    std::vector<Polygon> polygons;
    bool hasUvs = false;
    PodArray<Vec2> uvValues;
    PodArray<int> uvIndices;  // per corner; empty when uvValues are per corner
    LayerMapping materialMapping = LayerMapping::unsupported;
    std::vector<int> materials;
};

// Reads positions, polygons, UV set 0 and material indices. Returns false and
// sets `error` when an array is corrupt or too large to index with int; the
// first such array in the order above is the one named. Big arrays are
// decoded on two threads.
bool decodeGeometry(const Node& geometry, DecodedGeometry& out, std::string& error);

// Whether decodeGeometry would succeed, and its error when not, without keeping
// anything: the arrays are decoded into scratch memory and dropped.
bool checkGeometry(const Node& geometry, std::string& error);

}  // namespace lumbrix::fbx
