#include "render/camera_matrices.h"

#include <cmath>

namespace lumbrix {

Float4x4 lookAtMatrix(const Float3& eye, const Float3& center, const Float3& up) {
    Float3 f = normalize(center - eye);
    Float3 s = normalize(cross(f, up));
    // s and f are orthonormal, so u is unit length up to rounding; renormalising would
    // change the last bits of every stored view.
    Float3 u = cross(s, f);
    return {{{{s.x, u.x, -f.x, 0.0f},
              {s.y, u.y, -f.y, 0.0f},
              {s.z, u.z, -f.z, 0.0f},
              {-dot(s, eye), -dot(u, eye), dot(f, eye), 1.0f}}}};
}

Float4x4 perspectiveMatrix(float fovYRadians, float aspect, float nearZ, float farZ) {
    float ys = 1.0f / std::tan(fovYRadians * 0.5f);
    float xs = ys / aspect;
    float zs = farZ / (nearZ - farZ);
    return {{{{xs, 0.0f, 0.0f, 0.0f},
              {0.0f, ys, 0.0f, 0.0f},
              {0.0f, 0.0f, zs, -1.0f},
              {0.0f, 0.0f, zs * nearZ, 0.0f}}}};
}

}  // namespace lumbrix
