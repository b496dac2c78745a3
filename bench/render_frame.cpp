// Frame time of Renderer::draw against a bare draw of the same geometry, at 1280×720 on
// whatever GL the headless context finds (llvmpipe on the build machines).
//
// The bare reference is the least any viewer has to do: one program, one texture, one
// glDrawElements of the same vertex and index data into a target of the same size. The
// renderer adds the floor grid, the offscreen target and the copy to the window. Both
// end every frame with glFinish, so the figures are whole frames, not queued commands.
//
// Frame rates are medians of single frames, renderer and reference alternating. The
// renderer is also timed with the floor grid off, which shows the grid's share apart
// from the offscreen pass and the copy. Toggling the grid must not upload anything, so
// the uploads per frame cover both kinds of renderer frame.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/mesh.h"
#include "platform/gl/gl_object.h"
#include "platform/gl/gl_program.h"
#include "platform/headless_gl_context.h"
#include "render/camera_matrices.h"
#include "render/field_of_view.h"
#include "render/renderer.h"

namespace {

using namespace lumbrix;

constexpr int kWidthPx = 1280;
constexpr int kHeightPx = 720;
constexpr int kPictureSizePx = 1024;

// A rippled sheet facing the default camera, `triangles` triangles (rounded to whole
// quads), filling most of the view so that both vertex and fragment work count.
std::shared_ptr<const Mesh> rippledSheet(int64_t triangles) {
    const int quadsPerSide = static_cast<int>(std::ceil(std::sqrt(triangles / 2.0)));
    const int side = quadsPerSide + 1;
    auto mesh = std::make_shared<Mesh>();
    mesh->vertices.reserve(static_cast<size_t>(side) * side);
    for (int row = 0; row < side; ++row) {
        for (int col = 0; col < side; ++col) {
            float u = static_cast<float>(col) / quadsPerSide;
            float v = static_cast<float>(row) / quadsPerSide;
            Vertex vertex;
            vertex.position = {0.05f * std::sin(u * 40.0f) * std::cos(v * 30.0f), v * 1.6f - 0.8f, u * 2.8f - 1.4f};
            vertex.uv = {u, v};
            vertex.normal = {-1.0f, 0.0f, 0.0f};
            mesh->vertices.push_back(vertex);
        }
    }
    mesh->indices.reserve(static_cast<size_t>(quadsPerSide) * quadsPerSide * 6);
    for (int row = 0; row < quadsPerSide; ++row) {
        for (int col = 0; col < quadsPerSide; ++col) {
            auto at = [side](int r, int c) { return static_cast<uint32_t>(r * side + c); };
            mesh->indices.insert(mesh->indices.end(), {at(row, col), at(row, col + 1), at(row + 1, col + 1),
                                                       at(row, col), at(row + 1, col + 1), at(row + 1, col)});
        }
    }
    return mesh;
}

GLTexture makePicture() {
    std::vector<uint8_t> pixels(static_cast<size_t>(kPictureSizePx) * kPictureSizePx * 4);
    for (int y = 0; y < kPictureSizePx; ++y) {
        for (int x = 0; x < kPictureSizePx; ++x) {
            uint8_t* p = &pixels[(static_cast<size_t>(y) * kPictureSizePx + x) * 4];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>((x ^ y) & 0xFF);
            p[3] = 255;
        }
    }
    GLTexture texture = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kPictureSizePx, kPictureSizePx, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

class StillPicture : public TextureSource {
public:
    explicit StillPicture(GLuint texture) : texture_(texture) {}
    void stop() override {}
    void setPlaying(bool) override {}
    void setLooping(bool) override {}
    unsigned int texture() override { return texture_; }
    std::optional<double> durationSeconds() const override { return std::nullopt; }
    std::optional<double> currentSeconds() const override { return std::nullopt; }
    bool isSeekable() const override { return false; }
    void seek(double) override {}

private:
    GLuint texture_;
};

// A colour + depth framebuffer standing in for the window.
struct Target {
    GLFramebuffer framebuffer = GLFramebuffer::generate();
    GLRenderbuffer color = GLRenderbuffer::generate();
    GLRenderbuffer depth = GLRenderbuffer::generate();

    Target() {
        glBindRenderbuffer(GL_RENDERBUFFER, color.id());
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidthPx, kHeightPx);
        glBindRenderbuffer(GL_RENDERBUFFER, depth.id());
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32F, kWidthPx, kHeightPx);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.id());
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth.id());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
};

