#include "capture/texture_readback.h"

#include <epoxy/gl.h>

#include <new>

#include "capture/render_capture.h"
#include "platform/gl/gl_object.h"

namespace lumbrix {
namespace {

// The capture runs in the middle of the renderer's frame loop, so whatever GL state the
// readback needs is put back afterwards: the renderer must not find its pack buffer,
// read framebuffer or texture unit changed under it.
class ReadbackState {
public:
    ReadbackState() {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &readFramebuffer_);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture2D_);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &packBuffer_);
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment_);
        glGetIntegerv(GL_PACK_ROW_LENGTH, &packRowLength_);
        glGetIntegerv(GL_PACK_SKIP_ROWS, &packSkipRows_);
        glGetIntegerv(GL_PACK_SKIP_PIXELS, &packSkipPixels_);
        glGetIntegerv(GL_PACK_SWAP_BYTES, &packSwapBytes_);
        framebufferSrgb_ = glIsEnabled(GL_FRAMEBUFFER_SRGB);

        // A bound pack buffer would turn the destination pointer into an offset into it.
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        // Tightly packed rows: widths like 3 are not a multiple of the default 4 bytes.
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glPixelStorei(GL_PACK_SKIP_ROWS, 0);
        glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
        // With it on, reading an sRGB attachment may decode to linear; the file keeps the
        // stored bytes, the same as for a linear texture.
        glDisable(GL_FRAMEBUFFER_SRGB);
    }
    ReadbackState(const ReadbackState&) = delete;
    ReadbackState& operator=(const ReadbackState&) = delete;
    ~ReadbackState() {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer_));
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture2D_));
        glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(packBuffer_));
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment_);
        glPixelStorei(GL_PACK_ROW_LENGTH, packRowLength_);
        glPixelStorei(GL_PACK_SKIP_ROWS, packSkipRows_);
        glPixelStorei(GL_PACK_SKIP_PIXELS, packSkipPixels_);
        glPixelStorei(GL_PACK_SWAP_BYTES, packSwapBytes_);
        if (framebufferSrgb_) glEnable(GL_FRAMEBUFFER_SRGB);
    }

private:
    GLint readFramebuffer_ = 0;
    GLint texture2D_ = 0;
    GLint packBuffer_ = 0;
    GLint packAlignment_ = 4;
    GLint packRowLength_ = 0;
    GLint packSkipRows_ = 0;
    GLint packSkipPixels_ = 0;
    GLint packSwapBytes_ = GL_FALSE;
    GLboolean framebufferSrgb_ = GL_FALSE;
};

// Errors the renderer left pending would otherwise be taken for ours. The bound keeps a
// context that reports errors endlessly (a lost one) from hanging the caller.
void clearPendingErrors() {
    for (int i = 0; i < 64 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

Unexpected<Error> readbackFailed() {
    return unexpected(Error(RenderCapture::kErrorDomain, RenderCapture::readbackFailed,
                            "Command buffer / blit create failed"));
}

}  // namespace

Expected<TexturePixels, Error> readTexturePixels(unsigned int name) {
    clearPendingErrors();
    if (name == 0 || glIsTexture(name) == GL_FALSE) return readbackFailed();

    // Declared before the framebuffer so that the framebuffer is deleted first and the
    // caller's binding is restored after it.
    ReadbackState state;
    // Fails when the texture was made for another target (a cube map, an array).
    glBindTexture(GL_TEXTURE_2D, name);
    if (glGetError() != GL_NO_ERROR) return readbackFailed();

    TexturePixels pixels;
    GLint maxSizePx = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSizePx);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &pixels.widthPx);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &pixels.heightPx);
    if (glGetError() != GL_NO_ERROR) return readbackFailed();
    // Zero for a texture that never got storage; the upper bound keeps a broken driver
    // answer from turning into a huge allocation.
    if (pixels.widthPx <= 0 || pixels.heightPx <= 0 || pixels.widthPx > maxSizePx || pixels.heightPx > maxSizePx)
        return readbackFailed();

    GLFramebuffer framebuffer = GLFramebuffer::generate();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer.id());
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, name, 0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    if (glGetError() != GL_NO_ERROR ||
        glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return readbackFailed();

    try {
        pixels.rgba.resize(static_cast<size_t>(pixels.widthPx) * static_cast<size_t>(pixels.heightPx) * 4);
    } catch (const std::bad_alloc&) {
        return readbackFailed();
    }
    glReadPixels(0, 0, pixels.widthPx, pixels.heightPx, GL_RGBA, GL_UNSIGNED_BYTE, pixels.rgba.data());
    if (glGetError() != GL_NO_ERROR) return readbackFailed();
    return pixels;
}

}  // namespace lumbrix
