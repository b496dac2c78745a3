#pragma once
// The picture source of a live NDI stream: each frame the renderer asks for, the
// receiver's newest frame goes into one GL texture, re-made only when the size changes.
#include <cstdint>
#include <memory>

#include "platform/gl/gl_object.h"
#include "sources/ndi_receiver.h"
#include "sources/texture_source.h"

namespace lumbrix {

enum class NDIUploadPath {
    direct,       // glTexSubImage2D from the frame's bytes
    pixelBuffer,  // through a streaming pixel-buffer object
};

class NDITextureSource final : public TextureSource {
public:
    explicit NDITextureSource(std::shared_ptr<NDIReceiver> receiver, NDIUploadPath uploadPath = NDIUploadPath::direct);

    void stop() override {}
    // Paused, the last uploaded picture stays while frames keep arriving.
    void setPlaying(bool playing) override { playing_ = playing; }
    void setLooping(bool looping) override { looping_ = looping; }
    unsigned int texture() override;
    std::optional<double> durationSeconds() const override { return std::nullopt; }
    std::optional<double> currentSeconds() const override { return std::nullopt; }
    bool isSeekable() const override { return false; }
    void seek(double) override {}

    bool isPlaying() const { return playing_; }
    bool isLooping() const { return looping_; }
    const std::shared_ptr<NDIReceiver>& receiver() const { return receiver_; }
    // Textures made and frames uploaded so far.
    uint64_t textureCreations() const { return textureCreations_; }
    uint64_t uploads() const { return uploads_; }

private:
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
};

}  // namespace lumbrix
