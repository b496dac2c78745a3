#pragma once
#if !defined(LUMBRIX_INSIDE_CAPTURE) && !defined(LUMBRIX_TESTS)
#error "capture/texture_readback.h is internal to capture/"
#endif
// Reading a colour texture back from OpenGL into memory.
#include <cstdint>
#include <vector>

#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

// Level 0 of a 2-D texture as 8-bit RGBA, rows bottom-up as OpenGL stores them.
struct TexturePixels {
    int widthPx = 0;
    int heightPx = 0;
    std::vector<uint8_t> rgba;  // widthPx * heightPx * 4 bytes, no row padding
};

// Reads texture `name` at the size OpenGL reports for it. sRGB textures come back with
// their stored bytes, not decoded to linear. Needs a current context; the caller's
// bindings, pack settings and sRGB switch are as they were afterwards, and no GL error
// is left pending. Any failure is RenderCapture -28.
Expected<TexturePixels, Error> readTexturePixels(unsigned int name);

}  // namespace lumbrix
