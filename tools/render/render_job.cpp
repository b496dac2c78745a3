#include "tools/render/render_job.h"

#include <epoxy/gl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "capture/atomic_file.h"
#include "capture/movie_writer.h"
#include "capture/render_capture.h"
#include "capture/yuv_readback.h"
#include "platform/file_buffer.h"
#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "platform/main_queue.h"
#include "platform/regular_file.h"
#include "render/renderer.h"
#include "sources/image_texture_source.h"
#include "sources/ndi_receiver.h"
#include "sources/ndi_texture_source.h"
#include "sources/offline_video_reader.h"
#include "tools/render/offline_video_source.h"
#include "tools/render/partial_movie.h"
#include "tools/render/render_scene.h"

namespace lumbrix::render_tool {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kNDIFirstFrameWait = std::chrono::seconds(10);
// A live sender silent this long is reported: the movie then repeats its last picture.
constexpr auto kNDIStallReport = std::chrono::seconds(2);
constexpr auto kNDISoundWait = std::chrono::milliseconds(500);

void problem(const std::string& text) { std::fprintf(stderr, "lumbrix-render: %s\n", text.c_str()); }

// The sender's sound as it arrives, for the movie: the capture thread adds to it, the
// frame loop takes one frame's span at a time. The first block fixes rate and channels.
class LiveSound {
public:
    void hear(const NDISoundBlock& block) {
        std::lock_guard lock(mutex_);
        if (rate_ == 0) {
            rate_ = block.sampleRate;
            channels_ = block.channels;
        }
        if (block.sampleRate != rate_ || block.channels != channels_) return;
        samples_.insert(samples_.end(), block.interleaved, block.interleaved + int64_t{block.frames} * channels_);
    }
    bool heard() const {
        std::lock_guard lock(mutex_);
        return rate_ != 0;
    }
    // Forgets what came before the movie's start.
    void restart() {
        std::lock_guard lock(mutex_);
        samples_.clear();
    }
    // The sound of movie frame `frame`: what has arrived, in order. Missing sound (a late
    // block, a silent sender) is silence; sound piling up beyond a short margin (the
    // sender's clock running faster than ours) is dropped, so it stays in step.
    AudioSampleBuffer take(int64_t frame, int fps) {
        std::lock_guard lock(mutex_);
        const auto boundary = [&](int64_t n) { return n * rate_ / fps; };
        const int64_t frames = boundary(frame + 1) - boundary(frame);
        const auto most = static_cast<size_t>((frames + rate_ / 4) * channels_);
        if (samples_.size() > most) samples_.erase(samples_.begin(), samples_.end() - static_cast<std::ptrdiff_t>(most));
        AudioSampleBuffer buffer;
        buffer.sampleRate = rate_;
        buffer.channels = channels_;
        buffer.interleaved = true;
        buffer.frameCount = frames;
        buffer.planes.assign(static_cast<size_t>(frames * channels_), 0.0f);
        const size_t available = std::min(samples_.size(), buffer.planes.size());
        std::copy_n(samples_.begin(), available, buffer.planes.begin());
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(available));
        buffer.presentationValue = boundary(frame);
        buffer.timescale = rate_;
        return buffer;
    }

private:
    mutable std::mutex mutex_;  // guards everything below
    int rate_ = 0;
    int channels_ = 0;
    std::deque<float> samples_;  // interleaved
};

// A live stream taken as it plays: frame i at start + i / fps on the wall clock, so movie
// time follows the sender's time. Says when the sender falls silent and counts the
// frames that repeat a picture already taken.
class LiveFrames {
public:
    LiveFrames(std::shared_ptr<NDIReceiver> receiver, std::string name, int fps)
        : receiver_(std::move(receiver)), name_(std::move(name)), fps_(fps), start_(Clock::now()), arrived_(start_) {}

