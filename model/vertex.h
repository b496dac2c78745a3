#pragma once
// The vertex record both loaders produce and the renderer uploads byte for byte.
#include <array>
#include <cstddef>

namespace lumbrix {

// GPU layout: each field starts a 16-byte lane (position at 0, uv at 16, normal at 32).
struct Vertex {
    std::array<float, 3> position{0.0f, 0.0f, 0.0f};
    float positionPad = 0.0f;
    std::array<float, 2> uv{0.0f, 0.0f};
    std::array<float, 2> uvPad{0.0f, 0.0f};
    std::array<float, 3> normal{0.0f, 1.0f, 0.0f};
    float normalPad = 0.0f;

    friend bool operator==(const Vertex&, const Vertex&) = default;
};

static_assert(sizeof(Vertex) == 48, "Vertex must be 48 bytes");
static_assert(offsetof(Vertex, position) == 0, "position at byte 0");
static_assert(offsetof(Vertex, uv) == 16, "uv at byte 16");
static_assert(offsetof(Vertex, normal) == 32, "normal at byte 32");

// The FBX importer's vertex bytes use exactly the same layout.
using FBXVertexPU = Vertex;

}  // namespace lumbrix
