#include "render/camera_matrices.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/field_of_view.h"
#include "render/orbit_camera.h"

namespace lumbrix {
namespace {

Float4 point(const Float3& p) { return {p.x, p.y, p.z, 1.0f}; }

void expectNear(const Float4& actual, const Float4& expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
    EXPECT_NEAR(actual.w, expected.w, tolerance);
}

TEST(VectorMath, CrossProductIsRightHanded) {
    EXPECT_EQ(cross({1, 0, 0}, {0, 1, 0}), (Float3{0, 0, 1}));
    EXPECT_EQ(cross({0, 1, 0}, {0, 0, 1}), (Float3{1, 0, 0}));
    EXPECT_EQ(cross({0, 0, 1}, {1, 0, 0}), (Float3{0, 1, 0}));
    Float3 n = normalize({3, 0, 4});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
}

TEST(VectorMath, MatrixProductAppliesRightOperandFirst) {
    Float4x4 translate = Float4x4::identity();
    translate.columns[3] = {1, 2, 3, 1};
    Float4x4 scale = Float4x4::identity();
    scale.columns[0].x = 2;
    scale.columns[1].y = 2;
    scale.columns[2].z = 2;

    Float4 p{1, 1, 1, 1};
    EXPECT_EQ((translate * scale) * p, (Float4{3, 4, 5, 1}));
    EXPECT_EQ((scale * translate) * p, (Float4{4, 6, 8, 1}));
    EXPECT_EQ(translate * (scale * p), (translate * scale) * p);
}

TEST(LookAtMatrix, MapsEyeToOriginAndCenterOntoNegativeZ) {
    Float3 eye{1, 2, 3};
    Float3 center{4, -2, 5};
    Float4x4 view = lookAtMatrix(eye, center, {0, 1, 0});
    expectNear(view * point(eye), {0, 0, 0, 1}, 1e-5f);
    expectNear(view * point(center), {0, 0, -length(center - eye), 1}, 1e-5f);
}

TEST(LookAtMatrix, KeepsWorldUpUpAndRightRight) {
    // Default orbit view: eye at -2.5 on X looking along +X, so +Z is screen right.
    Float4x4 view = lookAtMatrix({-2.5f, 0, 0}, {0, 0, 0}, {0, 1, 0});
    expectNear(view * Float4{0, 1, 0, 0}, {0, 1, 0, 0}, 1e-6f);
    expectNear(view * Float4{0, 0, 1, 0}, {1, 0, 0, 0}, 1e-6f);
    expectNear(view * Float4{1, 0, 0, 0}, {0, 0, -1, 0}, 1e-6f);
}

TEST(PerspectiveMatrix, MapsNearToDepthZeroAndFarToDepthOne) {
    const float nearZ = 0.1f;
    const float farZ = 250.0f;
    Float4x4 projection = perspectiveMatrix(1.0f, 1.5f, nearZ, farZ);
    auto depth = [&](float viewZ) {
        Float4 clip = projection * Float4{0, 0, viewZ, 1};
        EXPECT_FLOAT_EQ(clip.w, -viewZ);
        return clip.z / clip.w;
    };
    EXPECT_NEAR(depth(-nearZ), 0.0f, 1e-6f);
    EXPECT_NEAR(depth(-farZ), 1.0f, 1e-6f);
    float middle = depth(-10.0f);
    EXPECT_GT(middle, 0.0f);
    EXPECT_LT(middle, 1.0f);
    EXPECT_LT(middle, depth(-20.0f));
}

TEST(PerspectiveMatrix, FieldOfViewIsVerticalAndAspectWidensX) {
    const float fovY = radiansFromDegrees(50.0f);
    const float aspect = 16.0f / 9.0f;
    Float4x4 projection = perspectiveMatrix(fovY, aspect, 0.01f, 100.0f);
    float halfHeight = std::tan(fovY * 0.5f);  // at view depth 1

    Float4 top = projection * Float4{0, halfHeight, -1, 1};
    EXPECT_NEAR(top.y / top.w, 1.0f, 1e-6f);
    Float4 right = projection * Float4{halfHeight * aspect, 0, -1, 1};
    EXPECT_NEAR(right.x / right.w, 1.0f, 1e-6f);
}

TEST(FieldOfView, HorizontalToVerticalFollowsAspect) {
    EXPECT_NEAR(verticalFovDegrees(90.0f, 1.0f), 90.0f, 1e-4f);
    EXPECT_NEAR(verticalFovDegrees(90.0f, 16.0f / 9.0f), 58.715507f, 1e-4f);
    // A 35 mm lens on a 36 × 24 mm sensor: about 54.4° across, 37.8° high.
    EXPECT_NEAR(verticalFovDegrees(54.4322f, 1.5f), 37.8493f, 1e-3f);
    EXPECT_FLOAT_EQ(radiansFromDegrees(180.0f), 3.1415925f);
}

// What a fit guarantees: the box centre lands mid-screen and its extent, measured
// across the view at the target's depth, fills 1/1.25 of the height.
TEST(FitThenProject, BoxFillsViewWithMarginFromAnyDirection) {
    const float directions[][2] = {{0.0f, 0.0f}, {0.9f, 0.4f}, {-2.3f, -1.1f}, {3.0f, 1.2f}};
    for (const auto& [yaw, pitch] : directions) {
        OrbitCamera camera;
        camera.yaw = yaw;
        camera.pitch = pitch;
        camera.fitToBounds({-1, 0, 2}, {1, 2, 4});

        Float3 eye = camera.eyePosition();
        Float4x4 viewProjection =
            perspectiveMatrix(radiansFromDegrees(camera.fovDegrees), 1.0f, 0.01f, 100.0f) *
            lookAtMatrix(eye, camera.target, {0, 1, 0});

        Float4 centre = viewProjection * point(camera.target);
        EXPECT_NEAR(centre.x / centre.w, 0.0f, 1e-5f);
        EXPECT_NEAR(centre.y / centre.w, 0.0f, 1e-5f);

        Float3 right = normalize(cross(camera.forward(), {0, 1, 0}));
        Float3 up = cross(right, camera.forward());
        Float4 top = viewProjection * point(camera.target + up * 1.0f);
        Float4 side = viewProjection * point(camera.target + right * 1.0f);
        EXPECT_NEAR(top.y / top.w, 0.8f, 1e-4f) << yaw;
        EXPECT_NEAR(side.x / side.w, 0.8f, 1e-4f) << yaw;

        for (int corner = 0; corner < 8; ++corner) {
            Float3 p{corner & 1 ? 1.0f : -1.0f, corner & 2 ? 2.0f : 0.0f, corner & 4 ? 4.0f : 2.0f};
            Float4 clip = viewProjection * point(p);
            EXPECT_GT(clip.w, 0.01f) << "corner " << corner << " behind the near plane";
            EXPECT_GT(clip.z / clip.w, 0.0f);
            EXPECT_LT(clip.z / clip.w, 1.0f);
        }
    }
}

}  // namespace
}  // namespace lumbrix
