#include "render/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/gl/gl_program.h"
#include "render/camera_matrices.h"
#include "render/field_of_view.h"
#include "render/floor_grid.h"
#include "render/renderer_draw_state.h"
#include "render/renderer_shaders.h"

namespace lumbrix {

using namespace renderer_detail;

ClipPlanes clipPlanesFor(float sceneRadius, float cameraDistance) {
    float farZ = std::max(std::max(sceneRadius * 50.0f, 500.0f), cameraDistance * 20.0f);
    float nearZ = std::clamp(farZ / 1000000.0f, 0.0001f, 0.05f);
    return {nearZ, farZ};
}

ModelUniforms modelUniformsFor(const Float4x4& mvp, bool showUVGrid, FaceMode faceMode,
                               InactiveSideMode inactiveSideMode) {
    ModelUniforms uniforms;
    uniforms.mvp = mvp;
    uniforms.mode = static_cast<int32_t>(showUVGrid ? DrawMode::texturedWithUVGrid : DrawMode::textured);
    uniforms.faceMode = static_cast<int32_t>(faceMode);
    uniforms.hideInactive = inactiveSideMode == InactiveSideMode::hide ? 1 : 0;
    return uniforms;
}

Expected<std::unique_ptr<Renderer>, Error> Renderer::create(std::shared_ptr<MainQueue> mainQueue) {
    std::unique_ptr<Renderer> renderer(new Renderer());
    renderer->capture_ = RenderCapture::create(std::move(mainQueue));
    if (auto error = renderer->initialize()) {
        return unexpected(std::move(*error));
    }
    return renderer;
}

std::optional<Error> Renderer::startRecording(const std::string& path, double fps, bool includeSourceAudio,
                                              bool includeMicrophone) {
    const bool haveFrame = static_cast<bool>(captureTexture_);
    return capture_->startRecording(path, haveFrame ? targetWidthPx_ : 1280, haveFrame ? targetHeightPx_ : 720,
                                    static_cast<int>(fps), capture_->recordingSettings().videoBitRate,
                                    includeSourceAudio, includeMicrophone);
}

Renderer::~Renderer() {
    // The capture must not keep a texture name that dies with us.
    capture_->reset();
}

std::optional<Error> Renderer::initialize() {
    // The variants every scene draws are built now, so that a broken installation shows
    // at start-up; the face and grid variants follow when first asked for.
    for (DrawMode mode : {DrawMode::textured, DrawMode::venueSurface, DrawMode::venueWireframe}) {
        Error error;
        if (uv3dProgramFor({Float4x4::identity(), static_cast<int32_t>(mode), 0, 0, 0}, &error) == 0) {
            return error;
        }
    }
    auto grid = buildNamedProgram("grid", shaders::kGridVertex, shaders::kGridFragment);
    if (!grid) return grid.error();
    gridProgram_ = std::move(grid.value());
    bindBlock(gridProgram_.id(), "GridUniforms", kGridUniformsBinding);
    // The present program is made per target format on the first frames; compiling it
    // once here makes a broken driver show at start-up like the others.
    if (auto present = buildNamedProgram("present", shaders::kPresentVertex, shaders::kPresentFragment); !present) {
        return present.error();
    }

    GLint alignment = 256;
    glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &alignment);
    const size_t align = static_cast<size_t>(std::max(alignment, 1));
    uniformSlotStride_ = (sizeof(ModelUniforms) + align - 1) / align * align;
    uniformBuffer_ = GLBuffer::generate();
    resizeUniformSlots(uniformSlotCount);

