#pragma once
#if !defined(LUMBRIX_INSIDE_RENDER) && !defined(LUMBRIX_TESTS)
#error "render/renderer_shaders.h is internal to render/"
#endif
// GLSL 330 core sources of the renderer's three programs. Each stage's work lives in a
// function named for its role (uv3d_vs, uv3d_ps, grid_vs, grid_ps, present_vs,
// present_ps) that main() calls, so logs and captures name the same stages everywhere.
#include <string>

namespace lumbrix::shaders {

extern const char* const kUv3dVertex;
// The uv3d fragment stage dedicated to one combination of ModelUniforms' mode,
// faceMode and hideInactive.
std::string uv3dFragment(int mode, int faceMode, int hideInactive);
extern const char* const kGridVertex;
extern const char* const kGridFragment;
extern const char* const kPresentVertex;
extern const char* const kPresentFragment;

}  // namespace lumbrix::shaders
