#pragma once
#if !defined(LUMBRIX_INSIDE_SOURCES) && !defined(LUMBRIX_TESTS)
#error "sources/media_file.h is internal to sources/"
#endif
// Opening a video file for decoding: the one reading of a file that the viewer's playback
// and the offline renderer share, so that both take the same streams, refuse the same
// files and show the same colours.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/error.h"
#include "platform/expected.h"
#include "platform/media/ffmpeg_handles.h"

namespace lumbrix {

// Opening failures are Errors of this domain, their code the step where opening stopped
// and their text one line with the reason where one is known. The text is the same for
// every user, except that the viewer has always reported unreadable streams without
// FFmpeg's reason.
inline constexpr const char* kMediaErrorDomain = "Media";
enum class MediaFileStep { OpenFile = 1, ReadStreams, ChooseStreams, Decode };

inline bool failedAt(const Error& error, MediaFileStep step) {
    return error.domain == kMediaErrorDomain && error.code == static_cast<int>(step);
}

// A path that is not a regular file is refused before FFmpeg opens it, and only the
// "file" protocol may be used. The streams have been probed.
Expected<FormatContextPtr, Error> openMediaContainer(const std::string& path);

struct MediaFile {
    // Either side of a picture beyond this is refused before a decoder is made for it.
    static constexpr int kMaxPictureSidePx = 16384;

    // The container, its best video stream with an opened decoder, and the best sound
    // stream beside it when there is one.
    static Expected<MediaFile, Error> open(const std::string& path);

    FormatContextPtr format;
    int videoStream = -1;
    CodecContextPtr video;  // decodes on as many threads as the machine has
    int widthPx = 0;
    int heightPx = 0;
    // -1 when there is no sound stream or no decoder for it; `audio` is null when the
    // decoder was found but would not open.
    int audioStream = -1;
    CodecContextPtr audio;
    int64_t startTime = 0;              // AV_TIME_BASE units: the container's first timestamp
    double frameSeconds = 1.0 / 30.0;   // stands in for a missing stamp
    std::optional<double> durationSeconds;  // > 0 and finite
};

// Makes `scaler` (or keeps it, when it already fits) for turning `frame` into RGBA rows of
// widthPx × heightPx, with the colours the file declares: BT.709 for HD unless it says
// otherwise, full range only when it says so. False when swscale cannot convert.
bool prepareRgbaConverter(ScaleContextPtr& scaler, const AVFrame& frame, int widthPx, int heightPx);

}  // namespace lumbrix