    sourceSampler_ = GLSampler::generate();
    glSamplerParameteri(sourceSampler_.id(), GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(sourceSampler_.id(), GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Clamped so that a picture's left edge never bleeds into its right edge (and top
    // into bottom) where UVs reach exactly 0 and 1.
    glSamplerParameteri(sourceSampler_.id(), GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(sourceSampler_.id(), GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);

    neutralTexture_ = GLTexture::generate();
    const unsigned char neutral[4] = {200, 200, 200, 255};
    glBindTexture(GL_TEXTURE_2D, neutralTexture_.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, neutral);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);

    emptyVao_ = GLVertexArray::generate();
    gridVao_ = GLVertexArray::generate();
    gridVbuf_ = GLBuffer::generate();
    glBindVertexArray(gridVao_.id());
    glBindBuffer(GL_ARRAY_BUFFER, gridVbuf_.id());
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(GridVertex), nullptr);
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    rebuildFloorGrid();
    return std::nullopt;
}

GLuint Renderer::uv3dProgramFor(const ModelUniforms& uniforms, Error* error) {
    const int mode = std::clamp<int>(uniforms.mode, 0, 3);
    const int face = std::clamp<int>(uniforms.faceMode, 0, 2);
    const int hide = uniforms.hideInactive != 0 ? 1 : 0;
    GLProgram& program = uv3dPrograms_[static_cast<size_t>((mode * 3 + face) * 2 + hide)];
    if (program) {
        return program.id();
    }
    const std::string fragment = shaders::uv3dFragment(mode, face, hide);
    auto built = buildNamedProgram("uv3d", shaders::kUv3dVertex, fragment.c_str());
    if (!built) {
        if (error != nullptr) *error = built.error();
        return 0;
    }
    program = std::move(built.value());
    bindBlock(program.id(), "ModelUniforms", kModelUniformsBinding);
    bindBlock(program.id(), "GridParams", kGridParamsBinding);
    bindBlock(program.id(), "SampleWindow", kSampleWindowBinding);
    bindSamplerUnit(program.id(), "sourceTexture", 0);
    glUseProgram(0);
    return program.id();
}

void Renderer::uploadMesh(const Mesh& mesh, GLVertexArray& vao, GLBuffer& vbuf, GLBuffer& ibuf) {
    vao = GLVertexArray::generate();
    vbuf = GLBuffer::generate();
    ibuf = GLBuffer::generate();
    glBindVertexArray(vao.id());
    glBindBuffer(GL_ARRAY_BUFFER, vbuf.id());
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.vertices.size() * sizeof(Vertex)),
                 mesh.vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibuf.id());
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.indices.size() * sizeof(uint32_t)),
                 mesh.indices.data(), GL_STATIC_DRAW);
    setMeshAttributes();
    glBindVertexArray(0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    uploadCount_ += 2;
}

void Renderer::rebuildFloorGrid() {
    std::vector<GridVertex> vertices = floorGridVertices(sceneRadius_);
    glBindBuffer(GL_ARRAY_BUFFER, gridVbuf_.id());
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(GridVertex)),
                 vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    gridVertexCount_ = static_cast<int>(vertices.size());
    ++uploadCount_;
}

void Renderer::setMesh(std::shared_ptr<const Mesh> mesh) {
    if (mesh == mesh_) {
        return;
    }
    mesh_ = std::move(mesh);
    if (!mesh_) {
        meshVao_.reset();
        vbuf_.reset();
        ibuf_.reset();
        indexCount_ = 0;
        sceneRadius_ = 1.0f;
        return;
    }

    uploadMesh(*mesh_, meshVao_, vbuf_, ibuf_);
    indexCount_ = static_cast<int>(mesh_->indices.size());

    constexpr float kFloatMax = std::numeric_limits<float>::max();
    float lo[3] = {kFloatMax, kFloatMax, kFloatMax};
    float hi[3] = {-kFloatMax, -kFloatMax, -kFloatMax};
    for (const Vertex& vertex : mesh_->vertices) {
        for (int axis = 0; axis < 3; ++axis) {
            float value = vertex.position[axis];
            if (std::isnan(value)) {
                continue;
            }
            lo[axis] = std::min(lo[axis], value);
            hi[axis] = std::max(hi[axis], value);
        }
    }
    fitMin_ = {lo[0], lo[1], lo[2]};
    fitMax_ = {hi[0], hi[1], hi[2]};
    float extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    // Written so that an empty mesh (extent -inf) lands on the minimum too.
    sceneRadius_ = extent * 0.5f > 0.001f ? extent * 0.5f : 0.001f;
    rebuildFloorGrid();
}

