#include "capture/render_capture.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "error_printer.h"
#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "png_reader.h"
#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

const Error kReadbackFailed(RenderCapture::kErrorDomain, -28, "Command buffer / blit create failed");

// Bytes as OpenGL stores them, bottom row first. Every pixel differs from its neighbours
// in every channel, so a swapped channel, a shifted row or a mirrored picture shows; alpha
// passes through 0, where premultiplication would wipe the colour.
std::vector<uint8_t> storedPattern(int widthPx, int heightPx) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < heightPx; ++y) {
        for (int x = 0; x < widthPx; ++x) {
            bytes.push_back(static_cast<uint8_t>(x * 53 + y * 7 + 1));
            bytes.push_back(static_cast<uint8_t>(y * 41 + x * 3 + 2));
            bytes.push_back(static_cast<uint8_t>((x ^ y) * 29 + 200));
            bytes.push_back(static_cast<uint8_t>((x + y * widthPx) * 37));
        }
    }
    return bytes;
}

GLTexture makeTexture(GLenum internalFormat, int widthPx, int heightPx, const std::vector<uint8_t>& stored) {
    GLTexture texture = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), widthPx, heightPx, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, stored.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

// The file shows the picture upright: its top row is the texture's last stored row.
void expectUpright(const std::string& path, int widthPx, int heightPx, const std::vector<uint8_t>& stored) {
    auto image = test::decodePng(test::readFileBytes(path));
    ASSERT_TRUE(image) << path << ": " << image.error();
    ASSERT_EQ(image->widthPx, widthPx);
    ASSERT_EQ(image->heightPx, heightPx);
    int mismatches = 0;
    for (int row = 0; row < heightPx && mismatches < 8; ++row) {
        for (int x = 0; x < widthPx && mismatches < 8; ++x) {
            for (int c = 0; c < 4; ++c) {
                const size_t inFile = (static_cast<size_t>(row) * widthPx + x) * 4 + c;
                const size_t inTexture = (static_cast<size_t>(heightPx - 1 - row) * widthPx + x) * 4 + c;
                if (image->rgba[inFile] != stored[inTexture]) {
                    ADD_FAILURE() << "pixel (" << x << ", " << row << " from the top) channel " << c << ": file "
                                  << int(image->rgba[inFile]) << ", texture " << int(stored[inTexture]);
                    ++mismatches;
                }
            }
        }
    }
}

class RenderCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = HeadlessGLContext::create();
        ASSERT_TRUE(created) << created.error().description;
        context_.emplace(std::move(created.value()));
        ASSERT_TRUE(folder_.ok());
    }

    std::optional<HeadlessGLContext> context_;
    TempFolder folder_;
};

struct Case {
    GLenum format;
    int widthPx;
    int heightPx;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << (c.format == GL_RGBA8 ? "GL_RGBA8 " : "GL_SRGB8_ALPHA8 ") << c.widthPx << "x" << c.heightPx;
}

class SavedPixels : public RenderCaptureTest, public ::testing::WithParamInterface<Case> {};

TEST_P(SavedPixels, EveryPixelIsInTheFileUpright) {
    const Case c = GetParam();
    const std::vector<uint8_t> stored = storedPattern(c.widthPx, c.heightPx);
    GLTexture texture = makeTexture(c.format, c.widthPx, c.heightPx, stored);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const std::string path = folder_.file("shot.png");

    const auto error = RenderCapture::saveTexture({texture.id(), c.widthPx, c.heightPx, c.format}, path);
    ASSERT_FALSE(error) << error->description;
    expectUpright(path, c.widthPx, c.heightPx, stored);
    EXPECT_EQ(folder_.list(), std::vector<std::string>{"shot.png"});
}

// Odd widths give rows that are not a multiple of 4 bytes; one row or one column catch
// off-by-one flips.
INSTANTIATE_TEST_SUITE_P(Sizes, SavedPixels,
                         ::testing::Values(Case{GL_RGBA8, 3, 5}, Case{GL_RGBA8, 5, 3}, Case{GL_RGBA8, 1, 1},
                                           Case{GL_RGBA8, 7, 1}, Case{GL_RGBA8, 1, 6}, Case{GL_RGBA8, 129, 67},
                                           Case{GL_SRGB8_ALPHA8, 3, 5}, Case{GL_SRGB8_ALPHA8, 130, 9}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.format == GL_RGBA8 ? "rgba8_" : "srgb8_alpha8_") +
                                    std::to_string(info.param.widthPx) + "x" + std::to_string(info.param.heightPx);
                         });

TEST_F(RenderCaptureTest, SrgbTextureGivesTheSameFileAsLinearEvenWithSrgbWritesOn) {
    const int width = 9, height = 4;
    const std::vector<uint8_t> stored = storedPattern(width, height);
    GLTexture linear = makeTexture(GL_RGBA8, width, height, stored);
    GLTexture srgb = makeTexture(GL_SRGB8_ALPHA8, width, height, stored);
    // The renderer draws with sRGB writes on; reading an sRGB target then may decode it.
    glEnable(GL_FRAMEBUFFER_SRGB);

    ASSERT_FALSE(RenderCapture::saveTexture({linear.id(), width, height, GL_RGBA8}, folder_.file("linear.png")));
    ASSERT_FALSE(RenderCapture::saveTexture({srgb.id(), width, height, GL_SRGB8_ALPHA8}, folder_.file("srgb.png")));
    expectUpright(folder_.file("srgb.png"), width, height, stored);
    EXPECT_EQ(test::readFileBytes(folder_.file("srgb.png")), test::readFileBytes(folder_.file("linear.png")));
}