    void take(int64_t frame) {
        std::this_thread::sleep_until(start_ + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(static_cast<double>(frame) / fps_)));
        const std::optional<VideoFrame> latest = receiver_->latestFrame();
        const auto now = Clock::now();
        ++taken_;
        if (latest && latest->data != shown_) {
            shown_ = latest->data;
            arrived_ = now;
            if (stallReported_) problem("NDI sender " + name_ + " is sending again");
            stallReported_ = false;
            return;
        }
        ++repeated_;
        if (!stallReported_ && now - arrived_ >= kNDIStallReport) {
            problem("NDI sender " + name_ + " sent no new frame for 2 seconds; its last picture repeats");
            stallReported_ = true;
        }
    }

    void summarize() const {
        std::fprintf(stderr, "lumbrix-render: NDI sender %s: %lld frames taken, %lld repeated (no new frame from the sender)\n",
                     name_.c_str(), static_cast<long long>(taken_), static_cast<long long>(repeated_));
    }

private:
    std::shared_ptr<NDIReceiver> receiver_;
    std::string name_;
    int fps_;
    Clock::time_point start_;
    Clock::time_point arrived_;  // when the newest picture was first taken
    std::shared_ptr<const uint8_t[]> shown_;  // held, so its address cannot come back for a newer frame
    bool stallReported_ = false;
    int64_t taken_ = 0;
    int64_t repeated_ = 0;
};

// Frames done of the total, speed and time left: a bar on a terminal, plain lines in logs.
class Progress {
public:
    explicit Progress(int64_t total) : total_(total), start_(Clock::now()), terminal_(isatty(STDERR_FILENO)) {}
    void update(int64_t done) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
        const double left = fps > 0 ? static_cast<double>(total_ - done) / fps : 0.0;
        if (terminal_) {
            constexpr int kWidth = 30;
            const int filled = static_cast<int>(kWidth * done / std::max<int64_t>(total_, 1));
            std::fprintf(stderr, "\r[%s%s] %lld/%lld frames  %.1f fps  %.0f s left ", std::string(filled, '#').c_str(),
                         std::string(kWidth - filled, '.').c_str(), static_cast<long long>(done),
                         static_cast<long long>(total_), fps, left);
            if (done == total_) std::fputc('\n', stderr);
        } else {
            const int64_t step = std::max<int64_t>(total_ / 10, 1);
            if (done % step == 0 || done == total_) {
                std::fprintf(stderr, "lumbrix-render: %lld/%lld frames, %.1f fps, %.0f s left\n",
                             static_cast<long long>(done), static_cast<long long>(total_), fps, left);
            }
        }
    }

private:
    int64_t total_;
    Clock::time_point start_;
    bool terminal_;
};

