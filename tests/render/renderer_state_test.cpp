// The renderer's bookkeeping: bounds, clip planes, venues, fitting, uploads, targets.
#include "render/renderer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <variant>

#include "png_reader.h"
#include "platform/main_queue.h"
#include "render/floor_grid.h"
#include "test_render_target.h"
#include "tests/support/command_output.h"

namespace lumbrix {
namespace {

using test::vertex;
using test::WindowTarget;

std::shared_ptr<Mesh> meshWithPositions(std::initializer_list<std::array<float, 3>> positions) {
    auto mesh = std::make_shared<Mesh>();
    for (const auto& p : positions) mesh->vertices.push_back(vertex(p[0], p[1], p[2], 0, 0));
    for (uint32_t i = 0; i + 2 < mesh->vertices.size(); i += 3) mesh->indices.insert(mesh->indices.end(), {i, i + 1, i + 2});
    return mesh;
}

TEST(ClipPlanes, FollowTheModelAndTheCamera) {
    // A model of extent 2 seen from closer than 25.
    ClipPlanes close = clipPlanesFor(1.0f, 2.5f);
    EXPECT_FLOAT_EQ(close.farZ, 500.0f);
    EXPECT_FLOAT_EQ(close.nearZ, 0.0005f);
    // A far camera pushes the far plane out, and near follows.
    ClipPlanes distant = clipPlanesFor(1.0f, 100.0f);
    EXPECT_FLOAT_EQ(distant.farZ, 2000.0f);
    EXPECT_FLOAT_EQ(distant.nearZ, 0.002f);
    // A large model does too; near stops at 0.05.
    ClipPlanes stadium = clipPlanesFor(100000.0f, 10.0f);
    EXPECT_FLOAT_EQ(stadium.farZ, 5000000.0f);
    EXPECT_FLOAT_EQ(stadium.nearZ, 0.05f);
    ClipPlanes mid = clipPlanesFor(20.0f, 30.0f);
    EXPECT_FLOAT_EQ(mid.farZ, 1000.0f);
    EXPECT_FLOAT_EQ(mid.nearZ, 0.001f);
}

TEST(VenueMerge, ConcatenatesVerticesAndShiftsEachVenuesIndices) {
    auto first = meshWithPositions({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    first->indices = {0, 1, 2};
    auto second = meshWithPositions({{5, 0, 0}, {6, 0, 0}, {6, 1, 0}});
    Mesh merged = mergeVenueMeshes({first, second});
    ASSERT_EQ(merged.vertices.size(), 7u);
    EXPECT_EQ(merged.indices, (std::vector<uint32_t>{0, 1, 2, 4, 5, 6}));
    EXPECT_EQ(merged.vertices[3], first->vertices[3]);
    EXPECT_EQ(merged.vertices[4], second->vertices[0]);

    // Order is the caller's: swapped venues shift the other way.
    Mesh swapped = mergeVenueMeshes({second, first});
    EXPECT_EQ(swapped.indices, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(swapped.vertices[0], second->vertices[0]);
    EXPECT_TRUE(mergeVenueMeshes({}).indices.empty());
}

TEST(ModelUniformsBlock, CarriesTheDisplayOptions) {
    Float4x4 mvp = Float4x4::identity();
    mvp.columns[3] = {1, 2, 3, 1};
    ModelUniforms hiddenFront = modelUniformsFor(mvp, false, FaceMode::front, InactiveSideMode::hide);
    EXPECT_EQ(hiddenFront.mvp, mvp);
    EXPECT_EQ(hiddenFront.mode, 0);
    EXPECT_EQ(hiddenFront.faceMode, 1);
    EXPECT_EQ(hiddenFront.hideInactive, 1);
    ModelUniforms grayBackWithGrid = modelUniformsFor(mvp, true, FaceMode::back, InactiveSideMode::gray);
    EXPECT_EQ(grayBackWithGrid.mode, 1);
    EXPECT_EQ(grayBackWithGrid.faceMode, 2);
    EXPECT_EQ(grayBackWithGrid.hideInactive, 0);
}

class RendererState : public test::GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        auto created = Renderer::create();
        ASSERT_TRUE(created) << created.error().description;
        renderer = std::move(created.value());
        target.emplace(64, 48);
    }
    void TearDown() override {
        renderer.reset();
        target.reset();
        GLTest::TearDown();
    }
    void drawFrame() { renderer->draw(target->id(), 64, 48); }

    std::unique_ptr<Renderer> renderer;
    std::optional<WindowTarget> target;
};

TEST_F(RendererState, StartsWithTheDefaultsAndARadiusOneGrid) {
    EXPECT_EQ(renderer->gridVertexCount(), 324);
    EXPECT_FLOAT_EQ(renderer->sceneRadius(), 1.0f);
    EXPECT_FLOAT_EQ(renderer->currentAspectRatio(), 1.7777778f);
    EXPECT_EQ(renderer->fitMin(), (Float3{0, 0, 0}));
    EXPECT_EQ(renderer->fitMax(), (Float3{0, 0, 0}));
    EXPECT_EQ(renderer->indexCount(), 0);
    EXPECT_EQ(renderer->captureTexture(), 0u);
    EXPECT_TRUE(renderer->showFloorGrid);
    EXPECT_FALSE(renderer->showUVGrid);
    EXPECT_FLOAT_EQ(renderer->uvGridDensity, 20.0f);
}

TEST_F(RendererState, MeshSetsBoundsRadiusAndGridAndClearingKeepsTheGrid) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    renderer->setMesh(meshWithPositions({{-0.5f, 0, 0.1f}, {0.5f, nan, 0.2f}, {0.25f, 0.3f, -0.1f}}));
    EXPECT_EQ(renderer->fitMin(), (Float3{-0.5f, 0, -0.1f}));
    EXPECT_EQ(renderer->fitMax(), (Float3{0.5f, 0.3f, 0.2f}));
    EXPECT_FLOAT_EQ(renderer->sceneRadius(), 0.5f);
    EXPECT_EQ(renderer->gridVertexCount(), 164);
    EXPECT_EQ(renderer->indexCount(), 3);

    renderer->setMesh(nullptr);
    EXPECT_EQ(renderer->indexCount(), 0);
    EXPECT_FLOAT_EQ(renderer->sceneRadius(), 1.0f);
    EXPECT_EQ(renderer->gridVertexCount(), 164) << "the grid keeps the last model's size";
    EXPECT_EQ(renderer->fitMax(), (Float3{0.5f, 0.3f, 0.2f}));

    // A speck still gets a grid and a radius it can be fitted with.
    renderer->setMesh(meshWithPositions({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}));
    EXPECT_FLOAT_EQ(renderer->sceneRadius(), 0.001f);
    EXPECT_EQ(renderer->gridVertexCount(), 84);
}

TEST_F(RendererState, ClipPlanesOfAFrameFollowModelAndCamera) {
    auto camera = std::make_shared<OrbitCamera>();
    renderer->cameraRef = camera;
    renderer->setMesh(meshWithPositions({{-1, -1, -1}, {1, 1, 1}, {0, 0, 0}}));
    drawFrame();
    EXPECT_FLOAT_EQ(renderer->lastClipPlanes().farZ, 500.0f);
    EXPECT_FLOAT_EQ(renderer->lastClipPlanes().nearZ, 0.0005f);
    camera->distance = 100.0f;
    drawFrame();
    EXPECT_FLOAT_EQ(renderer->lastClipPlanes().farZ, 2000.0f);
    EXPECT_FLOAT_EQ(renderer->lastClipPlanes().nearZ, 0.002f);

    // Once the view model's camera is gone the private one (distance 2.5) takes over.
    camera.reset();
    drawFrame();
    EXPECT_FLOAT_EQ(renderer->lastClipPlanes().farZ, 500.0f);
}

TEST_F(RendererState, VenuesMergeWithoutTouchingModelState) {
    auto first = meshWithPositions({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}});
    first->indices = {0, 1, 2};
    auto second = meshWithPositions({{50, 0, 0}, {60, 0, 0}, {60, 10, 0}});
    renderer->setVenues({first, second});
    EXPECT_EQ(renderer->venueIndexCount(), 6);
    EXPECT_FLOAT_EQ(renderer->sceneRadius(), 1.0f);
    EXPECT_EQ(renderer->gridVertexCount(), 324);
    renderer->setVenues({});
    EXPECT_EQ(renderer->venueIndexCount(), 0);
}

TEST_F(RendererState, FitRequestedOnAnEmptyDrawableWaitsForTheFirstRealFrame) {
    auto camera = std::make_shared<OrbitCamera>();
    renderer->cameraRef = camera;
    renderer->setMesh(meshWithPositions({{2, 0, 0}, {4, 2, 0}, {3, 1, 1}}));
    renderer->pendingFit = true;

    renderer->draw(target->id(), 0, 0);
    EXPECT_TRUE(renderer->pendingFit);
    EXPECT_EQ(camera->target, (Float3{0, 0, 0}));
    auto frame = renderer->capture().lastFrameTexture();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->widthPx, 1);
    EXPECT_EQ(frame->heightPx, 1);

