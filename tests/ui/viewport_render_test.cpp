// The viewport on screen: the demo venue textured with the still picture, fit requests,
// the state the renderer gets, the capture bridge, and drawing paced by the display.
#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <variant>

#include <QImage>
#include <QTest>

#include "render/renderer.h"
#include "tests/ui/viewport_test_support.h"
#include "ui/viewport.h"
#include "ui/viewport_coordinator.h"

namespace lumbrix::test {
namespace {

constexpr float kHalfPi = 1.5707964f;

class ViewportRenderTest : public ViewportTest {
protected:
    void SetUp() override {
        ViewportTest::SetUp();
        model = std::make_unique<ViewerViewModel>(dependencies());
        // Made with the window, shown later: what happens in between waits for the renderer.
        viewport = std::make_unique<Viewport>(*model);
        QObject::connect(viewport.get(), &Viewport::rendererReady, [this] { ++readySignals; });
        viewport->resize(640, 360);

        model->openOBJModel(QStringLiteral(LUMBRIX_DEMO_DIR "/venue.obj"));
        ASSERT_TRUE(model->mesh());
        model->selectSourceMode(SourceMode::image);
        model->setImageFile(QStringLiteral(LUMBRIX_DEMO_DIR "/still.png"));
        ASSERT_TRUE(model->activeSource());
        // Face the LED wall, which stands at -Z facing the audience.
        model->camera()->yaw = -kHalfPi;
        model->requestFit();
    }

    void TearDown() override {
        // The picture source holds a texture of the view's context.
        if (viewport && viewport->renderer()) viewport->makeCurrent();
        model.reset();
        if (viewport && viewport->renderer()) viewport->doneCurrent();
        viewport.reset();
    }

    void showAndWaitForFrames(uint64_t frames = 3) {
        viewport->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(viewport.get()));
        waitForFrames(frames);
    }

    void waitForFrames(uint64_t frames) {
        const uint64_t target = viewport->framesDrawn() + frames;
        ASSERT_TRUE(pumpUntil([&] { return viewport->framesDrawn() >= target; }));
    }

    std::unique_ptr<ViewerViewModel> model;
    std::unique_ptr<Viewport> viewport;
    int readySignals = 0;
};

TEST_F(ViewportRenderTest, ShowsTheTexturedVenueFittedOnItsFirstFrames) {
    EXPECT_EQ(model->lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
    EXPECT_EQ(viewport->renderer(), nullptr);
    EXPECT_EQ(model->captureBridge(), nullptr);

    showAndWaitForFrames();
    EXPECT_EQ(readySignals, 1);
    EXPECT_EQ(model->lastCaptureMessage(), QStringLiteral("Ready."));
    ASSERT_NE(model->captureBridge(), nullptr);
    Renderer* renderer = viewport->renderer();
    ASSERT_NE(renderer, nullptr);

    // The fit asked for before the view existed happened on the first frame.
    EXPECT_FALSE(renderer->pendingFit);
    OrbitCamera fitted;
    fitted.yaw = -kHalfPi;
    fitted.fitToBounds(renderer->fitMin(), renderer->fitMax());
    EXPECT_NEAR(model->camera()->distance, fitted.distance, 1e-4f);
    EXPECT_NEAR(model->camera()->target.y, fitted.target.y, 1e-4f);
    EXPECT_FLOAT_EQ(model->captureBridge()->currentAspectRatio(), 640.0f / 360.0f);

    // Without the floor grid, everything off the background is venue, and the
    // picture's red, green and blue quarters are on it.
    model->setShowFloorGrid(false);
    waitForFrames(2);
    const QImage frame = viewport->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(frame.width(), 640);
    int drawn = 0, red = 0, green = 0, blue = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const QColor c = frame.pixelColor(x, y);
            if (std::abs(c.red() - 26) + std::abs(c.green() - 26) + std::abs(c.blue() - 26) > 24) ++drawn;
            if (c.red() > 150 && c.green() < 90 && c.blue() < 90) ++red;
            if (c.green() > 130 && c.red() < 90 && c.blue() < 110) ++green;
            if (c.blue() > 150 && c.red() < 90 && c.green() < 110) ++blue;
        }
    }
    const int total = frame.width() * frame.height();
    EXPECT_GT(drawn, total / 20) << "the fitted venue takes a good part of the view";
    const QColor centre = frame.pixelColor(320, 180);
    EXPECT_GT(std::abs(centre.red() - 26) + std::abs(centre.green() - 26) + std::abs(centre.blue() - 26), 24)
        << "the venue is framed in the middle";
    EXPECT_GT(red, total / 100);
    EXPECT_GT(green, total / 100);
    EXPECT_GT(blue, total / 100);
}

TEST_F(ViewportRenderTest, NewFitRequestsFitOnceAndSaveTheFittedCamera) {
    showAndWaitForFrames();
    Renderer* renderer = viewport->renderer();
    ASSERT_NE(renderer, nullptr);
    pumpFor(std::chrono::milliseconds(450));  // the first fit's save
    model->camera()->distance = 400.0f;
    model->camera()->target = {10, 10, 10};
    waitForFrames(2);
    EXPECT_EQ(model->camera()->distance, 400.0f) << "no fit without a request";

    model->requestFit();
    EXPECT_EQ(viewport->coordinator().lastFitRequestID(), model->fitRequestID());
    waitForFrames(2);
    EXPECT_FALSE(renderer->pendingFit);
    EXPECT_LT(model->camera()->distance, 50.0f);
    const float fittedDistance = model->camera()->distance;

    ASSERT_TRUE(pumpUntil(
        [&] {
            const auto saved = store().loadCameraState();
            return saved && saved->distance == fittedDistance;
        },
        std::chrono::seconds(2)));
}

TEST_F(ViewportRenderTest, StateReachesTheRendererOnEveryChange) {
    showAndWaitForFrames(1);
    Renderer* renderer = viewport->renderer();
    ASSERT_NE(renderer, nullptr);

    model->setUvGridDensity(500);
    EXPECT_EQ(renderer->uvGridDensity, 200.0f);
    model->setUvGridDensity(0.2);
    EXPECT_EQ(renderer->uvGridDensity, 1.0f);
    model->setUvGridDensity(33.5);
    EXPECT_EQ(renderer->uvGridDensity, 33.5f);

    model->setShowUVGrid(true);
    model->setFaceMode(FaceMode::front);
    model->setInactiveSideMode(InactiveSideMode::hide);
    EXPECT_TRUE(renderer->showUVGrid);
    EXPECT_EQ(renderer->faceMode, FaceMode::front);
    EXPECT_EQ(renderer->inactiveSideMode, InactiveSideMode::hide);

    model->setFieldOfView(35.0f);
    model->camera()->fovDegrees = 80.0f;
    model->setShowFloorGrid(false);  // any change pushes everything
    EXPECT_EQ(renderer->fovDegrees, 35.0f);
    EXPECT_EQ(model->camera()->fovDegrees, 35.0f);
    EXPECT_FALSE(renderer->showFloorGrid);
    EXPECT_EQ(renderer->cameraRef.lock(), model->camera());
    EXPECT_EQ(renderer->textureSource, model->activeSource());

    EXPECT_GT(renderer->indexCount(), 0);
    model->clearModel();
    EXPECT_EQ(renderer->indexCount(), 0);

    ASSERT_TRUE(model->addVenue(QStringLiteral(LUMBRIX_DEMO_DIR "/venue.obj")));
    EXPECT_GT(renderer->venueIndexCount(), 0);
    model->setVenueVisible(model->venues().front().id, false);
    EXPECT_EQ(renderer->venueIndexCount(), 0);
}

