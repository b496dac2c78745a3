#include "render/orbit_camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumbrix {
namespace {

void expectNear(const Float3& actual, const Float3& expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

OrbitCamera offAxisCamera() {
    OrbitCamera camera;
    camera.target = {1.0f, -2.0f, 0.5f};
    camera.distance = 4.0f;
    camera.yaw = 0.8f;
    camera.pitch = -0.35f;
    camera.fovDegrees = 35.0f;
    return camera;
}

TEST(OrbitCameraEye, DefaultsLookAlongPositiveX) {
    OrbitCamera camera;
    Float3 eye = camera.eyePosition();
    EXPECT_FLOAT_EQ(eye.x, -2.5f);
    EXPECT_FLOAT_EQ(eye.y, 0.0f);
    EXPECT_FLOAT_EQ(eye.z, 0.0f);
}

TEST(OrbitCameraEye, PositivePitchPutsEyeBelowTargetAndYawTurnsTowardsZ) {
    OrbitCamera camera;
    camera.pitch = 0.5f;
    EXPECT_LT(camera.eyePosition().y, 0.0f);

    camera.pitch = 0.0f;
    camera.yaw = 3.1415925f / 2.0f;
    expectNear(camera.eyePosition(), {0.0f, 0.0f, -2.5f}, 1e-5f);
}

TEST(OrbitCameraOrbit, ClampsPitchAtBothLimitsWithoutSticking) {
    OrbitCamera camera;
    camera.orbit(0.0f, 300.0f);
    EXPECT_FLOAT_EQ(camera.pitch, 1.2f);  // 300 points would be 1.5 unclamped

    camera.orbit(0.0f, -40.0f);
    EXPECT_FLOAT_EQ(camera.pitch, 1.0f);

    camera.orbit(0.0f, -1000.0f);
    EXPECT_FLOAT_EQ(camera.pitch, -1.2f);
}

TEST(OrbitCameraOrbit, MovesEyeAroundFixedTargetWithUnboundedYaw) {
    OrbitCamera camera = offAxisCamera();
    Float3 target = camera.target;
    camera.orbit(2000.0f, 10.0f);
    EXPECT_FLOAT_EQ(camera.yaw, 0.8f + 10.0f);  // not wrapped into [-π, π]
    EXPECT_FLOAT_EQ(camera.pitch, -0.35f + 0.05f);
    EXPECT_EQ(camera.target, target);
    EXPECT_FLOAT_EQ(camera.distance, 4.0f);
    EXPECT_NEAR(length(camera.eyePosition() - target), 4.0f, 1e-5f);
}

TEST(OrbitCameraLookAround, KeepsEyeFixedAndTurnsView) {
    OrbitCamera camera = offAxisCamera();
    Float3 eye = camera.eyePosition();
    Float3 target = camera.target;

    camera.lookAround(40.0f, -25.0f);
    expectNear(camera.eyePosition(), eye, 1e-5f);
    EXPECT_FLOAT_EQ(camera.yaw, 0.8f + 0.2f);
    EXPECT_FLOAT_EQ(camera.pitch, -0.35f - 0.125f);
    EXPECT_FLOAT_EQ(camera.distance, 4.0f);
    EXPECT_GT(length(camera.target - target), 0.5f);
}

TEST(OrbitCameraLookAround, ClampsPitchAndStillKeepsEye) {
    OrbitCamera camera = offAxisCamera();
    Float3 eye = camera.eyePosition();
    camera.lookAround(0.0f, 1000.0f);
    EXPECT_FLOAT_EQ(camera.pitch, 1.2f);
    expectNear(camera.eyePosition(), eye, 1e-5f);
}

TEST(OrbitCameraPan, MovesTargetInViewPlaneScaledByDistance) {
    OrbitCamera camera;  // looking along +X: right is +Z, up is +Y
    camera.distance = 10.0f;
    camera.pan(0.0f, 5.0f);
    expectNear(camera.target, {0.0f, 0.1f, 0.0f}, 1e-6f);

    camera.target = {};
    camera.pan(5.0f, 0.0f);  // dragging right pulls the scene along: target goes left
    expectNear(camera.target, {0.0f, 0.0f, -0.1f}, 1e-6f);
}

TEST(OrbitCameraPan, TinyDistanceUsesFloorScaleAndKeepsAngles) {
    OrbitCamera camera = offAxisCamera();
    for (float distance : {0.001f, 0.005f}) {
        camera.distance = distance;
        camera.target = {};  // at the origin the float spacing cannot hide a 0.00001 step
        Float3 target = camera.target;
        Float3 eye = camera.eyePosition();
        camera.pan(3.0f, 0.0f);
        EXPECT_NEAR(length(camera.target - target), 3.0f * 0.00002f, 1e-9f) << distance;
        // The eye travels with the target.
        expectNear(camera.eyePosition() - eye, camera.target - target, 1e-6f);
        EXPECT_FLOAT_EQ(camera.yaw, 0.8f);
        EXPECT_FLOAT_EQ(camera.pitch, -0.35f);
        EXPECT_FLOAT_EQ(camera.distance, distance);
    }
}

TEST(OrbitCameraPan, StaysInViewPlaneOfTiltedCamera) {
    OrbitCamera camera = offAxisCamera();
    Float3 target = camera.target;
    camera.pan(-17.0f, 23.0f);
    Float3 moved = camera.target - target;
    EXPECT_NEAR(dot(moved, camera.forward()), 0.0f, 1e-6f);
    EXPECT_NEAR(length(moved), std::hypot(17.0f, 23.0f) * 4.0f * 0.002f, 1e-5f);
}

TEST(OrbitCameraLookFrom, PositionOnTargetGivesMinimalDistanceAndZeroAngles) {
    OrbitCamera camera = offAxisCamera();
    camera.lookFrom(camera.target);
    EXPECT_FLOAT_EQ(camera.distance, 0.0001f);
    EXPECT_FLOAT_EQ(camera.pitch, 0.0f);
    EXPECT_FLOAT_EQ(camera.yaw, 0.0f);
    EXPECT_EQ(camera.target, offAxisCamera().target);
}

TEST(OrbitCameraLookFrom, EyeLandsOnGivenPointWithinPitchLimit) {
    const Float3 positions[] = {
        {4.0f, -1.0f, 7.0f}, {-3.0f, 2.0f, -6.0f}, {4.0f, 2.0f, -3.0f}, {-8.0f, -6.0f, 3.0f}};
    for (const Float3& position : positions) {
        OrbitCamera camera = offAxisCamera();
        camera.lookFrom(position);
        expectNear(camera.eyePosition(), position, 1e-5f);
        EXPECT_FLOAT_EQ(camera.distance, length(camera.target - position));
        EXPECT_LE(std::abs(camera.pitch), 1.2f);
    }
}

TEST(OrbitCameraLookFrom, SteepPositionClampsPitchKeepingDistance) {
    OrbitCamera camera;
    Float3 below{-0.1f, -10.0f, 0.0f};
    camera.lookFrom(below);
    EXPECT_FLOAT_EQ(camera.pitch, 1.2f);
    EXPECT_FLOAT_EQ(camera.distance, length(below));
    EXPECT_FLOAT_EQ(camera.yaw, 0.0f);
    // The eye sits on the clamped direction, not at the requested point.
    Float3 eye = camera.eyePosition();
    EXPECT_NEAR(eye.y, -length(below) * std::sin(1.2f), 1e-5f);
    EXPECT_GT(length(eye - below), 1.0f);

    camera.lookFrom({0.0f, 10.0f, -0.1f});
    EXPECT_FLOAT_EQ(camera.pitch, -1.2f);
}

TEST(OrbitCameraFit, UnitCubeAtDefaultFieldOfView) {
    OrbitCamera camera;
    camera.yaw = 0.7f;
    camera.pitch = -0.3f;
    camera.fitToBounds({-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f});
    EXPECT_NEAR(camera.distance, 1.3403168f, 1e-5f);
    EXPECT_EQ(camera.target, (Float3{0.0f, 0.0f, 0.0f}));
    EXPECT_FLOAT_EQ(camera.yaw, 0.7f);  // framed from the current direction
    EXPECT_FLOAT_EQ(camera.pitch, -0.3f);
}

TEST(OrbitCameraFit, CentresOnBoxAndUsesLargestSide) {
    OrbitCamera camera;
    camera.fitToBounds({1.0f, 2.0f, 3.0f}, {3.0f, 2.5f, 3.25f});
    EXPECT_EQ(camera.target, (Float3{2.0f, 2.25f, 3.125f}));
    EXPECT_NEAR(camera.distance, 2.6806337f, 1e-5f);  // extent 2, twice the unit cube
}

TEST(OrbitCameraFit, EmptyBoxGetsMinimumDistance) {
    OrbitCamera camera;
    camera.fitToBounds({4.0f, 4.0f, 4.0f}, {4.0f, 4.0f, 4.0f});
    EXPECT_FLOAT_EQ(camera.distance, 0.2f);
    EXPECT_EQ(camera.target, (Float3{4.0f, 4.0f, 4.0f}));
}

TEST(OrbitCameraFit, FieldOfViewIsLimitedToFiveAndHundredTwentyDegrees) {
    struct Case {
        float fovDegrees;
        float distance;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {2.0f, 14.314853f},   // 2.5° half angle
        {4.99f, 14.314853f},
        {5.0f, 14.314853f},
        {-30.0f, 14.314853f},
        {120.0f, 0.36084392f},  // 60° half angle
        {150.0f, 0.36084392f},
        {inf, 0.36084392f},
        {nan, 0.36084392f},  // not a number takes the widest angle
    };
    for (const Case& c : cases) {
        OrbitCamera camera;
        camera.fovDegrees = c.fovDegrees;
        camera.fitToBounds({-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f});
        EXPECT_NEAR(camera.distance, c.distance, c.distance * 2e-6f) << c.fovDegrees;
    }
}

TEST(OrbitCameraState, SnapshotCarriesEyeAndFields) {
    OrbitCamera camera = offAxisCamera();
    CameraState state = camera.snapshot();
    EXPECT_EQ(state.position, camera.eyePosition());
    EXPECT_EQ(state.target, camera.target);
    EXPECT_EQ(state.yaw, camera.yaw);
    EXPECT_EQ(state.pitch, camera.pitch);
    EXPECT_EQ(state.distance, camera.distance);
    EXPECT_EQ(state.fov, camera.fovDegrees);
}

TEST(OrbitCameraState, ApplyRestoresSnapshot) {
    OrbitCamera original = offAxisCamera();
    OrbitCamera restored;
    restored.apply(original.snapshot());
    EXPECT_EQ(restored.target, original.target);
    EXPECT_EQ(restored.fovDegrees, original.fovDegrees);
    EXPECT_NEAR(restored.distance, original.distance, 1e-5f);
    EXPECT_NEAR(restored.yaw, original.yaw, 1e-5f);
    EXPECT_NEAR(restored.pitch, original.pitch, 1e-5f);
    expectNear(restored.eyePosition(), original.eyePosition(), 1e-5f);
}

TEST(OrbitCameraState, ApplyFollowsPositionAndTargetOverStoredAngles) {
    CameraState state;
    state.position = {0.0f, 0.0f, -5.0f};
    state.target = {0.0f, 0.0f, 0.0f};
    state.yaw = 2.0f;
    state.pitch = 0.9f;
    state.distance = 99.0f;
    state.fov = 70.0f;

    OrbitCamera camera;
    camera.apply(state);
    EXPECT_FLOAT_EQ(camera.distance, 5.0f);
    EXPECT_FLOAT_EQ(camera.yaw, 3.1415927f / 2.0f);
    EXPECT_FLOAT_EQ(camera.pitch, 0.0f);
    EXPECT_FLOAT_EQ(camera.fovDegrees, 70.0f);
    expectNear(camera.eyePosition(), state.position, 1e-5f);
}

}  // namespace
}  // namespace lumbrix
