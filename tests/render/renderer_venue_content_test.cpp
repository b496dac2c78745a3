// Venues showing a slice of the current picture or a picture of their own, checked on
// read-back pixels.
#include <gtest/gtest.h>

#include "render/renderer.h"
#include "test_render_target.h"

namespace lumbrix {
namespace {

using test::FakeTextureSource;
using test::Pixels;
using test::Rgba;

constexpr int kSize = 64;
const Rgba kBlack{0, 0, 0, 255};
const Rgba kClear{test::unorm8(0.1f), test::unorm8(0.1f), test::unorm8(0.1f), 255};
const Rgba kNeutral{200, 200, 200, 255};
const Rgba kVenueSurface{test::unorm8(0.20f), test::unorm8(0.23f), test::unorm8(0.28f), 255};
const Rgba kAny{0, 0, 0, 0};  // where a grey venue's wireframe diagonal may pass

// A 4 × 4 canvas whose every pixel is told apart by its column (red) and row (green).
Rgba canvasPixel(int x, int y) { return {static_cast<uint8_t>(40 + 60 * x), static_cast<uint8_t>(40 + 60 * y), 90, 255}; }

std::shared_ptr<FakeTextureSource> canvasSource() {
    std::vector<uint8_t> rows;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const Rgba c = canvasPixel(x, y);
            rows.insert(rows.end(), c.begin(), c.end());
        }
    }
    return std::make_shared<FakeTextureSource>(4, 4, rows);
}

struct ContentCase {
    const char* name;
    VenueContentKind kind;
    CanvasRegion region;
    bool withMainSource;
    bool fromBehind;
    // The square's quadrants as seen: top-left, top-right, bottom-left, bottom-right.
    std::array<Rgba, 4> expected;
};

// Far enough apart to tell, near enough that filtering at a quadrant's centre stays close.
const Rgba kOwnTopLeft{190, 100, 100, 255}, kOwnTopRight{100, 190, 100, 255}, kOwnBottomLeft{100, 100, 190, 255},
    kOwnBottomRight{190, 190, 190, 255};

class VenueContent : public test::GLTest, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(VenueContent, ShowsItsPictureUpright) {
    const ContentCase& c = GetParam();
    auto created = Renderer::create();
    ASSERT_TRUE(created) << created.error().description;
    auto renderer = std::move(created.value());
    test::WindowTarget target(kSize, kSize);
    auto camera = test::unitViewCamera();
    if (c.fromBehind) camera->yaw = kAnglePi;
    renderer->cameraRef = camera;
    renderer->showFloorGrid = false;
    renderer->faceMode = FaceMode::front;
    renderer->inactiveSideMode = InactiveSideMode::hide;
    if (c.withMainSource) renderer->textureSource = canvasSource();

    std::vector<uint8_t> own;
    for (const Rgba& px : {kOwnTopLeft, kOwnTopRight, kOwnBottomLeft, kOwnBottomRight}) {
        own.insert(own.end(), px.begin(), px.end());
    }
    auto ownSource = std::make_shared<FakeTextureSource>(2, 2, own);
    renderer->setVenueDraws({{test::facingSquare(), c.kind, c.region,
                              c.kind == VenueContentKind::ownSource ? ownSource : nullptr}});
    renderer->draw(target.id(), kSize, kSize);
    Pixels screen = Pixels::read(target.id(), kSize, kSize);

