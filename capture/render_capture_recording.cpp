// The recording half of RenderCapture: start, the per-frame hand-over to the GPU read-
// back, the video and audio appends, and the stop with its delayed finish.
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <thread>

#include "capture/render_capture.h"
#include "capture/yuv_readback.h"
#include "platform/console_line.h"
#include "platform/regular_file.h"

namespace lumbrix {

namespace {

const char* stateName(RecordingState state) { return state == RecordingState::recording ? "recording" : "idle"; }

std::string statusText(const std::shared_ptr<MovieWriter>& writer) {
    return std::to_string(writer ? static_cast<int>(writer->status()) : -1);
}

const char* yesNo(bool value) { return value ? "true" : "false"; }

// Seconds as the shortest decimal that reads back exactly, always with a fraction.
std::string decimal(double value) {
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    std::string result(text, error == std::errc() ? end : text);
    if (std::isfinite(value) && result.find_first_of(".e") == std::string::npos) {
        result += ".0";
    }
    return result;
}

Error captureError(int code, std::string text) { return Error(RenderCapture::kErrorDomain, code, std::move(text)); }

}  // namespace

// Frames on their way through the GPU, by tag: what the append needs to know.
struct RenderCapture::Pending {
    struct Frame {
        std::shared_ptr<MovieWriter> writer;
        int input = -1;
        MediaTime pts;
        double elapsed = 0.0;
    };
    std::map<uint64_t, Frame> frames;
};

std::shared_ptr<RenderCapture> RenderCapture::create(std::shared_ptr<MainQueue> mainQueue) {
    return std::shared_ptr<RenderCapture>(new RenderCapture(std::move(mainQueue)));
}

RenderCapture::RenderCapture(std::shared_ptr<MainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)), pending_(std::make_unique<Pending>()) {}

RenderCapture::~RenderCapture() = default;

double RenderCapture::secondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - recordingStart_).count();
}

std::optional<Error> RenderCapture::startRecording(const std::string& path, int width, int height, int fps,
                                                   int64_t bitRate, bool includeSourceAudio, bool includeMicrophone) {
    if (state_.load() == RecordingState::recording) {
        std::lock_guard lock(writerMutex_);
        if (writer_) {
            for (int input : {videoInput_, sourceAudioInput_, micInput_}) {
                if (input >= 0) writer_->markInputFinished(input);
            }
            writer_->cancelWriting();
        }
    }
    state_.store(RecordingState::idle);
    dropWriter();

    fps_ = fps;
    recordingStart_ = std::chrono::steady_clock::now();
    recordingStartNanos_.store(
        std::chrono::duration_cast<std::chrono::nanoseconds>(recordingStart_.time_since_epoch()).count());
    // Two steps a frame keep a view drawn faster than the movie's rate as it was; the
    // grid must divide the writer's 1/600 s, or times could not stay on it.
    const int nominal = fps > 0 ? fps : 30;
    gridRate_ = 2 * nominal <= 60 && 600 % (2 * nominal) == 0 ? 2 * nominal : 600 % nominal == 0 ? nominal : 600;
    lastVideoPTS_ = MediaTime{0, gridRate_};
    lastSubmittedSlot_ = -1;
    framesAppended_.store(0);

    // A device, a folder or a pipe named as the movie is refused, never written to or
    // replaced; a link is followed to the file it names.
    if (struct stat info {}; ::stat(path.c_str(), &info) == 0) {
        if (auto problem = regularFileProblem(info, path, "Cannot record to")) return problem;
    }
    // A movie left from before goes.
    std::error_code ignored;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ignored))) {
        std::filesystem::remove(path, ignored);
    }

    auto created = MovieWriter::create(path);
    if (!created) {
        return created.error();
    }
    std::shared_ptr<MovieWriter> writer = std::move(created.value());
    RecordingSettings recording = recordingSettings_;
    recording.videoBitRate = bitRate;
    // H.264 in 4:2:0 needs even sizes.
    const MovieVideoSettings settings = MovieVideoSettings::of(recording, width - width % 2, height - height % 2, fps);
    const int videoInput = writer->addVideoInput(settings);
    if (videoInput < 0) {
        return captureError(cannotAddVideoInput, "Cannot add video writer input");
    }
    const int sourceAudioInput = includeSourceAudio ? writer->addAudioInput() : -1;
    int micInput = -1;
    if (includeMicrophone) {
        micInput = writer->addAudioInput();
        printConsoleLine(micInput >= 0 ? "Audio: microphone writer input added (AAC)"
                                       : "Audio: cannot add microphone writer input");
    }
    recordingWidth_ = settings.widthPx;
    recordingHeight_ = settings.heightPx;
    if (!writer->startWriting()) {
        return writer->error().value_or(captureError(startWritingFailed, "startWriting failed"));
    }
    {
        std::lock_guard lock(writerMutex_);
        writer_ = std::move(writer);
        videoInput_ = videoInput;
        sourceAudioInput_ = sourceAudioInput;
        micInput_ = micInput;
    }
    state_.store(RecordingState::recording);
    return std::nullopt;
}

