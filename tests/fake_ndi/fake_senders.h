#pragma once
// Senders of the fake NDI runtime: the text form tests write them in, the clock a sender
// sends frames by, and the picture it sends.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrix::fake_ndi {

using Clock = std::chrono::steady_clock;

struct SenderFormat {
    bool named = false;  // unnamed senders are listed with a null p_ndi_name
    std::string name;
    int width = 0;
    int height = 0;
    double fps = 0;
    double toneHz = 0;  // 0: no sound

    bool operator==(const SenderFormat&) const = default;
};

struct ParsedSenders {
    std::vector<SenderFormat> senders;
    int ignored = 0;  // malformed entries and repeated names
};

// "NAME@WIDTHxHEIGHT@FPS[@HZ];..."; the numbers are read from the right, so names may hold '@'.
ParsedSenders parseSenders(std::string_view list);

// Sound: 48 kHz stereo planar float, one audio frame beside each video frame; audio frame n
// holds samples [audioFrameStart(fps, n), audioFrameStart(fps, n + 1)) of a sine at the
// sender's tone, the same on both channels.
constexpr int kAudioRate = 48000;
constexpr int kAudioChannels = 2;
constexpr float kToneAmplitude = 0.25f;
int64_t audioFrameStart(double fps, int64_t frame);
void renderTone(float* planes, int channelStrideFloats, double toneHz, int64_t firstSample, int samples);

// Frame n of a sender started at `start` is sent at start + n / fps; frame 0 at start.
Clock::time_point frameSendTime(Clock::time_point start, double fps, int64_t frame);
// The newest frame sent by `now`.
int64_t newestFrameBy(Clock::time_point start, double fps, Clock::time_point now);

// Phases of the moving pattern a receiver keeps pictures of; frame n shows phase n % this.
constexpr int kPatternPhases = 3;

// 0xRRGGBB, stable per sender so two streams on screen look different.
uint32_t senderTint(std::string_view identity);
// Diagonal stripes in the sender's tint, shifted by the phase; opaque BGRA, rows top down.
void renderPattern(uint8_t* pixels, int width, int height, uint32_t tint, int phase);

// Cache-line aligned pixel storage: receivers copy whole frames out of it.
struct AlignedFree {
    void operator()(uint8_t* bytes) const { ::operator delete[](bytes, std::align_val_t{64}); }
};
using PixelBytes = std::unique_ptr<uint8_t[], AlignedFree>;
inline PixelBytes allocatePixels(size_t size) {
    return PixelBytes(static_cast<uint8_t*>(::operator new[](size, std::align_val_t{64})));
}

}  // namespace lumbrix::fake_ndi