    // The square covers pixels 16..47; quadrant centres at 24 and 40 sample the middle
    // of one canvas pixel each, give or take the few percent that filtering blends in.
    const int at[4][2] = {{24, 24}, {40, 24}, {24, 40}, {40, 40}};
    for (int q = 0; q < 4; ++q) {
        if (c.expected[q] == kAny) continue;
        const Rgba seen = screen.at(at[q][0], at[q][1]);
        EXPECT_TRUE(test::near(seen, c.expected[q], 8))
            << "quadrant " << q << ": " << test::describe(seen) << " expected " << test::describe(c.expected[q]);
    }
    EXPECT_TRUE(test::near(screen.at(4, 4), kClear, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, VenueContent,
    ::testing::Values(
        ContentCase{"RegionInside", VenueContentKind::canvasRegion, {2, 0, 2, 2}, true, false,
                    {canvasPixel(2, 0), canvasPixel(3, 0), canvasPixel(2, 1), canvasPixel(3, 1)}},
        ContentCase{"RegionPastTheRightAndBottomEdges", VenueContentKind::canvasRegion, {3, 3, 2, 2}, true, false,
                    {canvasPixel(3, 3), kBlack, kBlack, kBlack}},
        ContentCase{"RegionPastTheTopLeftCorner", VenueContentKind::canvasRegion, {-1, -1, 2, 2}, true, false,
                    {kBlack, kBlack, kBlack, canvasPixel(0, 0)}},
        ContentCase{"RegionWithoutAPictureYet", VenueContentKind::canvasRegion, {2, 0, 2, 2}, false, false,
                    {kNeutral, kNeutral, kNeutral, kNeutral}},
        ContentCase{"RegionOnTheHiddenSide", VenueContentKind::canvasRegion, {0, 0, 4, 4}, true, true,
                    {kClear, kClear, kClear, kClear}},
        ContentCase{"OwnSourceBesideTheMainOne", VenueContentKind::ownSource, {}, true, false,
                    {kOwnTopLeft, kOwnTopRight, kOwnBottomLeft, kOwnBottomRight}},
        ContentCase{"NoneStaysGreyContextWhateverItsRegion", VenueContentKind::none, {0, 0, 4, 4}, true, false,
                    {kVenueSurface, kAny, kAny, kVenueSurface}}),
    [](const auto& info) { return std::string(info.param.name); });

class VenueContentUploads : public test::GLTest {};

TEST_F(VenueContentUploads, GeometryIsKeptPerMeshObjectAndStaticFramesUploadNothing) {
    auto created = Renderer::create();
    ASSERT_TRUE(created) << created.error().description;
    auto renderer = std::move(created.value());
    test::WindowTarget target(kSize, kSize);
    renderer->textureSource = canvasSource();
    auto shared = FakeTextureSource::solid({10, 200, 10, 255});
    auto left = test::facingSquare(0.3f), right = test::facingSquare(0.2f), grey = test::facingSquare(0.9f);
    const std::vector<VenueDraw> scene = {{left, VenueContentKind::canvasRegion, {0, 0, 2, 2}, nullptr},
                                          {right, VenueContentKind::ownSource, {}, shared},
                                          {left, VenueContentKind::ownSource, {}, shared},
                                          {grey, VenueContentKind::none, {}, nullptr}};
    const uint64_t before = renderer->uploadCount();
    renderer->setVenueDraws(scene);
    // Two meshes with content, one merged pair for the grey one.
    EXPECT_EQ(renderer->uploadCount(), before + 6);
    EXPECT_EQ(renderer->contentVenueCount(), 3);
    EXPECT_EQ(renderer->venueIndexCount(), 6);

    renderer->draw(target.id(), kSize, kSize);
    const uint64_t settled = renderer->uploadCount();
    const int callsBefore = shared->textureCalls;
    for (int i = 0; i < 5; ++i) {
        renderer->setVenueDraws(scene);
        renderer->draw(target.id(), kSize, kSize);
    }
    EXPECT_EQ(renderer->uploadCount(), settled);
    EXPECT_EQ(shared->textureCalls - callsBefore, 5) << "a source shown twice is asked once a frame";

    // A new region is a uniform change, not a geometry upload.
    auto moved = scene;
    moved[0].region.x = 1;
    renderer->setVenueDraws(moved);
    EXPECT_EQ(renderer->uploadCount(), settled);
    renderer->draw(target.id(), kSize, kSize);
    EXPECT_EQ(renderer->uploadCount(), settled + 1);
}

TEST(CanvasRegionWindow, MapsStoredUVsOntoTheRegionsPixels) {
    struct Case {
        CanvasRegion region;
        int canvasW, canvasH;
        float u, storedV;  // stored v runs down from the top edge
        float expectX, expectY;
        bool inside;
    };
    const Case cases[] = {
        {{1280, 0, 640, 360}, 1920, 1080, 0.0f, 0.0f, 1280.0f / 1920, 0.0f, true},
        {{1280, 0, 640, 360}, 1920, 1080, 1.0f, 1.0f, 1.0f, 360.0f / 1080, true},
        {{1280, 360, 640, 360}, 1920, 1080, 0.5f, 0.25f, 1600.0f / 1920, 450.0f / 1080, true},
        {{1600, 900, 640, 360}, 1920, 1080, 1.0f, 1.0f, 2240.0f / 1920, 1260.0f / 1080, false},
        {{-100, -50, 200, 100}, 400, 200, 0.0f, 0.0f, -0.25f, -0.25f, false},
        {{0, 0, 0, 100}, 400, 200, 0.5f, 0.5f, 0.0f, 0.25f, false},
        {{0, 0, 100, 100}, 0, 0, 0.5f, 0.5f, 0.0f, 0.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.region.x << "," << c.region.y << " " << c.region.width << "x"
                                          << c.region.height << " of " << c.canvasW << "x" << c.canvasH);
        const SampleWindow w = canvasRegionWindow(c.region, c.canvasW, c.canvasH);
        const float x = c.u * w.scaleOffset.x + w.scaleOffset.z;
        const float y = c.storedV * w.scaleOffset.y + w.scaleOffset.w;
        if (c.canvasW > 0 && c.region.width > 0) {
            EXPECT_NEAR(x, c.expectX, 1e-6f);
            EXPECT_NEAR(y, c.expectY, 1e-6f);
        }
        const bool inside = x >= w.bounds.x && y >= w.bounds.y && x <= w.bounds.z && y <= w.bounds.w;
        EXPECT_EQ(inside, c.inside);
    }
}

}  // namespace
}  // namespace lumbrix
