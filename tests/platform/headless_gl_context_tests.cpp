#include "platform/headless_gl_context.h"

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gl/gl_object.h"
#include "platform/gl/gl_program.h"

namespace lumbrix {
namespace {

using Rgba = std::array<uint8_t, 4>;

constexpr int kWidth = 64;
constexpr int kHeight = 32;

constexpr Rgba kBlue{0, 0, 255, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kRed{255, 0, 0, 255};

const char* const kVertexSource = R"(#version 330 core
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0); }
)";

const char* const kFragmentSource = R"(#version 330 core
uniform vec4 color;
out vec4 fragColor;
void main() { fragColor = color; }
)";

// An offscreen colour + depth target, as the renderer and capture use.
struct OffscreenTarget {
    GLFramebuffer framebuffer = GLFramebuffer::generate();
    GLTexture color = GLTexture::generate();
    GLRenderbuffer depth = GLRenderbuffer::generate();

    OffscreenTarget(int width, int height) {
        glBindTexture(GL_TEXTURE_2D, color.id());
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glBindRenderbuffer(GL_RENDERBUFFER, depth.id());
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color.id(), 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth.id());
    }
};

class Pixels {
public:
    static Pixels read(int width, int height) {
        Pixels pixels(width, height);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.bytes_.data());
        return pixels;
    }
    // Rows from the bottom, as GL numbers them.
    Rgba at(int x, int y) const {
        const uint8_t* p = &bytes_[(static_cast<size_t>(y) * width_ + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }

private:
    Pixels(int width, int height)
        : width_(width), bytes_(static_cast<size_t>(width) * height * 4, 0xAB) {}
    int width_;
    std::vector<uint8_t> bytes_;
};

TEST(HeadlessGLContext, CreatesCurrentOpenGL33CoreContext) {
    auto context = HeadlessGLContext::create();
    ASSERT_TRUE(context) << context.error().description;

    EXPECT_TRUE(epoxy_is_desktop_gl());
    EXPECT_GE(epoxy_gl_version(), 33) << glGetString(GL_VERSION);
    GLint profile = 0;
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Clear to blue, clear a scissored corner to green, then draw a red triangle over the
// lower-left half, near, and the same triangle in white, farther away: the depth
// attachment must keep the red. Pixel checks pin orientation, coverage and depth.
TEST(HeadlessGLContext, RendersIntoFramebufferAndReadsBackExactPixels) {
    auto context = HeadlessGLContext::create();
    ASSERT_TRUE(context) << context.error().description;

    OffscreenTarget target(kWidth, kHeight);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, kWidth, kHeight);

    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glScissor(48, 0, 16, 8);
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);

    auto program = buildProgram(kVertexSource, kFragmentSource);
    ASSERT_TRUE(program) << program.error().description;
    glUseProgram(program->id());
    GLint colorLocation = glGetUniformLocation(program->id(), "color");
    ASSERT_GE(colorLocation, 0);

    const float triangles[] = {
        -1, -1, -0.5f, 1, -1, -0.5f, -1, 1, -0.5f,  // near
        -1, -1, 0.5f,  1, -1, 0.5f,  -1, 1, 0.5f,   // far
    };
    GLVertexArray vertexArray = GLVertexArray::generate();
    GLBuffer vertices = GLBuffer::generate();
    glBindVertexArray(vertexArray.id());
    glBindBuffer(GL_ARRAY_BUFFER, vertices.id());
    glBufferData(GL_ARRAY_BUFFER, sizeof triangles, triangles, GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 3 * sizeof(float), nullptr);

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glUniform4f(colorLocation, 1.0f, 0.0f, 0.0f, 1.0f);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glUniform4f(colorLocation, 1.0f, 1.0f, 1.0f, 1.0f);
    glDrawArrays(GL_TRIANGLES, 3, 3);
    ASSERT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    Pixels pixels = Pixels::read(kWidth, kHeight);
    EXPECT_EQ(pixels.at(0, 0), kRed);
    EXPECT_EQ(pixels.at(20, 3), kRed);
    EXPECT_EQ(pixels.at(50, 2), kRed);    // inside the scissor box, but drawn over
    EXPECT_EQ(pixels.at(20, 28), kBlue);  // mirror of (20, 3): catches a flipped read
    EXPECT_EQ(pixels.at(63, 31), kBlue);
    EXPECT_EQ(pixels.at(60, 2), kGreen);
    EXPECT_EQ(pixels.at(47, 9), kBlue);   // just outside the scissor box, not covered
}

TEST(HeadlessGLContext, ReportsShaderErrorsWithDriverLog) {
    auto context = HeadlessGLContext::create();
    ASSERT_TRUE(context) << context.error().description;

    auto broken = buildProgram(kVertexSource, "#version 330 core\nvoid main() { undeclared = 1; }\n");
    ASSERT_FALSE(broken);
    EXPECT_EQ(broken.error().domain, "GLProgram");
    EXPECT_EQ(broken.error().code, 2);
    EXPECT_NE(broken.error().description.find("undeclared"), std::string::npos)
        << broken.error().description;
    EXPECT_EQ(broken.error().description.find('\n'), std::string::npos);
}