TEST_F(ViewportRenderTest, CaptureBridgeWorksOutsidePaintingAndOutlivesTheView) {
    showAndWaitForFrames();
    const auto bridge = model->captureBridge();
    ASSERT_NE(bridge, nullptr);
    // The view model asks from a button click, with no GL context current.
    const std::string shot = folder.file("shot.png");
    EXPECT_EQ(bridge->saveScreenshot(shot), std::nullopt);
    EXPECT_GT(std::filesystem::file_size(shot), 1000u);

    const CaptureBridge::AudioSink microphone = bridge->microphoneSink();
    const CaptureBridge::AudioSink sourceAudio = bridge->sourceAudioSink();
    AudioSampleBuffer buffer;
    buffer.sampleRate = 48000;
    buffer.frameCount = 64;
    buffer.planes.assign(128, 0.0f);
    buffer.timescale = 48000;
    microphone(buffer);  // not recording: dropped

    // An audio worker keeps calling while the view goes away.
    std::atomic<bool> running{true};
    std::atomic<int> calls{0};
    std::thread worker([&] {
        while (running.load()) {
            microphone(buffer);
            sourceAudio(buffer);
            ++calls;
        }
    });
    ASSERT_TRUE(pumpUntil([&] { return calls.load() > 100; }));
    // The picture's texture belongs to the view's context.
    viewport->makeCurrent();
    model->selectSourceMode(SourceMode::file);
    viewport->doneCurrent();
    viewport.reset();
    const int callsAtRemoval = calls.load();
    ASSERT_TRUE(pumpUntil([&] { return calls.load() > callsAtRemoval + 100; }));
    running = false;
    worker.join();

    // The view model holds the bridge weakly; a bridge kept past its view refuses politely.
    EXPECT_EQ(model->captureBridge(), bridge);
    const auto screenshot = bridge->saveScreenshot(folder.file("late.png"));
    ASSERT_TRUE(screenshot.has_value());
    EXPECT_EQ(screenshot->code, -20);
    std::optional<std::variant<std::string, Error>> stopped;
    bridge->stopRecording([&](std::variant<std::string, Error> result) { stopped = std::move(result); });
    ASSERT_TRUE(stopped.has_value());
    EXPECT_TRUE(std::holds_alternative<Error>(*stopped));
    EXPECT_FLOAT_EQ(bridge->currentAspectRatio(), 1.7777778f);
    bridge->setVenues({VenueDraw{model->mesh()}});
}

TEST_F(ViewportRenderTest, MovingToAnotherWindowMakesANewRenderer) {
    showAndWaitForFrames();
    QWidget other;
    other.resize(320, 200);
    viewport->setParent(&other);
    viewport->move(0, 0);
    other.show();
    viewport->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    waitForFrames(3);
    ASSERT_NE(viewport->renderer(), nullptr);
    EXPECT_EQ(readySignals, 2) << "the old context went with the old window";
    EXPECT_NE(model->captureBridge(), nullptr);
    EXPECT_EQ(model->captureBridge()->saveScreenshot(folder.file("moved.png")), std::nullopt);
    // Back out before `other` goes, so the view is destroyed by the fixture, once.
    if (viewport->renderer()) viewport->makeCurrent();
    model.reset();
    viewport->doneCurrent();
    viewport->setParent(nullptr);
    viewport.reset();
}

TEST_F(ViewportRenderTest, DrawsAtTheDisplayRateWithoutSpinning) {
    showAndWaitForFrames();
    const uint64_t before = viewport->framesDrawn();
    pumpFor(std::chrono::milliseconds(500));
    const uint64_t frames = viewport->framesDrawn() - before;
    // A 60 Hz display gives about 30; a loop that does not wait gives hundreds.
    EXPECT_GE(frames, 5u);
    EXPECT_LE(frames, 45u);
    std::printf("frames drawn in 0.5 s: %llu\n", static_cast<unsigned long long>(frames));

    viewport->hide();
    pumpFor(std::chrono::milliseconds(50));
    const uint64_t hidden = viewport->framesDrawn();
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(viewport->framesDrawn(), hidden) << "nothing is drawn while hidden";
    viewport->show();
    waitForFrames(3);
}

}  // namespace
}  // namespace lumbrix::test
