#pragma once
// Video and sound files for the file-source tests and benchmarks, made on the spot with
// the ffmpeg program rather than checked in: sizes, rates and codecs vary per case, and
// a 4K clip would not belong in the repository anyway.
//
// Every picture is a run of solid colours, one per whole second, so a test can tell
// which second a decoded frame came from by its colour alone. The sound is a steady
// sine whose peak is known, so level and gain checks have an exact expectation (AAC
// moves peaks by a few percent; PCM keeps them).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrix::test {

struct ClipSpec {
    int widthPx = 64, heightPx = 48;
    double fps = 30.0;
    // One solid colour per whole second: ffmpeg colour names or 0xRRGGBB. The clip
    // lasts exactly this many seconds.
    std::vector<std::string> secondColors = {"red", "lime", "blue"};
    double sineHz = 440.0;       // 0: no audio stream at all
    double sineAmplitude = 0.5;  // peak, linear (0..1)
    int audioRate = 48000;
    int audioChannels = 2;  // 1 or 2
    // "libx264" is encoded yuv420p, ultrafast, a key frame every second so that seeks
    // stay cheap; any other name goes to ffmpeg as given (e.g. "mpeg4").
    std::string videoCodec = "libx264";
    // "aac" or e.g. "pcm_s16le" (which wants a .mov or .mkv container).
    std::string audioCodec = "aac";
    // ffmpeg's muxer name; empty: chosen from the file name's extension.
    std::string container;
    // A moving test pattern across the middle half of the height, so that encoder and
    // decoder do the work of real footage (solid colours cost next to nothing to
    // decode). The colours stay in the top and bottom quarters.
    bool movingDetail = false;
};

// Writes the clip to `path`, replacing any file there. On failure returns false and,
// given `error`, sets it to what went wrong (ffmpeg's own message when it ran).
bool makeClip(const std::string& path, const ClipSpec& spec, std::string* error = nullptr);

// Sound only: a 440 Hz sine, peak 0.5, 48 kHz stereo, `seconds` long. AAC for .mp4,
// .m4a, .mov and .mkv, PCM for .wav, ffmpeg's default for other extensions.
bool makeAudioOnlyClip(const std::string& path, double seconds, std::string* error = nullptr);

// Writes exactly `bytes` to `path` (truncated or damaged media, plain garbage).
bool makeFileOfBytes(const std::string& path, std::string_view bytes);

// `count` bytes of repeatable noise, the same for the same seed.
std::string noiseBytes(size_t count, uint64_t seed = 1);

// The first line of `ffmpeg -version`, asked once per process; empty when the program
// is missing or fails.
std::string ffmpegVersionLine();

}  // namespace lumbrix::test
