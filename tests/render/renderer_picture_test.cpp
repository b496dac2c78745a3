// What the renderer puts on screen, checked on read-back pixels.
#include "render/renderer.h"

#include <gtest/gtest.h>

#include "test_render_target.h"

namespace lumbrix {
namespace {

using test::describe;
using test::FakeTextureSource;
using test::Pixels;
using test::Rgba;
using test::WindowTarget;

constexpr int kSize = 64;
const Rgba kClear{test::unorm8(0.1f), test::unorm8(0.1f), test::unorm8(0.1f), 255};
const Rgba kInactiveGray{test::unorm8(0.35f), test::unorm8(0.35f), test::unorm8(0.35f), 255};
const Rgba kNeutral{200, 200, 200, 255};
const Rgba kVenueSurface{test::unorm8(0.20f), test::unorm8(0.23f), test::unorm8(0.28f), 255};
const Rgba kVenueWire{test::unorm8(0.45f), test::unorm8(0.55f), test::unorm8(0.70f), 255};

class RendererPicture : public test::GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        auto created = Renderer::create();
        ASSERT_TRUE(created) << created.error().description;
        renderer = std::move(created.value());
        target.emplace(kSize, kSize);
        camera = test::unitViewCamera();
        renderer->cameraRef = camera;
        // Seen edge-on from the default camera, the floor grid would run right across
        // the middle row of every picture.
        renderer->showFloorGrid = false;
    }
    void TearDown() override {
        renderer.reset();
        target.reset();
        GLTest::TearDown();
    }

    Pixels drawAndRead() {
        renderer->draw(target->id(), kSize, kSize);
        return Pixels::read(target->id(), kSize, kSize);
    }

    std::unique_ptr<Renderer> renderer;
    std::optional<WindowTarget> target;
    std::shared_ptr<OrbitCamera> camera;
};

#define EXPECT_COLOR(pixels, x, y, expected, tolerance)                                          \
    EXPECT_TRUE(test::near((pixels).at(x, y), expected, tolerance))                              \
        << "at (" << (x) << ", " << (y) << "): " << describe((pixels).at(x, y)) << " expected " \
        << describe(expected)

TEST_F(RendererPicture, TexturedSquareShowsThePictureUprightOnScreenAndInTheCapture) {
    const Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, white{255, 255, 255, 255};
    // Top row first: red, green over blue, white.
    std::vector<uint8_t> picture;
    for (const Rgba& c : {red, green, blue, white}) picture.insert(picture.end(), c.begin(), c.end());
    renderer->textureSource = std::make_shared<FakeTextureSource>(2, 2, picture);
    renderer->setMesh(test::facingSquare());

    Pixels screen = drawAndRead();
    // The square covers pixels 16..47 both ways; quadrant centres sit at 24 and 40.
    EXPECT_COLOR(screen, 24, 24, red, 16);
    EXPECT_COLOR(screen, 40, 24, green, 16);
    EXPECT_COLOR(screen, 24, 40, blue, 16);
    EXPECT_COLOR(screen, 40, 40, white, 16);
    EXPECT_COLOR(screen, 4, 4, kClear, 1);
    EXPECT_COLOR(screen, 60, 60, kClear, 1);

    Pixels captured = Pixels::readTexture(renderer->captureTexture(), kSize, kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            ASSERT_TRUE(test::near(captured.at(x, y), screen.at(x, y), 0))
                << "capture and screen differ at (" << x << ", " << y << ")";
        }
    }
}

TEST_F(RendererPicture, ModelWithoutPictureIsDrawnInANeutralColour) {
    renderer->setMesh(test::facingSquare());
    Pixels noSource = drawAndRead();
    EXPECT_COLOR(noSource, 32, 32, kNeutral, 1);

    // A source with nothing to show yet looks the same, and is asked once per frame.
    auto source = FakeTextureSource::solid({255, 128, 0, 255});
    source->available = false;
    renderer->textureSource = source;
    Pixels waiting = drawAndRead();
    EXPECT_COLOR(waiting, 32, 32, kNeutral, 1);
    source->available = true;
    Pixels ready = drawAndRead();
    EXPECT_COLOR(ready, 32, 32, (Rgba{255, 128, 0, 255}), 1);
    EXPECT_EQ(source->textureCalls, 2);
}

