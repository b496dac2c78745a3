#include "sources/audio_tap.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace lumbrix {

AudioTap::AudioTap(AudioOutput& output, std::function<void(float)> postLevel,
                   std::shared_ptr<std::atomic<float>> gainDB)
    : output_(output), postLevel_(std::move(postLevel)), gainDB_(std::move(gainDB)) {}

AudioTap::~AudioTap() {
    output_.setTapEnabled(false);
    stopWorker();
}

void AudioTap::install(Callback callback) {
    {
        std::lock_guard lock(callbackMutex_);
        callback_ = std::move(callback);
        samplesWritten_.store(0);
        output_.setTapEnabled(true);  // also forgets what was tapped before
    }
    if (!worker_.joinable()) {
        {
            std::lock_guard lock(wakeMutex_);
            stopping_ = false;
        }
        worker_ = std::thread(&AudioTap::run, this);
    }
}

void AudioTap::remove() {
    output_.setTapEnabled(false);
    stopWorker();
    std::lock_guard lock(callbackMutex_);
    callback_ = nullptr;
    samplesWritten_.store(0);
}

void AudioTap::stopWorker() {
    if (!worker_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(wakeMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

AudioSampleBuffer AudioTap::build(const float* interleaved, size_t frames, int channels, double sampleRate,
                                  float gainDB, int64_t samplesBefore, double& sumOfSquares) {
    AudioSampleBuffer buffer;
    buffer.sampleRate = sampleRate;
    buffer.frameCount = static_cast<int64_t>(frames);
    buffer.planes.resize(2 * frames);
    float* left = buffer.planes.data();
    float* right = left + frames;
    const float gain = std::pow(10.0f, gainDB / 20.0f);
    sumOfSquares = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        if (channels == 2) {
            left[i] = interleaved[2 * i] * gain;
            right[i] = interleaved[2 * i + 1] * gain;
            sumOfSquares += 0.5 * (double{left[i]} * left[i] + double{right[i]} * right[i]);
        } else {
            // Anything but stereo: the first channel on both sides.
            const float value = interleaved[i * static_cast<size_t>(channels)] * gain;
            left[i] = right[i] = value;
            sumOfSquares += double{value} * value;
        }
    }
    buffer.timescale = static_cast<int32_t>(std::lround(sampleRate));
    buffer.presentationValue = samplesBefore;
    return buffer;
}

float AudioTap::level(double sumOfSquares, size_t frames) {
    const double value = std::sqrt(sumOfSquares / static_cast<double>(std::max<size_t>(frames, 1))) * 3.0;
    // Checked before the cap: min(1, NaN) would pass NaN off as full scale.
    return std::isnan(value) || value < 0.0 ? 0.0f : static_cast<float>(std::min(1.0, value));
}

void AudioTap::run() {
    pthread_setname_np(pthread_self(), "file.audio.tap");
    const int channels = output_.format().channels;
    block_.resize(kBufferFrames * static_cast<size_t>(channels));
    for (;;) {
        {
            std::unique_lock lock(wakeMutex_);
            // The device delivers a callback's worth at a time; polling at a fraction of
            // a block's length keeps the hand-over prompt without a signal from it.
            wake_.wait_for(lock, std::chrono::milliseconds(10), [&] { return stopping_; });
            if (stopping_) {
                return;
            }
        }
        // Reading under the callback lock keeps install()'s reset of the tap ring from
        // racing this read.
        std::lock_guard lock(callbackMutex_);
        while (output_.tapAvailableFrames() >= kBufferFrames) {
            const size_t frames = output_.readTap(block_.data(), kBufferFrames);
            if (frames == 0) {
                break;
            }
            double sum = 0.0;
            AudioSampleBuffer buffer = build(block_.data(), frames, channels, sampleRate(), gainDB_->load(),
                                             samplesWritten_.load(), sum);
            postLevel_(level(sum, frames));
            samplesWritten_.fetch_add(static_cast<int64_t>(frames));
            if (callback_) {
                callback_(buffer);
            }
        }
    }
}

}  // namespace lumbrix