// Waits for room in a writer input; false when the writer failed meanwhile.
bool waitForRoom(MovieWriter& writer, int input) {
    while (!writer.isReadyForMoreMediaData(input)) {
        if (writer.status() != MovieWriterStatus::writing) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

// A camera state is a small JSON file; a pipe or device named instead is refused
// rather than waited on.
Expected<std::string, Error> readSmallFile(const std::string& path) {
    auto file = readWholeFile(path, size_t(1) << 20);
    if (!file) return unexpected(file.error());
    return std::string(file.value().data(), file.value().size());
}

// Receivers of venue senders, shut down on every way out.
struct SenderShutdown {
    std::vector<std::shared_ptr<NDIReceiver>> receivers;
    SenderShutdown() = default;
    SenderShutdown(const SenderShutdown&) = delete;
    SenderShutdown& operator=(const SenderShutdown&) = delete;
    ~SenderShutdown() {
        for (const auto& receiver : receivers) receiver->shutdown();
    }
};

// Finds the sender `source` and waits for its first picture, within one allowance. 0 once
// connected; otherwise the exit status, with the problem reported.
int connectSender(NDIReceiver& ndi, TaskQueue& queue, const std::string& source) {
    ndi.startDiscovery();
    // One allowance for the sender to appear and send its first frame.
    const auto deadline = Clock::now() + kNDIFirstFrameWait;
    int index = -1;
    while (index < 0 && Clock::now() < deadline && stopSignal() == 0) {
        queue.drain();
        const auto& names = ndi.sources();
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == source) index = ndi.sourcePositions()[i];
        }
        if (index < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (ndi.runtimeStatus() == NDIRuntimeStatus::missing) break;
    }
    if (stopSignal() != 0) {
        return 128 + stopSignal();
    }
    if (index < 0) {
        problem(ndi.runtimeStatus() == NDIRuntimeStatus::missing ? ndi.runtimeProblem()
                                                                 : "no NDI sender named " + source +
                                                                       " appeared within 10 seconds");
        return 1;
    }
    ndi.connect(index);
    while (!ndi.latestFrame() && Clock::now() < deadline && stopSignal() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (stopSignal() != 0) {
        return 128 + stopSignal();
    }
    if (!ndi.latestFrame()) {
        problem("NDI sender " + source + " sent no frame within 10 seconds");
        return 1;
    }
    return 0;
}

}  // namespace

int runRenderJob(const RenderOptions& options) {
    // The movie's place first: a target that cannot take a movie fails before any work.
    std::optional<MovieTarget> movieTarget;
    if (!options.out.empty()) {
        std::string refusal;
        movieTarget = movieTargetFor(options.out, &refusal);
        if (!movieTarget) {
            problem(refusal);
            return 1;
        }
    }
    if (!options.screenshot.empty()) {
        if (auto refusal = checkCaptureTarget(options.screenshot)) {
            problem(refusal->description);
            return 1;
        }
    }

    // Scene.
    auto model = loadModel(options.model);
    if (!model) {
        problem("cannot load " + options.model + ":");
        for (const std::string& line : model.error()) std::fprintf(stderr, "  %s\n", line.c_str());
        return 1;
    }
    std::vector<std::shared_ptr<const Mesh>> venues;
    for (const VenueOption& option : options.venues) {
        const std::string& path = option.file;
        auto venue = loadModel(path);
        if (!venue) {
            problem("cannot load venue " + path + ":");
            for (const std::string& line : venue.error()) std::fprintf(stderr, "  %s\n", line.c_str());
            return 1;
        }
        venues.push_back(venue.value().mesh);
    }

    // Files that are no files are refused before the OpenGL start-up, at once.
    if (!options.cameraStateFile.empty()) {
        if (auto reason = regularFileReason(options.cameraStateFile)) {
            problem("cannot read " + options.cameraStateFile + ": Cannot open " + options.cameraStateFile + ": " + *reason);
            return 1;
        }
    }
    // Kinds made from files: the file is judged before anything starts.
    if (options.sourceMode && !sourceDescriptor(*options.sourceMode).extensions.empty()) {
        if (auto reason = regularFileReason(options.source)) {
            problem(options.sourceMode == SourceMode::file
                        ? "cannot play " + options.source + ": cannot open the file: " + *reason
                        : "cannot read the image " + options.source + ": " + *reason);
            return 1;
        }
    }
    for (const VenueOption& venue : options.venues) {
        if (venue.content != VenueOption::Content::image && venue.content != VenueOption::Content::video) continue;
        if (auto reason = regularFileReason(venue.source)) {
            problem(venue.content == VenueOption::Content::video
                        ? "cannot play " + venue.source + " on venue " + venue.file + ": cannot open the file: " + *reason
                        : "cannot read the image " + venue.source + " on venue " + venue.file + ": " + *reason);
            return 1;
        }
    }

    auto context = HeadlessGLContext::create();
    if (!context) {
        problem("no OpenGL context: " + context.error().description);
        return 1;
    }
    auto queue = std::make_shared<TaskQueue>();
    auto created = Renderer::create(queue);
    if (!created) {
        problem("renderer: " + created.error().description);
        return 1;
    }
    Renderer& renderer = *created.value();
    renderer.setMesh(model.value().mesh);
    renderer.showFloorGrid = options.floorGrid;
    renderer.faceMode = options.faces;
    renderer.inactiveSideMode = options.inactive;
    if (options.uvGridDensity) {
        renderer.showUVGrid = true;
        renderer.uvGridDensity = *options.uvGridDensity;
    }

    // Camera.
    auto camera = std::make_shared<OrbitCamera>();
    renderer.cameraRef = camera;
    const float aspect = static_cast<float>(options.widthPx) / static_cast<float>(options.heightPx);
    const Float3 lo = renderer.fitMin(), hi = renderer.fitMax();
    const Float3 centre{(lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f, (lo.z + hi.z) * 0.5f};
    if (!options.cameraStateFile.empty()) {
        const auto json = readSmallFile(options.cameraStateFile);
        if (!json) {
            problem("cannot read " + options.cameraStateFile + ": " + json.error().description);
            return 1;
        }
        auto state = parseCameraState(json.value());
        if (!state) {
            problem(options.cameraStateFile + ": " + state.error().description);
            return 1;
        }
        camera->apply(state.value());
    } else if (!options.fbxCamera.empty()) {
        const auto& cameras = model.value().cameras;
        std::shared_ptr<FBXImportedCamera> chosen;
        for (const auto& candidate : cameras) {
            if (candidate->name() == options.fbxCamera) chosen = candidate;
        }
        if (!chosen && !options.fbxCamera.empty() &&
            options.fbxCamera.find_first_not_of("0123456789") == std::string::npos) {
            const size_t index = std::stoul(options.fbxCamera);
            if (index < cameras.size()) chosen = cameras[index];
        }
        if (!chosen) {
            std::string names;
            for (const auto& candidate : cameras) names += (names.empty() ? "" : ", ") + candidate->name();
            problem("no FBX camera " + options.fbxCamera + " in " + options.model +
                    (cameras.empty() ? " (it has none)" : " (it has: " + names + ")"));
            return 1;
        }
        applyFBXCamera(*camera, *chosen, aspect, centre);
    } else {
        camera->fitToBounds(lo, hi);
    }
    if (options.fovDegrees) camera->fovDegrees = *options.fovDegrees;

    // Picture source.
    std::shared_ptr<OfflineVideoSource> video;
    std::shared_ptr<NDIReceiver> ndi;
    std::shared_ptr<LiveSound> liveSound;
    if (options.sourceMode == SourceMode::file) {
        auto reader = OfflineVideoReader::open(options.source);
        if (!reader) {
            problem("cannot play " + options.source + ": " + reader.error().description);
            return 1;
        }
        video = std::make_shared<OfflineVideoSource>(std::move(reader.value()));
        renderer.textureSource = video;
    } else if (options.sourceMode == SourceMode::image) {
        auto image = std::make_shared<ImageTextureSource>(options.source);
        if (image->texture() == 0) {
            problem("cannot read the image " + options.source + ": " + image->error());
            return 1;
        }
        renderer.textureSource = image;
    } else if (options.sourceMode == SourceMode::ndi) {
        ndi = NDIReceiver::create(queue);
        if (options.audio && movieTarget) {
            liveSound = std::make_shared<LiveSound>();
            ndi->addSoundListener([sound = liveSound](const NDISoundBlock& block) { sound->hear(block); });
        }
        if (const int status = connectSender(*ndi, *queue, options.source); status != 0) {
            ndi->shutdown();
            return status;
        }
        // The movie has a sound track when the sender's sound comes with its pictures.
        const auto soundDeadline = Clock::now() + kNDISoundWait;
        while (liveSound && !liveSound->heard() && Clock::now() < soundDeadline && stopSignal() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        renderer.textureSource = std::make_shared<NDITextureSource>(ndi, NDIUploadPath::direct, NDISoundPlayback::none);
    }

    // Venue pictures. Their sound is never heard nor recorded: the movie's sound is the
    // main source's.
    std::vector<VenueDraw> venueDraws;
    std::vector<std::pair<std::string, std::shared_ptr<OfflineVideoSource>>> venueVideos;  // by file
    SenderShutdown venueSenders;
    for (size_t i = 0; i < options.venues.size(); ++i) {
        const VenueOption& option = options.venues[i];
        VenueDraw draw{venues[i], VenueContentKind::none, {}, {}};
        switch (option.content) {
        case VenueOption::Content::none:
            break;
        case VenueOption::Content::region:
            draw.kind = VenueContentKind::canvasRegion;
            draw.region = option.region;
            break;
        case VenueOption::Content::image: {
            auto image = std::make_shared<ImageTextureSource>(option.source);
            if (image->texture() == 0) {
                problem("cannot read the image " + option.source + " on venue " + option.file + ": " + image->error());
                return 1;
            }
            draw.kind = VenueContentKind::ownSource;
            draw.source = image;
            break;
        }
        case VenueOption::Content::video: {
            auto reader = OfflineVideoReader::open(option.source);
            if (!reader) {
                problem("cannot play " + option.source + " on venue " + option.file + ": " + reader.error().description);
                return 1;
            }
            auto venueVideo = std::make_shared<OfflineVideoSource>(std::move(reader.value()));
            venueVideos.emplace_back(option.source, venueVideo);
            draw.kind = VenueContentKind::ownSource;
            draw.source = venueVideo;
            break;
        }
        case VenueOption::Content::ndi: {
            auto receiver = NDIReceiver::create(queue);
            venueSenders.receivers.push_back(receiver);
            if (const int status = connectSender(*receiver, *queue, option.source); status != 0) {
                if (ndi) ndi->shutdown();
                return status;
            }
            draw.kind = VenueContentKind::ownSource;
            draw.source = std::make_shared<NDITextureSource>(receiver, NDIUploadPath::direct, NDISoundPlayback::none);
            break;
        }
        }
        venueDraws.push_back(std::move(draw));
    }
    renderer.setVenueDraws(std::move(venueDraws));

    // Movie.
    std::shared_ptr<MovieWriter> writer;
    int videoInput = -1, audioInput = -1;
    std::unique_ptr<YuvReadback> readback;
    const int movieWidth = options.widthPx - options.widthPx % 2;
    const int movieHeight = options.heightPx - options.heightPx % 2;
    if (movieTarget) {
        auto made = MovieWriter::create(movieTarget->partialPath);
        if (!made) {
            problem(options.out + ": " + made.error().description);
            return 1;
        }
        writer = std::move(made.value());
        videoInput = writer->addVideoInput(MovieVideoSettings::of(RecordingSettings{}, movieWidth, movieHeight, options.fps));
        if (options.audio && ((video && video->reader().hasSound()) || (liveSound && liveSound->heard())))
            audioInput = writer->addAudioInput();
        if (videoInput < 0 || !writer->startWriting()) {
            problem(options.out + ": " + (writer->error() ? writer->error()->description : std::string("cannot start")));
            return 1;
        }
        readback = YuvReadback::create(movieWidth, movieHeight, 3);
        if (!readback) {
            problem("cannot set up the GPU read-back");
            return 1;
        }
    }

    // Window stand-in: the renderer presents into it; the picture itself is its capture texture.
    GLFramebuffer window = GLFramebuffer::generate();
    GLRenderbuffer color = GLRenderbuffer::generate();
    glBindRenderbuffer(GL_RENDERBUFFER, color.id());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, options.widthPx, options.heightPx);
    glBindFramebuffer(GL_FRAMEBUFFER, window.id());
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.id());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    int64_t written = 0;
    int64_t soundFrames = 0;
    bool failed = false;
    auto append = [&](uint64_t tag, std::vector<uint8_t>&& planes) {
        if (failed || !waitForRoom(*writer, videoInput)) {
            failed = true;
            return;
        }
        MovieVideoFrame frame;
        frame.planes = std::move(planes);
        frame.presentationTime = MediaTime{static_cast<int64_t>(tag), options.fps};
        frame.duration = MediaTime{1, options.fps};
        if (writer->appendVideo(videoInput, std::move(frame))) {
            ++written;
        } else {
            failed = true;
        }
    };
    std::optional<LiveFrames> live;
    if (ndi) live.emplace(ndi, options.source, options.fps);
    if (liveSound) liveSound->restart();
    Progress progress(options.frames);
    const auto loopStart = Clock::now();
    for (int64_t i = 0; i < options.frames && !failed && stopSignal() == 0; ++i) {
        const double time = options.startSeconds + static_cast<double>(i) / options.fps;
        if (live) {
            live->take(i);
        } else if (!venueSenders.receivers.empty()) {
            // Live venue senders are taken as they play, like a live main source.
            std::this_thread::sleep_until(loopStart + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(static_cast<double>(i) / options.fps)));
        }
        if (video && !video->showAt(time)) {
            problem("cannot decode " + options.source + " at " + std::to_string(time) + " s");
            failed = true;
            break;
        }
        for (const auto& [file, venueVideo] : venueVideos) {
            if (!venueVideo->showAt(time)) {
                problem("cannot decode " + file + " at " + std::to_string(time) + " s");
                failed = true;
            }
        }
        if (failed) break;
        queue->drain();
        renderer.draw(window.id(), options.widthPx, options.heightPx);
        if (writer) {
            if (audioInput >= 0) {
                const double next = options.startSeconds + static_cast<double>(i + 1) / options.fps;
                AudioSampleBuffer sound;
                if (video) {
                    sound = video->reader().soundFor(time, next);
                    sound.presentationValue = soundFrames;
                    soundFrames += sound.frameCount;
                } else {
                    sound = liveSound->take(i, options.fps);
                }
                if (!waitForRoom(*writer, audioInput) || !writer->appendAudio(audioInput, sound)) failed = true;
            }
            while (!readback->hasFreeSlot() && !failed) {
                readback->collect(append);
                if (!readback->hasFreeSlot()) std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            readback->submit(renderer.captureTexture(), options.widthPx, options.heightPx, static_cast<uint64_t>(i));
            readback->collect(append);
        }
        progress.update(i + 1);
    }
    const int interruption = stopSignal();
    if (live) live->summarize();
    if (writer) {
        glFinish();
        while (readback->inFlight() > 0 && !failed) {
            readback->collect(append);
            if (readback->inFlight() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (written == 0) {
            // Nothing worth keeping: the empty partial movie goes.
            writer->cancelWriting();
        } else {
            writer->finishWritingAndWait();
        }
        const bool whole = !failed && interruption == 0 && written == options.frames;
        if (writer->status() == MovieWriterStatus::failed) {
            problem(options.out + ": " + (writer->error() ? writer->error()->description : std::string("not finished")));
            failed = true;
        } else if (whole && writer->status() == MovieWriterStatus::completed) {
            if (std::rename(movieTarget->partialPath.c_str(), movieTarget->finalPath.c_str()) != 0) {
                problem(options.out + ": " + std::strerror(errno));
                failed = true;
            }
        } else if (whole) {
            problem(options.out + ": not finished");
            failed = true;
        }
        if (!whole || failed) {
            if (interruption != 0)
                problem(std::string("stopped by SIG") + sigabbrev_np(interruption) + " after " + std::to_string(written) +
                        " of " + std::to_string(options.frames) + " frames");
            else if (written != options.frames)
                problem(std::to_string(written) + " of " + std::to_string(options.frames) + " frames written");
            if (written > 0 && ::access(movieTarget->partialPath.c_str(), F_OK) == 0)
                problem("the partial movie is at " + movieTarget->partialPath + "; " + options.out +
                        " was left as it was");
            failed = true;
        }
    }
    if (!options.screenshot.empty() && !failed && interruption == 0) {
        glFinish();
        if (auto error = RenderCapture::saveTexture({renderer.captureTexture(), options.widthPx, options.heightPx, GL_RGBA8},
                                                    options.screenshot)) {
            problem(options.screenshot + ": " + error->description);
            failed = true;
        }
    }
    if (ndi) ndi->shutdown();
    queue->drain();
    if (interruption != 0) return 128 + interruption;
    return failed ? 1 : 0;
}

}  // namespace lumbrix::render_tool
