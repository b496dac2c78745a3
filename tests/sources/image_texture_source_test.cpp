// The still-picture source, checked on what ends up in its texture. Test pictures are
// made at run time with FFmpeg's own encoders, so every case knows its exact pixels.
#include "sources/image_texture_source.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/crc.h>
#include <libavutil/frame.h>
}

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "platform/media/ffmpeg_handles.h"
#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

using Rgba = std::array<uint8_t, 4>;
using Bytes = std::vector<uint8_t>;

std::string describe(const Rgba& c) {
    return "(" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ", " + std::to_string(c[2]) + ", " +
           std::to_string(c[3]) + ")";
}

::testing::AssertionResult near(const Rgba& actual, const Rgba& expected, int tolerance) {
    for (size_t i = 0; i < 4; ++i) {
        if (std::abs(int(actual[i]) - int(expected[i])) > tolerance)
            return ::testing::AssertionFailure()
                   << describe(actual) << " is not within " << tolerance << " of " << describe(expected);
    }
    return ::testing::AssertionSuccess();
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// Moves a file's modification time away from "now", so a rewrite within the same
// clock tick still reads as a different file.
void setModifiedTime(const std::string& path, int64_t seconds, int64_t nanoseconds) {
    std::error_code error;
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type(std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanoseconds)),
        error);
    ASSERT_FALSE(error) << error.message();
}

// One picture through an FFmpeg encoder; `fill` writes the planes of a frame already
// sized and allocated.
Bytes encode(AVCodecID codecId, AVPixelFormat format, int width, int height,
             const std::function<void(AVFrame&)>& fill) {
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (codec == nullptr) return {};
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return {};
    context->width = width;
    context->height = height;
    context->pix_fmt = format;
    context->time_base = AVRational{1, 25};
    context->thread_count = 1;
    if (codecId == AV_CODEC_ID_MJPEG) {
        // Near-lossless, so colour checks can be tight.
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = FF_QP2LAMBDA * 2;
        context->color_range = AVCOL_RANGE_JPEG;
    }
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return {};

    FramePtr frame(av_frame_alloc());
    if (!frame) return {};
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return {};
    fill(*frame);
    if (codecId == AV_CODEC_ID_MJPEG) frame->quality = context->global_quality;

    PacketPtr packet(av_packet_alloc());
    if (!packet || avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec_send_frame(context.get(), nullptr) < 0 || avcodec_receive_packet(context.get(), packet.get()) < 0)
        return {};
    return Bytes(packet->data, packet->data + packet->size);
}

// An RGBA PNG from pixels given top row first.
Bytes rgbaPng(int width, int height, const std::vector<Rgba>& pixels) {
    return encode(AV_CODEC_ID_PNG, AV_PIX_FMT_RGBA, width, height, [&](AVFrame& frame) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                std::memcpy(frame.data[0] + y * frame.linesize[0] + x * 4, pixels[y * width + x].data(), 4);
    });
}

// red | green | mid grey
// blue | white | translucent dark
const std::vector<Rgba> kSixPixels = {{255, 0, 0, 255},   {0, 255, 0, 255},     {128, 128, 128, 255},
                                      {0, 0, 255, 255},   {255, 255, 255, 255}, {10, 20, 30, 77}};

Bytes sixPixelPng() { return rgbaPng(3, 2, kSixPixels); }

// A solid-colour PNG; different sizes give files of different lengths.
Bytes solidPng(int width, int height, Rgba colour) {
    return rgbaPng(width, height, std::vector<Rgba>(static_cast<size_t>(width) * height, colour));
}

// Fixes the CRC of the PNG chunk whose type starts at `typeOffset` after its data changed.
void refreshChunkCrc(Bytes& png, size_t typeOffset, size_t dataLength) {
    const AVCRC* table = av_crc_get_table(AV_CRC_32_IEEE_LE);
    const uint32_t crc = av_crc(table, 0xFFFFFFFFu, png.data() + typeOffset, 4 + dataLength) ^ 0xFFFFFFFFu;
    uint8_t* out = png.data() + typeOffset + 4 + dataLength;
    out[0] = uint8_t(crc >> 24);
    out[1] = uint8_t(crc >> 16);
    out[2] = uint8_t(crc >> 8);
    out[3] = uint8_t(crc);
}

