#pragma once
// An MP4 movie file with one H.264 video track and up to two AAC audio tracks, written
// by libavformat's "mp4" muxer whatever the file's extension. Appends only queue the
// media (bounded queues: "ready for more media data" is room in the queue); one worker
// thread encodes (libx264, FFmpeg's AAC encoder) and muxes. Finishing ends on that
// worker.
//
// While writing, the file is a fragmented MP4 that reaches the disk a whole fragment at
// a time (one at every key frame, and at least every second), so a crash or a full disk
// leaves a movie that plays up to its last fragment. A clean finish rewrites it as a
// regular MP4. The picture is tagged BT.709, video range.
//
// Threads: create, add inputs, startWriting, markInputFinished, cancelWriting and
// finishWriting from one controlling thread (the GUI's); appends and the read-only
// queries from any thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/recording_settings.h"
#include "platform/error.h"
#include "platform/expected.h"
#include "platform/media/audio_sample_buffer.h"

namespace lumbrix {

// The numbers users see in messages.
enum class MovieWriterStatus : int { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

// A media time as value / timescale seconds.
struct MediaTime {
    int64_t value = 0;
    int32_t timescale = 600;
    double seconds() const { return timescale > 0 ? static_cast<double>(value) / timescale : 0.0; }
};

struct MovieVideoSettings {
    int widthPx = 0;             // even sizes; odd ones are rounded down by one
    int heightPx = 0;
    int framesPerSecond = 30;    // the nominal rate; frames carry their own times
    int64_t averageBitRate = RecordingSettings{}.videoBitRate;
    std::string x264Preset = RecordingSettings{}.x264Preset;
    double keyFrameIntervalSeconds = RecordingSettings{}.keyFrameIntervalSeconds;

    // The picture track of a movie recorded with `recording`.
    static MovieVideoSettings of(const RecordingSettings& recording, int widthPx, int heightPx, int framesPerSecond) {
        return MovieVideoSettings{widthPx, heightPx, framesPerSecond, recording.videoBitRate, recording.x264Preset,
                                  recording.keyFrameIntervalSeconds};
    }
};

// One picture in YUV 4:2:0 (I420): the Y plane (width × height), then U and V
// (each (width/2) × (height/2)), rows top first, no padding.
struct MovieVideoFrame {
    std::vector<uint8_t> planes;
    MediaTime presentationTime;
    MediaTime duration{1, 30};
};

class MovieWriter {
public:
    static constexpr const char* kErrorDomain = "MovieWriter";

    // Prepares a writer for `path`; nothing is written before startWriting. Fails
    // (with the system's error text) only when the muxer cannot be set up.
    static Expected<std::unique_ptr<MovieWriter>, Error> create(const std::string& path);
    ~MovieWriter();  // a writer still writing is cancelled (see cancelWriting); stops the worker
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    // Before startWriting only; the input's index, or -1 when it cannot be added
    // (after startWriting, a second video input, more than two audio inputs).
    int addVideoInput(const MovieVideoSettings& settings);
    // AAC in RecordingSettings' sound format; whatever arrives is resampled to that.
    int addAudioInput();

    // Opens the file, the encoders and writes the header; status becomes writing. On
    // failure the status is failed and error() says why (the system's error for the
    // file, e.g. permission denied or no space).
    bool startWriting();

    MovieWriterStatus status() const { return status_.load(); }
    // The writer's own error once it failed; empty otherwise.
    std::optional<Error> error() const;
    const std::string& outputPath() const { return path_; }

    // Room in the input's queue (and the writer writing, the input not finished).
    bool isReadyForMoreMediaData(int input) const;
    // Queue media; false (nothing queued) when not ready, or the writer is not
    // writing, or the frame does not match the input.
    bool appendVideo(int input, MovieVideoFrame frame);
    bool appendAudio(int input, const AudioSampleBuffer& buffer);

    // No more media for that input.
    void markInputFinished(int input);
    // Before the first picture: stops writing at once and removes the unfinished file;
    // status cancelled. After it the movie is kept: this finishes it as finishWriting
    // does and returns once it is finished.
    void cancelWriting();
    // Encodes what is queued, flushes the encoders, writes the trailer and closes the
    // file; then status is completed (or failed, with error()) and `completion` runs
    // on the worker thread. Only while writing; otherwise `completion` runs at once.
    void finishWriting(std::function<void()> completion);
    // finishWriting for a controlling thread that has nothing else to do meanwhile:
    // returns once the file is finished.
    void finishWritingAndWait();

private:
    struct Impl;
    explicit MovieWriter(std::string path);
    std::string path_;
    std::atomic<MovieWriterStatus> status_{MovieWriterStatus::unknown};
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumbrix
