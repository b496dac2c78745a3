#pragma once
// A block of recorded sound on its way to the movie writer: two planes of 32-bit float
// samples (left, then right) and a presentation time counted in samples.
#include <cstdint>
#include <vector>

namespace lumbrix {

struct AudioSampleBuffer {
    double sampleRate = 0.0;         // of the samples themselves
    int64_t frameCount = 0;          // samples per channel
    std::vector<float> planes;       // 2 × frameCount: the left plane, then the right
    int64_t presentationValue = 0;   // presentation time = value / timescale seconds
    int32_t timescale = 0;
    const float* left() const { return planes.data(); }
    const float* right() const { return planes.data() + frameCount; }
};

}  // namespace lumbrix
