#include "render/floor_grid.h"

namespace lumbrix {

std::vector<GridVertex> floorGridVertices(float sceneRadius) {
    const float halfSize = 4.0f * sceneRadius >= 1.0f ? 4.0f * sceneRadius : 1.0f;
    const float spacing = sceneRadius / 10.0f > 0.1f ? sceneRadius / 10.0f : 0.1f;
    // The small slack lets the last line land on the edge despite the rounding that
    // single-precision accumulation builds up; the accumulation itself is kept (rather
    // than z = -e + i·s) because it decides the line count at awkward radii.
    const float limit = halfSize + 0.0001f;

    std::vector<GridVertex> vertices;
    vertices.reserve(4096);
    for (float z = -halfSize; z <= limit; z += spacing) {
        vertices.push_back({-halfSize, 0.0f, z, 0.0f});
        vertices.push_back({halfSize, 0.0f, z, 0.0f});
    }
    for (float x = -halfSize; x <= limit; x += spacing) {
        vertices.push_back({x, 0.0f, -halfSize, 0.0f});
        vertices.push_back({x, 0.0f, halfSize, 0.0f});
    }
    return vertices;
}

}  // namespace lumbrix
