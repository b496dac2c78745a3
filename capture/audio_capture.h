#pragma once
// The microphone while a movie records: SDL's default capture device, packed on a
// serial worker of its own into 1024-frame interleaved float buffers with the gain
// applied, stamped by the frames delivered since the capture started, plus a level
// for the meter.
//
// Linux has no microphone permission. A device that cannot be opened (no audio
// server, no capture device, a driver refusing) is what the user has to act on, so it
// takes the "denied" path: the status lines say so and onMicUnavailable is told why.
//
// Threads: start(), stop(), the setters and isMicEnabled belong to the main thread.
// Opening and closing the device and all packing run on the worker, in posting order;
// SDL's capture thread only copies into a ring the worker drains.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/main_queue.h"
#include "platform/media/audio_sample_buffer.h"

namespace lumbrix {

class AudioCapture {
public:
    using SampleBufferCallback = std::function<void(const AudioSampleBuffer&)>;
    using LevelCallback = std::function<void(float)>;
    using UnavailableCallback = std::function<void(const std::string& reason)>;

    static constexpr int64_t kBufferFrames = 1024;

    explicit AudioCapture(std::shared_ptr<MainQueue> mainQueue);
    // Lets the worker finish what was posted (a pending stop still reports), then closes
    // the device.
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Capture starts only when this is true. Main thread.
    bool isMicEnabled = false;
    // 1 or 2 to insist on a channel count; 0 takes the default device's own (mono when
    // the driver cannot tell). Read by start().
    int requestedChannels = 0;

    // Called on the worker with every packed buffer. The worker owns the callback, so
    // a change takes effect in order with start() and stop().
    void setOnMicSampleBuffer(SampleBufferCallback callback);
    // Called on the main queue with each buffer's level in 0…1. Without one, no level
    // is measured.
    void setOnMicLevel(LevelCallback callback);
    // Called on the main queue with SDL's reason when the device cannot be opened.
    // Main thread; start() takes the callback current at its call.
    void setOnMicUnavailable(UnavailableCallback callback);

    // Decibels, read once per buffer; any thread.
    void setMicGainDB(float gainDB);
    float micGainDB() const;

    // 44100 until a start opens the device, then the device's rate.
    double sampleRate() const;
    // Frames delivered since the last start.
    int64_t audioSamplesWritten() const;
    bool isRunning() const;

    // Main thread. Does nothing while running (a stop already asked for does not count
    // as running, so stop() then start() restarts).
    void start();
    // Posts the stop to the worker.
    void stop();

private:
    struct Session;

    void post(std::function<void()> task);
    void run();
    void startOnWorker(int channels, UnavailableCallback onUnavailable);
    void stopOnWorker();
    void packAvailable();

    const std::shared_ptr<MainQueue> mainQueue_;
    UnavailableCallback onMicUnavailable_;  // main thread

    std::atomic<float> micGainDB_{6.0f};
    std::atomic<double> sampleRate_{44100.0};
    std::atomic<int64_t> audioSamplesWritten_{0};
    std::atomic<bool> isRunning_{false};
    std::atomic<int> pendingStops_{0};

    // Worker only.
    SampleBufferCallback onMicSampleBuffer_;
    LevelCallback onMicLevel_;
    std::unique_ptr<Session> session_;

    std::mutex queueMutex_;  // guards tasks_, quitting_
    std::condition_variable queueChanged_;
    std::deque<std::function<void()>> tasks_;
    bool quitting_ = false;
    std::thread worker_;
};

}  // namespace lumbrix
