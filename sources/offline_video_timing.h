#pragma once
#if !defined(LUMBRIX_INSIDE_SOURCES) && !defined(LUMBRIX_TESTS)
#error "sources/offline_video_timing.h is internal to sources/"
#endif
// The offline reader's clock arithmetic and limits, shared by its picture and its sound.
extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
}

#include <cmath>
#include <cstdint>
#include <limits>

#include "sources/offline_video_reader.h"

namespace lumbrix::offline_video {

struct ChannelLayoutOwner {
    AVChannelLayout layout{};
    ~ChannelLayoutOwner() { av_channel_layout_uninit(&layout); }
};

// Stamps are rationals and render times are doubles: a frame stamped within a
// microsecond after the time asked for counts as due, so that k / fps is frame k even
// when the sum that made it came out a hair low.
inline constexpr double kDueSlackSeconds = 1e-6;
// Beyond this, seeking to the key frame before costs less than decoding all the way.
inline constexpr double kFarAheadSeconds = 2.0;
// AAC and its kin need a few packets before their output settles: sound seeks start
// this much early and throw the lead-in away.
inline constexpr double kSoundPrerollSeconds = 0.2;
// Stamps that stray further than this from the samples counted so far mark a real gap
// (or overlap) in the file's sound rather than rounding.
inline constexpr double kSoundJumpSeconds = 0.05;
// Further than any file lasts; keeps sample counts and stamps well inside int64.
inline constexpr double kTimeLimitSeconds = 1e9;
// As with the sample counts: a time meant to fall on a sample that came out a hair
// early from the caller's arithmetic still starts at that sample.
inline constexpr double kSampleSlack = 1e-6;

inline constexpr int64_t kUnknownIndex = std::numeric_limits<int64_t>::min();

// Only one stream is wanted from each demuxer; the others are not even read.
inline void keepOnlyStream(AVFormatContext* format, int keep) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != keep) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
}

// Seconds from the container's start, as the viewer counts them. Multiplying before
// dividing rounds once, so k / 30 s stamped in 1/15360 units is the very double k / 30.0.
inline double toSeconds(int64_t stamp, AVRational timeBase, int64_t startTime) {
    return static_cast<double>(stamp) * timeBase.num / timeBase.den -
           static_cast<double>(startTime) / AV_TIME_BASE;
}

// Rounded down, so a seek lands at or before the time asked for.
inline int64_t toStamp(double seconds, AVRational timeBase, int64_t startTime) {
    const auto micro = static_cast<int64_t>(std::floor(seconds * AV_TIME_BASE)) + startTime;
    return av_rescale_q_rnd(micro, AVRational{1, AV_TIME_BASE}, timeBase, AV_ROUND_DOWN);
}

inline int64_t soundIndex(double seconds) {
    return static_cast<int64_t>(std::floor(seconds * OfflineVideoReader::kSoundRate + kSampleSlack));
}

}  // namespace lumbrix::offline_video
