#pragma once
// The frame grab and the recorder: the renderer hands over its offscreen colour target
// at the end of every frame; screenshots read the last one back and write it as PNG,
// and while a recording runs the frame goes to an H.264 track, time-stamped by the wall
// clock, with up to two AAC tracks (the video file's sound, the microphone) pushed in
// from outside.
//
// Threads: capture() and the screenshot run on the thread whose OpenGL context drew
// the frame, with that context current; start and stop on the main thread; the audio
// appends on their producers' threads. A finished recording is reported on the
// writer's thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "capture/movie_writer.h"
#include "platform/error.h"
#include "platform/main_queue.h"
#include "platform/media/audio_sample_buffer.h"

namespace lumbrix {

// A GL texture as the capture sees it.
struct CaptureTexture {
    unsigned int name = 0;            // GL texture object
    int widthPx = 0;
    int heightPx = 0;
    unsigned int internalFormat = 0;  // GL_RGBA8 or GL_SRGB8_ALPHA8 are accepted
};

enum class ImageFileType { png };

class YuvReadback;

enum class RecordingState { idle, recording };

class RenderCapture : public std::enable_shared_from_this<RenderCapture> {
public:
    static constexpr const char* kErrorDomain = "RenderCapture";
    enum ErrorCode {
        cannotAddVideoInput = -1,
        startWritingFailed = -2,
        noActiveRecording = -10,
        writerFailedDuringRecording = -11,
        writerNotWriting = -12,
        finishStatus = -13,
        selfDeallocated = -14,
        writerDeallocated = -15,
        writerStatusChanged = -16,
        alreadyIdleStatus = -17,
        noFrameYet = -20,
        readbackFailed = -28,
        unsupportedPixelFormat = -29,
        contextCreateFailed = -30,
        imageCreateFailed = -31,
        imageEncodeFailed = -32,
    };

    // `mainQueue` runs the delayed half of a stop; without one it runs at once.
    static std::shared_ptr<RenderCapture> create(std::shared_ptr<MainQueue> mainQueue = {});
    ~RenderCapture();
    RenderCapture(const RenderCapture&) = delete;
    RenderCapture& operator=(const RenderCapture&) = delete;

    // Keeps `frame` as the last frame and, while recording, sends it to the movie (the
    // renderer calls this once per frame). Never waits for the GPU or the encoder.
    void capture(const CaptureTexture& frame);
    const std::optional<CaptureTexture>& lastFrameTexture() const { return lastFrameTexture_; }
    // Forgets the last frame (its texture is about to be deleted).
    void reset() { lastFrameTexture_.reset(); }

    // Starts a movie at `path` (an existing file is replaced), `width` × `height` at
    // `fps`, H.264 at `bitRate` bit/s; the audio tracks only when asked for.
    std::optional<Error> startRecording(const std::string& path, int width, int height, int fps, int64_t bitRate,
                                        bool includeSourceAudio, bool includeMicrophone);
    // The finished file's path or an error, exactly once (unless this object is gone
    // before the file is finished).
    using StopCompletion = std::function<void(std::variant<std::string, Error>)>;
    void stopRecording(StopCompletion completion);
    void appendSourceAudio(const AudioSampleBuffer& buffer);
    void appendMicrophone(const AudioSampleBuffer& buffer);

    RecordingState state() const { return state_.load(); }
    // Frames handed to the writer since the recording started.
    uint64_t framesAppended() const { return framesAppended_.load(); }
    // How new recordings are encoded; a bit rate given to startRecording overrides
    // the one here.
    void setRecordingSettings(RecordingSettings settings) { recordingSettings_ = std::move(settings); }
    const RecordingSettings& recordingSettings() const { return recordingSettings_; }

    // The last frame as a PNG at `path`: -20 "No frame yet" before the first frame.
    std::optional<Error> saveScreenshot(const std::string& path) const;

    // Reads `texture` back (rows upright: OpenGL stores them bottom-up) and writes
    // it to `path` atomically: on failure `path` is left as it was. Write errors
    // come back as the system's errors. The picture has the size OpenGL reports for
    // the texture; the caller's GL bindings and pack settings are left as they were.
    static std::optional<Error> saveTexture(const CaptureTexture& texture, const std::string& path,
                                            ImageFileType type = ImageFileType::png);

private:
    struct Pending;  // a frame read back on the GPU, waiting to be appended

    explicit RenderCapture(std::shared_ptr<MainQueue> mainQueue);
    void submitFrame(const CaptureTexture& frame);
    void appendVideo(uint64_t tag, std::vector<uint8_t>&& planes);
    void dropWriter();
    void finish(std::shared_ptr<MovieWriter> writer, StopCompletion completion);
    void delayedFinish(std::shared_ptr<MovieWriter> writer, StopCompletion completion);
    double secondsSinceStart() const;

    std::shared_ptr<MainQueue> mainQueue_;
    std::optional<CaptureTexture> lastFrameTexture_;

    std::atomic<RecordingState> state_{RecordingState::idle};
    // The writer and its inputs, read by the audio producers' threads.
    mutable std::mutex writerMutex_;  // guards writer_, videoInput_, sourceAudioInput_, micInput_
    std::shared_ptr<MovieWriter> writer_;
    int videoInput_ = -1;
    int sourceAudioInput_ = -1;
    int micInput_ = -1;

    // Sound stamped with the moment it was heard goes at that moment of the recording,
    // however long its producer had been counting samples before. Steady-clock ns.
    std::atomic<int64_t> recordingStartNanos_{0};

    // GL thread only.
    std::chrono::steady_clock::time_point recordingStart_;
    MediaTime lastVideoPTS_{0, 600};
    int gridRate_ = 60;               // frame times are whole steps of 1/gridRate_ s
    int64_t lastSubmittedSlot_ = -1;  // in those steps
    int fps_ = 30;
    int recordingWidth_ = 0;
    int recordingHeight_ = 0;
    std::unique_ptr<YuvReadback> readback_;
    std::unique_ptr<Pending> pending_;
    uint64_t nextTag_ = 0;
    std::atomic<uint64_t> framesAppended_{0};
    RecordingSettings recordingSettings_;

    // A finish in progress and every stop waiting for it: a second stop while the file
    // is being finished waits for the same result instead of finishing it twice.
    std::mutex finishMutex_;  // guards finishingWriter_, finishWaiters_
    MovieWriter* finishingWriter_ = nullptr;
    std::vector<StopCompletion> finishWaiters_;
};

}  // namespace lumbrix
