#pragma once
// Turns the capture texture into I420 (YUV 4:2:0) planes on the GPU and reads them back
// through a ring of targets with fences, so that the frame that asks never waits for the
// GPU: the conversion is only queued, and its result is read on a later frame, once its
// fence has signalled. (Reading at once would wait for the whole frame to be drawn; with
// Mesa's software rasteriser that is the frame's entire rendering time.) Converting on
// the GPU makes the read-back 2.7 times smaller than RGBA and spares the encoder thread
// a colour conversion.
//
// GL thread only, with the context current; every call leaves the caller's bindings,
// viewport and pack state as it found them.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/gl/gl_object.h"

namespace lumbrix {

class YuvReadback {
public:
    // Frames of `widthPx` × `heightPx` (even sizes), up to `ringSize` in flight. Null
    // when the GL objects cannot be made.
    static std::unique_ptr<YuvReadback> create(int widthPx, int heightPx, int ringSize = 4);
    ~YuvReadback();
    YuvReadback(const YuvReadback&) = delete;
    YuvReadback& operator=(const YuvReadback&) = delete;

    int widthPx() const { return width_; }
    int heightPx() const { return height_; }
    size_t frameBytes() const { return static_cast<size_t>(width_) * height_ * 3 / 2; }

    bool hasFreeSlot() const;
    // Converts the top-left region of `texture` (its size given; rows bottom-up as GL
    // stores them) that fits, black elsewhere, and starts reading it back. `tag`
    // identifies the frame when it is collected. False when no slot is free.
    bool submit(unsigned int texture, int textureWidthPx, int textureHeightPx, uint64_t tag);
    // Hands every finished read-back, oldest first, to `deliver` with its planes (Y, U,
    // V, rows top first) and its tag. Never waits.
    void collect(const std::function<void(uint64_t tag, std::vector<uint8_t>&& planes)>& deliver);
    // Forgets what is in flight.
    void discard();
    size_t inFlight() const;

private:
    struct Slot;
    YuvReadback() = default;

    int width_ = 0;
    int height_ = 0;
    GLProgram program_;
    GLSampler sampler_;
    GLVertexArray vertexArray_;
    std::vector<Slot> slots_;
    uint64_t submitted_ = 0;  // order of submission, for collecting oldest first
    int sourceSizeLocation_ = -1;
    int planeLocation_ = -1;
};

}  // namespace lumbrix