const char* const kBareVertex = R"(#version 330 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec2 uv;
uniform mat4 mvp;
out vec2 vUV;
void main() {
    vec4 clip = mvp * vec4(position, 1.0);
    clip.z = clip.z * 2.0 - clip.w;
    gl_Position = clip;
    vUV = uv;
}
)";

const char* const kBareFragment = R"(#version 330 core
uniform sampler2D picture;
in vec2 vUV;
out vec4 fragColor;
void main() { fragColor = vec4(texture(picture, vUV).rgb, 1.0); }
)";

// Shared across cases: one context for the whole run, one mesh per size.
struct Stage {
    HeadlessGLContext context;
    GLTexture picture;
    Target target;
    std::map<int64_t, std::shared_ptr<const Mesh>> meshes;

    explicit Stage(HeadlessGLContext ctx) : context(std::move(ctx)), picture(makePicture()) {}

    const std::shared_ptr<const Mesh>& mesh(int64_t triangles) {
        auto& slot = meshes[triangles];
        if (!slot) slot = rippledSheet(triangles);
        return slot;
    }
};

Stage* g_stage = nullptr;

// The bare reference: the same vertex and index data in its own buffers, drawn with
// one program from the renderer's default viewpoint.
class BareDraw {
public:
    BareDraw(const Mesh& mesh, GLuint picture, GLuint framebuffer)
        : picture_(picture), framebuffer_(framebuffer), indexCount_(static_cast<GLsizei>(mesh.indices.size())) {
        auto program = buildProgram(kBareVertex, kBareFragment);
        if (!program) {
            error = program.error().description;
            return;
        }
        program_ = std::move(program.value());
        glBindVertexArray(vao_.id());
        glBindBuffer(GL_ARRAY_BUFFER, vbuf_.id());
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.vertices.size() * sizeof(Vertex)),
                     mesh.vertices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibuf_.id());
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.indices.size() * sizeof(uint32_t)),
                     mesh.indices.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), nullptr);
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<const void*>(16));
        glBindVertexArray(0);

        OrbitCamera camera;
        ClipPlanes planes = clipPlanesFor(1.0f, camera.distance);
        Float4x4 mvp = perspectiveMatrix(radiansFromDegrees(camera.fovDegrees),
                                         static_cast<float>(kWidthPx) / kHeightPx, planes.nearZ, planes.farZ) *
                       lookAtMatrix(camera.eyePosition(), camera.target, {0, 1, 0});
        glUseProgram(program_.id());
        glUniformMatrix4fv(glGetUniformLocation(program_.id(), "mvp"), 1, GL_FALSE, &mvp.columns[0].x);
        glUniform1i(glGetUniformLocation(program_.id(), "picture"), 0);
        glUseProgram(0);
    }

    void frame() const {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glViewport(0, 0, kWidthPx, kHeightPx);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LESS);
        glDepthMask(GL_TRUE);
        glClearColor(0.1f, 0.1f, 0.1f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glUseProgram(program_.id());
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, picture_);
        glBindVertexArray(vao_.id());
        glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_INT, nullptr);
        glBindVertexArray(0);
        glUseProgram(0);
    }

    std::string error;

private:
    GLProgram program_;
    GLVertexArray vao_ = GLVertexArray::generate();
    GLBuffer vbuf_ = GLBuffer::generate();
    GLBuffer ibuf_ = GLBuffer::generate();
    GLuint picture_;
    GLuint framebuffer_;
    GLsizei indexCount_;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Figures {
    double rendererFps = 0.0;
    double withoutGridFps = 0.0;  // the renderer with the floor grid switched off
    double bareFps = 0.0;
    double uploadsPerFrame = 0.0;
};

std::map<int64_t, Figures> g_figures;