// Texture contents read back through a framebuffer, addressed from the top row down.
class TexturePixels {
public:
    static TexturePixels read(GLuint texture) {
        TexturePixels pixels;
        GLint previous = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
        glBindTexture(GL_TEXTURE_2D, texture);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &pixels.width_);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &pixels.height_);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));

        GLFramebuffer framebuffer = GLFramebuffer::generate();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        pixels.bytes_.assign(static_cast<size_t>(pixels.width_) * pixels.height_ * 4, 0xAB);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, pixels.width_, pixels.height_, GL_RGBA, GL_UNSIGNED_BYTE, pixels.bytes_.data());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return pixels;
    }

    // Row 0 of the texture is the picture's top row.
    Rgba at(int x, int yFromTop) const {
        const uint8_t* p = &bytes_[(static_cast<size_t>(yFromTop) * width_ + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    GLint width_ = 0;
    GLint height_ = 0;
    Bytes bytes_;
};

class ImageTextureSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = HeadlessGLContext::create();
        ASSERT_TRUE(created) << created.error().description;
        context_.emplace(std::move(created.value()));
        ASSERT_TRUE(folder_.ok());
    }
    void TearDown() override { context_.reset(); }

    std::string file(const std::string& name) const { return folder_.file(name); }

    // The texture of a fresh source over `path`, expected to load.
    void expectLoadsAs(const std::string& path, int width, int height, const std::vector<Rgba>& expected,
                       int tolerance) {
        ImageTextureSource source(path);
        const GLuint texture = source.texture();
        ASSERT_NE(texture, 0u) << path;
        const TexturePixels pixels = TexturePixels::read(texture);
        ASSERT_EQ(pixels.width(), width);
        ASSERT_EQ(pixels.height(), height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                EXPECT_TRUE(near(pixels.at(x, y), expected[y * width + x], tolerance)) << "at " << x << ", " << y;
    }

private:
    std::optional<HeadlessGLContext> context_;
    test::TempFolder folder_;
};

TEST_F(ImageTextureSourceTest, PngComesOutUprightWithExactChannelValues) {
    const std::string path = file("six.png");
    writeFile(path, sixPixelPng());
    // Mid grey staying 128 also shows no sRGB or range conversion happens.
    expectLoadsAs(path, 3, 2, kSixPixels, 0);
}

TEST_F(ImageTextureSourceTest, TextureIsRgba8WithoutMipmapsLinearAndClamped) {
    const std::string path = file("six.png");
    writeFile(path, sixPixelPng());
    ImageTextureSource source(path);
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);

    glBindTexture(GL_TEXTURE_2D, texture);
    GLint value = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &value);
    EXPECT_EQ(value, GL_RGBA8);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, &value);
    EXPECT_EQ(value, 0);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
    EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
    EXPECT_EQ(value, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ImageTextureSourceTest, LoadingLeavesBindingAndUnpackStateAsFound) {
    const std::string path = file("six.png");
    writeFile(path, sixPixelPng());
    GLTexture other = GLTexture::generate();
    GLBuffer unpackBuffer = GLBuffer::generate();
    glBindTexture(GL_TEXTURE_2D, other.id());
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, unpackBuffer.id());
    glBufferData(GL_PIXEL_UNPACK_BUFFER, 64, nullptr, GL_STREAM_DRAW);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 1);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 2);

    ImageTextureSource source(path);
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);

    GLint value = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
    EXPECT_EQ(value, static_cast<GLint>(other.id()));
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &value);
    EXPECT_EQ(value, static_cast<GLint>(unpackBuffer.id()));
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &value);
    EXPECT_EQ(value, 8);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &value);
    EXPECT_EQ(value, 7);
    glGetIntegerv(GL_UNPACK_SKIP_ROWS, &value);
    EXPECT_EQ(value, 1);
    glGetIntegerv(GL_UNPACK_SKIP_PIXELS, &value);
    EXPECT_EQ(value, 2);

    // The foreign unpack state did not leak into the upload either.
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    const TexturePixels pixels = TexturePixels::read(texture);
    EXPECT_TRUE(near(pixels.at(0, 0), kSixPixels[0], 0));
    EXPECT_TRUE(near(pixels.at(2, 1), kSixPixels[5], 0));
}

