#pragma once
#if !defined(LUMBRIX_INSIDE_CAPTURE) && !defined(LUMBRIX_TESTS)
#error "capture/movie_writer_errors.h is internal to capture/"
#endif
// The movie writer's own error codes and wording, shared by its picture and sound
// halves. Internal to capture/.
extern "C" {
#include <libavutil/error.h>
}

#include <string>

#include "platform/error.h"

namespace lumbrix::movie_writer_detail {

// What the file system refuses comes as POSIX errors instead.
enum WriterErrorCode : int {
    muxerUnavailable = 1,
    encoderUnavailable = 2,
    encoderSetupFailed = 3,
    encodeFailed = 4,
    muxFailed = 5,
};

inline constexpr const char* kErrorDomain = "MovieWriter";

inline std::string ffmpegText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

inline Error writerError(WriterErrorCode code, const std::string& what, int ffmpegCode) {
    return Error(kErrorDomain, code, what + ": " + ffmpegText(ffmpegCode));
}

// FFmpeg hands the system's failures on as negated errno values; its own codes are
// four-letter tags far outside that range.
inline Error fileError(int ffmpegCode, const std::string& what) {
    if (ffmpegCode < 0 && ffmpegCode > -4096) return posixError(-ffmpegCode, what);
    return writerError(muxFailed, what, ffmpegCode);
}

}  // namespace lumbrix::movie_writer_detail
