#pragma once
// The bytes the renderer hands its GLSL programs. Both structs mirror std140 uniform
// blocks exactly, so they are copied into uniform buffers as they are.
#include <cstddef>
#include <cstdint>

#include "render/vector_math.h"

namespace lumbrix {

// How the uv3d program colours a fragment.
enum class DrawMode : int32_t {
    textured = 0,
    texturedWithUVGrid = 1,
    venueSurface = 2,
    venueWireframe = 3,
};

// Which side of a model triangle shows the picture; front is counter-clockwise.
enum class FaceMode : int32_t { both = 0, front = 1, back = 2 };

// What the other side shows.
enum class InactiveSideMode : int32_t { gray = 0, hide = 1 };

// Uniform block binding points shared by the C++ side and the GLSL sources.
inline constexpr unsigned int kModelUniformsBinding = 0;
inline constexpr unsigned int kGridParamsBinding = 1;
inline constexpr unsigned int kGridUniformsBinding = 2;
inline constexpr unsigned int kSampleWindowBinding = 3;

struct ModelUniforms {
    Float4x4 mvp = Float4x4::identity();  // projection × view; models sit at the origin
    int32_t mode = 0;
    int32_t faceMode = 0;
    int32_t hideInactive = 0;
    int32_t padding = 0;

    friend bool operator==(const ModelUniforms&, const ModelUniforms&) = default;
};

static_assert(sizeof(ModelUniforms) == 80, "ModelUniforms is an 80-byte std140 block");
static_assert(offsetof(ModelUniforms, mvp) == 0);
static_assert(offsetof(ModelUniforms, mode) == 64);
static_assert(offsetof(ModelUniforms, faceMode) == 68);
static_assert(offsetof(ModelUniforms, hideInactive) == 72);

struct GridParams {
    float density = 1.0f;    // grid cells per UV unit
    float lineWidth = 0.0f;  // as a fraction of one cell
    float lineAlpha = 0.0f;
    float reserved = 0.0f;

    friend bool operator==(const GridParams&, const GridParams&) = default;
};

static_assert(sizeof(GridParams) == 16, "GridParams is a 16-byte std140 block");
static_assert(offsetof(GridParams, density) == 0);
static_assert(offsetof(GridParams, lineWidth) == 4);
static_assert(offsetof(GridParams, lineAlpha) == 8);
static_assert(offsetof(GridParams, reserved) == 12);

// Where the textured uv3d modes sample: the stored UV scaled and shifted into the
// texture, and the part of the texture that shows; samples outside it are black. The
// model and own-source venues take the whole plane, so they sample exactly as before.
struct SampleWindow {
    Float4 scaleOffset{1.0f, 1.0f, 0.0f, 0.0f};  // scale x, y; offset x, y
    Float4 bounds{-3.0e38f, -3.0e38f, 3.0e38f, 3.0e38f};  // min x, y; max x, y

    friend bool operator==(const SampleWindow&, const SampleWindow&) = default;
};

static_assert(sizeof(SampleWindow) == 32, "SampleWindow is a 32-byte std140 block");
static_assert(offsetof(SampleWindow, bounds) == 16);

}  // namespace lumbrix
