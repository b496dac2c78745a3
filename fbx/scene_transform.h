#pragma once
#if !defined(LUMBRIX_INSIDE_FBX) && !defined(LUMBRIX_TESTS)
#error "fbx/scene_transform.h is internal to fbx/"
#endif
// Node transforms as FBX composes them: the local chain of one Model from its
// Properties70 values, and the geometric matrix applied to its geometry only.
#include <cstdint>

#include "fbx/fbx_scene.h"

namespace lumbrix::fbx {

// Euler orders by the file's RotationOrder enum; the first letter turns first.
enum class RotationOrder { xyz = 0, xzy = 1, yzx = 2, yxz = 3, zxy = 4, zyx = 5 };

// Spherical XYZ (6) and values no writer uses read as XYZ.
RotationOrder rotationOrderFromEnum(int64_t value);

// Properties of one Model, holding FBX's defaults until the file says otherwise.
struct NodeTransform {
    Vec3 translation;
    Vec3 rotation;  // degrees
    Vec3 scaling{1, 1, 1};
    Vec3 rotationOffset;
    Vec3 rotationPivot;
    Vec3 preRotation;   // degrees, XYZ
    Vec3 postRotation;  // degrees, XYZ
    Vec3 scalingOffset;
    Vec3 scalingPivot;
    RotationOrder rotationOrder = RotationOrder::xyz;
    Vec3 geometricTranslation;
    Vec3 geometricRotation;  // degrees, XYZ
    Vec3 geometricScaling{1, 1, 1};
};

Matrix translationMatrix(const Vec3& t);
Matrix scalingMatrix(const Vec3& s);
Matrix eulerRotationMatrix(const Vec3& degrees, RotationOrder order);
Matrix transposed(const Matrix& matrix);

// T x Roff x Rp x Rpre x R x Rpost^-1 x Rp^-1 x Soff x Sp x S x Sp^-1
Matrix localTransform(const NodeTransform& node);
// Tgeo x Rgeo x Sgeo
Matrix geometricTransform(const NodeTransform& node);

}  // namespace lumbrix::fbx
