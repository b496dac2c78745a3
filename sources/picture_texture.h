#pragma once
#if !defined(LUMBRIX_INSIDE_SOURCES) && !defined(LUMBRIX_TESTS)
#error "sources/picture_texture.h is internal to sources/"
#endif
// Sampling state every picture source gives its texture: one level, linear filtering
// (the model rarely shows a picture at its own size), edges clamped so a UV of exactly 0
// or 1 does not bleed in the opposite border.
#include <epoxy/gl.h>

namespace lumbrix {

// Applies to the texture bound to GL_TEXTURE_2D.
inline void applyPictureSampling() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
}

}  // namespace lumbrix
