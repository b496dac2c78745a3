#include "render/orbit_camera.h"

#include <algorithm>
#include <cmath>

#include "render/field_of_view.h"

namespace lumbrix {
namespace {

constexpr Float3 kWorldUp{0.0f, 1.0f, 0.0f};

float clampPitch(float pitch) {
    return std::max(std::min(pitch, OrbitCamera::kPitchLimit), -OrbitCamera::kPitchLimit);
}

Float3 forwardFor(float yaw, float pitch) {
    float cp = std::cos(pitch);
    return {std::cos(yaw) * cp, std::sin(pitch), std::sin(yaw) * cp};
}

// The half angle used for framing: the field of view limited to [5°, 120°], in
// radians. Written as comparisons so that NaN falls through to the widest angle.
float fitHalfAngle(float fovDegrees) {
    if (fovDegrees < 120.0f) {
        return fovDegrees >= 5.0f ? fovDegrees * kAnglePi / 180.0f * 0.5f : 0.043633226f;
    }
    return 1.0471975f;
}

}  // namespace

Float3 OrbitCamera::forward() const { return forwardFor(yaw, pitch); }

Float3 OrbitCamera::eyePosition() const { return target - distance * forward(); }

void OrbitCamera::orbit(float dx, float dy) {
    yaw += dx * kRadiansPerPoint;
    pitch = clampPitch(pitch + dy * kRadiansPerPoint);
}

void OrbitCamera::lookAround(float dx, float dy) {
    Float3 eye = eyePosition();
    orbit(dx, dy);
    target = eye + distance * forward();
}

void OrbitCamera::pan(float dx, float dy) {
    Float3 f = forward();
    Float3 right = normalize(cross(f, kWorldUp));
    Float3 up = normalize(cross(right, f));
    // Proportional to distance so a drag feels the same at any zoom, with a floor so
    // a camera pushed into its target can still be panned away.
    float scale = distance >= 0.01f ? distance * 0.002f : 0.00002f;
    target += (up * dy - right * dx) * scale;
}

void OrbitCamera::lookFrom(const Float3& position) {
    Float3 v = target - position;
    float d = std::max(length(v), 0.0001f);
    float sinPitch = std::max(std::min(v.y / d, 1.0f), -1.0f);
    pitch = clampPitch(std::asin(sinPitch));
    yaw = std::atan2(v.z / d, v.x / d);
    distance = d;
}

void OrbitCamera::fitToBounds(const Float3& boundsMin, const Float3& boundsMax) {
    target = (boundsMin + boundsMax) * 0.5f;
    Float3 size = boundsMax - boundsMin;
    float extent = std::max(std::max(size.x, size.y), size.z);
    float t = std::max(std::tan(fitHalfAngle(fovDegrees)), 0.0001f);
    // 1.25 leaves a margin around the box; 0.2 keeps a flat or empty model visible.
    distance = std::max(extent * 0.5f / t * 1.25f, 0.2f);
}

CameraState OrbitCamera::snapshot() const {
    return {eyePosition(), target, yaw, pitch, distance, fovDegrees};
}

void OrbitCamera::apply(const CameraState& state) {
    target = state.target;
    fovDegrees = state.fov;
    lookFrom(state.position);
}

}  // namespace lumbrix
