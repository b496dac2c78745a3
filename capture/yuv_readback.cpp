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

// The target is one byte wide per pixel and frame-width wide: its rows, read back in
// order, are the I420 bytes of the frame. Pixel (x, r) is byte r × width + x: the Y
// plane first (one byte per picture pixel), then U and V (one byte per 2 × 2 block).
// BT.709 in video range, as players assume for HD pictures.
const char* const kFragment = R"(#version 330 core
uniform sampler2D frame;
uniform ivec2 sourceSize;  // the capture texture's, rows bottom-up
uniform ivec2 frameSize;   // the movie's, even
out float value;

vec3 rgbAt(ivec2 topDown) {
    ivec2 texel = ivec2(topDown.x, sourceSize.y - 1 - topDown.y);
    if (topDown.x >= sourceSize.x || texel.y < 0) return vec3(0.0);
    return texelFetch(frame, texel, 0).rgb;
}

void main() {
    int index = int(gl_FragCoord.y) * frameSize.x + int(gl_FragCoord.x);
    int lumaBytes = frameSize.x * frameSize.y;
    if (index < lumaBytes) {
        ivec2 at = ivec2(index % frameSize.x, index / frameSize.x);
        vec3 c = rgbAt(at);
        value = (16.0 + 219.0 * dot(c, vec3(0.2126, 0.7152, 0.0722))) / 255.0;
        return;
    }
    int chroma = index - lumaBytes;
    int chromaWidth = frameSize.x / 2;
    int planeBytes = chromaWidth * (frameSize.y / 2);
    bool isV = chroma >= planeBytes;
    if (isV) chroma -= planeBytes;
    if (chroma >= planeBytes) { value = 0.0; return; }
    ivec2 block = ivec2(chroma % chromaWidth, chroma / chromaWidth) * 2;
    vec3 c = 0.25 * (rgbAt(block) + rgbAt(block + ivec2(1, 0)) + rgbAt(block + ivec2(0, 1)) + rgbAt(block + ivec2(1, 1)));
    float u = dot(c, vec3(-0.1146, -0.3854, 0.5));
    float v = dot(c, vec3(0.5, -0.4542, -0.0458));
    value = (128.0 + 224.0 * (isV ? v : u)) / 255.0;
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
    GLTexture target;  // R8, frame-width wide, 1.5 × frame-height tall
    GLFramebuffer framebuffer;
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
    // The caller's texture may keep the default mipmapped filter without mipmaps, which
    // leaves it incomplete (black) for any fetch; the sampler's filter decides instead.
    readback->sampler_ = GLSampler::generate();
    glSamplerParameteri(readback->sampler_.id(), GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glSamplerParameteri(readback->sampler_.id(), GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    readback->sourceSizeLocation_ = glGetUniformLocation(readback->program_.id(), "sourceSize");
    readback->frameSizeLocation_ = glGetUniformLocation(readback->program_.id(), "frameSize");

    SavedState saved;
    const int rows = heightPx * 3 / 2;
    readback->slots_.resize(static_cast<size_t>(ringSize));
    for (Slot& slot : readback->slots_) {
        slot.target = GLTexture::generate();
        glBindTexture(GL_TEXTURE_2D, slot.target.id());
        glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, widthPx, rows, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        slot.framebuffer = GLFramebuffer::generate();
        glBindFramebuffer(GL_FRAMEBUFFER, slot.framebuffer.id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, slot.target.id(), 0);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            return nullptr;
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
    glBindFramebuffer(GL_FRAMEBUFFER, free->framebuffer.id());
    glViewport(0, 0, width_, height_ * 3 / 2);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
    glUseProgram(program_.id());
    glUniform2i(sourceSizeLocation_, textureWidthPx, textureHeightPx);
    glUniform2i(frameSizeLocation_, width_, height_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindSampler(0, sampler_.id());
    glBindVertexArray(vertexArray_.id());
    glDrawArrays(GL_TRIANGLES, 0, 3);
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
            glBindFramebuffer(GL_READ_FRAMEBUFFER, oldest->framebuffer.id());
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, width_, height_ * 3 / 2, GL_RED, GL_UNSIGNED_BYTE, planes.data());
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