void RenderCapture::dropWriter() {
    std::shared_ptr<MovieWriter> dropped;
    {
        std::lock_guard lock(writerMutex_);
        dropped = std::move(writer_);
        writer_.reset();
        videoInput_ = sourceAudioInput_ = micInput_ = -1;
    }
    // Possibly called on the writer's own thread, which cannot end the writer (its
    // worker would join itself); the read-back's GL objects go at the next frame.
    if (!dropped) {
        return;
    }
    if (mainQueue_) {
        mainQueue_->post([dropped = std::move(dropped)] {});
    } else {
        std::thread([dropped = std::move(dropped)] {}).detach();
    }
}

void RenderCapture::capture(const CaptureTexture& frame) {
    lastFrameTexture_ = frame;
    if (readback_) {
        readback_->collect([this](uint64_t tag, std::vector<uint8_t>&& planes) { appendVideo(tag, std::move(planes)); });
    }
    std::shared_ptr<MovieWriter> writer;
    int input = -1;
    {
        std::lock_guard lock(writerMutex_);
        writer = writer_;
        input = videoInput_;
    }
    if (state_.load() != RecordingState::recording || !writer) {
        if (readback_ && readback_->inFlight() == 0) {
            readback_.reset();  // between recordings nothing stays on the GPU
        }
        return;
    }
    if (writer->status() != MovieWriterStatus::writing || input < 0 || !writer->isReadyForMoreMediaData(input)) {
        return;  // the encoder is busy: this frame is not recorded
    }
    if (!readback_ || readback_->widthPx() != recordingWidth_ || readback_->heightPx() != recordingHeight_) {
        readback_ = YuvReadback::create(recordingWidth_, recordingHeight_);
        if (!readback_) {
            return;
        }
    }
    if (!readback_->hasFreeSlot()) {
        return;
    }
    const double elapsed = secondsSinceStart();
    if (!(elapsed >= 0.0)) {
        printConsoleLine("Audio: Invalid elapsed time: " + decimal(elapsed));
        return;
    }
    // Wall-clock times snapped to a regular grid: players and converters read the rate
    // off the times, and irregular ones make them invent a rate whose rounding collides.
    // A frame whose place is taken moves to the next one if that is less than a step
    // away; otherwise it is not recorded.
    const int grid = gridRate_;
    int64_t slot = std::llround(elapsed * grid);
    if (slot < 0) {
        printConsoleLine("Audio: Invalid PTS: " + decimal(elapsed));
        return;
    }
    if (slot <= lastSubmittedSlot_) {
        if (static_cast<double>(lastSubmittedSlot_ + 1) - elapsed * grid >= 1.0) return;
        slot = lastSubmittedSlot_ + 1;
    }
    const MediaTime pts{slot, grid};
    lastSubmittedSlot_ = slot;
    const uint64_t tag = ++nextTag_;
    if (readback_->submit(frame.name, frame.widthPx, frame.heightPx, tag)) {
        pending_->frames[tag] = Pending::Frame{writer, input, pts, elapsed};
    }
}

void RenderCapture::appendVideo(uint64_t tag, std::vector<uint8_t>&& planes) {
    auto found = pending_->frames.find(tag);
    if (found == pending_->frames.end()) {
        return;
    }
    const Pending::Frame frame = std::move(found->second);
    pending_->frames.erase(found);

    std::shared_ptr<MovieWriter> writer;
    int input = -1;
    {
        std::lock_guard lock(writerMutex_);
        writer = writer_;
        input = videoInput_;
    }
    const RecordingState state = state_.load();
    const bool ready = writer && input >= 0 && writer->isReadyForMoreMediaData(input);
    if (state != RecordingState::recording || writer != frame.writer || writer->status() != MovieWriterStatus::writing ||
        input != frame.input || !ready) {
        printConsoleLine(std::string("Audio: Skipping frame append - state: ") + stateName(state) +
                         ", writer status: " + statusText(writer) + ", input ready: " + yesNo(ready));
        return;
    }
    if (frame.pts.value < lastVideoPTS_.value) {
        return;  // strictly earlier than the last one: the movie's times only go forward
    }
    MovieVideoFrame video;
    video.planes = std::move(planes);
    video.presentationTime = frame.pts;
    video.duration = MediaTime{1, fps_ > 0 ? fps_ : 30};
    if (writer->appendVideo(input, std::move(video))) {
        lastVideoPTS_ = frame.pts;
        framesAppended_.fetch_add(1);
        return;
    }
    printConsoleLine("Audio: Failed to append video frame at " + decimal(frame.elapsed) +
                     "s, writer status: " + statusText(writer));
    if (writer->status() == MovieWriterStatus::failed) {
        const auto error = writer->error();
        printConsoleLine("Audio: Writer failed: " + (error ? error->description : std::string("unknown")));
        auto markIdle = [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->state_.store(RecordingState::idle);
        };
        mainQueue_ ? mainQueue_->post(markIdle) : markIdle();
    }
}

