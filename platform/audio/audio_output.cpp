#include "platform/audio/audio_output.h"

#include "platform/audio/sdl_audio.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

namespace lumbrix {
namespace {

// About 20 ms per callback: short enough for a responsive clock, long enough that a
// busy machine does not underflow. SDL wants a power of two.
Uint16 deviceBufferFramesFor(int sampleRate) {
    const double target = sampleRate / 50.0;
    int best = 256;
    for (int candidate = 256; candidate <= 8192; candidate *= 2) {
        if (std::abs(candidate - target) < std::abs(best - target)) best = candidate;
    }
    return static_cast<Uint16>(best);
}

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Single producer, single consumer. The indices count frames since the ring was made and
// only grow, so "full" and "empty" need no spare slot and a clear is one store.
class FloatRing {
public:
    FloatRing(size_t capacityFrames, size_t channels)
        : samples_(new float[capacityFrames * channels]), capacity_(capacityFrames), channels_(channels) {}

    size_t capacityFrames() const { return capacity_; }

    // Any thread; exact on the producer's and consumer's own threads, a snapshot elsewhere.
    size_t availableFrames() const {
        // Read before write: the write index seen afterwards can only be larger, so the
        // difference never wraps.
        const size_t read = read_.load(std::memory_order_acquire);
        const size_t written = write_.load(std::memory_order_acquire);
        return std::min(written - read, capacity_);
    }

    size_t push(const float* source, size_t frames) {
        const size_t written = write_.load(std::memory_order_relaxed);
        const size_t read = read_.load(std::memory_order_acquire);
        const size_t count = std::min(frames, capacity_ - (written - read));
        if (count == 0) return 0;
        copyIn(written % capacity_, source, count);
        write_.store(written + count, std::memory_order_release);
        return count;
    }

    size_t pop(float* destination, size_t frames) {
        const size_t read = read_.load(std::memory_order_relaxed);
        const size_t written = write_.load(std::memory_order_acquire);
        const size_t count = std::min(frames, written - read);
        if (count == 0) return 0;
        copyOut(read % capacity_, destination, count);
        read_.store(read + count, std::memory_order_release);
        return count;
    }

    // A consumer-side operation: the producer may keep writing meanwhile; the caller
    // excludes the regular consumer.
    void dropAll() { read_.store(write_.load(std::memory_order_acquire), std::memory_order_release); }

private:
    void copyIn(size_t slot, const float* source, size_t frames) {
        const size_t first = std::min(frames, capacity_ - slot);
        std::memcpy(samples_.get() + slot * channels_, source, first * channels_ * sizeof(float));
        std::memcpy(samples_.get(), source + first * channels_, (frames - first) * channels_ * sizeof(float));
    }
    void copyOut(size_t slot, float* destination, size_t frames) const {
        const size_t first = std::min(frames, capacity_ - slot);
        std::memcpy(destination, samples_.get() + slot * channels_, first * channels_ * sizeof(float));
        std::memcpy(destination + first * channels_, samples_.get(), (frames - first) * channels_ * sizeof(float));
    }

    std::unique_ptr<float[]> samples_;
    const size_t capacity_;
    const size_t channels_;
    // Separate cache lines: the two sides each write one of them from their own thread.
    alignas(64) std::atomic<size_t> write_{0};
    alignas(64) std::atomic<size_t> read_{0};
};

}  // namespace

struct AudioOutput::Impl {
    Impl(size_t ringFrames, size_t channelCount)
        : channels(channelCount), play(ringFrames, channelCount), tap(ringFrames, channelCount) {}

    static void SDLCALL callback(void* userdata, Uint8* stream, int len) {
        static_cast<Impl*>(userdata)->render(reinterpret_cast<float*>(stream), static_cast<size_t>(len));
    }

    // SDL's audio thread, under the device lock. Nothing here may block or allocate.
    void render(float* out, size_t bytes) {
        const size_t frames = bytes / (channels * sizeof(float));
        size_t copied = 0;
        if (!paused.load(std::memory_order_acquire)) copied = play.pop(out, frames);
        // AUDIO_F32 silence is all-zero bytes.
        std::memset(out + copied * channels, 0, (frames - copied) * channels * sizeof(float));
        if (copied > 0) {
            // Only this thread and clear() (which holds the device lock) write the count.
            consumed.store(consumed.load(std::memory_order_relaxed) + static_cast<int64_t>(copied),
                           std::memory_order_release);
            lastConsumeNs.store(steadyNowNs(), std::memory_order_release);
        }
        if (tapEnabled.load(std::memory_order_acquire)) {
            const size_t kept = tap.push(out, frames);
            if (kept < frames) tapDropped.fetch_add(frames - kept, std::memory_order_relaxed);
        }
    }

