#include "fbx/scene_transform.h"

#include <cmath>

#include <gtest/gtest.h>

namespace lumbrix::fbx {
namespace {

Vec3 apply(const Matrix& matrix, const Vec3& p) {
    const auto& m = matrix.m;
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

void expectNear(const Vec3& expected, const Vec3& actual, double tolerance = 1e-9) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

TEST(SceneTransformMatrix, ProductAppliesTheRightFactorFirst) {
    // Column-major with translation in m[12..14]: (T x S) p scales, then moves.
    Matrix moveThenScale = translationMatrix({1, 2, 3}) * scalingMatrix({2, 3, 4});
    expectNear({3, 5, 7}, apply(moveThenScale, {1, 1, 1}));
    Matrix scaleThenMove = scalingMatrix({2, 3, 4}) * translationMatrix({1, 2, 3});
    expectNear({4, 9, 16}, apply(scaleThenMove, {1, 1, 1}));
    EXPECT_EQ(1.0, moveThenScale.m[12]);
    EXPECT_EQ(3.0, moveThenScale.m[14]);
}

TEST(SceneTransformRotation, AxesTurnRightHanded) {
    expectNear({0, 0, 1}, apply(eulerRotationMatrix({90, 0, 0}, RotationOrder::xyz), {0, 1, 0}));
    expectNear({1, 0, 0}, apply(eulerRotationMatrix({0, 90, 0}, RotationOrder::xyz), {0, 0, 1}));
    expectNear({0, 1, 0}, apply(eulerRotationMatrix({0, 0, 90}, RotationOrder::xyz), {1, 0, 0}));
    const double half = std::sqrt(3.0) / 2;
    expectNear({half, 0.5, 0}, apply(eulerRotationMatrix({0, 0, 30}, RotationOrder::xyz), {1, 0, 0}));
    expectNear({0, -half, 0.5}, apply(eulerRotationMatrix({-30, 0, 0}, RotationOrder::xyz), {0, -1, 0}), 1e-12);
}

TEST(SceneTransformRotation, QuarterTurnsAreExact) {
    // Exporters swap axes with -90 and 90; those zeros must stay zeros.
    Matrix r = eulerRotationMatrix({-90, 0, -90}, RotationOrder::xyz);
    Vec3 view = apply(r, {1, 0, 0});
    Vec3 up = apply(r, {0, 1, 0});
    EXPECT_EQ(0.0, view.x);
    EXPECT_EQ(-1.0, view.y);
    EXPECT_EQ(0.0, view.z);
    EXPECT_EQ(0.0, up.x);
    EXPECT_EQ(0.0, up.y);
    EXPECT_EQ(-1.0, up.z);
    expectNear({-1, 0, 0}, apply(eulerRotationMatrix({0, 0, 540}, RotationOrder::xyz), {1, 0, 0}), 0);
    expectNear({0, -1, 0}, apply(eulerRotationMatrix({0, 0, -450}, RotationOrder::xyz), {1, 0, 0}), 0);
}

TEST(SceneTransformRotation, EachOrderTurnsItsFirstLetterFirst) {
    // (1, 2, 3) through quarter turns about all three axes, worked by hand one axis at a time.
    struct Case {
        int fileValue;
        Vec3 expected;
    };
    const Case cases[] = {{0, {3, 2, -1}}, {1, {2, 1, -3}}, {2, {-2, 1, 3}},
                          {3, {-1, 3, 2}}, {4, {1, -3, 2}}, {5, {3, -2, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileValue);
        Matrix r = eulerRotationMatrix({90, 90, 90}, rotationOrderFromEnum(c.fileValue));
        expectNear(c.expected, apply(r, {1, 2, 3}));
    }
}

TEST(SceneTransformRotation, UnknownOrdersReadAsXyz) {
    EXPECT_EQ(RotationOrder::xyz, rotationOrderFromEnum(6));  // spherical XYZ
    EXPECT_EQ(RotationOrder::xyz, rotationOrderFromEnum(-1));
    EXPECT_EQ(RotationOrder::xyz, rotationOrderFromEnum(1000));
    EXPECT_EQ(RotationOrder::zyx, rotationOrderFromEnum(5));
}

TEST(SceneTransformLocal, DefaultsGiveIdentity) {
    Matrix local = localTransform(NodeTransform{});
    EXPECT_EQ(Matrix{}.m, local.m);
    EXPECT_EQ(Matrix{}.m, geometricTransform(NodeTransform{}).m);
}

TEST(SceneTransformLocal, RotationTurnsAboutItsPivotAndOffsetOnlyMoves) {
    NodeTransform node;
    node.rotation = {0, 0, 90};
    node.rotationPivot = {1, 0, 0};
    expectNear({1, 1, 0}, apply(localTransform(node), {2, 0, 0}));
    expectNear({1, -1, 0}, apply(localTransform(node), {0, 0, 0}));

    node.rotationPivot = {0, 1, 0};
    expectNear({1, 2, 0}, apply(localTransform(node), {1, 0, 0}));
    node.rotationPivot = {};
    node.rotationOffset = {0, 1, 0};
    expectNear({0, 2, 0}, apply(localTransform(node), {1, 0, 0}));
}

TEST(SceneTransformLocal, PreRotationTurnsAfterTheRotation) {
    NodeTransform node;
    node.rotation = {0, 0, 90};
    node.preRotation = {90, 0, 0};
    expectNear({0, 0, 1}, apply(localTransform(node), {1, 0, 0}));
}

TEST(SceneTransformLocal, PostRotationIsUndoneBeforeTheRotation) {
    NodeTransform node;
    node.postRotation = {0, 0, 90};
    expectNear({0, -1, 0}, apply(localTransform(node), {1, 0, 0}));
    node.rotation = {90, 0, 0};
    expectNear({0, 0, -1}, apply(localTransform(node), {1, 0, 0}));
}

TEST(SceneTransformLocal, PreAndPostRotationIgnoreTheRotationOrder) {
    NodeTransform node;
    node.rotationOrder = RotationOrder::zyx;
    node.preRotation = {90, 90, 0};
    expectNear({2, -3, -1}, apply(localTransform(node), {1, 2, 3}));
    node.preRotation = {};
    node.postRotation = {90, 90, 0};
    // Undoing XYZ: -90 about Y, then -90 about X.
    expectNear({-3, 1, -2}, apply(localTransform(node), {1, 2, 3}));
}

TEST(SceneTransformLocal, ScalingUsesItsPivotAndOffsetAndComesBeforeRotation) {
    NodeTransform node;
    node.scaling = {2, 2, 2};
    node.scalingPivot = {1, 0, 0};
    expectNear({3, 0, 0}, apply(localTransform(node), {2, 0, 0}));
    expectNear({-1, 0, 0}, apply(localTransform(node), {0, 0, 0}));

    node.scalingPivot = {};
    node.scalingOffset = {0, 0, 7};
    expectNear({2, 2, 9}, apply(localTransform(node), {1, 1, 1}));

    NodeTransform stretched;
    stretched.scaling = {2, 1, 1};
    stretched.rotation = {0, 0, 90};
    expectNear({0, 2, 0}, apply(localTransform(stretched), {1, 0, 0}));
}

TEST(SceneTransformLocal, WholeChainInItsOrder) {
    NodeTransform node;
    node.translation = {10, 0, 0};
    node.rotationOffset = {0, 1, 0};
    node.rotationPivot = {0, 0, 1};
    node.preRotation = {90, 0, 0};
    node.rotation = {0, 0, 90};
    node.postRotation = {0, 90, 0};
    node.scalingOffset = {1, 0, 0};
    node.scalingPivot = {0, 1, 0};
    node.scaling = {2, 2, 2};
    // Worked right to left: (1,0,1) (2,0,2) (2,1,2) (3,1,2) (3,1,1) (-1,1,3) (-1,-1,3) (-1,-3,-1) (-1,-3,0) (-1,-2,0).
    expectNear({9, -2, 0}, apply(localTransform(node), {1, 1, 1}));
}

TEST(SceneTransformLocal, TranslationAndRotationOfABlenderChild) {
    // bl_f_parent_empty: the child's origin lands at (241.421, 300, -341.421).
    NodeTransform rig;
    rig.translation = {100, 300, -200};
    rig.rotation = {-90, 45, 0};
    rig.scaling = {200, 200, 200};
    NodeTransform child;
    child.translation = {1, 0, 0};
    child.rotation = {30, 0, 0};
    child.scaling = {0.5, 1, 1};
    Matrix world = localTransform(rig) * localTransform(child);
    expectNear({241.42135623730951, 300, -341.42135623730951}, {world.m[12], world.m[13], world.m[14]}, 1e-9);
}

TEST(SceneTransformGeometric, ScalesThenTurnsThenMovesAndStaysOutOfTheNode) {
    NodeTransform node;
    node.geometricTranslation = {0, 0, 5};
    node.geometricRotation = {90, 0, 0};
    node.geometricScaling = {2, 1, 1};
    expectNear({2, 0, 6}, apply(geometricTransform(node), {1, 1, 0}));
    EXPECT_EQ(Matrix{}.m, localTransform(node).m);

    // The geometric rotation is XYZ whatever the node's own order.
    node.rotationOrder = RotationOrder::zyx;
    node.geometricRotation = {90, 90, 90};
    node.geometricScaling = {1, 1, 1};
    node.geometricTranslation = {};
    expectNear({3, 2, -1}, apply(geometricTransform(node), {1, 2, 3}));
}

}  // namespace
}  // namespace lumbrix::fbx
