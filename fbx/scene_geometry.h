#pragma once
#if !defined(LUMBRIX_INSIDE_FBX) && !defined(LUMBRIX_TESTS)
#error "fbx/scene_geometry.h is internal to fbx/"
#endif
// Geometry layers turned into the per-corner form GeometryData hands out.
// Everything here works on decoded arrays, so each rule can be checked
// without a file, and nothing trusts an index read from one.
#include <span>
#include <string_view>
#include <vector>

#include "fbx/fbx_scene.h"
#include "fbx/page_memory.h"

namespace lumbrix::fbx {

enum class LayerMapping { byPolygonVertex, byControlPoint, byPolygon, allSame, unsupported };
enum class LayerReference { direct, indexToDirect, unsupported };

LayerMapping layerMappingFromText(std::string_view text);
LayerReference layerReferenceFromText(std::string_view text);

// Turns the polygon-vertex array into plain vertex indices in place (a
// negative entry -(i+1) ends its polygon and stands for i) and lists the
// polygons. A final run without its end marker still counts as a polygon.
void splitPolygons(std::span<int> polygonVertexIndex, std::vector<Polygon>& polygons);

// The value index of every corner for one layer. Leaves `cornerIndices` empty
// when the values already are one per corner (direct, by polygon vertex, with
// at least one value per corner). Index entries from the file pass through
// unchecked; where the file gives no entry at all the corner gets -1. Returns
// false for a mapping or reference this reader does not handle.
bool mapLayerToCorners(LayerMapping mapping, LayerReference reference, std::span<const int> layerIndex,
                       size_t valueCount, std::span<const int> vertexIndices, std::span<const Polygon> polygons,
                       PodArray<int>& cornerIndices);
// The same into a vector.
bool mapLayerToCorners(LayerMapping mapping, LayerReference reference, std::span<const int> layerIndex,
                       size_t valueCount, std::span<const int> vertexIndices, std::span<const Polygon> polygons,
                       std::vector<int>& cornerIndices);

// Polygons grouped by material slot: `slotCount` partitions (at least one when
// there are polygons, none without). Polygons whose material index is missing
// or outside the slots go to partition 0.
// A single partition takes `polygons` as they are, so callers done with them move them in.
std::vector<Partition> partitionByMaterial(std::vector<Polygon> polygons, LayerMapping mapping,
                                           const std::vector<int>& materials, int slotCount);

}  // namespace lumbrix::fbx
