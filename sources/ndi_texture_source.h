#pragma once
// The picture source of a live NDI stream: each frame the renderer asks for, the
// receiver's newest frame goes into one GL texture, re-made only when the size changes.
// The sender's sound plays on the default playback device as a video file's does, and a
// recording takes it through the same tap.
#include <cstdint>
#include <memory>

#include "platform/gl/gl_object.h"
#include "sources/ndi_receiver.h"
#include "sources/source_sound.h"
#include "sources/texture_source.h"

namespace lumbrix {

enum class NDIUploadPath {
    direct,       // glTexSubImage2D from the frame's bytes
    pixelBuffer,  // through a streaming pixel-buffer object
};

enum class NDISoundPlayback {
    device,  // the default playback device (none when it cannot be opened)
    none,    // someone else takes the sound (lumbrix-render listens to the receiver itself)
};

class NDITextureSource final : public TextureSource, public SourceSound {
public:
    explicit NDITextureSource(std::shared_ptr<NDIReceiver> receiver, NDIUploadPath uploadPath = NDIUploadPath::direct,
                              NDISoundPlayback playback = NDISoundPlayback::device);
    ~NDITextureSource() override;
    NDITextureSource(const NDITextureSource&) = delete;
    NDITextureSource& operator=(const NDITextureSource&) = delete;

    void stop() override {}
    // Paused, the last uploaded picture stays while frames keep arriving; the sound
    // falls silent.
    void setPlaying(bool playing) override;
    void setLooping(bool looping) override { looping_ = looping; }
    unsigned int texture() override;
    std::optional<double> durationSeconds() const override { return std::nullopt; }
    std::optional<double> currentSeconds() const override { return std::nullopt; }
    bool isSeekable() const override { return false; }
    void seek(double) override {}

    // Offered whenever a playback device is open, whether or not the sender sends sound:
    // one that starts later is recorded from then on, silence before. Without a device
    // there is nothing to tap, and an empty track would only cost the movie.
    SourceSound* sound() override { return playsSound() ? this : nullptr; }
    void installRecordingTap(std::function<void(const AudioSampleBuffer&)> callback) override;
    void removeRecordingTap() override;
    void setRecordingGainDB(float gainDB) override;
    float recordingGainDB() const override;
    void setOnRecordingLevel(std::function<void(float)> onLevel) override;
    // Whether a playback device was opened for the sound.
    bool playsSound() const;

    bool isPlaying() const { return playing_; }
    bool isLooping() const { return looping_; }
    const std::shared_ptr<NDIReceiver>& receiver() const { return receiver_; }
    // Textures made and frames uploaded so far.
    uint64_t textureCreations() const { return textureCreations_; }
    uint64_t uploads() const { return uploads_; }

private:
    struct Sound;
    void upload(const VideoFrame& frame);

    std::shared_ptr<NDIReceiver> receiver_;
    NDIUploadPath uploadPath_;
    bool playing_ = true;
    bool looping_ = true;
    GLTexture tex_;
    int lastW_ = 0;
    int lastH_ = 0;
    GLBuffer pixelBuffer_;
    // The bytes last uploaded: a frame already in the texture is not sent again.
    std::shared_ptr<const uint8_t[]> uploadedData_;
    uint64_t textureCreations_ = 0;
    uint64_t uploads_ = 0;
    std::shared_ptr<Sound> sound_;  // shared with the receiver's capture thread
    int soundListener_ = 0;
};

}  // namespace lumbrix