void RenderCapture::appendSourceAudio(const AudioSampleBuffer& buffer) {
    if (state_.load() != RecordingState::recording) {
        return;
    }
    std::shared_ptr<MovieWriter> writer;
    int input = -1;
    {
        std::lock_guard lock(writerMutex_);
        writer = writer_;
        input = sourceAudioInput_;
    }
    if (writer && input >= 0 && writer->isReadyForMoreMediaData(input) &&
        writer->status() == MovieWriterStatus::writing) {
        writer->appendAudio(input, buffer);
    }
}

void RenderCapture::appendMicrophone(const AudioSampleBuffer& buffer) {
    if (state_.load() != RecordingState::recording) {
        return;
    }
    std::shared_ptr<MovieWriter> writer;
    int input = -1;
    {
        std::lock_guard lock(writerMutex_);
        writer = writer_;
        input = micInput_;
    }
    if (!writer || input < 0 || !writer->isReadyForMoreMediaData(input) ||
        writer->status() != MovieWriterStatus::writing) {
        return;
    }
    bool appended = false;
    if (buffer.hostTimeNanos != 0 && buffer.sampleRate > 0.0) {
        AudioSampleBuffer placed = buffer;
        const double seconds = static_cast<double>(buffer.hostTimeNanos - recordingStartNanos_.load()) / 1e9;
        placed.timescale = static_cast<int32_t>(std::lround(buffer.sampleRate));
        placed.presentationValue = std::llround(seconds * placed.timescale);
        appended = writer->appendAudio(input, placed);
    } else {
        appended = writer->appendAudio(input, buffer);
    }
    if (!appended) {
        printConsoleLine("Audio: Mic append failed, writer status: " + statusText(writer));
        if (writer->status() == MovieWriterStatus::failed) {
            const auto error = writer->error();
            printConsoleLine("Audio: Writer failed, error: " + (error ? error->description : std::string("unknown")));
        }
    }
}

void RenderCapture::stopRecording(StopCompletion completion) {
    std::shared_ptr<MovieWriter> writer;
    int videoInput = -1, sourceAudioInput = -1, micInput = -1;
    {
        std::lock_guard lock(writerMutex_);
        writer = writer_;
        videoInput = videoInput_;
        sourceAudioInput = sourceAudioInput_;
        micInput = micInput_;
    }
    const RecordingState state = state_.load();
    printConsoleLine(std::string("Audio: stopRecording called, state: ") + stateName(state) +
                     ", writer: " + yesNo(writer != nullptr) + ", input: " + yesNo(videoInput >= 0));
    if (!writer || videoInput < 0) {
        printConsoleLine("Audio: stopRecording failed - no writer or input");
        completion(captureError(noActiveRecording, "No active recording"));
        return;
    }
    if (state == RecordingState::idle) {
        printConsoleLine("Audio: State is already idle, checking writer status: " + statusText(writer));
        if (writer->status() == MovieWriterStatus::completed) {
            dropWriter();
            completion(writer->outputPath());
            return;
        }
        if (writer->status() != MovieWriterStatus::writing) {
            completion(writer->error().value_or(captureError(alreadyIdleStatus, "Writer status: " + statusText(writer))));
            return;
        }
        printConsoleLine("Audio: Writer still writing, finishing...");
    }
    if (writer->status() == MovieWriterStatus::failed) {
        writer->cancelWriting();
        state_.store(RecordingState::idle);
        dropWriter();
        completion(writer->error().value_or(captureError(writerFailedDuringRecording, "Writer failed during recording")));
        return;
    }
    if (writer->status() != MovieWriterStatus::writing) {
        printConsoleLine("Audio: Writer not in writing state: " + statusText(writer) + ", cancelling");
        const std::string status = statusText(writer);
        writer->cancelWriting();
        state_.store(RecordingState::idle);
        dropWriter();
        completion(writer->error().value_or(captureError(writerNotWriting, "Writer not in writing state: " + status)));
        return;
    }
    state_.store(RecordingState::idle);
    printConsoleLine("Audio: Marking video input as finished");
    writer->markInputFinished(videoInput);
    printConsoleLine("Audio: Video input marked as finished");
    if (sourceAudioInput >= 0) {
        writer->markInputFinished(sourceAudioInput);
    }
    if (micInput >= 0) {
        printConsoleLine("Audio: Marking microphone input as finished");
        writer->markInputFinished(micInput);
        printConsoleLine("Audio: Microphone input marked as finished");
    } else {
        printConsoleLine("Audio: No microphone input to mark as finished");
    }
    // A moment for the producers' last buffers in flight, as the recording always had.
    auto later = [weak = weak_from_this(), writer, completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) {
            printConsoleLine("Audio: Self is nil in asyncAfter");
            completion(captureError(selfDeallocated, "Self deallocated"));
            return;
        }
        self->delayedFinish(std::move(writer), std::move(completion));
    };
    if (mainQueue_) {
        mainQueue_->postDelayed(std::chrono::milliseconds(100), std::move(later));
    } else {
        later();
    }
}

