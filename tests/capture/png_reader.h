#pragma once
// Decoding PNG files in tests, through FFmpeg's PNG decoder.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/expected.h"

namespace lumbrix::test {

// 8-bit RGBA, rows top-down as the file stores them, no padding.
struct RgbaImage {
    int widthPx = 0;
    int heightPx = 0;
    std::vector<uint8_t> rgba;
};

// Fails with a message when the data is not a PNG or does not decode to 8-bit RGBA (an
// opaque RGB file counts as a failure: the capture keeps alpha).
Expected<RgbaImage, std::string> decodePng(const std::vector<uint8_t>& file);

std::vector<uint8_t> readFileBytes(const std::string& path);

}  // namespace lumbrix::test
