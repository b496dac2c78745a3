#pragma once
#if !defined(LUMBRIX_INSIDE_SOURCES) && !defined(LUMBRIX_TESTS)
#error "sources/audio_tap.h is internal to sources/"
#endif
// Turns what the playback device plays into recorded sample buffers, on a serial
// worker of its own ("file.audio.tap"), so the device callback only copies.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/audio_output.h"
#include "platform/media/audio_sample_buffer.h"

namespace lumbrix {

class AudioTap {
public:
    using Callback = std::function<void(const AudioSampleBuffer&)>;
    static constexpr size_t kBufferFrames = 4096;

    // `postLevel` hands a level in 0…1 to the main thread; `gainDB` is read once per
    // buffer and may change at any time.
    AudioTap(AudioOutput& output, std::function<void(float)> postLevel, std::shared_ptr<std::atomic<float>> gainDB);
    ~AudioTap();
    AudioTap(const AudioTap&) = delete;
    AudioTap& operator=(const AudioTap&) = delete;

    // (Re)starts the tap: a new callback, the sample count back at 0, nothing of what
    // played before. Main thread.
    void install(Callback callback);
    // Stops the tap; a buffer being handed over finishes first. Main thread.
    void remove();

    double sampleRate() const { return static_cast<double>(output_.format().sampleRate); }
    int64_t samplesWritten() const { return samplesWritten_.load(); }

    // One tapped block of `frames` interleaved frames of `channels` channels as a
    // stereo buffer with the gain applied, stamped `samplesBefore` samples after the
    // installation; `sumOfSquares` receives the level's sum.
    static AudioSampleBuffer build(const float* interleaved, size_t frames, int channels, double sampleRate,
                                   float gainDB, int64_t samplesBefore, double& sumOfSquares);
    // The level shown while recording: the block's RMS, tripled and capped at 1.
    static float level(double sumOfSquares, size_t frames);

private:
    void run();
    void stopWorker();

    AudioOutput& output_;
    std::function<void(float)> postLevel_;
    std::shared_ptr<std::atomic<float>> gainDB_;

    std::mutex callbackMutex_;  // guards callback_; held while it runs
    Callback callback_;
    std::atomic<int64_t> samplesWritten_{0};

    std::mutex wakeMutex_;  // guards stopping_
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread worker_;
    std::vector<float> block_;
};

}  // namespace lumbrix