    renderer->draw(target->id(), 1, 1);
    EXPECT_TRUE(renderer->pendingFit) << "a 1×1 drawable is still not a real frame";

    drawFrame();
    EXPECT_FALSE(renderer->pendingFit);
    EXPECT_EQ(camera->target, (Float3{3, 1, 0.5f}));
    OrbitCamera expected;
    expected.fitToBounds({2, 0, 0}, {4, 2, 1});
    EXPECT_FLOAT_EQ(camera->distance, expected.distance);

    // Carried out once: moving the camera afterwards sticks.
    camera->distance = 42.0f;
    drawFrame();
    EXPECT_FLOAT_EQ(camera->distance, 42.0f);
}

TEST_F(RendererState, AspectRatioFollowsOnlyRealDrawableSizes) {
    renderer->drawableSizeWillChange(200, 100);
    EXPECT_FLOAT_EQ(renderer->currentAspectRatio(), 2.0f);
    renderer->drawableSizeWillChange(0, 100);
    renderer->drawableSizeWillChange(300, 0);
    EXPECT_FLOAT_EQ(renderer->currentAspectRatio(), 2.0f);
}

TEST_F(RendererState, StaticSceneUploadsNothingPerFrame) {
    auto camera = std::make_shared<OrbitCamera>();
    renderer->cameraRef = camera;
    auto model = meshWithPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    auto venue = meshWithPositions({{0, 0, 1}, {1, 0, 1}, {0, 1, 1}});
    renderer->setMesh(model);
    renderer->setVenues({venue});
    drawFrame();
    const uint64_t settled = renderer->uploadCount();

    // The view bridge pushes the same objects on every update.
    for (int i = 0; i < 10; ++i) {
        renderer->setMesh(model);
        renderer->setVenues({venue});
        drawFrame();
    }
    EXPECT_EQ(renderer->uploadCount(), settled);

    // A camera move changes one uniform buffer; a new mesh object its buffers and grid.
    camera->yaw += 0.1f;
    drawFrame();
    EXPECT_EQ(renderer->uploadCount(), settled + 1);
    renderer->setMesh(std::make_shared<Mesh>(*model));
    EXPECT_EQ(renderer->uploadCount(), settled + 4);
    renderer->setVenues({venue, venue});
    EXPECT_EQ(renderer->uploadCount(), settled + 6);
    EXPECT_EQ(renderer->venueIndexCount(), 6);
}

