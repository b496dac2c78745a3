#pragma once
// A video file as a picture source for lumbrix-render: the picture due at each frame's
// time, uploaded only when it is a different frame.
#include <memory>
#include <optional>

#include "platform/gl/gl_object.h"
#include "sources/offline_video_reader.h"
#include "sources/texture_source.h"

namespace lumbrix::render_tool {

class OfflineVideoSource : public TextureSource {
public:
    explicit OfflineVideoSource(std::unique_ptr<OfflineVideoReader> reader) : reader_(std::move(reader)) {}
    void stop() override {}
    void setPlaying(bool) override {}
    void setLooping(bool) override {}
    unsigned int texture() override { return texture_.id(); }
    std::optional<double> durationSeconds() const override { return reader_->durationSeconds(); }
    std::optional<double> currentSeconds() const override { return seconds_; }
    bool isSeekable() const override { return true; }
    void seek(double seconds) override { seconds_ = seconds; }

    // Loads the picture due at `seconds`; false when the file gives none.
    bool showAt(double seconds);
    OfflineVideoReader& reader() { return *reader_; }

private:
    std::unique_ptr<OfflineVideoReader> reader_;
    GLTexture texture_;
    std::optional<double> shownPts_;
    double seconds_ = 0.0;
};

}  // namespace lumbrix::render_tool
