#pragma once
// View and projection matrices: right-handed, Y up, column-major, clip depth 0..1.
#include "render/vector_math.h"

namespace lumbrix {

// The camera looks down -Z in view space. `up` must not be parallel to center - eye.
Float4x4 lookAtMatrix(const Float3& eye, const Float3& center, const Float3& up);

// Maps view-space depth -near to clip depth 0 and -far to 1.
Float4x4 perspectiveMatrix(float fovYRadians, float aspect, float nearZ, float farZ);

}  // namespace lumbrix
