// Mouse, wheel and pinch on the 3D view, through to the camera, and the camera save
// that follows a burst of moves.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/ui/viewport_test_support.h"
#include "ui/viewport.h"
#include "ui/viewport_coordinator.h"

namespace lumbrix::test {
namespace {

constexpr float kTolerance = 1e-5f;

// The view is never shown: input needs no GL context.
class ViewportInputTest : public ViewportTest {
protected:
    void SetUp() override {
        ViewportTest::SetUp();
        model = std::make_unique<ViewerViewModel>(dependencies());
        viewport = std::make_unique<Viewport>(*model);
        viewport->resize(400, 300);
    }
    void TearDown() override {
        viewport.reset();
        model.reset();
    }

    OrbitCamera& camera() { return *model->camera(); }

    std::unique_ptr<ViewerViewModel> model;
    std::unique_ptr<Viewport> viewport;
};

TEST_F(ViewportInputTest, LeftDragOrbitsWithUpwardPositiveDy) {
    // Qt's y grows downward: 10 up and 20 right.
    mouseDrag(*viewport, Qt::LeftButton, {QPointF(100, 100), QPointF(120, 90)});
    EXPECT_NEAR(camera().yaw, 20 * 0.005f, kTolerance);
    EXPECT_NEAR(camera().pitch, 10 * 0.005f, kTolerance);
    EXPECT_FALSE(viewport->coordinator().lastDrag().has_value()) << "the release ends the drag";

    // 300 points upward stops at the pitch limit.
    mouseDrag(*viewport, Qt::LeftButton, {QPointF(0, 299), QPointF(0, -1)});
    EXPECT_FLOAT_EQ(camera().pitch, 1.2f);
}

TEST_F(ViewportInputTest, DragWithoutAnchorStartsWhereItIs) {
    sendMouse(*viewport, QEvent::MouseMove, QPointF(50, 50), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(camera().yaw, 0.0f);
    sendMouse(*viewport, QEvent::MouseMove, QPointF(60, 50), Qt::NoButton, Qt::LeftButton);
    EXPECT_NEAR(camera().yaw, 10 * 0.005f, kTolerance);
}

TEST_F(ViewportInputTest, MiddleDragPansDownwardAndAltDragUpward) {
    // At distance 2.5 a point pans 0.005; looking along +X at pitch 0, up is +Y.
    mouseDrag(*viewport, Qt::MiddleButton, {QPointF(100, 100), QPointF(100, 90)});
    EXPECT_NEAR(camera().target.y, -0.05f, kTolerance);
    EXPECT_EQ(camera().yaw, 0.0f);

    camera().target = {0, 0, 0};
    mouseDrag(*viewport, Qt::LeftButton, {QPointF(100, 100), QPointF(100, 90)}, Qt::AltModifier);
    EXPECT_NEAR(camera().target.y, 0.05f, kTolerance);
    EXPECT_EQ(camera().pitch, 0.0f);

    // Other buttons than the middle one drag like it.
    camera().target = {0, 0, 0};
    mouseDrag(*viewport, Qt::BackButton, {QPointF(100, 100), QPointF(100, 90)});
    EXPECT_NEAR(camera().target.y, -0.05f, kTolerance);
}

TEST_F(ViewportInputTest, LockedDragsLookAroundTheFixedEye) {
    model->setIsCameraLocked(true);
    const Float3 eye = camera().eyePosition();
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton}) {
        mouseDrag(*viewport, button, {QPointF(100, 100), QPointF(110, 100)});
        const Float3 moved = camera().eyePosition();
        EXPECT_NEAR(moved.x, eye.x, 1e-4f);
        EXPECT_NEAR(moved.y, eye.y, 1e-4f);
        EXPECT_NEAR(moved.z, eye.z, 1e-4f);
    }
    EXPECT_NEAR(camera().yaw, 20 * 0.005f, kTolerance);
    EXPECT_NE(camera().target.z, 0.0f);
}

TEST_F(ViewportInputTest, RightDragDoesNothing) {
    mouseDrag(*viewport, Qt::RightButton, {QPointF(100, 100), QPointF(150, 50)});
    EXPECT_EQ(camera().yaw, 0.0f);
    EXPECT_EQ(camera().pitch, 0.0f);
    EXPECT_EQ(camera().target.y, 0.0f);
    EXPECT_FALSE(viewport->coordinator().isCameraSavePending());
}

TEST_F(ViewportInputTest, ScrollZoomsDistanceUnlockedAndFieldOfViewLocked) {
    QWheelEvent notch = wheelEvent(QPoint(), QPoint(0, 120));
    QApplication::sendEvent(viewport.get(), &notch);
    EXPECT_NEAR(camera().distance, 2.5f * std::exp(-0.01f), kTolerance);

    camera().distance = 0.001f;
    QWheelEvent flick = wheelEvent(QPoint(0, 600), QPoint());
    QApplication::sendEvent(viewport.get(), &flick);
    EXPECT_FLOAT_EQ(camera().distance, 0.001f);

    model->setIsCameraLocked(true);
    camera().distance = 2.0f;
    QWheelEvent three = wheelEvent(QPoint(0, 36), QPoint());
    QApplication::sendEvent(viewport.get(), &three);
    EXPECT_NEAR(model->fovDegrees(), 49.85f, kTolerance);
    EXPECT_EQ(camera().fovDegrees, model->fovDegrees());
    EXPECT_EQ(camera().distance, 2.0f);

    model->setFieldOfView(5.0f);
    QApplication::sendEvent(viewport.get(), &three);
    EXPECT_EQ(model->fovDegrees(), 5.0f);
    model->setFieldOfView(119.99f);
    QWheelEvent back = wheelEvent(QPoint(0, -36), QPoint());
    QApplication::sendEvent(viewport.get(), &back);
    EXPECT_EQ(model->fovDegrees(), 120.0f);

    QWheelEvent momentum = wheelEvent(QPoint(0, 36), QPoint(), Qt::ScrollMomentum);
    QApplication::sendEvent(viewport.get(), &momentum);
    EXPECT_EQ(model->fovDegrees(), 120.0f);
}

TEST_F(ViewportInputTest, PinchIsBoundedAndSlowsNearTheTarget) {
    camera().distance = 3.0f;
    sendGesture(*viewport, Qt::BeginNativeGesture);
    sendGesture(*viewport, Qt::ZoomNativeGesture, 0.5);
    // Taken as 0.08; at distance 3 the gain is 3 / 6.
    EXPECT_NEAR(camera().distance, 3.0f * std::exp(0.08f * 0.35f * 0.5f), kTolerance);
    EXPECT_NEAR(camera().distance, 3.0423f, 1e-4f);
    sendGesture(*viewport, Qt::EndNativeGesture);

    // Each event carries the total since the gesture began: 0.01 then 0.03.
    camera().distance = 12.0f;
    sendGesture(*viewport, Qt::BeginNativeGesture);
    sendGesture(*viewport, Qt::ZoomNativeGesture, 0.01);
    sendGesture(*viewport, Qt::ZoomNativeGesture, 0.02);
    EXPECT_NEAR(camera().distance, 12.0f * std::exp(0.01f * 0.35f) * std::exp(0.03f * 0.35f), 1e-4f);
    sendGesture(*viewport, Qt::EndNativeGesture);

    // Close in, the rate never drops below 0.15.
    camera().distance = 0.1f;
    sendGesture(*viewport, Qt::BeginNativeGesture);
    sendGesture(*viewport, Qt::ZoomNativeGesture, -0.08);
    EXPECT_NEAR(camera().distance, 0.1f * std::exp(-0.08f * 0.35f * 0.15f), 1e-6f);
    sendGesture(*viewport, Qt::EndNativeGesture);

    model->setIsCameraLocked(true);
    sendGesture(*viewport, Qt::BeginNativeGesture);
    sendGesture(*viewport, Qt::ZoomNativeGesture, 0.5);
    EXPECT_NEAR(model->fovDegrees(), 50.0f - 18.0f * 0.08f, kTolerance);
}

TEST_F(ViewportInputTest, BurstOfDragsSavesTheCameraOnceAfterItEnds) {
    QElapsedTimer clock;
    clock.start();
    sendMouse(*viewport, QEvent::MouseButtonPress, QPointF(0, 150), Qt::LeftButton, Qt::LeftButton);
    for (int i = 1; i <= 50; ++i) {
        sendMouse(*viewport, QEvent::MouseMove, QPointF(i * 2, 150), Qt::NoButton, Qt::LeftButton);
        pumpFor(std::chrono::milliseconds(5));
    }
    sendMouse(*viewport, QEvent::MouseButtonRelease, QPointF(100, 150), Qt::LeftButton, Qt::NoButton);
    const qint64 burstMs = clock.restart();
    EXPECT_LT(burstMs, 350) << "the burst must be shorter than the delay for this test to mean anything";

    pumpFor(std::chrono::milliseconds(250));
    EXPECT_FALSE(store().loadCameraState().has_value()) << "no save during or right after the burst";
    EXPECT_TRUE(viewport->coordinator().isCameraSavePending());

    ASSERT_TRUE(pumpUntil([&] { return store().loadCameraState().has_value(); }, std::chrono::seconds(2)));
    EXPECT_GE(clock.elapsed(), 340);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_NEAR(store().loadCameraState()->yaw, 100 * 0.005f, kTolerance);
}

TEST_F(ViewportInputTest, PendingSaveIsNotLostWithTheView) {
    mouseDrag(*viewport, Qt::LeftButton, {QPointF(0, 0), QPointF(40, 0)});
    viewport.reset();
    ASSERT_TRUE(store().loadCameraState().has_value());
    EXPECT_NEAR(store().loadCameraState()->yaw, 40 * 0.005f, kTolerance);
}

}  // namespace
}  // namespace lumbrix::test
