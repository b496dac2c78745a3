#pragma once
// How every movie is encoded, the viewer's recordings and lumbrix-render's alike: one
// value, so the two cannot drift apart. A new recording option is a field here, read
// where the writer's inputs are set up.
#include <cstdint>
#include <string>

namespace lumbrix {

struct RecordingSettings {
    // The picture: H.264 High through libx264, at this average rate.
    int64_t videoBitRate = 12'000'000;
    std::string x264Preset = "ultrafast";
    double keyFrameIntervalSeconds = 2.0;

    // The sound: every track is AAC in this one format, whatever the source's own.
    static constexpr int kAudioSampleRate = 48000;
    static constexpr int kAudioChannels = 2;
    static constexpr int64_t kAudioBitRate = 128'000;
};

}  // namespace lumbrix
