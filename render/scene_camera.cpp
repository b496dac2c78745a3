#include "render/scene_camera.h"

#include <algorithm>
#include <cmath>

namespace lumbrix {

float verticalFovDegrees(float horizontalFovDegrees, float aspect) {
    constexpr float kPi = 3.1415925f;
    return 2.0f * std::atan(std::tan(horizontalFovDegrees * kPi / 180.0f * 0.5f) / aspect) * 180.0f / kPi;
}

void lookFromSceneCamera(OrbitCamera& camera, const Float3& position, const Float3& forward,
                         const Float3& modelCentre) {
    const float reach = std::max(length(modelCentre - position), 100.0f);
    if (length(forward) > 0.0f) camera.target = position + normalize(forward) * reach;
    camera.lookFrom(position);
}

}  // namespace lumbrix
