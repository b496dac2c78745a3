#include "tools/render/offline_video_source.h"

#include <epoxy/gl.h>

namespace lumbrix::render_tool {

bool OfflineVideoSource::showAt(double seconds) {
    seconds_ = seconds;
    double framePts = 0.0;
    const std::vector<uint8_t>* picture = reader_->pictureAt(seconds, &framePts);
    if (!picture) return false;
    if (texture_ && shownPts_ && *shownPts_ == framePts) return true;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    if (!texture_) {
        texture_ = GLTexture::generate();
        glBindTexture(GL_TEXTURE_2D, texture_.id());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, reader_->widthPx(), reader_->heightPx(), 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, picture->data());
    } else {
        glBindTexture(GL_TEXTURE_2D, texture_.id());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, reader_->widthPx(), reader_->heightPx(), GL_RGBA, GL_UNSIGNED_BYTE,
                        picture->data());
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));
    shownPts_ = framePts;
    return true;
}

}  // namespace lumbrix::render_tool
