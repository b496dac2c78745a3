#pragma once
// The value form of a viewpoint: what is persisted and what a camera preset holds.
// Field names double as the storage keys.
#include "render/vector_math.h"

namespace lumbrix {

struct CameraState {
    Float3 position;  // the eye at the moment of the snapshot
    Float3 target;
    float yaw = 0.0f;
    float pitch = 0.0f;
    float distance = 2.5f;
    float fov = 50.0f;  // vertical, degrees

    friend bool operator==(const CameraState&, const CameraState&) = default;
};

}  // namespace lumbrix
