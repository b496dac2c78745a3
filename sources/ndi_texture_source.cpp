#include "sources/ndi_texture_source.h"

#include <epoxy/gl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/audio/audio_output.h"
#include "platform/console_line.h"
#include "platform/media/ffmpeg_handles.h"
#include "sources/audio_tap.h"
#include "sources/picture_texture.h"

namespace lumbrix {

namespace {
constexpr int kDeviceRate = 48000;  // what NDI senders nearly always send
constexpr int kDeviceChannels = 2;
constexpr double kRingSeconds = 1.0;
// A live stream is not worth hearing late: past this much queued, blocks are dropped, so
// a device clock slower than the sender's cannot pile up delay.
constexpr double kMostQueuedSeconds = 0.2;
}  // namespace

struct NDITextureSource::Sound {
    // Made before the listener is added and kept until after it is removed, so the
    // capture thread may use it without a lock; the tap refers to it too.
    std::unique_ptr<AudioOutput> output;
    std::atomic<bool> playing{true};
    // The ring has one producer, the capture thread, so a pause asks it to empty the ring
    // rather than doing so from the main thread.
    std::atomic<bool> clearPending{false};

    // The capture thread's own: the listener is its only user.
    ResamplerPtr resampler;
    int inRate = 0;
    int inChannels = 0;
    std::vector<float> converted;

    // Main thread only.
    std::shared_ptr<std::atomic<float>> gainDB = std::make_shared<std::atomic<float>>(-8.0f);
    std::function<void(float)> onLevel;
    std::unique_ptr<AudioTap> tap;

    void hear(const NDISoundBlock& block) {
        if (!playing.load()) {
            return;
        }
        if (clearPending.exchange(false)) {
            output->clear();  // a live stream resumes live, not where it paused
        }
        const AudioOutputFormat& device = output->format();
        if (static_cast<double>(output->queuedFrames()) > kMostQueuedSeconds * device.sampleRate) {
            return;
        }
        const float* samples = block.interleaved;
        size_t frames = static_cast<size_t>(block.frames);
        if (block.sampleRate != device.sampleRate || block.channels != device.channels) {
            if (!resampler || block.sampleRate != inRate || block.channels != inChannels) {
                resampler = makeResampler(block.sampleRate, block.channels, device);
                inRate = block.sampleRate;
                inChannels = block.channels;
            }
            if (!resampler) {
                return;
            }
            const int capacity = swr_get_out_samples(resampler.get(), block.frames);
            converted.resize(static_cast<size_t>(std::max(capacity, 0)) * device.channels);
            uint8_t* out[1] = {reinterpret_cast<uint8_t*>(converted.data())};
            const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(block.interleaved)};
            const int made = swr_convert(resampler.get(), out, capacity, in, block.frames);
            if (made <= 0) {
                return;
            }
            samples = converted.data();
            frames = static_cast<size_t>(made);
        }
        output->write(samples, frames);  // what does not fit is dropped: a live stream never waits
    }

