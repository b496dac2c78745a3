#pragma once
// Taking the viewpoint of a camera stored in a scene file: the file gives the eye, a
// forward direction and a horizontal field of view; the orbit camera wants a target
// and a vertical one.
#include "render/orbit_camera.h"
#include "render/vector_math.h"

namespace lumbrix {

// Degrees, with the single-precision pi the stored views were made with.
float verticalFovDegrees(float horizontalFovDegrees, float aspect);

// Puts the eye at `position` looking along `forward`. The target is placed at least
// 100 units out (further when the model's centre is further), so orbiting afterwards
// turns about a point near the model rather than about the lens. A zero forward keeps
// the current target.
void lookFromSceneCamera(OrbitCamera& camera, const Float3& position, const Float3& forward,
                         const Float3& modelCentre);

}  // namespace lumbrix