void Renderer::drawableSizeWillChange(int widthPx, int heightPx) {
    if (widthPx > 0 && heightPx > 0) {
        currentAspectRatio_ = static_cast<float>(widthPx) / static_cast<float>(heightPx);
    }
}

bool Renderer::ensureOffscreenTargets(int widthPx, int heightPx) {
    const int w = std::max(widthPx, 1);
    const int h = std::max(heightPx, 1);
    if (captureTexture_ && captureDepthTexture_ && w == targetWidthPx_ && h == targetHeightPx_) {
        return true;
    }
    // The capture may still hold the texture that is about to go.
    capture_->reset();
    captureTexture_ = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, captureTexture_.id());
    glTexImage2D(GL_TEXTURE_2D, 0, kColorFormat, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    // Same size as the target: nearest keeps the copy to the screen exact.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    captureDepthTexture_ = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, captureDepthTexture_.id());
    glTexImage2D(GL_TEXTURE_2D, 0, kDepthFormat, w, h, 0, GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);

    offscreenFramebuffer_ = GLFramebuffer::generate();
    glBindFramebuffer(GL_FRAMEBUFFER, offscreenFramebuffer_.id());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, captureTexture_.id(), 0);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, captureDepthTexture_.id(), 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete) {
        captureTexture_.reset();
        captureDepthTexture_.reset();
        offscreenFramebuffer_.reset();
        targetWidthPx_ = targetHeightPx_ = 0;
        return false;
    }
    targetWidthPx_ = w;
    targetHeightPx_ = h;
    return true;
}

void Renderer::resizeUniformSlots(size_t slotCount) {
    const size_t size = uniformSlotStride_ * slotCount;
    if (size == uniformBytes_.size()) {
        return;
    }
    uniformBytes_.assign(size, 0);
    uploadedUniformBytes_.clear();  // the new storage holds nothing yet
    glBindBuffer(GL_UNIFORM_BUFFER, uniformBuffer_.id());
    glBufferData(GL_UNIFORM_BUFFER, static_cast<GLsizeiptr>(size), nullptr, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_UNIFORM_BUFFER, 0);
}

void Renderer::writeUniformSlot(int slot, const void* bytes, size_t size) {
    std::memcpy(uniformBytes_.data() + static_cast<size_t>(slot) * uniformSlotStride_, bytes, size);
}

void Renderer::flushUniforms() {
    if (uniformBytes_ == uploadedUniformBytes_) {
        return;
    }
    glBindBuffer(GL_UNIFORM_BUFFER, uniformBuffer_.id());
    glBufferSubData(GL_UNIFORM_BUFFER, 0, static_cast<GLsizeiptr>(uniformBytes_.size()), uniformBytes_.data());
    glBindBuffer(GL_UNIFORM_BUFFER, 0);
    uploadedUniformBytes_ = uniformBytes_;
    ++uploadCount_;
}

void Renderer::bindUniformSlot(unsigned int binding, int slot, size_t size) {
    glBindBufferRange(GL_UNIFORM_BUFFER, binding, uniformBuffer_.id(),
                      static_cast<GLintptr>(static_cast<size_t>(slot) * uniformSlotStride_),
                      static_cast<GLsizeiptr>(size));
}

