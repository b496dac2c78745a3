#pragma once
// One received picture: 8-bit BGRA/BGRX rows, top row first, as the sender's runtime
// delivered them. A plain value: copies share the immutable pixel bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumbrix {

struct VideoFrame {
    int width = 0;
    int height = 0;
    int stride = 0;                        // bytes per row as delivered
    std::shared_ptr<const uint8_t[]> data;  // exactly stride × height bytes

    size_t byteCount() const { return static_cast<size_t>(stride) * static_cast<size_t>(height); }
};

}  // namespace lumbrix
