#include "capture/yuv_readback.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

#include "platform/gl/gl_program.h"

namespace lumbrix {

namespace {

const char* const kVertex = R"(#version 330 core
void main() {
    const vec2 corners[3] = vec2[3](vec2(-1.0, -1.0), vec2(3.0, -1.0), vec2(-1.0, 3.0));
    gl_Position = vec4(corners[gl_VertexID], 0.0, 1.0);
}
)";

// One plane per pass, one output byte per fragment, with no integer arithmetic: each
// fragment maps straight onto the texels it needs (a software rasteriser pays dearly for
// per-fragment division). Rows come out top first, as the movie stores them: target row r
// is picture row r, which the capture texture (bottom-up) keeps at row height - 1 - r.
// BT.709 in video range, as players assume for HD pictures.
const char* const kFragment = R"(#version 330 core
uniform sampler2D frame;
uniform vec2 sourceSize;   // the capture texture's, in texels
uniform int plane;         // 0 Y, 1 U, 2 V
out float value;

void main() {
    if (plane == 0) {
        // Picture pixel (x, r) at the texel's centre.
        vec2 texel = vec2(gl_FragCoord.x, sourceSize.y - gl_FragCoord.y);
        if (texel.x > sourceSize.x || texel.y < 0.0) { value = 16.0 / 255.0; return; }
        vec3 c = texture(frame, texel / sourceSize).rgb;
        value = (16.0 + 219.0 * dot(c, vec3(0.2126, 0.7152, 0.0722))) / 255.0;
        return;
    }
    // The middle of the 2 x 2 block: one bilinear fetch averages it.
    vec2 centre = vec2(2.0 * gl_FragCoord.x, sourceSize.y - 2.0 * gl_FragCoord.y);
    if (centre.x > sourceSize.x || centre.y < 0.0) { value = 128.0 / 255.0; return; }
    vec3 c = texture(frame, centre / sourceSize).rgb;
    float chroma = plane == 1 ? dot(c, vec3(-0.1146, -0.3854, 0.5)) : dot(c, vec3(0.5, -0.4542, -0.0458));
    value = (128.0 + 224.0 * chroma) / 255.0;
}
)";

// What the conversion pass changes, put back afterwards.
struct SavedState {
    GLint drawFramebuffer = 0, readFramebuffer = 0, program = 0, vertexArray = 0, texture = 0, activeTexture = 0;
    GLint pixelPackBuffer = 0, packAlignment = 4, sampler = 0;
    GLint viewport[4] = {0, 0, 0, 0};
    GLboolean depthTest = GL_FALSE, blend = GL_FALSE, scissor = GL_FALSE, cullFace = GL_FALSE;

    SavedState() {
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &drawFramebuffer);
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer);
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
        glGetIntegerv(GL_ACTIVE_TEXTURE, &activeTexture);
        glActiveTexture(GL_TEXTURE0);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        glGetIntegerv(GL_SAMPLER_BINDING, &sampler);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pixelPackBuffer);
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        glGetIntegerv(GL_VIEWPORT, viewport);
        depthTest = glIsEnabled(GL_DEPTH_TEST);
        blend = glIsEnabled(GL_BLEND);
        scissor = glIsEnabled(GL_SCISSOR_TEST);
        cullFace = glIsEnabled(GL_CULL_FACE);
    }
    ~SavedState() {
        auto setEnabled = [](GLenum cap, GLboolean on) { on ? glEnable(cap) : glDisable(cap); };
        setEnabled(GL_DEPTH_TEST, depthTest);
        setEnabled(GL_BLEND, blend);
        setEnabled(GL_SCISSOR_TEST, scissor);
        setEnabled(GL_CULL_FACE, cullFace);
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pixelPackBuffer));
        glBindSampler(0, static_cast<GLuint>(sampler));
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
        glActiveTexture(static_cast<GLenum>(activeTexture));
        glBindVertexArray(static_cast<GLuint>(vertexArray));
        glUseProgram(static_cast<GLuint>(program));
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(drawFramebuffer));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer));
    }
};

}  // namespace

struct YuvReadback::Slot {
    // R8 targets: Y at the frame's size, U and V at half its width and height.
    GLTexture planes[3];
    GLFramebuffer framebuffers[3];
    GLsync fence = nullptr;
    uint64_t tag = 0;
    uint64_t order = 0;

    bool busy() const { return fence != nullptr; }
    void release() {
        if (fence) {
            glDeleteSync(fence);
            fence = nullptr;
        }
    }
};

