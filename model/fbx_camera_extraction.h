#pragma once
#if !defined(LUMBRIX_INSIDE_MODEL) && !defined(LUMBRIX_TESTS)
#error "model/fbx_camera_extraction.h is internal to model/"
#endif
// Turns the cameras of a loaded FBX scene into the viewer's camera records.
#include <memory>
#include <vector>

#include "fbx/fbx_scene.h"
#include "model/fbx_imported_scene.h"

namespace lumbrix {

std::vector<std::shared_ptr<FBXImportedCamera>> extractFBXCameras(const fbx::Scene& scene);

// Film sizes below 10 are taken as inches (FBX stores them so); larger ones are
// already millimetres.
float filmSizeInMillimetres(float value);

}  // namespace lumbrix
