#pragma once
// Degree conversions for fields of view.
#include <cmath>

namespace lumbrix {

// One float ulp below π. Every stored field of view and fit distance was derived with
// this value, so it is kept rather than the nearest float to π.
inline constexpr float kAnglePi = 3.1415925f;

inline float radiansFromDegrees(float degrees) { return degrees * kAnglePi / 180.0f; }

// The vertical field of view (degrees) that shows the same picture as a horizontal
// one on a view of width/height `aspect`. FBX cameras carry horizontal fields of view.
inline float verticalFovDegrees(float horizontalFovDegrees, float aspect) {
    float halfH = horizontalFovDegrees * kAnglePi / 180.0f * 0.5f;
    return 2.0f * std::atan(std::tan(halfH) / aspect) * 180.0f / kAnglePi;
}

}  // namespace lumbrix
