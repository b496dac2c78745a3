#include "fbx/scene_geometry.h"

#include <cstdint>

namespace lumbrix::fbx {

LayerMapping layerMappingFromText(std::string_view text) {
    if (text == "ByPolygonVertex") return LayerMapping::byPolygonVertex;
    if (text == "ByVertice" || text == "ByVertex" || text == "ByControlPoint") return LayerMapping::byControlPoint;
    if (text == "ByPolygon") return LayerMapping::byPolygon;
    if (text == "AllSame") return LayerMapping::allSame;
    return LayerMapping::unsupported;
}

LayerReference layerReferenceFromText(std::string_view text) {
    if (text == "Direct") return LayerReference::direct;
    if (text == "IndexToDirect" || text == "Index") return LayerReference::indexToDirect;
    return LayerReference::unsupported;
}

void splitPolygons(std::vector<int>& polygonVertexIndex, std::vector<Polygon>& polygons) {
    polygons.clear();
    int start = 0;
    const int count = static_cast<int>(polygonVertexIndex.size());
    for (int corner = 0; corner < count; ++corner) {
        int& value = polygonVertexIndex[static_cast<size_t>(corner)];
        if (value < 0) {
            value = ~value;  // -(i+1) -> i without overflowing on INT_MIN
            polygons.push_back({start, corner + 1 - start});
            start = corner + 1;
        }
    }
    if (start < count) polygons.push_back({start, count - start});
}

bool mapLayerToCorners(LayerMapping mapping, LayerReference reference, const std::vector<int>& layerIndex,
                       size_t valueCount, const std::vector<int>& vertexIndices,
                       const std::vector<Polygon>& polygons, std::vector<int>& cornerIndices) {
    cornerIndices.clear();
    if (mapping == LayerMapping::unsupported || reference == LayerReference::unsupported) return false;
    // An index mode without its index array reads the values directly.
    const bool indexed = reference == LayerReference::indexToDirect && !layerIndex.empty();
    auto lookUp = [&](int64_t slot) -> int {
        if (!indexed) return slot <= INT32_MAX ? static_cast<int>(slot) : -1;
        return slot >= 0 && static_cast<uint64_t>(slot) < layerIndex.size() ? layerIndex[static_cast<size_t>(slot)]
                                                                            : -1;
    };
    const size_t corners = vertexIndices.size();
    switch (mapping) {
    case LayerMapping::byPolygonVertex:
        if (!indexed && valueCount >= corners) return true;
        cornerIndices.resize(corners);
        for (size_t c = 0; c < corners; ++c) cornerIndices[c] = lookUp(static_cast<int64_t>(c));
        return true;
    case LayerMapping::byControlPoint:
        cornerIndices.resize(corners);
        for (size_t c = 0; c < corners; ++c) cornerIndices[c] = lookUp(vertexIndices[c]);
        return true;
    case LayerMapping::byPolygon:
        cornerIndices.resize(corners);
        for (size_t p = 0; p < polygons.size(); ++p) {
            const Polygon& polygon = polygons[p];
            int value = lookUp(static_cast<int64_t>(p));
            for (int c = 0; c < polygon.vertexCount; ++c)
                cornerIndices[static_cast<size_t>(polygon.fromVertex + c)] = value;
        }
        return true;
    case LayerMapping::allSame:
        cornerIndices.assign(corners, lookUp(0));
        return true;
    case LayerMapping::unsupported: break;
    }
    return false;
}

std::vector<Partition> partitionByMaterial(const std::vector<Polygon>& polygons, LayerMapping mapping,
                                           const std::vector<int>& materials, int slotCount) {
    std::vector<Partition> partitions;
    if (polygons.empty()) return partitions;
    partitions.resize(static_cast<size_t>(slotCount > 1 ? slotCount : 1));
    const int slots = static_cast<int>(partitions.size());
    auto slotOf = [&](size_t polygon) {
        int material = 0;
        if (mapping == LayerMapping::byPolygon && polygon < materials.size()) material = materials[polygon];
        else if (mapping == LayerMapping::allSame && !materials.empty()) material = materials[0];
        return material >= 0 && material < slots ? material : 0;
    };
    if (slots == 1) {
        partitions[0].polygons = polygons;
        return partitions;
    }
    std::vector<size_t> sizes(partitions.size(), 0);
    for (size_t p = 0; p < polygons.size(); ++p) ++sizes[static_cast<size_t>(slotOf(p))];
    for (size_t s = 0; s < partitions.size(); ++s) partitions[s].polygons.reserve(sizes[s]);
    for (size_t p = 0; p < polygons.size(); ++p) partitions[static_cast<size_t>(slotOf(p))].polygons.push_back(polygons[p]);
    return partitions;
}

}  // namespace lumbrix::fbx
