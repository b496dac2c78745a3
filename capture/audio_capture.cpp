#include "capture/audio_capture.h"

#include <SDL.h>
#include <pthread.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/audio/sdl_audio.h"
#include "platform/console_line.h"

namespace lumbrix {
namespace {

// Linux keeps 15 characters of a thread name; this is what a debugger shows.
constexpr char kQueueLabel[] = "AudioCapture.mic.queue";
constexpr int kPreferredRate = 44100;
// A device buffer lasts about 23 ms; draining at a fraction of that keeps the hand-over
// prompt without the capture thread having to signal anyone.
constexpr auto kDrainInterval = std::chrono::milliseconds(5);

// The rate as the status line has always shown a double: a whole number keeps one
// decimal ("48000.0").
std::string rateText(double rate) {
    char text[64];
    if (std::isfinite(rate) && rate == std::floor(rate) && std::fabs(rate) < 1e15) {
        std::snprintf(text, sizeof text, "%.1f", rate);
        return text;
    }
    const auto result = std::to_chars(text, text + sizeof text, rate);
    return std::string(text, result.ptr);
}

float levelOf(const std::vector<float>& samples) {
    double sumOfSquares = 0.0;
    for (float sample : samples) sumOfSquares += double{sample} * sample;
    const double value =
        std::sqrt(sumOfSquares / static_cast<double>(std::max<size_t>(samples.size(), 1))) * 3.0;
    // Checked before the cap: min(1, NaN) would pass a broken buffer off as full scale.
    return std::isnan(value) || value < 0.0 ? 0.0f : static_cast<float>(std::min(1.0, value));
}

// One producer (SDL's capture thread), one consumer (the worker). The indices count
// frames since the ring was made and only grow, so full and empty need no spare slot.
class FrameRing {
public:
    FrameRing(size_t capacityFrames, size_t channels)
        : samples_(new float[capacityFrames * channels]), capacity_(capacityFrames), frameBytes_(channels * sizeof(float)) {}

    // Producer. Frames that do not fit are dropped: the capture thread must not wait.
    void push(const Uint8* bytes, size_t frames) {
        const size_t written = write_.load(std::memory_order_relaxed);
        const size_t read = read_.load(std::memory_order_acquire);
        const size_t count = std::min(frames, capacity_ - (written - read));
        const size_t slot = written % capacity_;
        const size_t first = std::min(count, capacity_ - slot);
        auto* base = reinterpret_cast<Uint8*>(samples_.get());
        std::memcpy(base + slot * frameBytes_, bytes, first * frameBytes_);
        std::memcpy(base, bytes + first * frameBytes_, (count - first) * frameBytes_);
        write_.store(written + count, std::memory_order_release);
    }

    // Consumer.
    size_t available() const {
        return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed);
    }

    // Consumer; the caller checked available().
    void pop(float* out, size_t frames) {
        const size_t read = read_.load(std::memory_order_relaxed);
        const size_t slot = read % capacity_;
        const size_t first = std::min(frames, capacity_ - slot);
        const auto* base = reinterpret_cast<const Uint8*>(samples_.get());
        auto* target = reinterpret_cast<Uint8*>(out);
        std::memcpy(target, base + slot * frameBytes_, first * frameBytes_);
        std::memcpy(target + first * frameBytes_, base, (frames - first) * frameBytes_);
        read_.store(read + frames, std::memory_order_release);
    }

private:
    std::unique_ptr<float[]> samples_;
    const size_t capacity_;
    const size_t frameBytes_;
    alignas(64) std::atomic<size_t> write_{0};
    alignas(64) std::atomic<size_t> read_{0};
};

}  // namespace

// One opened capture device, from start to stop. Owns its share of SDL's audio
// subsystem, so SDL shuts down once nobody records or plays.
struct AudioCapture::Session {
    SDL_AudioDeviceID device = 0;
    int channels = 0;
    int sampleRate = 0;
    std::unique_ptr<FrameRing> ring;  // set before the device is unpaused
    // Where the device's sample count stood on the steady clock at its latest callback:
    // frame `anchorFrames` was heard at `anchorNanos`. Re-anchored at every callback, so a
    // device clock that drifts from the system's never carries the drift into a
    // recording. Written by the capture thread only, under a sequence count the reader
    // retries on (the callback must never wait).
    std::atomic<uint32_t> anchorSequence{0};
    std::atomic<int64_t> anchorNanos{0};
    std::atomic<int64_t> anchorFrames{0};
    int64_t pushedFrames = 0;  // capture thread only

    // When frame `index` was heard (steady clock ns), or 0 before the first callback.
    int64_t heardAt(int64_t index) const {
        for (;;) {
            const uint32_t before = anchorSequence.load(std::memory_order_acquire);
            const int64_t nanos = anchorNanos.load(std::memory_order_relaxed);
            const int64_t frames = anchorFrames.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if ((before & 1u) == 0 && anchorSequence.load(std::memory_order_relaxed) == before) {
                if (nanos == 0) return 0;
                return nanos + static_cast<int64_t>(1e9 * static_cast<double>(index - frames) / sampleRate);
            }
        }
    }

