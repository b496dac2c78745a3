#pragma once
#if !defined(LUMBRIX_INSIDE_CAPTURE) && !defined(LUMBRIX_TESTS)
#error "capture/png_encoder.h is internal to capture/"
#endif
// PNG encoding of 8-bit RGBA pictures through FFmpeg's PNG encoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

// Unpremultiplied 8-bit RGBA rows of widthPx * 4 bytes. `topRow` is the row shown at the
// top of the image and `rowStrideBytes` steps to the one below it, so bottom-up storage
// (OpenGL's) is written upright with a negative stride instead of a flipped copy.
struct RgbaView {
    const uint8_t* topRow = nullptr;
    std::ptrdiff_t rowStrideBytes = 0;
    int widthPx = 0;
    int heightPx = 0;
};

// The PNG file's bytes. Failures are RenderCapture errors: -30 when the encoder cannot be
// set up for the picture, -31 when the picture cannot be handed to it, -32 when it gives
// no data.
Expected<std::vector<uint8_t>, Error> encodePng(const RgbaView& image);

}  // namespace lumbrix