// Each iteration draws one renderer frame and one bare frame, timed separately; the
// medians compare. Alternating frame by frame keeps other load on the machine (builds,
// tests) from landing on one side only.
void framePair(benchmark::State& state) {
    const int64_t triangles = state.range(0);
    const std::shared_ptr<const Mesh>& mesh = g_stage->mesh(triangles);
    const GLuint window = g_stage->target.framebuffer.id();

    auto created = Renderer::create();
    if (!created) {
        state.SkipWithError(created.error().description.c_str());
        return;
    }
    Renderer& renderer = *created.value();
    renderer.textureSource = std::make_shared<StillPicture>(g_stage->picture.id());
    renderer.setMesh(mesh);
    renderer.drawableSizeWillChange(kWidthPx, kHeightPx);
    BareDraw bare(*mesh, g_stage->picture.id(), window);
    if (!bare.error.empty()) {
        state.SkipWithError(bare.error.c_str());
        return;
    }
    // Warm-up: targets, programs, the first uniform upload, shader variants.
    renderer.draw(window, kWidthPx, kHeightPx);
    bare.frame();
    glFinish();

    using Clock = std::chrono::steady_clock;
    std::vector<double> ours;
    std::vector<double> withoutGrid;
    std::vector<double> reference;
    const uint64_t uploadsBefore = renderer.uploadCount();
    for (auto _ : state) {
        auto t0 = Clock::now();
        renderer.draw(window, kWidthPx, kHeightPx);
        glFinish();
        auto t1 = Clock::now();
        bare.frame();
        glFinish();
        auto t2 = Clock::now();
        renderer.showFloorGrid = false;
        renderer.draw(window, kWidthPx, kHeightPx);
        glFinish();
        auto t3 = Clock::now();
        renderer.showFloorGrid = true;
        ours.push_back(std::chrono::duration<double>(t1 - t0).count());
        reference.push_back(std::chrono::duration<double>(t2 - t1).count());
        withoutGrid.push_back(std::chrono::duration<double>(t3 - t2).count());
    }
    Figures& figures = g_figures[triangles];
    figures.rendererFps = 1.0 / median(ours);
    figures.withoutGridFps = 1.0 / median(withoutGrid);
    figures.bareFps = 1.0 / median(reference);
    figures.uploadsPerFrame = static_cast<double>(renderer.uploadCount() - uploadsBefore) /
                              static_cast<double>(ours.size() + withoutGrid.size());
    state.counters["renderer_fps"] = figures.rendererFps;
    state.counters["bare_fps"] = figures.bareFps;
    state.counters["ratio"] = figures.rendererFps / figures.bareFps;
    state.counters["uploads_per_frame"] = figures.uploadsPerFrame;
    state.counters["triangles"] = static_cast<double>(mesh->triangleCount());
}

}  // namespace

int main(int argc, char** argv) {
    auto context = HeadlessGLContext::create();
    if (!context) {
        std::fprintf(stderr, "No OpenGL context: %s\n", context.error().description.c_str());
        return 1;
    }
    Stage stage(std::move(context.value()));
    g_stage = &stage;
    std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

    // Frames per iteration pair, sized to keep the whole run near a minute on llvmpipe.
    const std::vector<std::pair<int64_t, int64_t>> cases = {{100000, 40}, {1000000, 10}};
    for (const auto& [triangles, iterations] : cases) {
        benchmark::RegisterBenchmark("frame_pair", framePair)
            ->Arg(triangles)->Iterations(iterations)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-10s %10s %13s %7s %15s %7s %14s\n", "triangles", "bare fps", "renderer fps", "ratio",
                "no-grid fps", "ratio", "uploads/frame");
    for (const auto& [triangles, figures] : g_figures) {
        std::printf("%-10lld %10.2f %13.2f %7.3f %15.2f %7.3f %14.2f\n", static_cast<long long>(triangles),
                    figures.bareFps, figures.rendererFps, figures.rendererFps / figures.bareFps,
                    figures.withoutGridFps, figures.withoutGridFps / figures.bareFps, figures.uploadsPerFrame);
    }
    g_stage = nullptr;
    return 0;
}