TEST_F(ImageTextureSourceTest, PngPixelFormatsAllArriveAsTheSameColours) {
    // Odd width, so no row of any format happens to be 4-byte aligned.
    const int width = 5;
    const int height = 2;
    const auto greyAt = [](int x, int y) { return uint8_t(40 * x + 17 * y + 3); };

    std::vector<Rgba> greys;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) greys.push_back({greyAt(x, y), greyAt(x, y), greyAt(x, y), 255});

    const std::string grey8 = file("grey8.png");
    writeFile(grey8, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_GRAY8, width, height, [&](AVFrame& frame) {
                  for (int y = 0; y < height; ++y)
                      for (int x = 0; x < width; ++x) frame.data[0][y * frame.linesize[0] + x] = greyAt(x, y);
              }));
    expectLoadsAs(grey8, width, height, greys, 0);

    const std::string grey16 = file("grey16.png");
    writeFile(grey16, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_GRAY16BE, width, height, [&](AVFrame& frame) {
                  for (int y = 0; y < height; ++y)
                      for (int x = 0; x < width; ++x) {
                          uint8_t* p = frame.data[0] + y * frame.linesize[0] + x * 2;
                          p[0] = p[1] = greyAt(x, y);  // v * 257: exactly v in 8 bits
                      }
              }));
    expectLoadsAs(grey16, width, height, greys, 1);

    std::vector<Rgba> colours;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) colours.push_back({uint8_t(50 * x), uint8_t(255 - 30 * x), uint8_t(100 * y), 255});

    const std::string rgb24 = file("rgb24.png");
    writeFile(rgb24, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_RGB24, width, height, [&](AVFrame& frame) {
                  for (int y = 0; y < height; ++y)
                      for (int x = 0; x < width; ++x)
                          std::memcpy(frame.data[0] + y * frame.linesize[0] + x * 3, colours[y * width + x].data(), 3);
              }));
    expectLoadsAs(rgb24, width, height, colours, 0);

    const std::string rgb48 = file("rgb48.png");
    writeFile(rgb48, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_RGB48BE, width, height, [&](AVFrame& frame) {
                  for (int y = 0; y < height; ++y)
                      for (int x = 0; x < width; ++x)
                          for (int c = 0; c < 3; ++c) {
                              uint8_t* p = frame.data[0] + y * frame.linesize[0] + x * 6 + c * 2;
                              p[0] = p[1] = colours[y * width + x][c];
                          }
              }));
    expectLoadsAs(rgb48, width, height, colours, 1);

    // A palette entry per pixel, with alpha, as 0xAARRGGBB words.
    std::vector<Rgba> translucent = colours;
    for (size_t i = 0; i < translucent.size(); ++i) translucent[i][3] = uint8_t(25 * i);
    const std::string pal8 = file("pal8.png");
    writeFile(pal8, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_PAL8, width, height, [&](AVFrame& frame) {
                  auto* palette = reinterpret_cast<uint32_t*>(frame.data[1]);
                  std::memset(palette, 0, 256 * 4);
                  for (int y = 0; y < height; ++y)
                      for (int x = 0; x < width; ++x) {
                          const int index = y * width + x;
                          const Rgba& c = translucent[index];
                          palette[index] = uint32_t(c[3]) << 24 | uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
                          frame.data[0][y * frame.linesize[0] + x] = uint8_t(index);
                      }
              }));
    expectLoadsAs(pal8, width, height, translucent, 0);

    std::vector<Rgba> greyAlpha;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) greyAlpha.push_back({greyAt(x, y), greyAt(x, y), greyAt(x, y), uint8_t(255 - 20 * x)});
    const std::string ya8 = file("ya8.png");
    writeFile(ya8, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_YA8, width, height, [&](AVFrame& frame) {
                  for (int y = 0; y < height; ++y)
                      for (int x = 0; x < width; ++x) {
                          uint8_t* p = frame.data[0] + y * frame.linesize[0] + x * 2;
                          p[0] = greyAt(x, y);
                          p[1] = greyAlpha[y * width + x][3];
                      }
              }));
    expectLoadsAs(ya8, width, height, greyAlpha, 0);
}

