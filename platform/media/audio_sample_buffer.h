#pragma once
// A block of sound on its way to the movie writer, with a presentation time counted in
// samples. The video file's tap hands over two planes (left, then right); the
// microphone hands over its channels interleaved.
#include <cstdint>
#include <vector>

namespace lumbrix {

struct AudioSampleBuffer {
    double sampleRate = 0.0;   // of the samples themselves
    int channels = 2;          // in `planes`
    bool interleaved = false;  // false: one plane per channel, each frameCount long
    int64_t frameCount = 0;    // samples per channel
    std::vector<float> planes;  // channels × frameCount samples in the layout above
    int64_t presentationValue = 0;  // presentation time = value / timescale seconds
    int32_t timescale = 0;
    // When the first sample was heard, on the steady clock (nanoseconds since its
    // epoch); 0 when the producer cannot tell. A recording puts such a buffer at that
    // moment of its own timeline, whenever the producer started counting samples.
    int64_t hostTimeNanos = 0;

    // Planar stereo only.
    const float* left() const { return planes.data(); }
    const float* right() const { return planes.data() + frameCount; }
};

}  // namespace lumbrix
