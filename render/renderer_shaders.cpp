#include "render/renderer_shaders.h"

#include <string>

namespace lumbrix::shaders {

// Our projection matrices map depth to 0..1 (the convention the camera code and its
// stored numbers use); GL clips depth to -w..w, so the vertex stages remap z. Doing it
// here keeps the matrices shared with everything else untouched and needs no
// glClipControl, which a 3.3 context may lack.
#define LUMBRIX_DEPTH_REMAP                                \
    "vec4 glClipDepth(vec4 clip) {\n"                      \
    "    clip.z = clip.z * 2.0 - clip.w;\n"                \
    "    return clip;\n"                                   \
    "}\n"

#define LUMBRIX_MODEL_BLOCKS                                                           \
    "layout(std140) uniform ModelUniforms {\n"                                         \
    "    mat4 mvp;\n"                                                                  \
    "    int mode;\n"                                                                  \
    "    int faceMode;\n"                                                              \
    "    int hideInactive;\n"                                                          \
    "    int padding;\n"                                                               \
    "} model;\n"                                                                       \
    "layout(std140) uniform GridParams {\n"                                            \
    "    float density;\n"                                                             \
    "    float lineWidth;\n"                                                           \
    "    float lineAlpha;\n"                                                           \
    "    float reserved;\n"                                                            \
    "} uvGrid;\n"

const char* const kUv3dVertex =
    "#version 330 core\n"
    LUMBRIX_MODEL_BLOCKS
    LUMBRIX_DEPTH_REMAP
    R"(
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 uv;
layout(location = 2) in vec3 normal;
out vec2 vUV;
out vec3 vNormal;  // for shading to come; the linker drops it while no stage reads it

void uv3d_vs() {
    gl_Position = glClipDepth(model.mvp * vec4(position, 1.0));
    vUV = uv;
    vNormal = normal;
}

void main() { uv3d_vs(); }
)";

// Each combination of mode, faceMode and hideInactive (the ints of ModelUniforms) gets
// its own program, compiled with UV3D_MODE, UV3D_FACE_MODE and UV3D_HIDE_INACTIVE set to
// those values. A software rasteriser such as llvmpipe runs every side of a branch
// under a mask, so one program for all cases would pay for the UV grid, the face test
// and a discard (which also turns off early depth testing) on every fragment of every
// frame; a dedicated program pays only for what the draw shows.
const char* const kUv3dFragmentBody =
    LUMBRIX_MODEL_BLOCKS
    R"(
uniform sampler2D sourceTexture;
layout(std140) uniform SampleWindow {
    vec4 scaleOffset;
    vec4 bounds;
} window;
in vec2 vUV;
out vec4 fragColor;

const vec3 kInactiveGray = vec3(0.35);
const vec3 kVenueSurface = vec3(0.20, 0.23, 0.28);
const vec3 kVenueWire = vec3(0.45, 0.55, 0.70);
const vec3 kUVGridLine = vec3(1.0);

// Opacity of the UV grid at uv. Lines are kept at least one pixel wide (1.5 pixels of
// reach always holds a pixel centre) so that a dense grid seen from afar, or a line
// that falls on a pixel boundary, still shows instead of vanishing between centres.
float uvGridCoverage(vec2 uv) {
    vec2 cell = uv * uvGrid.density;
    vec2 toLine = abs(cell - round(cell));
    vec2 halfWidth = max(vec2(uvGrid.lineWidth * 0.5), fwidth(cell) * 0.75);
    return any(lessThan(toLine, halfWidth)) ? uvGrid.lineAlpha : 0.0;
}

void uv3d_ps() {
#if UV3D_MODE == 2
    fragColor = vec4(kVenueSurface, 1.0);
#elif UV3D_MODE == 3
    fragColor = vec4(kVenueWire, 1.0);
#else
#if UV3D_MODE == 1
    // Derivatives are only defined while all fragments of a quad run: before discard.
    float gridCoverage = uvGridCoverage(vUV);
#endif
#if UV3D_FACE_MODE != 0
    bool activeSide = UV3D_FACE_MODE == 1 ? gl_FrontFacing : !gl_FrontFacing;
#if UV3D_HIDE_INACTIVE
    if (!activeSide) discard;
#endif
#endif
    // The loaders store (u, 1 - v) of the file's coordinates and pictures are uploaded
    // top row first, so the stored coordinates address the picture directly; a venue
    // showing part of a canvas scales and shifts them into that part.
    vec2 st = vUV * window.scaleOffset.xy + window.scaleOffset.zw;
    vec3 color = texture(sourceTexture, st).rgb;
    // Sampled before the test: derivatives need the whole quad running.
    if (any(lessThan(st, window.bounds.xy)) || any(greaterThan(st, window.bounds.zw))) color = vec3(0.0);
#if UV3D_MODE == 1
    color = mix(color, kUVGridLine, gridCoverage);
#endif
#if UV3D_FACE_MODE != 0 && !UV3D_HIDE_INACTIVE
    if (!activeSide) color = kInactiveGray;
#endif
    fragColor = vec4(color, 1.0);
#endif
}

void main() { uv3d_ps(); }
)";

std::string uv3dFragment(int mode, int faceMode, int hideInactive) {
    return "#version 330 core\n#define UV3D_MODE " + std::to_string(mode) + "\n#define UV3D_FACE_MODE " +
           std::to_string(faceMode) + "\n#define UV3D_HIDE_INACTIVE " + std::to_string(hideInactive) + "\n" +
           kUv3dFragmentBody;
}

const char* const kGridVertex =
    "#version 330 core\n"
    LUMBRIX_DEPTH_REMAP
    R"(
layout(std140) uniform GridUniforms {
    mat4 mvp;
} floorGrid;
layout(location = 0) in vec4 position;

void grid_vs() {
    gl_Position = glClipDepth(floorGrid.mvp * vec4(position.xyz, 1.0));
}

void main() { grid_vs(); }
)";

const char* const kGridFragment = R"(#version 330 core
out vec4 fragColor;

void grid_ps() {
    fragColor = vec4(0.55, 0.55, 0.55, 0.35);
}

void main() { grid_ps(); }
)";

const char* const kPresentVertex = R"(#version 330 core
// Two triangles covering the target, made from the vertex index: no buffers needed.
void present_vs() {
    const vec2 corners[6] = vec2[6](vec2(0.0, 0.0), vec2(1.0, 0.0), vec2(1.0, 1.0),
                                    vec2(0.0, 0.0), vec2(1.0, 1.0), vec2(0.0, 1.0));
    gl_Position = vec4(corners[gl_VertexID] * 2.0 - 1.0, 0.0, 1.0);
}

void main() { present_vs(); }
)";

const char* const kPresentFragment = R"(#version 330 core
uniform sampler2D frame;
out vec4 fragColor;

// The offscreen target always has the drawable's size, so each pixel copies exactly
// one texel: a fetch by pixel position skips interpolation and filtering, which a
// software rasteriser would otherwise spend on a million pixels per frame.
// Opaque on the way out: the blended floor grid leaves alpha below one in the
// offscreen target, and a compositor would otherwise show the desktop through it.
void present_ps() {
    ivec2 last = textureSize(frame, 0) - 1;
    fragColor = vec4(texelFetch(frame, min(ivec2(gl_FragCoord.xy), last), 0).rgb, 1.0);
}

void main() { present_ps(); }
)";

#undef LUMBRIX_DEPTH_REMAP
#undef LUMBRIX_MODEL_BLOCKS

}  // namespace lumbrix::shaders