    // SDL may change only the rate, so this is also what the callback is handed.
    const size_t channels;
    SDL_AudioDeviceID device = 0;
    AudioOutputFormat format;
    FloatRing play;
    FloatRing tap;
    std::atomic<bool> paused{false};
    std::atomic<bool> tapEnabled{false};
    std::atomic<int64_t> consumed{0};
    std::atomic<int64_t> lastConsumeNs{0};
    std::atomic<uint64_t> tapDropped{0};
};

namespace {

Unexpected<Error> audioFailure(AudioErrorCode code, std::string text) {
    return unexpected(Error(kAudioErrorDomain, static_cast<int>(code), std::move(text)));
}

}  // namespace

Expected<std::unique_ptr<AudioOutput>, Error> AudioOutput::open(int sampleRate, int channels, size_t ringFrames) {
    if (channels != 1 && channels != 2) {
        return audioFailure(AudioErrorCode::badRequest,
                            "audio output supports 1 or 2 channels, not " + std::to_string(channels));
    }
    if (sampleRate <= 0) {
        return audioFailure(AudioErrorCode::badRequest, "invalid audio sample rate " + std::to_string(sampleRate));
    }
    if (ringFrames == 0) {
        return audioFailure(AudioErrorCode::badRequest, "audio ring needs room for at least one frame");
    }

    if (std::string failure = acquireSdlAudio(); !failure.empty()) {
        return audioFailure(AudioErrorCode::deviceFailed, std::move(failure));
    }

    auto impl = std::make_unique<Impl>(ringFrames, static_cast<size_t>(channels));
    SDL_AudioSpec want{};
    want.freq = sampleRate;
    want.format = AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = deviceBufferFramesFor(sampleRate);
    want.callback = &Impl::callback;
    want.userdata = impl.get();
    SDL_AudioSpec have{};
    // Only the rate may differ: SDL converts channels and sample format for us, so the
    // callback always sees float frames of the channel count we asked for.
    impl->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (impl->device == 0) {
        std::string failure = std::string("cannot open audio device: ") + SDL_GetError();
        releaseSdlAudio();
        return audioFailure(AudioErrorCode::deviceFailed, std::move(failure));
    }
    impl->format.sampleRate = have.freq;
    impl->format.channels = have.channels;
    impl->format.deviceBufferFrames = have.samples;
    SDL_PauseAudioDevice(impl->device, 0);
    return std::unique_ptr<AudioOutput>(new AudioOutput(std::move(impl)));
}

AudioOutput::AudioOutput(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AudioOutput::~AudioOutput() {
    // Returns once SDL's audio thread has stopped, so the callback never sees a dead Impl.
    SDL_CloseAudioDevice(impl_->device);
    releaseSdlAudio();
}

const AudioOutputFormat& AudioOutput::format() const { return impl_->format; }

size_t AudioOutput::write(const float* interleaved, size_t frames) { return impl_->play.push(interleaved, frames); }

size_t AudioOutput::writableFrames() const { return impl_->play.capacityFrames() - impl_->play.availableFrames(); }

size_t AudioOutput::queuedFrames() const { return impl_->play.availableFrames(); }

void AudioOutput::clear() {
    // The lock makes this the only consumer for a moment. Dropping by moving the read
    // index (rather than zeroing both) lets the producer keep writing on its own thread.
    SDL_LockAudioDevice(impl_->device);
    impl_->play.dropAll();
    impl_->consumed.store(0, std::memory_order_release);
    SDL_UnlockAudioDevice(impl_->device);
}

void AudioOutput::setPaused(bool paused) { impl_->paused.store(paused, std::memory_order_release); }

bool AudioOutput::isPaused() const { return impl_->paused.load(std::memory_order_acquire); }

int64_t AudioOutput::consumedFrames() const { return impl_->consumed.load(std::memory_order_acquire); }

int64_t AudioOutput::lastCallbackTimeNs() const { return impl_->lastConsumeNs.load(std::memory_order_acquire); }

void AudioOutput::setTapEnabled(bool enabled) {
    if (!enabled) {
        impl_->tapEnabled.store(false, std::memory_order_release);
        return;
    }
    // With the callback locked out, what the tap holds afterwards starts at a buffer
    // boundary of what is heard.
    SDL_LockAudioDevice(impl_->device);
    impl_->tap.dropAll();
    impl_->tapEnabled.store(true, std::memory_order_release);
    SDL_UnlockAudioDevice(impl_->device);
}

size_t AudioOutput::readTap(float* interleaved, size_t frames) { return impl_->tap.pop(interleaved, frames); }

size_t AudioOutput::tapAvailableFrames() const { return impl_->tap.availableFrames(); }

uint64_t AudioOutput::tapDroppedFrames() const { return impl_->tapDropped.load(std::memory_order_relaxed); }

}  // namespace lumbrix