std::unique_ptr<YuvReadback> YuvReadback::create(int widthPx, int heightPx, int ringSize) {
    if (widthPx < 2 || heightPx < 2 || widthPx % 2 != 0 || heightPx % 2 != 0 || ringSize < 1) {
        return nullptr;
    }
    auto program = buildProgram(kVertex, kFragment);
    if (!program) {
        return nullptr;
    }
    std::unique_ptr<YuvReadback> readback(new YuvReadback());
    readback->width_ = widthPx;
    readback->height_ = heightPx;
    readback->program_ = std::move(program.value());
    readback->vertexArray_ = GLVertexArray::generate();
    // Our own filtering whatever the caller's texture says: linear, so one fetch at a
    // block's middle averages it, and no mipmaps, which a render target without them
    // would otherwise be incomplete (black) for.
    readback->sampler_ = GLSampler::generate();
    glSamplerParameteri(readback->sampler_.id(), GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(readback->sampler_.id(), GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(readback->sampler_.id(), GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(readback->sampler_.id(), GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    readback->sourceSizeLocation_ = glGetUniformLocation(readback->program_.id(), "sourceSize");
    readback->planeLocation_ = glGetUniformLocation(readback->program_.id(), "plane");

    SavedState saved;
    readback->slots_.resize(static_cast<size_t>(ringSize));
    for (Slot& slot : readback->slots_) {
        for (int plane = 0; plane < 3; ++plane) {
            const int width = plane == 0 ? widthPx : widthPx / 2;
            const int height = plane == 0 ? heightPx : heightPx / 2;
            slot.planes[plane] = GLTexture::generate();
            glBindTexture(GL_TEXTURE_2D, slot.planes[plane].id());
            glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, width, height, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
            slot.framebuffers[plane] = GLFramebuffer::generate();
            glBindFramebuffer(GL_FRAMEBUFFER, slot.framebuffers[plane].id());
            glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, slot.planes[plane].id(), 0);
            if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
                return nullptr;
            }
        }
    }
    return readback;
}

YuvReadback::~YuvReadback() {
    for (Slot& slot : slots_) {
        slot.release();
    }
}

bool YuvReadback::hasFreeSlot() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.busy(); });
}

size_t YuvReadback::inFlight() const {
    return static_cast<size_t>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.busy(); }));
}

bool YuvReadback::submit(unsigned int texture, int textureWidthPx, int textureHeightPx, uint64_t tag) {
    auto free = std::find_if(slots_.begin(), slots_.end(), [](const Slot& slot) { return !slot.busy(); });
    if (free == slots_.end()) {
        return false;
    }
    SavedState saved;
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
    glUseProgram(program_.id());
    glUniform2f(sourceSizeLocation_, static_cast<float>(textureWidthPx), static_cast<float>(textureHeightPx));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindSampler(0, sampler_.id());
    glBindVertexArray(vertexArray_.id());
    for (int plane = 0; plane < 3; ++plane) {
        glBindFramebuffer(GL_FRAMEBUFFER, free->framebuffers[plane].id());
        glViewport(0, 0, plane == 0 ? width_ : width_ / 2, plane == 0 ? height_ : height_ / 2);
        glUniform1i(planeLocation_, plane);
        glDrawArrays(GL_TRIANGLES, 0, 3);
    }
    free->fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    // No flush here: the next frame's drawing flushes the pass and its fence anyway,
    // and on Mesa's software rasteriser a flush runs the pass to its end on the
    // calling thread.
    free->tag = tag;
    free->order = ++submitted_;
    return true;
}

void YuvReadback::collect(const std::function<void(uint64_t, std::vector<uint8_t>&&)>& deliver) {
    for (;;) {
        Slot* oldest = nullptr;
        for (Slot& slot : slots_) {
            if (slot.busy() && (!oldest || slot.order < oldest->order)) {
                oldest = &slot;
            }
        }
        if (!oldest) {
            return;
        }
        // The flush bit makes sure the pass was sent at all; by now the frame drawn
        // since has flushed it in practice, so this does not wait for anything.
        const GLenum waited = glClientWaitSync(oldest->fence, GL_SYNC_FLUSH_COMMANDS_BIT, 0);
        if (waited != GL_ALREADY_SIGNALED && waited != GL_CONDITION_SATISFIED) {
            return;  // not yet: frames come out in order, so the later ones wait too
        }
        // Drawn already: reading it back is a plain copy, not a wait.
        std::vector<uint8_t> planes(frameBytes());
        {
            SavedState saved;
            glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            uint8_t* into = planes.data();
            for (int plane = 0; plane < 3; ++plane) {
                const int width = plane == 0 ? width_ : width_ / 2;
                const int height = plane == 0 ? height_ : height_ / 2;
                glBindFramebuffer(GL_READ_FRAMEBUFFER, oldest->framebuffers[plane].id());
                glReadPixels(0, 0, width, height, GL_RED, GL_UNSIGNED_BYTE, into);
                into += static_cast<size_t>(width) * static_cast<size_t>(height);
            }
        }
        const uint64_t tag = oldest->tag;
        oldest->release();
        deliver(tag, std::move(planes));
    }
}

void YuvReadback::discard() {
    for (Slot& slot : slots_) {
        slot.release();
    }
}

}  // namespace lumbrix