TEST_F(RenderCaptureTest, CallersGLStateIsLeftAsItWas) {
    const int width = 3, height = 2;
    const std::vector<uint8_t> stored = storedPattern(width, height);
    GLTexture captured = makeTexture(GL_RGBA8, width, height, stored);
    GLTexture other = makeTexture(GL_RGBA8, 1, 1, storedPattern(1, 1));
    GLFramebuffer readTarget = GLFramebuffer::generate();
    GLBuffer packBuffer = GLBuffer::generate();

    glBindFramebuffer(GL_READ_FRAMEBUFFER, readTarget.id());
    glBindTexture(GL_TEXTURE_2D, other.id());
    // A bound pack buffer would swallow the readback if left in place.
    glBindBuffer(GL_PIXEL_PACK_BUFFER, packBuffer.id());
    glBufferData(GL_PIXEL_PACK_BUFFER, 4096, nullptr, GL_STREAM_READ);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    glPixelStorei(GL_PACK_ROW_LENGTH, 16);
    glPixelStorei(GL_PACK_SKIP_ROWS, 1);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 2);
    glEnable(GL_FRAMEBUFFER_SRGB);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const std::string path = folder_.file("shot.png");
    const auto error = RenderCapture::saveTexture({captured.id(), width, height, GL_RGBA8}, path);
    ASSERT_FALSE(error) << error->description;
    expectUpright(path, width, height, stored);

    auto integer = [](GLenum name) {
        GLint value = -1;
        glGetIntegerv(name, &value);
        return value;
    };
    EXPECT_EQ(integer(GL_READ_FRAMEBUFFER_BINDING), static_cast<GLint>(readTarget.id()));
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(other.id()));
    EXPECT_EQ(integer(GL_PIXEL_PACK_BUFFER_BINDING), static_cast<GLint>(packBuffer.id()));
    EXPECT_EQ(integer(GL_PACK_ALIGNMENT), 8);
    EXPECT_EQ(integer(GL_PACK_ROW_LENGTH), 16);
    EXPECT_EQ(integer(GL_PACK_SKIP_ROWS), 1);
    EXPECT_EQ(integer(GL_PACK_SKIP_PIXELS), 2);
    EXPECT_EQ(glIsEnabled(GL_FRAMEBUFFER_SRGB), GL_TRUE);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The renderer's record of the size can lag a resize; the file follows the texture.
TEST_F(RenderCaptureTest, FileHasTheTexturesOwnSize) {
    const std::vector<uint8_t> stored = storedPattern(3, 5);
    GLTexture texture = makeTexture(GL_RGBA8, 3, 5, stored);
    const std::string path = folder_.file("shot.png");
    const auto error = RenderCapture::saveTexture({texture.id(), 64, 64, GL_RGBA8}, path);
    ASSERT_FALSE(error) << error->description;
    expectUpright(path, 3, 5, stored);
}

TEST_F(RenderCaptureTest, AnErrorLeftPendingBeforehandDoesNotFailTheSave) {
    const std::vector<uint8_t> stored = storedPattern(3, 2);
    GLTexture texture = makeTexture(GL_RGBA8, 3, 2, stored);
    glEnable(0xFFFF);  // not a capability: GL_INVALID_ENUM stays pending until read

    const std::string path = folder_.file("shot.png");
    const auto error = RenderCapture::saveTexture({texture.id(), 3, 2, GL_RGBA8}, path);
    ASSERT_FALSE(error) << error->description;
    expectUpright(path, 3, 2, stored);
}

TEST_F(RenderCaptureTest, ScreenshotSavesTheLastFrameAndNeedsOne) {
    const Error noFrame(RenderCapture::kErrorDomain, -20, "No frame yet");
    const std::string path = folder_.file("shot.png");
    auto shared = RenderCapture::create();
    RenderCapture& capture = *shared;
    EXPECT_EQ(capture.saveScreenshot(path), noFrame);
    EXPECT_TRUE(folder_.list().empty());

    const std::vector<uint8_t> first = storedPattern(4, 3);
    std::vector<uint8_t> second = storedPattern(2, 5);
    second[0] ^= 0xFF;
    GLTexture firstTexture = makeTexture(GL_RGBA8, 4, 3, first);
    GLTexture secondTexture = makeTexture(GL_SRGB8_ALPHA8, 2, 5, second);
    capture.capture({firstTexture.id(), 4, 3, GL_RGBA8});
    capture.capture({secondTexture.id(), 2, 5, GL_SRGB8_ALPHA8});
    const auto error = capture.saveScreenshot(path);
    ASSERT_FALSE(error) << error->description;
    expectUpright(path, 2, 5, second);

    capture.reset();
    EXPECT_EQ(capture.saveScreenshot(folder_.file("after-reset.png")), noFrame);
    EXPECT_EQ(folder_.list(), std::vector<std::string>{"shot.png"});
}