    static ResamplerPtr makeResampler(int rate, int channels, const AudioOutputFormat& device) {
        AVChannelLayout inLayout, outLayout;
        av_channel_layout_default(&inLayout, channels);
        av_channel_layout_default(&outLayout, device.channels);
        SwrContext* made = nullptr;
        const int result = swr_alloc_set_opts2(&made, &outLayout, AV_SAMPLE_FMT_FLT, device.sampleRate, &inLayout,
                                               AV_SAMPLE_FMT_FLT, rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        ResamplerPtr owner(made);
        if (result < 0 || !owner || swr_init(owner.get()) < 0) {
            return nullptr;
        }
        return owner;
    }
};

NDITextureSource::NDITextureSource(std::shared_ptr<NDIReceiver> receiver, NDIUploadPath uploadPath,
                                   NDISoundPlayback playback)
    : receiver_(std::move(receiver)), uploadPath_(uploadPath), sound_(std::make_shared<Sound>()) {
    if (playback == NDISoundPlayback::none) {
        return;
    }
    auto opened = AudioOutput::open(kDeviceRate, kDeviceChannels, static_cast<size_t>(kDeviceRate * kRingSeconds));
    if (!opened) {
        printConsoleLine("NDITextureSource: no sound: " + opened.error().description);
        return;
    }
    sound_->output = std::move(opened.value());
    soundListener_ = receiver_->addSoundListener([sound = sound_](const NDISoundBlock& block) { sound->hear(block); });
}

NDITextureSource::~NDITextureSource() {
    if (soundListener_ != 0) {
        receiver_->removeSoundListener(soundListener_);
    }
    sound_->tap.reset();
}

bool NDITextureSource::playsSound() const { return sound_->output != nullptr; }

void NDITextureSource::setPlaying(bool playing) {
    playing_ = playing;
    if (!playing) {
        sound_->clearPending.store(true);
    }
    sound_->playing.store(playing);
    if (sound_->output) {
        sound_->output->setPaused(!playing);
    }
}

void NDITextureSource::installRecordingTap(std::function<void(const AudioSampleBuffer&)> callback) {
    if (!sound_->output) {
        return;
    }
    if (!sound_->tap) {
        sound_->tap = std::make_unique<AudioTap>(
            *sound_->output,
            [queue = receiver_->mainQueue(), weak = std::weak_ptr<Sound>(sound_)](float level) {
                queue->post([weak, level] {
                    if (auto sound = weak.lock(); sound && sound->onLevel) {
                        sound->onLevel(level);
                    }
                });
            },
            sound_->gainDB);
    }
    sound_->tap->install(std::move(callback));
    printConsoleLine("NDITextureSource: Audio tap installed for recording");
}

void NDITextureSource::removeRecordingTap() {
    if (sound_->tap) {
        sound_->tap->remove();
        printConsoleLine("NDITextureSource: Audio tap removed");
    }
}

void NDITextureSource::setRecordingGainDB(float gainDB) { sound_->gainDB->store(gainDB); }
float NDITextureSource::recordingGainDB() const { return sound_->gainDB->load(); }
void NDITextureSource::setOnRecordingLevel(std::function<void(float)> onLevel) { sound_->onLevel = std::move(onLevel); }

unsigned int NDITextureSource::texture() {
    if (!playing_) {
        return tex_.id();
    }
    std::optional<VideoFrame> frame = receiver_->latestFrame();
    if (!frame || !frame->data) {
        return tex_.id();
    }
    // The receiver drops such frames; the check stays here because the upload reads
    // width × 4 bytes from every row and can only step whole pixels between rows.
    if (frame->width <= 0 || frame->height <= 0 || int64_t{frame->stride} < int64_t{4} * frame->width ||
        frame->stride % 4 != 0) {
        return tex_.id();
    }
    GLint previousTexture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
    if (!tex_ || frame->width != lastW_ || frame->height != lastH_) {
        lastW_ = frame->width;
        lastH_ = frame->height;
        uploadedData_.reset();
        while (glGetError() != GL_NO_ERROR) {
        }
        GLTexture made = GLTexture::generate();
        glBindTexture(GL_TEXTURE_2D, made.id());
        applyPictureSampling();
        // The frame's BGRA bytes are stored as they come and the sampler swaps red and
        // blue: desktop GL has no BGRA storage format, and converting on upload costs
        // Mesa's software path two and a half times a plain copy.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_RED);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, frame->width, frame->height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        const bool failed = glGetError() != GL_NO_ERROR;
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
        if (failed) {
            tex_.reset();
            return 0;
        }
        tex_ = std::move(made);
        ++textureCreations_;
    }
    if (frame->data != uploadedData_) {
        glBindTexture(GL_TEXTURE_2D, tex_.id());
        upload(*frame);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
        uploadedData_ = frame->data;
        ++uploads_;
    }
    return tex_.id();
}

// Expects the texture bound; leaves the unpack state as it found it.
void NDITextureSource::upload(const VideoFrame& frame) {
    GLint previousAlignment = 4;
    GLint previousRowLength = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &previousRowLength);
    const uint8_t* bytes = frame.data.get();
    if (uploadPath_ == NDIUploadPath::pixelBuffer) {
        if (!pixelBuffer_) {
            pixelBuffer_ = GLBuffer::generate();
        }
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, pixelBuffer_.id());
        // Orphaning the old storage lets the driver keep reading it for a texture
        // upload still in flight while we fill the new one.
        glBufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(frame.byteCount()), nullptr, GL_STREAM_DRAW);
        void* mapped = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, static_cast<GLsizeiptr>(frame.byteCount()),
                                        GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
        if (mapped == nullptr) {
            glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        } else {
            std::memcpy(mapped, bytes, frame.byteCount());
            glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER);
            bytes = nullptr;  // offset 0 in the bound buffer
        }
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, frame.stride / 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frame.width, frame.height, GL_RGBA, GL_UNSIGNED_BYTE, bytes);
    glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, previousRowLength);
    if (uploadPath_ == NDIUploadPath::pixelBuffer) {
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    }
}

}  // namespace lumbrix
