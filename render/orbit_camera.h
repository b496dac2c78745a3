#pragma once
// The one viewpoint of the 3D view: a target point plus spherical coordinates around it.
//
// Fields are public because zoom is not a camera operation: the view bridge changes
// `distance` or `fovDegrees` directly. Every operation that moves the pitch keeps it
// within ±kPitchLimit, so the forward direction never becomes parallel to world up.
#include "render/camera_state.h"
#include "render/vector_math.h"

namespace lumbrix {

class OrbitCamera {
public:
    static constexpr float kPitchLimit = 1.2f;     // radians
    static constexpr float kRadiansPerPoint = 0.005f;

    Float3 target{0.0f, 0.0f, 0.0f};
    float distance = 2.5f;
    float yaw = 0.0f;    // about world Y, radians, unbounded
    float pitch = 0.0f;  // radians; positive puts the eye below the target
    float fovDegrees = 50.0f;  // vertical

    // Unit vector from the eye towards the target.
    Float3 forward() const;
    Float3 eyePosition() const;

    // Drags in view points. orbit moves the eye around a fixed target; lookAround
    // turns the view around a fixed eye (the locked camera).
    void orbit(float dx, float dy);
    void lookAround(float dx, float dy);
    // Moves target and eye together in the view plane, at a speed that follows distance.
    void pan(float dx, float dy);

    // Keeps the target and derives angles and distance so the eye sits at `position`
    // (or on the clamped direction towards it when the pitch limit bites).
    void lookFrom(const Float3& position);

    // Centres the target on the box and backs off until the box fills the view,
    // keeping the current direction.
    void fitToBounds(const Float3& boundsMin, const Float3& boundsMax);

    CameraState snapshot() const;
    // Position and target win over the stored angles, which older saves may not
    // have kept consistent.
    void apply(const CameraState& state);
};

}  // namespace lumbrix