TEST_F(RendererState, PresentProgramIsRebuiltOnlyWhenTheTargetFormatChanges) {
    drawFrame();
    drawFrame();
    EXPECT_EQ(renderer->presentProgramBuildCount(), 1);

    WindowTarget withDepth(64, 48, GL_RGBA8, true);
    renderer->draw(withDepth.id(), 64, 48);
    renderer->draw(withDepth.id(), 64, 48);
    EXPECT_EQ(renderer->presentProgramBuildCount(), 2);

    WindowTarget sameAsFirst(64, 48);
    renderer->draw(sameAsFirst.id(), 64, 48);
    EXPECT_EQ(renderer->presentProgramBuildCount(), 3);
    renderer->draw(target->id(), 64, 48);
    EXPECT_EQ(renderer->presentProgramBuildCount(), 3) << "same format as the last target";
}

TEST_F(RendererState, FrameWithoutAUsableTargetStillReachesTheCapture) {
    // A surfaceless context has no default framebuffer: nothing to present into.
    renderer->draw(0, 32, 16);
    auto frame = renderer->capture().lastFrameTexture();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->widthPx, 32);
    EXPECT_EQ(renderer->presentProgramBuildCount(), 0);
}

TEST_F(RendererState, ScreenshotNeedsAFrameAndHasTheDrawableSize) {
    char dir[] = "/tmp/lumbrix-renderer-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/shot.png";

    auto early = renderer->saveScreenshot(path);
    ASSERT_TRUE(early.has_value());
    EXPECT_EQ(*early, Error("RenderCapture", -20, "No frame yet"));

    drawFrame();
    auto error = renderer->saveScreenshot(path);
    ASSERT_FALSE(error.has_value()) << error->description;
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 24u);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8),
              (std::vector<unsigned char>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    // IHDR: big-endian width and height right after the chunk header.
    auto be32 = [&](size_t at) {
        return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) | (uint32_t(bytes[at + 2]) << 8) |
               uint32_t(bytes[at + 3]);
    };
    EXPECT_EQ(be32(16), 64u);
    EXPECT_EQ(be32(20), 48u);

    // The file holds exactly the last frame's pixels, upright.
    const auto frame = renderer->capture().lastFrameTexture();
    ASSERT_TRUE(frame.has_value());
    const test::Pixels rendered = test::Pixels::readTexture(frame->name, frame->widthPx, frame->heightPx);
    const auto decoded = test::decodePng(test::readFileBytes(path));
    ASSERT_TRUE(decoded) << decoded.error();
    ASSERT_EQ(decoded->widthPx, 64);
    ASSERT_EQ(decoded->heightPx, 48);
    int differing = 0;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            const uint8_t* p = &decoded->rgba[(static_cast<size_t>(y) * 64 + x) * 4];
            differing += rendered.at(x, y) != test::Rgba{p[0], p[1], p[2], p[3]};
        }
    }
    EXPECT_EQ(differing, 0);
    std::remove(path.c_str());
    rmdir(dir);
}

}  // namespace
}  // namespace lumbrix