void Renderer::draw(GLuint targetFramebuffer, int widthPx, int heightPx) {
    // Held for the frame so the view model cannot drop the camera halfway through.
    std::shared_ptr<OrbitCamera> sharedCamera = cameraRef.lock();
    OrbitCamera& camera = sharedCamera ? *sharedCamera : fallbackCamera_;
    if (!ensureOffscreenTargets(widthPx, heightPx)) {
        return;
    }
    GLuint sourceTexture = textureSource ? textureSource->texture() : 0;

    glBindFramebuffer(GL_FRAMEBUFFER, offscreenFramebuffer_.id());
    glViewport(0, 0, targetWidthPx_, targetHeightPx_);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);  // the grid leaves writes off; a clear obeys the mask
    glClearColor(clearColor.x, clearColor.y, clearColor.z, clearColor.w);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    const float aspect = static_cast<float>(widthPx) / static_cast<float>(heightPx > 1 ? heightPx : 1);
    if (pendingFit && widthPx > 1 && heightPx > 1) {
        camera.fitToBounds(fitMin_, fitMax_);
        pendingFit = false;
    }
    lastClipPlanes_ = clipPlanesFor(sceneRadius_, camera.distance);
    Float4x4 projection = perspectiveMatrix(camera.fovDegrees * kAnglePi / 180.0f, aspect,
                                            lastClipPlanes_.nearZ, lastClipPlanes_.farZ);
    Float4x4 view = lookAtMatrix(camera.eyePosition(), camera.target, {0.0f, 1.0f, 0.0f});
    Float4x4 mvp = projection * view;

    ModelUniforms venueSurface{mvp, static_cast<int32_t>(DrawMode::venueSurface), 0, 0, 0};
    ModelUniforms venueWireframe{mvp, static_cast<int32_t>(DrawMode::venueWireframe), 0, 0, 0};
    ModelUniforms model = modelUniformsFor(mvp, showUVGrid, faceMode, inactiveSideMode);
    GridParams venueGrid{1.0f, 0.0f, 0.0f, 0.0f};
    GridParams modelGrid{uvGridDensity, 0.04f, 0.6f, 0.0f};
    writeUniformSlot(gridSlot, &mvp, sizeof(mvp));
    writeUniformSlot(venueSurfaceSlot, &venueSurface, sizeof(venueSurface));
    writeUniformSlot(venueWireframeSlot, &venueWireframe, sizeof(venueWireframe));
    writeUniformSlot(modelSlot, &model, sizeof(model));
    writeUniformSlot(venueGridParamsSlot, &venueGrid, sizeof(venueGrid));
    writeUniformSlot(modelGridParamsSlot, &modelGrid, sizeof(modelGrid));
    const SampleWindow wholePicture;
    writeUniformSlot(modelWindowSlot, &wholePicture, sizeof(wholePicture));
    writeContentWindows(sourceTexture);
    flushUniforms();

    drawFloorGrid();
    drawVenues(venueSurface, venueWireframe);
    drawContentVenues(model);
    drawModel(model, sourceTexture);

    glBindVertexArray(0);
    glUseProgram(0);
    glDepthMask(GL_TRUE);
    present(targetFramebuffer, widthPx, heightPx);

    capture_->capture({captureTexture_.id(), targetWidthPx_, targetHeightPx_, kColorFormat});
}

void Renderer::drawFloorGrid() {
    if (!showFloorGrid || !gridVbuf_ || gridVertexCount_ <= 0) {
        return;
    }
    glUseProgram(gridProgram_.id());
    apply(kGridDepth);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    // Alpha accumulates as coverage, so an opaque background stays opaque under the
    // lines: the capture texture, the screenshots and the copy to the window all see
    // alpha one, as on screen.
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    bindUniformSlot(kGridUniformsBinding, gridSlot, sizeof(Float4x4));
    glBindVertexArray(gridVao_.id());
    glDrawArrays(GL_LINES, 0, gridVertexCount_);
    glDisable(GL_BLEND);
}

