#include "model/fbx_camera_extraction.h"

#include <cmath>
#include <string>

#include "platform/system_log.h"

namespace lumbrix {

namespace {

// Degrees per radian, as the float32 constant the field-of-view formulas use.
constexpr float kDegreesPerRadian = 57.2957763671875f;

std::string cameraName(const fbx::Camera& camera, int index) {
    if (!camera.name().empty()) return std::string(camera.name());
    if (camera.parent() != nullptr && !camera.parent()->name().empty()) return std::string(camera.parent()->name());
    return "Camera " + std::to_string(index + 1);
}

}  // namespace

float filmSizeInMillimetres(float value) { return (value > 0.0001f && value < 10.0f) ? value * 25.4f : value; }

std::vector<std::shared_ptr<FBXImportedCamera>> extractFBXCameras(const fbx::Scene& scene) {
    std::vector<std::shared_ptr<FBXImportedCamera>> cameras;
    const int count = scene.cameraCount();
    SystemLog::info("FBX: Found %d cameras", count);
    for (int i = 0; i < count; ++i) {
        const fbx::Camera* source = scene.camera(i);
        if (source == nullptr) continue;
        auto camera = std::make_shared<FBXImportedCamera>();
        camera->setName(cameraName(*source, i));

        // The camera looks along its node's X axis.
        const fbx::Matrix& m =
            source->parent() != nullptr ? source->parent()->globalTransform() : source->globalTransform();
        camera->setPosition({static_cast<float>(m.m[12]), static_cast<float>(m.m[13]), static_cast<float>(m.m[14])});
        const float x = static_cast<float>(m.m[0]);
        const float y = static_cast<float>(m.m[1]);
        const float z = static_cast<float>(m.m[2]);
        const float length = std::sqrt(x * x + y * y + z * z);
        camera->setForward(length < 0.000001f ? std::array<float, 3>{0.0f, 0.0f, -1.0f}
                                              : std::array<float, 3>{x / length, y / length, z / length});
        const auto& p = camera->position();
        const auto& f = camera->forward();
        SystemLog::info("Camera[%d]: name='%s', pos=(%.2f, %.2f, %.2f), forward=(%.2f, %.2f, %.2f)", i,
                        camera->name().c_str(), p[0], p[1], p[2], f[0], f[1], f[2]);

        camera->setNearPlane(static_cast<float>(source->nearPlane()));
        camera->setFarPlane(static_cast<float>(source->farPlane()));
        const float focal = static_cast<float>(source->focalLength());
        const float filmWidth = static_cast<float>(source->filmWidth());
        const float filmHeight = static_cast<float>(source->filmHeight());
        SystemLog::info("Camera[%d] RAW: focal=%.4f, filmW=%.4f, filmH=%.4f", i, focal, filmWidth, filmHeight);

        camera->setFocalLengthMm(focal);
        camera->setSensorWidthMm(filmSizeInMillimetres(filmWidth));
        camera->setSensorHeightMm(filmSizeInMillimetres(filmHeight));
        if (focal > 0.0001f && camera->sensorWidthMm() > 0.0001f) {
            camera->setFovHDegrees(2.0f * std::atan((camera->sensorWidthMm() * 0.5f) / focal) * kDegreesPerRadian);
            camera->setFovYDegrees(2.0f * std::atan((camera->sensorHeightMm() * 0.5f) / focal) * kDegreesPerRadian);
            SystemLog::info("Camera[%d]: fovH=%.1f\u00B0, fovV=%.1f\u00B0, focal=%.1fmm, sensor=%.1fx%.1fmm", i,
                            camera->fovHDegrees(), camera->fovYDegrees(), focal, camera->sensorWidthMm(),
                            camera->sensorHeightMm());
        } else {
            camera->setFovHDegrees(70.0f);
            camera->setFovYDegrees(50.0f);
            SystemLog::info("Camera[%d]: using default fovH=70\u00B0, fovV=50\u00B0", i);
        }

        if (camera->nearPlane() <= 0.0f) camera->setNearPlane(0.01f);
        if (camera->farPlane() <= camera->nearPlane()) camera->setFarPlane(1000.0f);
        cameras.push_back(std::move(camera));
    }
    return cameras;
}

}  // namespace lumbrix