namespace lumbrix {
namespace {

// The movie's picture size, as ffprobe reads it.
std::string movieSize(const std::string& path) {
    return test::commandOutput("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" +
                               path + "'");
}

class RendererRecording : public test::GLTest {
protected:
    // Records a few frames and returns the finished file's path, or an error text.
    std::string recordFrames(Renderer& renderer, TaskQueue& queue, WindowTarget* target, const std::string& path) {
        if (auto error = renderer.startRecording(path, 30.0, false, false)) return "start: " + error->description;
        for (int i = 0; i < 6 && target; ++i) {
            renderer.draw(target->id(), target->widthPx, target->heightPx);
            usleep(30000);
        }
        std::optional<std::variant<std::string, Error>> result;
        renderer.capture().stopRecording([&](std::variant<std::string, Error> outcome) { result = std::move(outcome); });
        for (int i = 0; i < 500 && !result; ++i) {
            queue.drain();
            usleep(10000);
        }
        queue.drain();
        if (!result) return "no completion";
        return std::holds_alternative<std::string>(*result) ? std::get<std::string>(*result)
                                                            : "stop: " + std::get<Error>(*result).description;
    }
};

TEST_F(RendererRecording, RecordsAtTheDrawnSizeOr1280By720BeforeTheFirstFrame) {
    char folder[] = "/tmp/lumbrix-renderer-rec-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    auto queue = std::make_shared<TaskQueue>();
    auto created = Renderer::create(queue);
    ASSERT_TRUE(created) << created.error().description;
    Renderer& renderer = *created.value();

    // The recorder's lines go to standard output; only the outcomes matter here.
    auto quietly = [&](WindowTarget* target, const std::string& path) {
        ::testing::internal::CaptureStdout();
        std::string outcome = recordFrames(renderer, *queue, target, path);
        ::testing::internal::GetCapturedStdout();
        return outcome;
    };
    // Started before anything was drawn: the frames that follow go into 1280 × 720.
    WindowTarget target(96, 64);
    const std::string early = std::string(folder) + "/early.mp4";
    EXPECT_EQ(quietly(&target, early), early);
    EXPECT_EQ(movieSize(early), "1280,720\n");

    const std::string drawn = std::string(folder) + "/drawn.mp4";
    EXPECT_EQ(quietly(&target, drawn), drawn);
    EXPECT_EQ(movieSize(drawn), "96,64\n");
    std::remove(early.c_str());
    std::remove(drawn.c_str());
    rmdir(folder);
}

}  // namespace
}  // namespace lumbrix