TEST_F(ImageTextureSourceTest, NameIsTakenLiterally) {
    // Not a numbered sequence, though FFmpeg's picture reader would take it for one.
    const std::string numbered = file("shot%03d.png");
    writeFile(numbered, sixPixelPng());
    expectLoadsAs(numbered, 3, 2, kSixPixels, 0);

    // No extension at all: the content says what it is.
    const std::string bare = file("picture");
    writeFile(bare, sixPixelPng());
    expectLoadsAs(bare, 3, 2, kSixPixels, 0);

    // A relative name with a colon is a file, not a protocol.
    writeFile(file("http:six.png"), sixPixelPng());
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(file("")));
    ImageTextureSource relative("http:six.png");
    const GLuint texture = relative.texture();
    std::filesystem::current_path(previous);
    ASSERT_NE(texture, 0u);
    EXPECT_TRUE(near(TexturePixels::read(texture).at(0, 1), kSixPixels[3], 0));
}

TEST_F(ImageTextureSourceTest, JpegLoadsWithApproximatelyRightColours) {
    // 8x8 blocks, one DCT block each, filled as full-range BT.601 YUV the way JPEG
    // stores colour. The greys and orange would shift if the full range were read as
    // the video range.
    const std::vector<Rgba> blocks = {{255, 0, 0, 255},       {0, 255, 0, 255},  {0, 0, 255, 255},
                                      {255, 255, 255, 255},   {30, 30, 30, 255}, {230, 120, 40, 255}};
    const auto yuvOf = [](const Rgba& c) {
        const double r = c[0], g = c[1], b = c[2];
        const auto clamp = [](double v) { return uint8_t(std::lround(std::min(255.0, std::max(0.0, v)))); };
        return std::array<uint8_t, 3>{clamp(0.299 * r + 0.587 * g + 0.114 * b),
                                      clamp(128 - 0.168736 * r - 0.331264 * g + 0.5 * b),
                                      clamp(128 + 0.5 * r - 0.418688 * g - 0.081312 * b)};
    };
    const std::string path = file("blocks.jpg");
    writeFile(path, encode(AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ444P, 24, 16, [&](AVFrame& frame) {
                  for (int y = 0; y < 16; ++y)
                      for (int x = 0; x < 24; ++x) {
                          const auto yuv = yuvOf(blocks[(y / 8) * 3 + x / 8]);
                          for (int plane = 0; plane < 3; ++plane)
                              frame.data[plane][y * frame.linesize[plane] + x] = yuv[plane];
                      }
              }));

    ImageTextureSource source(path);
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);
    const TexturePixels pixels = TexturePixels::read(texture);
    ASSERT_EQ(pixels.width(), 24);
    ASSERT_EQ(pixels.height(), 16);
    // Block centres, away from where blocks meet.
    for (int block = 0; block < 6; ++block)
        EXPECT_TRUE(near(pixels.at((block % 3) * 8 + 4, (block / 3) * 8 + 4), blocks[block], 6)) << "block " << block;
}

