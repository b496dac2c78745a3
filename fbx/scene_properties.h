#pragma once
#if !defined(LUMBRIX_INSIDE_FBX) && !defined(LUMBRIX_TESTS)
#error "fbx/scene_properties.h is internal to fbx/"
#endif
// Reading object headers and Properties70 blocks from the document tree.
#include <cstdint>
#include <string>
#include <string_view>

#include "fbx/fbx_document.h"
#include "fbx/scene_transform.h"

namespace lumbrix::fbx {

// An object's name without its class: binary files store "Name\0\x01Class",
// ASCII files "Class::Name" (with '"' written as &quot;). Only the binary
// separator counts in binary files, so "Cube::Model" stays whole there.
std::string objectName(std::string_view stored, bool binary);

// Property `index` of `node` as text; empty when absent.
std::string_view propertyText(const Node& node, size_t index);

// First property of the child `name` as text (for example a layer's
// MappingInformationType); empty when absent.
std::string_view childText(const Node& parent, std::string_view name);

// Fills the transform properties a Model's Properties70 sets; others keep their defaults.
void readNodeTransform(const Node& model, NodeTransform& transform);

struct CameraValues {
    double focalLength = 0;
    double filmWidth = 0;
    double filmHeight = 0;
    double nearPlane = 0;
    double farPlane = 0;
};
// Overwrites the values a camera NodeAttribute's Properties70 sets; the caller
// fills in the defaults first.
void readCameraValues(const Node& attribute, CameraValues& values);

}  // namespace lumbrix::fbx
