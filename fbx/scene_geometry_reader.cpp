#include "fbx/scene_geometry_reader.h"

#include <climits>
#include <cstdint>

#include "fbx/scene_properties.h"

namespace lumbrix::fbx {
namespace {

// Decodes the array held by child `name` of `parent`. A missing child, or one
// holding something other than an array, reads as an empty array.
template <class T>
bool readArray(const Node& parent, std::string_view name, std::vector<T>& out, std::string& error) {
    out.clear();
    const Node* child = parent.child(name);
    if (!child || child->propertyCount() < 1) return true;
    const Property& property = child->property(0);
    if (!property.isArray()) return true;
    // Corners and values are addressed with int throughout the interface.
    if (property.arrayCount() > static_cast<uint64_t>(INT_MAX)) {
        error = "Array too large at byte " + std::to_string(property.offset());
        return false;
    }
    return property.decode(out, error);
}

// UV set 0 is the layer with the lowest index, whatever order the file lists them in.
const Node* firstUvLayer(const Node& geometry) {
    const Node* best = nullptr;
    int64_t bestIndex = 0;
    for (const Node* child = geometry.firstChild(); child; child = child->nextSibling()) {
        if (child->name() != "LayerElementUV") continue;
        int64_t index = child->propertyCount() > 0 ? child->property(0).toInt64() : 0;
        if (!best || index < bestIndex) {
            best = child;
            bestIndex = index;
        }
    }
    return best;
}

bool readUvs(const Node& layer, DecodedGeometry& out, std::string& error) {
    LayerMapping mapping = layerMappingFromText(childText(layer, "MappingInformationType"));
    std::string_view referenceText = childText(layer, "ReferenceInformationType");
    LayerReference reference = referenceText.empty() ? LayerReference::direct : layerReferenceFromText(referenceText);
    if (mapping == LayerMapping::unsupported || reference == LayerReference::unsupported) return true;

    std::vector<double> raw;
    if (!readArray(layer, "UV", raw, error)) return false;
    std::vector<int> index;
    if (reference == LayerReference::indexToDirect && !readArray(layer, "UVIndex", index, error)) return false;

    out.uvValues.resize(raw.size() / 2);
    for (size_t i = 0; i < out.uvValues.size(); ++i) out.uvValues[i] = {raw[2 * i], raw[2 * i + 1]};
    // A layer that declares its modes but holds no values is no UV set.
    out.hasUvs = !out.uvValues.empty() && mapLayerToCorners(mapping, reference, index, out.uvValues.size(), out.vertexIndices, out.polygons,
                                   out.uvIndices);
    if (!out.hasUvs) out.uvValues.clear();
    return true;
}

bool readMaterials(const Node& geometry, DecodedGeometry& out, std::string& error) {
    const Node* layer = geometry.child("LayerElementMaterial");
    if (!layer) return true;
    out.materialMapping = layerMappingFromText(childText(*layer, "MappingInformationType"));
    if (out.materialMapping != LayerMapping::byPolygon && out.materialMapping != LayerMapping::allSame) {
        out.materialMapping = LayerMapping::unsupported;
        return true;
    }
    return readArray(*layer, "Materials", out.materials, error);
}

}  // namespace

bool decodeGeometry(const Node& geometry, DecodedGeometry& out, std::string& error) {
    std::vector<double> vertices;
    if (!readArray(geometry, "Vertices", vertices, error)) return false;
    out.positions.resize(vertices.size() / 3);
    for (size_t i = 0; i < out.positions.size(); ++i)
        out.positions[i] = {vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]};
    vertices = {};

    if (!readArray(geometry, "PolygonVertexIndex", out.vertexIndices, error)) return false;
    splitPolygons(out.vertexIndices, out.polygons);

    if (const Node* uvLayer = firstUvLayer(geometry); uvLayer && !readUvs(*uvLayer, out, error)) return false;
    return readMaterials(geometry, out, error);
}

}  // namespace lumbrix::fbx
