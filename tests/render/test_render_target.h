#pragma once
// Shared pieces of the renderer tests: a headless context, a framebuffer standing in
// for the window, pixel read-back, and a square facing the default camera.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "model/mesh.h"
#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "render/field_of_view.h"
#include "render/orbit_camera.h"
#include "sources/texture_source.h"

namespace lumbrix::test {

using Rgba = std::array<uint8_t, 4>;

inline bool near(const Rgba& a, const Rgba& b, int tolerance) {
    for (size_t i = 0; i < 3; ++i) {
        if (std::abs(int(a[i]) - int(b[i])) > tolerance) return false;
    }
    return true;
}

inline std::string describe(const Rgba& c) {
    return "(" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ", " + std::to_string(c[2]) + ", " +
           std::to_string(c[3]) + ")";
}

// Colour of a [0, 1] float channel after an 8-bit render target stores it.
inline uint8_t unorm8(float value) { return static_cast<uint8_t>(std::lround(value * 255.0f)); }

// A framebuffer like the one a window toolkit hands the renderer.
struct WindowTarget {
    GLFramebuffer framebuffer = GLFramebuffer::generate();
    GLRenderbuffer color = GLRenderbuffer::generate();
    GLRenderbuffer depthStencil;
    int widthPx;
    int heightPx;

    WindowTarget(int width, int height, GLenum colorFormat = GL_RGBA8, bool withDepthStencil = false)
        : widthPx(width), heightPx(height) {
        glBindRenderbuffer(GL_RENDERBUFFER, color.id());
        glRenderbufferStorage(GL_RENDERBUFFER, colorFormat, width, height);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.id());
        if (withDepthStencil) {
            depthStencil = GLRenderbuffer::generate();
            glBindRenderbuffer(GL_RENDERBUFFER, depthStencil.id());
            glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                      depthStencil.id());
        }
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    GLuint id() const { return framebuffer.id(); }
};

// Pixels of a framebuffer's first colour attachment, addressed from the top row down
// as a viewer sees them.
class Pixels {
public:
    static Pixels read(GLuint framebuffer, int width, int height) {
        Pixels pixels(width, height);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.bytes_.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        return pixels;
    }
    // The contents of a texture, through a temporary framebuffer.
    static Pixels readTexture(GLuint texture, int width, int height) {
        GLFramebuffer framebuffer = GLFramebuffer::generate();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return read(framebuffer.id(), width, height);
    }

    Rgba at(int x, int yFromTop) const {
        const int row = height_ - 1 - yFromTop;
        const uint8_t* p = &bytes_[(static_cast<size_t>(row) * width_ + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    Pixels(int width, int height)
        : width_(width), height_(height), bytes_(static_cast<size_t>(width) * height * 4, 0xAB) {}
    int width_;
    int height_;
    std::vector<uint8_t> bytes_;
};

// A picture source over a texture the test made; counts how often it is asked.
class FakeTextureSource : public TextureSource {
public:
    // `rowsTopFirst`: RGBA bytes, the picture's top row first, as real sources upload.
    FakeTextureSource(int width, int height, const std::vector<uint8_t>& rowsTopFirst)
        : texture_(GLTexture::generate()) {
        glBindTexture(GL_TEXTURE_2D, texture_.id());
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rowsTopFirst.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    static std::shared_ptr<FakeTextureSource> solid(Rgba color) {
        return std::make_shared<FakeTextureSource>(1, 1, std::vector<uint8_t>(color.begin(), color.end()));
    }

    void stop() override {}
    void setPlaying(bool) override {}
    void setLooping(bool) override {}
    unsigned int texture() override {
        ++textureCalls;
        return available ? texture_.id() : 0;
    }
    std::optional<double> durationSeconds() const override { return std::nullopt; }
    std::optional<double> currentSeconds() const override { return std::nullopt; }
    bool isSeekable() const override { return false; }
    void seek(double) override {}

    bool available = true;
    int textureCalls = 0;

private:
    GLTexture texture_;
};

inline Vertex vertex(float x, float y, float z, float u, float v) {
    Vertex result;
    result.position = {x, y, z};
    result.uv = {u, v};
    result.normal = {-1.0f, 0.0f, 0.0f};
    return result;
}

// A square in the plane x = 0 of half size `half`, counter-clockwise as seen from the
// default camera (eye on -X looking along +X: +Z is screen right, +Y is up), mapped as
// a file would map it (u to the right, v upwards) and stored as the loaders store it:
// (u, 1 - v), so the stored v is 0 along the top edge.
inline std::shared_ptr<const Mesh> facingSquare(float half = 0.5f) {
    auto mesh = std::make_shared<Mesh>();
    mesh->vertices = {vertex(0, -half, -half, 0, 1), vertex(0, -half, half, 1, 1),
                      vertex(0, half, half, 1, 0), vertex(0, half, -half, 0, 0)};
    mesh->indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

// A camera at distance 2.5 whose view spans exactly [-1, 1] vertically at the origin's
// depth: on a square target, a square of half size 0.5 covers the central half.
inline std::shared_ptr<OrbitCamera> unitViewCamera() {
    auto camera = std::make_shared<OrbitCamera>();
    camera->fovDegrees = 2.0f * std::atan(1.0f / camera->distance) * 180.0f / kAnglePi;
    return camera;
}

// Makes a fresh OpenGL context current for every test of the suite.
class GLTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = HeadlessGLContext::create();
        ASSERT_TRUE(created) << created.error().description;
        context_.emplace(std::move(created.value()));
    }
    void TearDown() override { context_.reset(); }

private:
    std::optional<HeadlessGLContext> context_;
};

}  // namespace lumbrix::test