TEST_F(ImageTextureSourceTest, LoadsOnceAndKeepsTheTextureWhateverThePlayFlags) {
    const std::string path = file("six.png");
    writeFile(path, sixPixelPng());
    ImageTextureSource source(path);
    EXPECT_TRUE(source.isPlaying());
    EXPECT_TRUE(source.isLooping());
    EXPECT_EQ(source.decodeAttempts(), 0u);

    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);
    EXPECT_TRUE(glIsTexture(texture));
    for (int frame = 0; frame < 5; ++frame) EXPECT_EQ(source.texture(), texture);

    source.setPlaying(false);
    EXPECT_FALSE(source.isPlaying());
    EXPECT_EQ(source.texture(), texture);
    source.setLooping(false);
    EXPECT_FALSE(source.isLooping());
    EXPECT_EQ(source.texture(), texture);
    source.setPlaying(true);
    source.setLooping(true);
    EXPECT_TRUE(source.isPlaying());
    EXPECT_TRUE(source.isLooping());
    EXPECT_EQ(source.texture(), texture);

    // Even a changed file does not replace a loaded picture: a new one is a new source.
    writeFile(path, solidPng(4, 4, {0, 0, 0, 255}));
    EXPECT_EQ(source.texture(), texture);
    EXPECT_EQ(source.decodeAttempts(), 1u);
    EXPECT_EQ(TexturePixels::read(texture).width(), 3);
}

TEST_F(ImageTextureSourceTest, HasNoTimeline) {
    const std::string path = file("six.png");
    writeFile(path, sixPixelPng());
    ImageTextureSource source(path);
    EXPECT_EQ(source.path(), path);
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);

    EXPECT_FALSE(source.durationSeconds().has_value());
    EXPECT_FALSE(source.currentSeconds().has_value());
    EXPECT_FALSE(source.isSeekable());
    source.seek(3.0);
    EXPECT_FALSE(source.currentSeconds().has_value());
    source.stop();
    EXPECT_EQ(source.texture(), texture);
    EXPECT_EQ(source.decodeAttempts(), 1u);
}

TEST_F(ImageTextureSourceTest, TextureIsReleasedWithTheSource) {
    const std::string path = file("six.png");
    writeFile(path, sixPixelPng());
    GLuint texture = 0;
    {
        ImageTextureSource source(path);
        texture = source.texture();
        ASSERT_NE(texture, 0u);
        ASSERT_TRUE(glIsTexture(texture));
    }
    EXPECT_FALSE(glIsTexture(texture));
}

TEST_F(ImageTextureSourceTest, MissingFileShowsNothingUntilItAppears) {
    const std::string path = file("later.png");
    ImageTextureSource source(path);
    for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(source.texture(), 0u);
    // Nothing to open: no decoder was started.
    EXPECT_EQ(source.decodeAttempts(), 0u);

    writeFile(path, sixPixelPng());
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(source.decodeAttempts(), 1u);
    EXPECT_TRUE(near(TexturePixels::read(texture).at(0, 1), kSixPixels[3], 0));
}

