#pragma once
// The scene of a lumbrix-render run: the model and venues loaded as the viewer loads
// them, and the camera it starts from.
#include <memory>
#include <string>
#include <vector>

#include "model/fbx_imported_scene.h"
#include "model/mesh.h"
#include "platform/error.h"
#include "platform/expected.h"
#include "render/camera_state.h"
#include "render/orbit_camera.h"

namespace lumbrix::render_tool {

struct LoadedModel {
    std::shared_ptr<const Mesh> mesh;
    std::vector<std::shared_ptr<FBXImportedCamera>> cameras;  // FBX models only
};

// OBJ through the OBJ loader; FBX through Varnel (next to this program) and then the
// importer. Failures come back as the messages the viewer's alert shows.
Expected<LoadedModel, std::vector<std::string>> loadModel(const std::string& path);

// A saved camera: {"position":[x,y,z],"target":[x,y,z],"yaw":..,"pitch":..,"distance":..,"fov":..}.
Expected<CameraState, Error> parseCameraState(const std::string& json);

// Points `camera` like an FBX scene camera: the vertical field of view from its
// horizontal one at `aspect`, the target along its forward direction.
void applyFBXCamera(OrbitCamera& camera, const FBXImportedCamera& fbx, float aspect, const Float3& modelCentre);

}  // namespace lumbrix::render_tool
