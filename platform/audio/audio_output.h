#pragma once
// An SDL2 playback device fed from a lock-free ring, for the sound of a video file.
//
// One producer thread (the audio decoder) writes interleaved float frames; SDL's audio
// thread plays them. The device callback never blocks, never allocates and takes no
// lock: it reads the ring, outputs silence for what is missing or while paused, and
// copies exactly what it outputs into the tap ring when a tap is enabled.
//
// The playback clock is built from two numbers the callback publishes: how many queued
// frames it has consumed since the last clear(), and when it last ran.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

struct AudioOutputFormat {
    int sampleRate = 0;
    int channels = 0;           // 1 or 2, as the device granted
    int deviceBufferFrames = 0;  // frames per callback
};

// Errors of AudioOutput::open: what was asked cannot be played, or the device refused.
inline constexpr const char* kAudioErrorDomain = "Audio";
enum class AudioErrorCode { badRequest = 1, deviceFailed };

class AudioOutput {
public:
    // Opens the default playback device for 32-bit float samples, asking for
    // `sampleRate` and `channels` (1 or 2) and accepting what the device grants (the
    // rate may differ; more than two channels are refused by asking SDL for exactly
    // what it can convert). `ringFrames`: capacity of the play ring and of the tap
    // ring, in frames. Initialises SDL's audio subsystem as needed (ref-counted across
    // instances). Fails with SDL's error text. The device starts unpaused but plays
    // silence until frames are written.
    static Expected<std::unique_ptr<AudioOutput>, Error> open(int sampleRate, int channels, size_t ringFrames);
    ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    const AudioOutputFormat& format() const;

    // Producer side (one thread at a time). Copies up to `frames` interleaved frames of
    // format().channels channels into the ring; returns how many fitted. Never blocks.
    size_t write(const float* interleaved, size_t frames);
    size_t writableFrames() const;
    // Frames written and not yet consumed by the device.
    size_t queuedFrames() const;

    // Drops every queued frame and restarts the consumed count at 0 (a seek, a loop, a
    // stop). Briefly locks the device against its callback; any thread but the
    // callback's.
    void clear();

    // While paused the device keeps running and plays silence, so the tap keeps
    // receiving what is heard; queued frames stay and the consumed count stands still.
    void setPaused(bool paused);
    bool isPaused() const;

    // Queued frames the device has consumed since the last clear(), and the
    // steady_clock time (ns since its epoch) of the callback that last consumed any.
    // Silence output for an empty ring or a pause is not counted.
    int64_t consumedFrames() const;
    int64_t lastCallbackTimeNs() const;

    // The tap: while enabled, every frame the callback outputs (queued sound and
    // silence alike) is also copied into the tap ring; frames that do not fit are
    // dropped and counted. Enabling clears the tap ring, so enable from the tap's
    // consumer thread (or while nobody reads it). The drop count is never reset.
    void setTapEnabled(bool enabled);
    // Consumer side of the tap ring (one thread): copies up to `frames` interleaved
    // frames out; returns how many.
    size_t readTap(float* interleaved, size_t frames);
    size_t tapAvailableFrames() const;
    uint64_t tapDroppedFrames() const;

private:
    struct Impl;
    explicit AudioOutput(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumbrix
