#include "render/floor_grid.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumbrix {
namespace {

struct GridCase {
    float sceneRadius;
    float halfSize;
    size_t vertexCount;
};

class FloorGridSize : public ::testing::TestWithParam<GridCase> {};

TEST_P(FloorGridSize, CoversTheSquareWithTheExpectedLineCount) {
    const GridCase& c = GetParam();
    std::vector<GridVertex> vertices = floorGridVertices(c.sceneRadius);
    ASSERT_EQ(vertices.size(), c.vertexCount);

    const size_t half = vertices.size() / 2;
    // First half: lines parallel to X, spanning the full width at increasing z.
    EXPECT_EQ(vertices.front(), (GridVertex{-c.halfSize, 0, -c.halfSize, 0}));
    EXPECT_EQ(vertices[1], (GridVertex{c.halfSize, 0, -c.halfSize, 0}));
    EXPECT_NEAR(vertices[half - 1].z, c.halfSize, 1e-3f);
    // Second half: lines parallel to Z at the same sequence of x values.
    EXPECT_EQ(vertices[half], (GridVertex{-c.halfSize, 0, -c.halfSize, 0}));
    EXPECT_EQ(vertices[half + 1], (GridVertex{-c.halfSize, 0, c.halfSize, 0}));
    for (size_t i = 0; i < half; i += 2) {
        EXPECT_EQ(vertices[i].z, vertices[i + 1].z) << "segment " << i / 2 << " is not parallel to X";
        EXPECT_EQ(vertices[half + i].z, -c.halfSize);
        EXPECT_EQ(vertices[half + i + 1].z, c.halfSize);
        EXPECT_EQ(vertices[half + i].x, vertices[i].z) << "both directions share their positions";
    }
    for (const GridVertex& v : vertices) {
        ASSERT_EQ(v.y, 0.0f);
        ASSERT_EQ(v.w, 0.0f);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Radii, FloorGridSize,
    ::testing::Values(GridCase{1.0f, 4.0f, 324},     // no model yet
                      GridCase{10.0f, 40.0f, 324},   // spacing grows with the model
                      GridCase{2.5f, 10.0f, 324},
                      GridCase{0.5f, 2.0f, 164},     // spacing floor of 0.1 reached
                      GridCase{0.001f, 1.0f, 84}));  // half size floor of 1 reached

TEST(FloorGridSpacing, StepsByATenthOfTheRadiusButNeverBelowOneTenth) {
    std::vector<GridVertex> large = floorGridVertices(10.0f);
    EXPECT_NEAR(large[2].z - large[0].z, 1.0f, 1e-6f);
    std::vector<GridVertex> small = floorGridVertices(0.3f);
    EXPECT_NEAR(small[2].z - small[0].z, 0.1f, 1e-6f);
    // 4 · 0.3 = 1.2 is past the floor of 1, so it is the half size.
    EXPECT_FLOAT_EQ(small.front().x, -1.2f);
}

}  // namespace
}  // namespace lumbrix
