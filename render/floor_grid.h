#pragma once
#if !defined(LUMBRIX_INSIDE_RENDER) && !defined(LUMBRIX_TESTS)
#error "render/floor_grid.h is internal to render/"
#endif
// The reference grid on the ground plane (y = 0), centred on the world origin and
// sized from the model so it stays useful for anything from a toy to a stadium.
#include <vector>

namespace lumbrix {

// 16 bytes: a position padded to a full vec4 lane so the buffer feeds the grid
// program's vec4 attribute without any repacking.
struct GridVertex {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    friend bool operator==(const GridVertex&, const GridVertex&) = default;
};

static_assert(sizeof(GridVertex) == 16, "GridVertex must be 16 bytes");

// Line-list vertices (consecutive pairs form one segment) for a model of radius
// `sceneRadius`: lines parallel to X first, then lines parallel to Z.
std::vector<GridVertex> floorGridVertices(float sceneRadius);

}  // namespace lumbrix
