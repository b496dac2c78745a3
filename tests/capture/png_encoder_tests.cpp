#include "capture/png_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "capture/render_capture.h"
#include "error_printer.h"
#include "png_reader.h"

namespace lumbrix {
namespace {

// Every byte different from its neighbours; alpha runs through 0, where a premultiplying
// encoder would wipe the colour.
std::vector<uint8_t> distinctPixels(int widthPx, int heightPx) {
    std::vector<uint8_t> bytes(static_cast<size_t>(widthPx) * heightPx * 4);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    for (size_t i = 3; i < bytes.size(); i += 4) bytes[i] = static_cast<uint8_t>((i / 4) * 61);
    return bytes;
}

TEST(PngEncoder, KeepsEveryByteIncludingAlpha) {
    const int width = 5, height = 3;
    const std::vector<uint8_t> pixels = distinctPixels(width, height);
    auto png = encodePng(RgbaView{pixels.data(), width * 4, width, height});
    ASSERT_TRUE(png) << png.error().description;

    auto decoded = test::decodePng(png.value());
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(decoded->widthPx, width);
    EXPECT_EQ(decoded->heightPx, height);
    EXPECT_EQ(decoded->rgba, pixels);
}

TEST(PngEncoder, NegativeStrideWritesStoredRowsInReverse) {
    const int width = 3, height = 4;
    const std::vector<uint8_t> bottomUp = distinctPixels(width, height);
    const std::ptrdiff_t rowBytes = width * 4;
    auto png = encodePng(RgbaView{bottomUp.data() + rowBytes * (height - 1), -rowBytes, width, height});
    ASSERT_TRUE(png) << png.error().description;

    auto decoded = test::decodePng(png.value());
    ASSERT_TRUE(decoded) << decoded.error();
    ASSERT_EQ(decoded->rgba.size(), bottomUp.size());
    for (int row = 0; row < height; ++row) {
        const auto* fileRow = decoded->rgba.data() + row * rowBytes;
        const auto* storedRow = bottomUp.data() + (height - 1 - row) * rowBytes;
        EXPECT_TRUE(std::equal(fileRow, fileRow + rowBytes, storedRow)) << "file row " << row;
    }
}

TEST(PngEncoder, SkipsPaddingBetweenRows) {
    const int width = 2, height = 3, strideBytes = width * 4 + 5;
    std::vector<uint8_t> padded(static_cast<size_t>(strideBytes) * height, 0xEE);
    const std::vector<uint8_t> pixels = distinctPixels(width, height);
    for (int row = 0; row < height; ++row)
        std::copy_n(pixels.begin() + row * width * 4, width * 4, padded.begin() + row * strideBytes);

    auto png = encodePng(RgbaView{padded.data(), strideBytes, width, height});
    ASSERT_TRUE(png) << png.error().description;
    auto decoded = test::decodePng(png.value());
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(decoded->rgba, pixels);
}

TEST(PngEncoder, EmptyPictureIsContextCreateFailed) {
    const Error expected(RenderCapture::kErrorDomain, -30, "CGContext create failed");
    const uint8_t pixel[4] = {1, 2, 3, 4};
    for (const RgbaView& view : {RgbaView{pixel, 4, 0, 1}, RgbaView{pixel, 4, 1, 0}, RgbaView{nullptr, 4, 1, 1}}) {
        auto png = encodePng(view);
        ASSERT_FALSE(png) << view.widthPx << "x" << view.heightPx;
        EXPECT_EQ(png.error(), expected);
    }
}

// FFmpeg refuses pictures whose byte count would overflow; that must come back as an
// error before any row is read (the single pixel here would otherwise be overrun).
TEST(PngEncoder, PictureTooLargeForFFmpegIsAnErrorValue) {
    const uint8_t pixel[4] = {1, 2, 3, 4};
    auto png = encodePng(RgbaView{pixel, 4, 1 << 20, 1 << 20});
    ASSERT_FALSE(png);
    EXPECT_EQ(png.error(), Error(RenderCapture::kErrorDomain, -30, "CGContext create failed"));
}

}  // namespace
}  // namespace lumbrix