void RenderCapture::delayedFinish(std::shared_ptr<MovieWriter> writer, StopCompletion completion) {
    {
        std::lock_guard lock(writerMutex_);
        if (writer_ != writer) {
            printConsoleLine("Audio: Writer was deallocated or changed");
            completion(captureError(writerDeallocated, "Writer was deallocated"));
            return;
        }
    }
    printConsoleLine("Audio: Checking writer status before finish: " + statusText(writer));
    if (writer->status() != MovieWriterStatus::writing) {
        printConsoleLine("Audio: Writer status changed to " + statusText(writer) + " before finish");
        completion(writer->error().value_or(captureError(writerStatusChanged, "Writer status changed: " + statusText(writer))));
        return;
    }
    finish(std::move(writer), std::move(completion));
}

void RenderCapture::finish(std::shared_ptr<MovieWriter> writer, StopCompletion completion) {
    printConsoleLine("Audio: Finishing writer, status: " + statusText(writer));
    switch (writer->status()) {
        case MovieWriterStatus::completed:
            printConsoleLine("Audio: Writer already completed");
            completion(writer->outputPath());
            return;
        case MovieWriterStatus::failed:
        case MovieWriterStatus::cancelled:
            printConsoleLine("Audio: Writer already cancelled/failed: " + statusText(writer));
            completion(writer->error().value_or(captureError(finishStatus, "Writer status: " + statusText(writer))));
            return;
        case MovieWriterStatus::writing:
            break;
        default:
            printConsoleLine("Audio: Writer status changed before finish: " + statusText(writer));
            completion(
                writer->error().value_or(captureError(finishStatus, "Writer status changed: " + statusText(writer))));
            return;
    }
    MovieWriter* finishing = writer.get();
    {
        std::lock_guard lock(finishMutex_);
        finishWaiters_.push_back(std::move(completion));
        if (finishingWriter_ == finishing) {
            return;  // already finishing: this stop hears the same outcome
        }
        finishingWriter_ = finishing;
    }
    finishing->finishWriting([weak = weak_from_this(), finishing] {
        // On the writer's thread. The writer itself is alive here: it is the one calling.
        auto self = weak.lock();
        if (!self) {
            printConsoleLine("Audio: finishWriter callback - self is nil");
            return;
        }
        printConsoleLine("Audio: Writer finishWriting completed, status: " +
                         std::to_string(static_cast<int>(finishing->status())));
        const std::optional<Error> error = finishing->error();
        const std::string path = finishing->outputPath();
        std::vector<StopCompletion> waiters;
        {
            std::lock_guard lock(self->finishMutex_);
            waiters = std::move(self->finishWaiters_);
            self->finishWaiters_.clear();
            self->finishingWriter_ = nullptr;
        }
        self->dropWriter();
        if (error) {
            printConsoleLine("Audio: Writer finished with error: " + error->description);
        } else {
            printConsoleLine("Audio: Writer finished successfully");
        }
        for (StopCompletion& waiter : waiters) {
            if (error) {
                waiter(*error);
            } else {
                waiter(path);
            }
        }
    });
}

}  // namespace lumbrix
