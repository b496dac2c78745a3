// Scroll events into zoom steps: trackpad pixels and wheel notches at comparable speed,
// bounded per event, the inertial tail ignored.
#include <gtest/gtest.h>

#include "tests/ui/viewport_test_support.h"
#include "ui/scroll_normalizer.h"

namespace lumbrix::test {
namespace {

class ScrollNormalizerTest : public ::testing::Test {
protected:
    void SetUp() override { viewportApplication(); }
    ScrollNormalizer normalizer;
};

TEST_F(ScrollNormalizerTest, PreciseDeltasAreDividedByTwelveAndBoundedToThree) {
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(0, 24), QPoint(0, 0))), 2.0f);
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(0, 60), QPoint(0, 0))), 3.0f);
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(0, -60), QPoint(0, 0))), -3.0f);
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(0, 6), QPoint(0, 120))), 0.5f) << "pixels win over angles";
}

TEST_F(ScrollNormalizerTest, WheelNotchesCountOneEach) {
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(), QPoint(0, 120))), 1.0f);
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(), QPoint(0, -60))), -0.5f);
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(), QPoint(0, 720))), 3.0f);
}

TEST_F(ScrollNormalizerTest, MomentumAndEmptyEventsChangeNothing) {
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(0, 24), QPoint(0, 240), Qt::ScrollMomentum)), std::nullopt);
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(), QPoint())), std::nullopt);
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(30, 0), QPoint(120, 0))), std::nullopt) << "horizontal only";
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(0, 24), QPoint(), Qt::ScrollUpdate)), 2.0f);

    normalizer.ignoreMomentum = false;
    EXPECT_EQ(normalizer.step(wheelEvent(QPoint(0, 24), QPoint(), Qt::ScrollMomentum)), 2.0f);
}

TEST_F(ScrollNormalizerTest, TinyDivisorsAreGuarded) {
    normalizer.preciseDivisor = 0.0f;
    EXPECT_EQ(normalizer.step(ScrollNormalizer::Input{0.0001f, true, false}), 1.0f);
}

}  // namespace
}  // namespace lumbrix::test
