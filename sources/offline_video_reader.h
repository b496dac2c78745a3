#pragma once
// A video file read for offline rendering: the picture due at any time and the sound for
// any span, decoded on the caller's thread. There is no clock and nothing is dropped; a
// render asks for frame after frame and gets exactly what the file shows then.
//
// Pictures and sound each have their own demuxer on the file, so each reads forward at
// its own pace without holding the other's packets.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/expected.h"
#include "platform/media/audio_sample_buffer.h"

namespace lumbrix {

class OfflineVideoReader {
public:
    static constexpr int kSoundRate = 48000;

    // Fails with an Error (the media domain) when the file cannot be read or its video cannot be
    // decoded. Sound is optional: a file without (decodable) sound opens all the same.
    static Expected<std::unique_ptr<OfflineVideoReader>, Error> open(const std::string& path);
    ~OfflineVideoReader();
    OfflineVideoReader(const OfflineVideoReader&) = delete;
    OfflineVideoReader& operator=(const OfflineVideoReader&) = delete;

    std::optional<double> durationSeconds() const { return duration_; }  // > 0 and finite
    int widthPx() const { return width_; }
    int heightPx() const { return height_; }
    bool hasSound() const { return sound_ != nullptr; }

    // The picture showing at `seconds` (from the file's start): the last frame stamped at or
    // before it, the first frame before that, the last frame past the end. RGBA, top row
    // first, widthPx × heightPx × 4 bytes, valid until the next call; null when the
    // video cannot be decoded there. Reading forward is cheapest; an earlier time, or one
    // more than a couple of seconds ahead, seeks.
    const std::vector<uint8_t>* pictureAt(double seconds, double* framePtsSeconds = nullptr);

    // The file's sound over [fromSeconds, toSeconds) as 48 kHz planar stereo float, with
    // silence wherever the file has none. Both ends are counted as floor(t × 48000), so
    // spans laid end to end join without a gap or an overlap. Consecutive spans decode
    // straight on; an earlier or far-off span seeks.
    AudioSampleBuffer soundFor(double fromSeconds, double toSeconds);

private:
    OfflineVideoReader();

    struct Picture;
    struct Sound;
    std::unique_ptr<Picture> picture_;
    std::unique_ptr<Sound> sound_;
    std::optional<double> duration_;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace lumbrix