TEST(HeadlessGLContext, ContextsInSequenceCreateAndDestroyCleanly) {
    for (int round = 0; round < 3; ++round) {
        auto context = HeadlessGLContext::create();
        ASSERT_TRUE(context) << "round " << round << ": " << context.error().description;
        GLTexture texture = GLTexture::generate();
        EXPECT_NE(texture.id(), 0u);
        texture.reset();
    }
}

// Two live contexts share one EGL display; destroying the first must not take the
// second down with it.
TEST(HeadlessGLContext, OverlappingContextsSurviveEachOther) {
    auto first = HeadlessGLContext::create();
    ASSERT_TRUE(first) << first.error().description;
    auto second = HeadlessGLContext::create();
    ASSERT_TRUE(second) << second.error().description;

    { HeadlessGLContext gone = std::move(first.value()); }
    ASSERT_FALSE(second->makeCurrent());
    OffscreenTarget target(4, 4);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, 4, 4);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(Pixels::read(4, 4).at(3, 3), kRed);
}

// What LUMBRIX_EGL_DEVICE may hold, and the context or the error each value must give.
// Mesa offers its software rasterizer as an EGL device, so device 0 runs here too.
struct DeviceChoiceCase {
    const char* name;
    std::optional<std::string_view> eglDevice;
    bool works;
    bool onDevicePlatform;            // when it works
    HeadlessGLContext::Step failure;  // when it does not
    const char* messagePart;          // when it does not
};

void PrintTo(const DeviceChoiceCase& row, std::ostream* out) { *out << row.name; }

class HeadlessGLDeviceChoice : public testing::TestWithParam<DeviceChoiceCase> {};

TEST_P(HeadlessGLDeviceChoice, GivesThePlatformItNamesOrSaysWhyNot) {
    const DeviceChoiceCase& row = GetParam();
    auto context = HeadlessGLContext::create(row.eglDevice);
    if (!row.works) {
        ASSERT_FALSE(context) << "got a context on " << context->eglPlatform();
        EXPECT_EQ(context.error().domain, kHeadlessGLErrorDomain);
        EXPECT_EQ(context.error().code, static_cast<int>(row.failure)) << context.error().description;
        EXPECT_NE(context.error().description.find(row.messagePart), std::string::npos)
            << context.error().description;
        return;
    }
    if (!context && row.onDevicePlatform &&
        context.error().code == static_cast<int>(HeadlessGLContext::Step::deviceMissing)) {
        GTEST_SKIP() << "this EGL offers no device: " << context.error().description;
    }
    ASSERT_TRUE(context) << context.error().description;
    EXPECT_EQ(context->onDevicePlatform(), row.onDevicePlatform) << context->eglPlatform();
    EXPECT_GE(epoxy_gl_version(), 33) << glGetString(GL_VERSION);

    OffscreenTarget target(4, 4);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, 4, 4);
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(Pixels::read(4, 4).at(2, 1), kGreen);
}

using Step = HeadlessGLContext::Step;
INSTANTIATE_TEST_SUITE_P(
    Table, HeadlessGLDeviceChoice,
    testing::Values(
        DeviceChoiceCase{"unset", std::nullopt, true, false, {}, ""},
        DeviceChoiceCase{"first", "0", true, true, {}, ""},
        DeviceChoiceCase{"beyond", "99", false, false, Step::deviceMissing, "LUMBRIX_EGL_DEVICE=99"},
        DeviceChoiceCase{"word", "abc", false, false, Step::deviceChoice, "LUMBRIX_EGL_DEVICE=abc"},
        DeviceChoiceCase{"empty", "", false, false, Step::deviceChoice, "not a device number"},
        DeviceChoiceCase{"negative", "-1", false, false, Step::deviceChoice, "not a device number"},
        DeviceChoiceCase{"trailing", "0x", false, false, Step::deviceChoice, "not a device number"}),
    [](const testing::TestParamInfo<DeviceChoiceCase>& info) { return std::string(info.param.name); });

// The plain create() must read the variable, not only the overload that takes it.
TEST(HeadlessGLContext, CreateReadsTheDeviceVariable) {
    ASSERT_EQ(setenv("LUMBRIX_EGL_DEVICE", "abc", 1), 0);
    auto context = HeadlessGLContext::create();
    unsetenv("LUMBRIX_EGL_DEVICE");
    ASSERT_FALSE(context);
    EXPECT_EQ(context.error().code, static_cast<int>(HeadlessGLContext::Step::deviceChoice));
}

}  // namespace
}  // namespace lumbrix
