#include "fbx/scene_geometry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

void splitPolygons(std::span<int> polygonVertexIndex, std::vector<Polygon>& polygons) {
    polygons.clear();
    const int count = static_cast<int>(polygonVertexIndex.size());
    int* const values = polygonVertexIndex.data();
    // Every polygon but an unfinished last one ends with a marker: count them for
    // one exact reservation.
    size_t markers = 0;
    for (int corner = 0; corner < count; ++corner) markers += values[corner] < 0;
    polygons.reserve(markers + 1);
    int start = 0;
    for (int corner = 0; corner < count; ++corner) {
        const int value = values[corner];
        if (value < 0) {
            values[corner] = ~value;  // -(i+1) -> i without overflowing on INT_MIN
            polygons.push_back({start, corner + 1 - start});
            start = corner + 1;
        }
    }
    if (start < count) polygons.push_back({start, count - start});
}

bool mapLayerToCorners(LayerMapping mapping, LayerReference reference, std::span<const int> layerIndex,
                       size_t valueCount, std::span<const int> vertexIndices, std::span<const Polygon> polygons,
                       PodArray<int>& cornerIndices) {
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
        cornerIndices.reset(corners);
        if (indexed) {
            // The index array's own entries, then -1 for corners it does not reach.
            const size_t copied = std::min(corners, layerIndex.size());
            if (copied != 0) std::memcpy(cornerIndices.data(), layerIndex.data(), copied * sizeof(int));
            for (size_t c = copied; c < corners; ++c) cornerIndices[c] = -1;
        } else {
            for (size_t c = 0; c < corners; ++c) cornerIndices[c] = lookUp(static_cast<int64_t>(c));
        }
        return true;
    case LayerMapping::byControlPoint:
        cornerIndices.reset(corners);
        for (size_t c = 0; c < corners; ++c) cornerIndices[c] = lookUp(vertexIndices[c]);
        return true;
    case LayerMapping::byPolygon:
        // Polygons cover the corners in order, but a final run of corners may have none.
        cornerIndices.reset(corners);
        for (size_t c = 0; c < corners; ++c) cornerIndices[c] = 0;
        for (size_t p = 0; p < polygons.size(); ++p) {
            const Polygon& polygon = polygons[p];
            int value = lookUp(static_cast<int64_t>(p));
            for (int c = 0; c < polygon.vertexCount; ++c)
                cornerIndices[static_cast<size_t>(polygon.fromVertex + c)] = value;
        }
        return true;
    case LayerMapping::allSame: {
        cornerIndices.reset(corners);
        const int value = lookUp(0);
        for (size_t c = 0; c < corners; ++c) cornerIndices[c] = value;
        return true;
    }
    case LayerMapping::unsupported: break;
    }
    return false;
}

bool mapLayerToCorners(LayerMapping mapping, LayerReference reference, std::span<const int> layerIndex,
                       size_t valueCount, std::span<const int> vertexIndices, std::span<const Polygon> polygons,
                       std::vector<int>& cornerIndices) {
    PodArray<int> mapped;
    const bool ok = mapLayerToCorners(mapping, reference, layerIndex, valueCount, vertexIndices, polygons, mapped);
    cornerIndices.assign(mapped.begin(), mapped.end());
    return ok;
}

std::vector<Partition> partitionByMaterial(std::vector<Polygon> polygons, LayerMapping mapping,
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
        partitions[0].polygons = std::move(polygons);
        return partitions;
    }
    std::vector<size_t> sizes(partitions.size(), 0);
    for (size_t p = 0; p < polygons.size(); ++p) ++sizes[static_cast<size_t>(slotOf(p))];
    for (size_t s = 0; s < partitions.size(); ++s) partitions[s].polygons.reserve(sizes[s]);
    for (size_t p = 0; p < polygons.size(); ++p) partitions[static_cast<size_t>(slotOf(p))].polygons.push_back(polygons[p]);
    return partitions;
}

}  // namespace lumbrix::fbx