TEST_F(ImageTextureSourceTest, CorruptFileIsNotDecodedAgainUntilItChanges) {
    const std::string path = file("broken.png");
    Bytes garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 37 + 11);
    writeFile(path, garbage);
    setModifiedTime(path, 1'600'000'000, 100);

    ImageTextureSource source(path);
    EXPECT_EQ(source.texture(), 0u);
    EXPECT_EQ(source.decodeAttempts(), 1u);
    for (int frame = 0; frame < 10; ++frame) EXPECT_EQ(source.texture(), 0u);
    EXPECT_EQ(source.decodeAttempts(), 1u);

    // Same length, only the nanoseconds of the modification time differ: still a new version.
    writeFile(path, garbage);
    setModifiedTime(path, 1'600'000'000, 200);
    EXPECT_EQ(source.texture(), 0u);
    EXPECT_EQ(source.decodeAttempts(), 2u);
    EXPECT_EQ(source.texture(), 0u);
    EXPECT_EQ(source.decodeAttempts(), 2u);

    writeFile(path, sixPixelPng());
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(source.decodeAttempts(), 3u);
    EXPECT_TRUE(near(TexturePixels::read(texture).at(1, 0), kSixPixels[1], 0));
}

TEST_F(ImageTextureSourceTest, ReplacedFileIsPickedUp) {
    const std::string path = file("swap.png");
    const Bytes png = solidPng(2, 2, {9, 99, 199, 255});
    Bytes truncated(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    writeFile(path, truncated);
    ImageTextureSource source(path);
    EXPECT_EQ(source.texture(), 0u);
    EXPECT_EQ(source.texture(), 0u);
    EXPECT_EQ(source.decodeAttempts(), 1u);

    // Written beside and renamed over, as editors save: a new inode.
    const std::string beside = file("swap.png.tmp");
    writeFile(beside, png);
    std::filesystem::rename(beside, path);
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);
    EXPECT_TRUE(near(TexturePixels::read(texture).at(1, 1), {9, 99, 199, 255}, 0));
}

TEST_F(ImageTextureSourceTest, TruncatedPicturesGiveNothing) {
    const std::string png = file("cut.png");
    const Bytes full = solidPng(64, 64, {200, 100, 50, 255});
    writeFile(png, Bytes(full.begin(), full.end() - 20));
    ImageTextureSource pngSource(png);
    EXPECT_EQ(pngSource.texture(), 0u);
    EXPECT_EQ(pngSource.decodeAttempts(), 1u);

    const std::string jpeg = file("cut.jpg");
    const Bytes fullJpeg = encode(AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ420P, 64, 64, [](AVFrame& frame) {
        for (int plane = 0; plane < 3; ++plane) {
            const int rows = plane == 0 ? 64 : 32;
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < frame.linesize[plane]; ++x)
                    frame.data[plane][y * frame.linesize[plane] + x] = uint8_t(x * 7 + y * 3 + plane * 50);
        }
    });
    ASSERT_GT(fullJpeg.size(), 200u);
    writeFile(jpeg, Bytes(fullJpeg.begin(), fullJpeg.begin() + static_cast<std::ptrdiff_t>(fullJpeg.size() / 2)));
    ImageTextureSource jpegSource(jpeg);
    EXPECT_EQ(jpegSource.texture(), 0u);
    EXPECT_EQ(jpegSource.decodeAttempts(), 1u);

    // The whole file, for contrast, does load.
    writeFile(jpeg, fullJpeg);
    EXPECT_NE(jpegSource.texture(), 0u);
}

TEST_F(ImageTextureSourceTest, DirectoriesEmptyFilesAndNonPicturesGiveNothing) {
    const std::string folder = file("folder.png");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    ImageTextureSource directorySource(folder);
    EXPECT_EQ(directorySource.texture(), 0u);
    EXPECT_EQ(directorySource.texture(), 0u);

    const std::string empty = file("empty.png");
    writeFile(empty, {});
    ImageTextureSource emptySource(empty);
    EXPECT_EQ(emptySource.texture(), 0u);
    EXPECT_EQ(emptySource.texture(), 0u);
    EXPECT_LE(emptySource.decodeAttempts(), 1u);

    const std::string text = file("notes.png");
    const std::string words = "not a picture at all, just some words\n";
    writeFile(text, Bytes(words.begin(), words.end()));
    ImageTextureSource textSource(text);
    EXPECT_EQ(textSource.texture(), 0u);

    // A video, however short, is not a still picture.
    const std::string video = file("clip.png");
    std::string y4m = "YUV4MPEG2 W2 H2 F25:1 Ip A1:1 C444\nFRAME\n";
    y4m += std::string(12, '\x80');
    writeFile(video, Bytes(y4m.begin(), y4m.end()));
    ImageTextureSource videoSource(video);
    EXPECT_EQ(videoSource.texture(), 0u);
    EXPECT_EQ(videoSource.decodeAttempts(), 1u);
}