    ~Session() {
        // Returns once SDL's capture thread has finished, so the callback never sees a
        // dead ring.
        if (device != 0) SDL_CloseAudioDevice(device);
        releaseSdlAudio();
    }

    // SDL's capture thread: copy and go.
    static void SDLCALL captured(void* userdata, Uint8* stream, int len) {
        auto* session = static_cast<Session*>(userdata);
        const size_t frameBytes = static_cast<size_t>(session->channels) * sizeof(float);
        const size_t frames = static_cast<size_t>(len) / frameBytes;
        // The device hands a buffer over once it is full: its last sample was just heard.
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        session->pushedFrames += static_cast<int64_t>(frames);
        const uint32_t sequence = session->anchorSequence.load(std::memory_order_relaxed);
        session->anchorSequence.store(sequence + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        session->anchorNanos.store(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(),
                                   std::memory_order_relaxed);
        session->anchorFrames.store(session->pushedFrames, std::memory_order_relaxed);
        session->anchorSequence.store(sequence + 2, std::memory_order_release);
        session->ring->push(stream, frames);
    }

    // Opens the default capture device paused; fails with SDL's reason.
    static std::unique_ptr<Session> open(int requestedChannels, std::string& failure) {
        if (std::string problem = acquireSdlAudio(); !problem.empty()) {
            failure = SDL_GetError();
            return nullptr;
        }
        // From here on the destructor gives the subsystem back.
        auto session = std::make_unique<Session>();
        SDL_AudioSpec want{};
        want.freq = kPreferredRate;
        want.channels = static_cast<Uint8>(requestedChannels == 2 ? 2 : 1);
        SDL_AudioSpec native{};
        char* name = nullptr;
        if (SDL_GetDefaultAudioInfo(&name, &native, 1) == 0) {
            SDL_free(name);
            if (native.freq > 0) want.freq = native.freq;
            if (requestedChannels == 0 && native.channels >= 2) want.channels = 2;
        }
        want.format = AUDIO_F32SYS;
        want.samples = static_cast<Uint16>(kBufferFrames);
        want.callback = &Session::captured;
        want.userdata = session.get();
        SDL_AudioSpec have{};
        // Only the rate and the channel count may differ: the samples always arrive as
        // floats, and the buffers carry whatever layout the microphone really has.
        session->device = SDL_OpenAudioDevice(nullptr, 1, &want, &have,
                                              SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
        if (session->device == 0) {
            failure = SDL_GetError();
            return nullptr;
        }
        session->channels = have.channels;
        session->sampleRate = have.freq;
        // A second of sound: the worker would have to stall that long before a frame is lost.
        const size_t capacity = std::max<size_t>(static_cast<size_t>(have.freq), 8 * kBufferFrames);
        session->ring = std::make_unique<FrameRing>(capacity, static_cast<size_t>(have.channels));
        return session;
    }
};

AudioCapture::AudioCapture(std::shared_ptr<MainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)), worker_(&AudioCapture::run, this) {}

AudioCapture::~AudioCapture() {
    {
        std::lock_guard lock(queueMutex_);
        quitting_ = true;
    }
    queueChanged_.notify_all();
    worker_.join();
    session_.reset();
}

void AudioCapture::setOnMicSampleBuffer(SampleBufferCallback callback) {
    post([this, callback = std::move(callback)]() mutable { onMicSampleBuffer_ = std::move(callback); });
}

void AudioCapture::setOnMicLevel(LevelCallback callback) {
    post([this, callback = std::move(callback)]() mutable { onMicLevel_ = std::move(callback); });
}

void AudioCapture::setOnMicUnavailable(UnavailableCallback callback) { onMicUnavailable_ = std::move(callback); }

void AudioCapture::setMicGainDB(float gainDB) { micGainDB_.store(gainDB, std::memory_order_relaxed); }

float AudioCapture::micGainDB() const { return micGainDB_.load(std::memory_order_relaxed); }

double AudioCapture::sampleRate() const { return sampleRate_.load(); }

int64_t AudioCapture::audioSamplesWritten() const { return audioSamplesWritten_.load(); }

bool AudioCapture::isRunning() const { return isRunning_.load(); }

void AudioCapture::start() {
    if (!isMicEnabled) {
        printConsoleLine("AudioCapture: Mic not enabled");
        return;
    }
    if (isRunning_.load() && pendingStops_.load() == 0) return;
    printConsoleLine("AudioCapture: Starting mic capture with AVAudioEngine...");
    // Opening the device is the permission check here. It runs on the worker: reaching
    // the sound server can take a while, and the GUI thread must not wait for it.
    post([this, channels = requestedChannels, onUnavailable = onMicUnavailable_]() mutable {
        startOnWorker(channels, std::move(onUnavailable));
    });
}

void AudioCapture::stop() {
    pendingStops_.fetch_add(1);
    post([this] {
        stopOnWorker();
        pendingStops_.fetch_sub(1);
    });
}

void AudioCapture::post(std::function<void()> task) {
    {
        std::lock_guard lock(queueMutex_);
        tasks_.push_back(std::move(task));
    }
    queueChanged_.notify_one();
}

void AudioCapture::run() {
    char threadName[16] = {};
    std::memcpy(threadName, kQueueLabel, sizeof threadName - 1);
    pthread_setname_np(pthread_self(), threadName);
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(queueMutex_);
            const auto ready = [this] { return quitting_ || !tasks_.empty(); };
            // Idle, nothing arrives but tasks; while recording, the ring needs draining too.
            if (session_) {
                queueChanged_.wait_for(lock, kDrainInterval, ready);
            } else {
                queueChanged_.wait(lock, ready);
            }
            if (!tasks_.empty()) {
                task = std::move(tasks_.front());
                tasks_.pop_front();
            } else if (quitting_) {
                break;
            }
        }
        if (task) task();
        packAvailable();
    }
    // SDL keeps its error text per thread and frees it only for threads it made itself.
    SDL_TLSCleanup();
}

