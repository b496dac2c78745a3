#include "sources/ndi_texture_source.h"

#include <epoxy/gl.h>

#include <cstring>

#include "sources/picture_texture.h"

namespace lumbrix {

NDITextureSource::NDITextureSource(std::shared_ptr<NDIReceiver> receiver, NDIUploadPath uploadPath)
    : receiver_(std::move(receiver)), uploadPath_(uploadPath) {}

unsigned int NDITextureSource::texture() {
    if (!playing_) {
        return tex_.id();
    }
    std::optional<VideoFrame> frame = receiver_->latestFrame();
    if (!frame || !frame->data) {
        return tex_.id();
    }
    // The receiver drops such frames; the check stays here because the upload reads
    // width × 4 bytes from every row and can only step whole pixels between rows.
    if (frame->width <= 0 || frame->height <= 0 || int64_t{frame->stride} < int64_t{4} * frame->width ||
        frame->stride % 4 != 0) {
        return tex_.id();
    }
    GLint previousTexture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
    if (!tex_ || frame->width != lastW_ || frame->height != lastH_) {
        lastW_ = frame->width;
        lastH_ = frame->height;
        uploadedData_.reset();
        while (glGetError() != GL_NO_ERROR) {
        }
        GLTexture made = GLTexture::generate();
        glBindTexture(GL_TEXTURE_2D, made.id());
        applyPictureSampling();
        // The frame's BGRA bytes are stored as they come and the sampler swaps red and
        // blue: desktop GL has no BGRA storage format, and converting on upload costs
        // Mesa's software path two and a half times a plain copy.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_RED);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, frame->width, frame->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        const bool failed = glGetError() != GL_NO_ERROR;
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
        if (failed) {
            tex_.reset();
            return 0;
        }
        tex_ = std::move(made);
        ++textureCreations_;
    }
    if (frame->data != uploadedData_) {
        glBindTexture(GL_TEXTURE_2D, tex_.id());
        upload(*frame);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
        uploadedData_ = frame->data;
        ++uploads_;
    }
    return tex_.id();
}

// Expects the texture bound; leaves the unpack state as it found it.
void NDITextureSource::upload(const VideoFrame& frame) {
    GLint previousAlignment = 4;
    GLint previousRowLength = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &previousRowLength);
    const uint8_t* bytes = frame.data.get();
    if (uploadPath_ == NDIUploadPath::pixelBuffer) {
        if (!pixelBuffer_) {
            pixelBuffer_ = GLBuffer::generate();
        }
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, pixelBuffer_.id());
        // Orphaning the old storage lets the driver keep reading it for a texture
        // upload still in flight while we fill the new one.
        glBufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(frame.byteCount()), nullptr, GL_STREAM_DRAW);
        void* mapped = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, static_cast<GLsizeiptr>(frame.byteCount()),
                                        GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
        if (mapped == nullptr) {
            glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        } else {
            std::memcpy(mapped, bytes, frame.byteCount());
            glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
            bytes = nullptr;  // offset 0 in the bound buffer
        }
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, frame.stride / 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE, bytes);
    glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, previousRowLength);
    if (uploadPath_ == NDIUploadPath::pixelBuffer) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    }
}

}  // namespace lumbrix