// What the source says when it shows nothing: lumbrix-render and the viewer pass it on.
TEST_F(ImageTextureSourceTest, EachFailureSaysWhyAndASuccessClearsIt) {
    const std::string fifo = file("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = file("folder.png");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string empty = file("empty.png");
    writeFile(empty, {});
    const std::string text = file("notes.png");
    const std::string words = "not a picture at all, just some words\n";
    writeFile(text, Bytes(words.begin(), words.end()));

    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {fifo, "Not a regular file (a named pipe)"},
        {"/dev/zero", "Not a regular file (a character device)"},
        {folder, "Is a directory"},
        {file("missing.png"), "No such file or directory"},
        {empty, "The file is empty"},
        {text, "the picture cannot be decoded"},
    };
    for (const auto& c : cases) {
        ImageTextureSource source(c.path);
        EXPECT_EQ(source.error(), "");
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(source.texture(), 0u) << c.path;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << c.path;
        EXPECT_EQ(source.error(), c.reason) << c.path;
        // Still the same file: the reason stays without another attempt.
        EXPECT_EQ(source.texture(), 0u);
        EXPECT_FALSE(source.error().empty());
    }

    const std::string later = file("later.png");
    ImageTextureSource source(later);
    EXPECT_EQ(source.texture(), 0u);
    EXPECT_EQ(source.error(), "No such file or directory");
    writeFile(later, sixPixelPng());
    EXPECT_NE(source.texture(), 0u);
    EXPECT_EQ(source.error(), "");
}

TEST_F(ImageTextureSourceTest, ZeroAndOversizedPicturesGiveNothing) {
    // A PNG whose header claims zero width, with a valid checksum.
    Bytes zeroWide = sixPixelPng();
    ASSERT_GT(zeroWide.size(), 33u);
    ASSERT_EQ(std::memcmp(zeroWide.data() + 12, "IHDR", 4), 0);
    std::memset(zeroWide.data() + 16, 0, 4);
    refreshChunkCrc(zeroWide, 12, 13);
    const std::string zero = file("zero.png");
    writeFile(zero, zeroWide);
    ImageTextureSource zeroSource(zero);
    EXPECT_EQ(zeroSource.texture(), 0u);

    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    ASSERT_GT(maxSide, 0);
    const std::string wide = file("wide.png");
    writeFile(wide, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_GRAY8, maxSide + 1, 1,
                           [](AVFrame& frame) { std::memset(frame.data[0], 90, static_cast<size_t>(frame.linesize[0])); }));
    ImageTextureSource wideSource(wide);
    EXPECT_EQ(wideSource.texture(), 0u);
    EXPECT_EQ(wideSource.decodeAttempts(), 1u);

    // The largest size allowed does load.
    const std::string widest = file("widest.png");
    writeFile(widest, encode(AV_CODEC_ID_PNG, AV_PIX_FMT_GRAY8, maxSide, 1,
                             [](AVFrame& frame) { std::memset(frame.data[0], 90, static_cast<size_t>(frame.linesize[0])); }));
    ImageTextureSource widestSource(widest);
    EXPECT_NE(widestSource.texture(), 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ImageTextureSourceTest, FailuresPrintNothingOnStandardOutput) {
    const std::string corrupt = file("corrupt.jpg");
    writeFile(corrupt, Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 2, 3});
    const std::string missing = file("missing.png");

    ::testing::internal::CaptureStdout();
    ImageTextureSource corruptSource(corrupt);
    ImageTextureSource missingSource(missing);
    ImageTextureSource directorySource(file(""));
    const GLuint corruptTexture = corruptSource.texture();
    const GLuint missingTexture = missingSource.texture();
    const GLuint directoryTexture = directorySource.texture();
    std::fflush(stdout);
    const std::string printed = ::testing::internal::GetCapturedStdout();

    EXPECT_EQ(corruptTexture, 0u);
    EXPECT_EQ(missingTexture, 0u);
    EXPECT_EQ(directoryTexture, 0u);
    EXPECT_EQ(corruptSource.decodeAttempts(), 1u);
    EXPECT_EQ(printed, "");
}

}  // namespace
}  // namespace lumbrix