void AudioCapture::startOnWorker(int channels, UnavailableCallback onUnavailable) {
    if (isRunning_.load()) return;
    session_.reset();
    audioSamplesWritten_.store(0);

    std::string failure;
    std::unique_ptr<Session> session = Session::open(channels, failure);
    if (!session) {
        printConsoleLine("AudioCapture: Current microphone permission status: 2 (denied)");
        printConsoleLine("AudioCapture: Microphone permission denied or restricted");
        // There is no privacy pane to send the user to; the caller explains what to fix.
        if (onUnavailable) {
            mainQueue_->post([onUnavailable = std::move(onUnavailable), failure = std::move(failure)] {
                onUnavailable(failure);
            });
        }
        return;
    }
    printConsoleLine("AudioCapture: Current microphone permission status: 3 (authorized)");
    sampleRate_.store(static_cast<double>(session->sampleRate));

    SDL_PauseAudioDevice(session->device, 0);
    // A device unplugged between opening and now is reported stopped.
    if (SDL_GetAudioDeviceStatus(session->device) != SDL_AUDIO_PLAYING) {
        const char* reason = SDL_GetError();
        session.reset();
        printConsoleLine(std::string("AudioCapture: ❌ AVAudioEngine start failed: ") +
                         (reason != nullptr && *reason != '\0' ? reason : "the capture device stopped"));
        return;
    }
    const int deviceChannels = session->channels;
    session_ = std::move(session);
    isRunning_.store(true);
    printConsoleLine("AudioCapture: ✅ AVAudioEngine started, sampleRate=" + rateText(sampleRate_.load()) +
                     ", channels=" + std::to_string(deviceChannels));
}

void AudioCapture::stopOnWorker() {
    if (!isRunning_.load()) return;
    session_.reset();
    isRunning_.store(false);
    audioSamplesWritten_.store(0);
    printConsoleLine("AudioCapture: Mic engine stopped");
}

void AudioCapture::packAvailable() {
    if (!session_) return;
    const size_t frames = static_cast<size_t>(kBufferFrames);
    const int channels = session_->channels;
    while (session_ && session_->ring->available() >= frames) {
        AudioSampleBuffer buffer;
        buffer.sampleRate = sampleRate_.load();
        buffer.channels = channels;
        buffer.interleaved = true;
        buffer.frameCount = kBufferFrames;
        buffer.planes.resize(frames * static_cast<size_t>(channels));
        session_->ring->pop(buffer.planes.data(), frames);

        const float gain = std::pow(10.0f, micGainDB_.load(std::memory_order_relaxed) / 20.0f);
        // At unity the samples pass untouched, so the clip does not flatten them either.
        if (gain != 1.0f) {
            for (float& sample : buffer.planes) sample = std::min(1.0f, std::max(-1.0f, sample * gain));
        }
        if (onMicLevel_) {
            mainQueue_->post([onLevel = onMicLevel_, level = levelOf(buffer.planes)] { onLevel(level); });
        }
        buffer.timescale = static_cast<int32_t>(std::lround(buffer.sampleRate));
        buffer.presentationValue = audioSamplesWritten_.load();
        buffer.hostTimeNanos = session_->heardAt(buffer.presentationValue);
        audioSamplesWritten_.fetch_add(kBufferFrames);
        if (onMicSampleBuffer_) onMicSampleBuffer_(buffer);
    }
}

}  // namespace lumbrix