enum class Seen { picture, gray, nothing };

struct FaceCase {
    FaceMode faceMode;
    InactiveSideMode inactive;
    bool fromBehind;
    Seen expected;
};

class RendererFaces : public RendererPicture, public ::testing::WithParamInterface<FaceCase> {};

TEST_P(RendererFaces, ShowPictureOnlyOnTheActiveSide) {
    const FaceCase& c = GetParam();
    const Rgba orange{230, 120, 20, 255};
    renderer->textureSource = FakeTextureSource::solid(orange);
    renderer->setMesh(test::facingSquare());
    renderer->faceMode = c.faceMode;
    renderer->inactiveSideMode = c.inactive;
    if (c.fromBehind) {
        camera->yaw = kAnglePi;
        ASSERT_GT(camera->eyePosition().x, 0.0f) << "the eye must be behind the square";
    }
    const Rgba expected = c.expected == Seen::picture ? orange : c.expected == Seen::gray ? kInactiveGray : kClear;
    // With the UV grid on too: one cell per UV unit puts its lines on the square's
    // border only, so the inside must look the same.
    renderer->uvGridDensity = 1;
    for (bool uvGrid : {false, true}) {
        SCOPED_TRACE(uvGrid ? "with UV grid" : "without UV grid");
        renderer->showUVGrid = uvGrid;
        Pixels screen = drawAndRead();
        EXPECT_COLOR(screen, 32, 32, expected, 2);
        EXPECT_COLOR(screen, 20, 44, expected, 2);
        EXPECT_COLOR(screen, 4, 32, kClear, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllCombinations, RendererFaces,
    ::testing::Values(FaceCase{FaceMode::both, InactiveSideMode::gray, false, Seen::picture},
                      FaceCase{FaceMode::both, InactiveSideMode::gray, true, Seen::picture},
                      FaceCase{FaceMode::both, InactiveSideMode::hide, false, Seen::picture},
                      FaceCase{FaceMode::both, InactiveSideMode::hide, true, Seen::picture},
                      FaceCase{FaceMode::front, InactiveSideMode::gray, false, Seen::picture},
                      FaceCase{FaceMode::front, InactiveSideMode::gray, true, Seen::gray},
                      FaceCase{FaceMode::front, InactiveSideMode::hide, false, Seen::picture},
                      FaceCase{FaceMode::front, InactiveSideMode::hide, true, Seen::nothing},
                      FaceCase{FaceMode::back, InactiveSideMode::gray, false, Seen::gray},
                      FaceCase{FaceMode::back, InactiveSideMode::gray, true, Seen::picture},
                      FaceCase{FaceMode::back, InactiveSideMode::hide, false, Seen::nothing},
                      FaceCase{FaceMode::back, InactiveSideMode::hide, true, Seen::picture}));

// Whether the UV grid draws a line through pixel column (or row) `at`, allowing for the
// line to land on either side of a pixel boundary.
bool lineNear(const Pixels& pixels, int at, bool vertical, const Rgba& line) {
    for (int i : {at - 1, at}) {
        Rgba c = vertical ? pixels.at(i, 30) : pixels.at(30, i);
        if (test::near(c, line, 3)) return true;
    }
    return false;
}

TEST_F(RendererPicture, UVGridDrawsDensityLinesPerUVUnitOverThePicture) {
    const Rgba blue{0, 0, 255, 255};
    // 60% white over blue.
    const Rgba line{153, 153, 255, 255};
    renderer->textureSource = FakeTextureSource::solid(blue);
    renderer->setMesh(test::facingSquare());
    renderer->uvGridDensity = 4;

    Pixels off = drawAndRead();
    for (int at : {24, 32, 40}) {
        EXPECT_FALSE(lineNear(off, at, true, line)) << "grid shown while switched off, column " << at;
    }

    renderer->showUVGrid = true;
    Pixels four = drawAndRead();
    // Four cells across 32 pixels: lines at u = 1/4, 1/2, 3/4, and the same in v.
    for (int at : {24, 32, 40}) {
        EXPECT_TRUE(lineNear(four, at, true, line)) << "no vertical line near column " << at;
        EXPECT_TRUE(lineNear(four, at, false, line)) << "no horizontal line near row " << at;
    }
    for (int cellMiddle : {20, 28, 36, 44}) {
        EXPECT_COLOR(four, cellMiddle, cellMiddle, blue, 2);
    }

    renderer->uvGridDensity = 2;
    Pixels two = drawAndRead();
    EXPECT_TRUE(lineNear(two, 32, true, line));
    EXPECT_COLOR(two, 24, 28, blue, 2);
    EXPECT_COLOR(two, 23, 28, blue, 2);
}

TEST_F(RendererPicture, VenueSurfaceCarriesItsWireframeAndIgnoresFaceSettings) {
    renderer->setVenues({test::facingSquare()});
    // Face settings belong to the model; a venue seen from behind stays solid.
    renderer->faceMode = FaceMode::front;
    renderer->inactiveSideMode = InactiveSideMode::hide;
    for (bool fromBehind : {false, true}) {
        SCOPED_TRACE(fromBehind ? "from behind" : "from the front");
        camera->yaw = fromBehind ? kAnglePi : 0.0f;
        Pixels screen = drawAndRead();
        // Away from the edges and the diagonal: the surface.
        EXPECT_COLOR(screen, 22, 26, kVenueSurface, 2);
        EXPECT_COLOR(screen, 42, 38, kVenueSurface, 2);
        EXPECT_COLOR(screen, 4, 4, kClear, 1);
        // The diagonal edge shared by the two triangles is drawn as a line on top of
        // the surface all the way along.
        for (int i = 20; i < 44; ++i) {
            const int y = fromBehind ? i : kSize - 1 - i;  // mirrored when seen from behind
            bool onLine = false;
            for (int dx = -1; dx <= 1; ++dx) onLine |= test::near(screen.at(i + dx, y), kVenueWire, 3);
            EXPECT_TRUE(onLine) << "no wireframe near (" << i << ", " << y << ")";
        }
    }
}

TEST_F(RendererPicture, ModelHidesTheVenueBehindIt) {
    renderer->setVenues({test::facingSquare(0.9f)});
    auto model = std::make_shared<Mesh>(*test::facingSquare(0.25f));
    for (Vertex& v : model->vertices) v.position[0] = -0.5f;  // nearer the eye
    renderer->setMesh(model);
    Pixels screen = drawAndRead();
    EXPECT_COLOR(screen, 30, 34, kNeutral, 1);
    EXPECT_COLOR(screen, 10, 20, kVenueSurface, 2);
}

TEST_F(RendererPicture, FloorGridIsDrawnUnderneathAndCanBeSwitchedOff) {
    camera->pitch = -0.8f;  // look down on the ground plane
    renderer->showFloorGrid = true;
    Pixels on = drawAndRead();
    int gridPixels = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) gridPixels += test::near(on.at(x, y), kClear, 2) ? 0 : 1;
    }
    EXPECT_GT(gridPixels, kSize * 4) << "too few grid pixels";
    EXPECT_LT(gridPixels, kSize * kSize) << "the grid is lines, not a fill";

    renderer->showFloorGrid = false;
    Pixels off = drawAndRead();
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) ASSERT_TRUE(test::near(off.at(x, y), kClear, 1)) << x << ", " << y;
    }
}