void Renderer::drawModel(const ModelUniforms& uniforms, GLuint sourceTexture) {
    if (!vbuf_ || !ibuf_ || indexCount_ <= 0) {
        return;
    }
    const GLuint program = uv3dProgramFor(uniforms);
    if (program == 0) {
        return;  // the same sources built at start-up; only a lost context gets here
    }
    glUseProgram(program);
    apply(kSolidDepth);
    glBindVertexArray(meshVao_.id());
    bindUniformSlot(kModelUniformsBinding, modelSlot, sizeof(ModelUniforms));
    bindUniformSlot(kGridParamsBinding, modelGridParamsSlot, sizeof(GridParams));
    bindUniformSlot(kSampleWindowBinding, modelWindowSlot, sizeof(SampleWindow));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, sourceTexture != 0 ? sourceTexture : neutralTexture_.id());
    glBindSampler(0, sourceSampler_.id());
    glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_INT, nullptr);
    // Unbound so the present pass (and whoever shares the context) samples with the
    // texture's own parameters again.
    glBindSampler(0, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

bool Renderer::ensurePresentProgram(GLuint targetFramebuffer) {
    glBindFramebuffer(GL_FRAMEBUFFER, targetFramebuffer);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        return false;
    }
    const bool isDefault = targetFramebuffer == 0;
    auto attachmentValue = [](GLenum attachment, GLenum name) {
        GLint type = GL_NONE;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
        if (type == GL_NONE) {
            return 0;
        }
        GLint value = 0;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, attachment, name, &value);
        return static_cast<int>(value);
    };
    const GLenum color = isDefault ? GL_BACK_LEFT : GL_COLOR_ATTACHMENT0;
    TargetFormat format;
    format.redBits = attachmentValue(color, GL_FRAMEBUFFER_ATTACHMENT_RED_SIZE);
    if (format.redBits == 0) {
        return false;  // nothing to present into
    }
    format.colorEncoding = attachmentValue(color, GL_FRAMEBUFFER_ATTACHMENT_COLOR_ENCODING);
    format.alphaBits = attachmentValue(color, GL_FRAMEBUFFER_ATTACHMENT_ALPHA_SIZE);
    format.depthBits = attachmentValue(isDefault ? GL_DEPTH : GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE);
    format.stencilBits =
        attachmentValue(isDefault ? GL_STENCIL : GL_STENCIL_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE);
    GLint samples = 0;
    glGetIntegerv(GL_SAMPLES, &samples);
    format.samples = samples;

    if (presentProgram_ && presentFormat_ == format) {
        return true;
    }
    auto program = buildNamedProgram("present", shaders::kPresentVertex, shaders::kPresentFragment);
    if (!program) {
        // Same sources as at start-up, which compiled: only a lost context gets here.
        presentProgram_.reset();
        presentFormat_.reset();
        return false;
    }
    presentProgram_ = std::move(program.value());
    bindSamplerUnit(presentProgram_.id(), "frame", 0);
    presentFormat_ = format;
    ++presentProgramBuildCount_;
    return true;
}

void Renderer::present(GLuint targetFramebuffer, int widthPx, int heightPx) {
    if (!ensurePresentProgram(targetFramebuffer)) {
        return;
    }
    // A same-size, single-sample window gets a framebuffer blit: the same pixels as the
    // two-triangle pass (the offscreen frame is opaque when the clear colour is), at
    // memory-copy cost instead of a shaded full-screen pass, which on a software
    // rasteriser is a tenth of the frame.
    const bool opaqueFrame = clearColor.w >= 1.0f;
    if (opaqueFrame && presentFormat_->samples == 0 && widthPx == targetWidthPx_ && heightPx == targetHeightPx_) {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, offscreenFramebuffer_.id());
        glBlitFramebuffer(0, 0, targetWidthPx_, targetHeightPx_, 0, 0, widthPx, heightPx, GL_COLOR_BUFFER_BIT,
                          GL_NEAREST);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, targetFramebuffer);
        ++blitPresentCount_;
        return;
    }
    glViewport(0, 0, std::max(widthPx, 1), std::max(heightPx, 1));
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glUseProgram(presentProgram_.id());
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, captureTexture_.id());
    glBindVertexArray(emptyVao_.id());
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glUseProgram(0);
}

}  // namespace lumbrix
