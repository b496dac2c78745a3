#include "fbx/scene_properties.h"

namespace lumbrix::fbx {
namespace {

// Walks the P records of an object's Properties70 block, handing each one's
// name and record to `visit`.
template <class Visit>
void forEachProperty(const Node& object, Visit&& visit) {
    const Node* block = object.child("Properties70");
    if (!block) return;
    for (const Node* p = block->firstChild(); p; p = p->nextSibling()) {
        if (p->name() != "P" || p->propertyCount() < 1) continue;
        visit(p->property(0).toStringView(), *p);
    }
}

// Values start after name, type, subtype and flags.
constexpr size_t kFirstValue = 4;

double number(const Node& record, size_t value, double fallback) {
    size_t index = kFirstValue + value;
    return index < record.propertyCount() ? record.property(index).toDouble() : fallback;
}

void readVec3(const Node& record, Vec3& out) {
    out.x = number(record, 0, out.x);
    out.y = number(record, 1, out.y);
    out.z = number(record, 2, out.z);
}

}  // namespace

std::string objectName(std::string_view stored, bool binary) {
    if (binary) {
        size_t separator = stored.find(std::string_view("\0\x01", 2));
        return std::string(separator == std::string_view::npos ? stored : stored.substr(0, separator));
    }
    size_t separator = stored.find("::");
    if (separator != std::string_view::npos) stored.remove_prefix(separator + 2);
    std::string name;
    name.reserve(stored.size());
    constexpr std::string_view kQuote = "&quot;";
    for (size_t i = 0; i < stored.size();) {
        if (stored.compare(i, kQuote.size(), kQuote) == 0) {
            name.push_back('"');
            i += kQuote.size();
        } else {
            name.push_back(stored[i++]);
        }
    }
    return name;
}

std::string_view propertyText(const Node& node, size_t index) {
    return index < node.propertyCount() ? node.property(index).toStringView() : std::string_view();
}

std::string_view childText(const Node& parent, std::string_view name) {
    const Node* child = parent.child(name);
    return child ? propertyText(*child, 0) : std::string_view();
}

void readNodeTransform(const Node& model, NodeTransform& t) {
    forEachProperty(model, [&](std::string_view name, const Node& record) {
        if (name == "Lcl Translation") readVec3(record, t.translation);
        else if (name == "Lcl Rotation") readVec3(record, t.rotation);
        else if (name == "Lcl Scaling") readVec3(record, t.scaling);
        else if (name == "RotationOffset") readVec3(record, t.rotationOffset);
        else if (name == "RotationPivot") readVec3(record, t.rotationPivot);
        else if (name == "PreRotation") readVec3(record, t.preRotation);
        else if (name == "PostRotation") readVec3(record, t.postRotation);
        else if (name == "ScalingOffset") readVec3(record, t.scalingOffset);
        else if (name == "ScalingPivot") readVec3(record, t.scalingPivot);
        else if (name == "GeometricTranslation") readVec3(record, t.geometricTranslation);
        else if (name == "GeometricRotation") readVec3(record, t.geometricRotation);
        else if (name == "GeometricScaling") readVec3(record, t.geometricScaling);
        else if (name == "RotationOrder" && record.propertyCount() > kFirstValue)
            t.rotationOrder = rotationOrderFromEnum(record.property(kFirstValue).toInt64());
    });
}

void readCameraValues(const Node& attribute, CameraValues& v) {
    forEachProperty(attribute, [&](std::string_view name, const Node& record) {
        if (name == "FocalLength") v.focalLength = number(record, 0, v.focalLength);
        else if (name == "FilmWidth") v.filmWidth = number(record, 0, v.filmWidth);
        else if (name == "FilmHeight") v.filmHeight = number(record, 0, v.filmHeight);
        else if (name == "NearPlane") v.nearPlane = number(record, 0, v.nearPlane);
        else if (name == "FarPlane") v.farPlane = number(record, 0, v.farPlane);
    });
}

}  // namespace lumbrix::fbx