TEST_F(RendererPicture, FloorGridNeverHidesGeometryDrawnAfterIt) {
    // A model lying a hair below the ground plane, seen from above: the grid lines
    // crossing its middle are nearer the eye but write no depth, so the model covers them.
    auto floor = std::make_shared<Mesh>();
    floor->vertices = {test::vertex(-0.5f, -0.001f, -0.5f, 0, 0), test::vertex(0.5f, -0.001f, -0.5f, 1, 0),
                       test::vertex(0.5f, -0.001f, 0.5f, 1, 1), test::vertex(-0.5f, -0.001f, 0.5f, 0, 1)};
    floor->indices = {0, 1, 2, 0, 2, 3};
    renderer->setMesh(floor);  // radius 0.5: grid lines every 0.1, through the middle too
    camera->pitch = -0.8f;
    renderer->showFloorGrid = true;
    Pixels screen = drawAndRead();
    for (int y = 26; y <= 38; ++y) {
        for (int x = 26; x <= 38; ++x) EXPECT_COLOR(screen, x, y, kNeutral, 1);
    }
}

TEST_F(RendererPicture, WindowShowsExactlyTheOpaqueCaptureWhicheverWayItIsCopied) {
    camera->pitch = -0.8f;  // blended grid lines over the background and the picture
    renderer->showFloorGrid = true;
    renderer->textureSource = FakeTextureSource::solid({255, 0, 0, 255});
    renderer->setMesh(test::facingSquare());
    const uint64_t blitsBefore = renderer->blitPresentCount();
    Pixels screen = drawAndRead();
    EXPECT_EQ(renderer->blitPresentCount(), blitsBefore + 1) << "a same-size single-sample window is blitted";
    Pixels captured = Pixels::readTexture(renderer->captureTexture(), kSize, kSize);
    int gridPixels = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            ASSERT_EQ(captured.at(x, y)[3], 255) << "capture alpha at " << x << ", " << y;
            ASSERT_EQ(screen.at(x, y), captured.at(x, y)) << x << ", " << y;
            gridPixels += test::near(captured.at(x, y), kClear, 2) ? 0 : 1;
        }
    }
    ASSERT_GT(gridPixels, kSize * 4) << "the frame must have grid lines for this to mean anything";

    // A multisampled window cannot take a blit from a single-sample frame: the
    // two-triangle pass draws it, and the resolved pixels are the same.
    GLFramebuffer multisampled = GLFramebuffer::generate();
    GLRenderbuffer samples = GLRenderbuffer::generate();
    glBindRenderbuffer(GL_RENDERBUFFER, samples.id());
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, 4, GL_RGBA8, kSize, kSize);
    glBindFramebuffer(GL_FRAMEBUFFER, multisampled.id());
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, samples.id());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    renderer->draw(multisampled.id(), kSize, kSize);
    EXPECT_EQ(renderer->blitPresentCount(), blitsBefore + 1);
    WindowTarget resolved(kSize, kSize);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, multisampled.id());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, resolved.id());
    glBlitFramebuffer(0, 0, kSize, kSize, 0, 0, kSize, kSize, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    Pixels drawn = Pixels::read(resolved.id(), kSize, kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) ASSERT_EQ(drawn.at(x, y), captured.at(x, y)) << x << ", " << y;
    }

    // A see-through clear colour leaves the frame translucent; the window still gets
    // opaque pixels, through the two-triangle pass.
    renderer->clearColor = {0.1f, 0.1f, 0.1f, 0.25f};
    Pixels translucent = drawAndRead();
    EXPECT_EQ(renderer->blitPresentCount(), blitsBefore + 1);
    EXPECT_EQ(translucent.at(0, 0)[3], 255);
    EXPECT_COLOR(translucent, 0, 0, kClear, 1);
}

TEST_F(RendererPicture, CaptureReceivesEachFramesOffscreenTexture) {
    EXPECT_FALSE(renderer->capture().lastFrameTexture().has_value());
    renderer->draw(target->id(), kSize, kSize);
    auto frame = renderer->capture().lastFrameTexture();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->name, renderer->captureTexture());
    EXPECT_NE(frame->name, 0u);
    EXPECT_EQ(frame->widthPx, kSize);
    EXPECT_EQ(frame->heightPx, kSize);
    EXPECT_EQ(frame->internalFormat, static_cast<unsigned>(GL_RGBA8));

    // Same size: the same texture again. A new size: a new texture of that size.
    const unsigned first = frame->name;
    renderer->draw(target->id(), kSize, kSize);
    EXPECT_EQ(renderer->capture().lastFrameTexture()->name, first);
    WindowTarget wide(96, 40);
    renderer->draw(wide.id(), 96, 40);
    frame = renderer->capture().lastFrameTexture();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->name, renderer->captureTexture());
    EXPECT_NE(frame->name, first);
    EXPECT_EQ(frame->widthPx, 96);
    EXPECT_EQ(frame->heightPx, 40);
}

}  // namespace
}  // namespace lumbrix