TEST_F(RenderCaptureTest, OtherPixelFormatsAreRejectedByName) {
    const std::vector<uint8_t> stored = storedPattern(3, 3);
    GLTexture halfFloat = makeTexture(GL_RGBA16F, 3, 3, stored);
    GLTexture red = makeTexture(GL_R8, 3, 3, stored);
    const std::string path = folder_.file("shot.png");

    EXPECT_EQ(RenderCapture::saveTexture({halfFloat.id(), 3, 3, GL_RGBA16F}, path),
              Error(RenderCapture::kErrorDomain, -29, "Unsupported pixelFormat: GL_RGBA16F"));
    EXPECT_EQ(RenderCapture::saveTexture({red.id(), 3, 3, GL_R8}, path),
              Error(RenderCapture::kErrorDomain, -29, "Unsupported pixelFormat: GL_R8"));
    EXPECT_EQ(RenderCapture::saveTexture({red.id(), 3, 3, 0x1234}, path),
              Error(RenderCapture::kErrorDomain, -29, "Unsupported pixelFormat: 0x1234"));
    EXPECT_TRUE(folder_.list().empty());
}

TEST_F(RenderCaptureTest, NamesThatAreNotReadableTexturesAreReadbackFailures) {
    GLTexture deleted = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, deleted.id());
    const GLuint deletedName = deleted.id();
    deleted.reset();
    GLBuffer buffer = GLBuffer::generate();
    glBindBuffer(GL_ARRAY_BUFFER, buffer.id());
    // Named and bound but never given pixels: it has no size.
    GLTexture empty = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, empty.id());
    GLTexture cube = GLTexture::generate();
    glBindTexture(GL_TEXTURE_CUBE_MAP, cube.id());
    glBindTexture(GL_TEXTURE_2D, 0);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const std::string path = folder_.file("shot.png");
    const struct {
        const char* what;
        GLuint name;
    } cases[] = {{"zero", 0},          {"never made", 987654},       {"deleted", deletedName},
                 {"a buffer", buffer.id()}, {"no storage", empty.id()}, {"a cube map", cube.id()}};
    for (const auto& c : cases) {
        EXPECT_EQ(RenderCapture::saveTexture({c.name, 4, 4, GL_RGBA8}, path), kReadbackFailed) << c.what;
        // The failure is reported as a value; the renderer must not find a GL error of ours.
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << c.what;
    }
    EXPECT_TRUE(folder_.list().empty());
}

TEST_F(RenderCaptureTest, WriteErrorsAreThePosixErrorAndLeaveNoFile) {
    const std::vector<uint8_t> stored = storedPattern(3, 5);
    GLTexture texture = makeTexture(GL_RGBA8, 3, 5, stored);
    const CaptureTexture frame{texture.id(), 3, 5, GL_RGBA8};

    const std::string missing = folder_.file("missing/shot.png");
    const auto missingError = RenderCapture::saveTexture(frame, missing);
    ASSERT_TRUE(missingError);
    EXPECT_EQ(missingError->domain, kPosixErrorDomain);
    EXPECT_EQ(missingError->code, ENOENT);
    EXPECT_NE(missingError->description.find(missing), std::string::npos) << missingError->description;
    EXPECT_TRUE(folder_.list().empty());

    const std::string directory = folder_.file("shot.png");
    ASSERT_TRUE(fs::create_directory(directory));
    const auto directoryError = RenderCapture::saveTexture(frame, directory);
    ASSERT_TRUE(directoryError);
    EXPECT_EQ(directoryError->domain, kPosixErrorDomain);
    EXPECT_EQ(directoryError->code, EISDIR) << directoryError->description;
    EXPECT_NE(directoryError->description.find(directory), std::string::npos) << directoryError->description;
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_EQ(folder_.list(), std::vector<std::string>{"shot.png"});
}

TEST_F(RenderCaptureTest, SavingOverAnExistingFileReplacesIt) {
    const std::string path = folder_.file("shot.png");
    std::ofstream(path, std::ios::binary) << "not a picture, and longer than the new one would need to be";
    const std::vector<uint8_t> first = storedPattern(3, 5);
    std::vector<uint8_t> second = storedPattern(5, 2);
    second[5] ^= 0x5A;
    GLTexture firstTexture = makeTexture(GL_RGBA8, 3, 5, first);
    GLTexture secondTexture = makeTexture(GL_RGBA8, 5, 2, second);

    ASSERT_FALSE(RenderCapture::saveTexture({firstTexture.id(), 3, 5, GL_RGBA8}, path));
    expectUpright(path, 3, 5, first);
    ASSERT_FALSE(RenderCapture::saveTexture({secondTexture.id(), 5, 2, GL_RGBA8}, path));
    expectUpright(path, 5, 2, second);
    EXPECT_EQ(folder_.list(), std::vector<std::string>{"shot.png"});
}

}  // namespace
}  // namespace lumbrix
