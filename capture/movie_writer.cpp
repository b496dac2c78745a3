#include "capture/movie_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

extern "C" {
#include <libavutil/opt.h>
}

#include "capture/fragment_file.h"
#include "capture/movie_audio_track.h"
#include "capture/movie_writer_errors.h"
#include "platform/console_line.h"
#include "platform/media/ffmpeg_handles.h"

namespace lumbrix {
namespace {

using namespace movie_writer_detail;

constexpr AVRational kVideoTimeBase{1, 600};
constexpr size_t kVideoQueueLimit = 6;
constexpr size_t kAudioQueueLimit = 64;
// One buffer is a few thousand frames; anything near INT_MAX is a broken buffer.
constexpr int64_t kMaxBufferFrames = int64_t{1} << 24;
// A crash loses at most the fragment being gathered: one is cut at every key frame and
// at least this often in between.
constexpr double kMaxFragmentSeconds = 1.0;

// The I/O context belongs to the writer's FragmentFile, not to the muxer.
struct OutputContextDeleter {
    void operator()(AVFormatContext* context) const {
        context->pb = nullptr;
        avformat_free_context(context);
    }
};

using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

int64_t i420Bytes(int64_t widthPx, int64_t heightPx) {
    return widthPx * heightPx + 2 * (widthPx / 2) * (heightPx / 2);
}

// Only a file of our own making goes: the path may name a device such as /dev/full.
void removeRegularFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::unlink(path.c_str());
}

}  // namespace

// The inputs are complete types before Impl, which keeps them constructible inside
// std::optional for every compiler (clang rejects a nested type with member
// initializers while the enclosing class is incomplete).
namespace {

struct VideoInput {
    MovieVideoSettings settings;
    int widthPx = 0;  // even, as encoded
    int heightPx = 0;
    std::deque<MovieVideoFrame> queue;
    bool finished = false;
    // Worker only, once writing.
    CodecContextPtr encoder;
    AVStream* stream = nullptr;
    FramePtr picture;
    int64_t lastPts = std::numeric_limits<int64_t>::min();
    // x264 drops frame durations; the muxer needs the last one for the track length.
    std::map<int64_t, int64_t> durations;
};

}  // namespace

struct MovieWriter::Impl {
    struct InputSlot {
        bool video = false;
        size_t index = 0;
    };

    Impl(std::string filePath, std::atomic<MovieWriterStatus>& writerStatus)
        : path(std::move(filePath)), status(writerStatus) {}

    const std::string path;
    std::atomic<MovieWriterStatus>& status;
    OutputContextPtr output;
    FragmentFile file;
    bool fragmentHasMedia = false;
    double fragmentStartSeconds = 0.0;
    std::atomic<int64_t> framesAccepted{0};
    std::optional<VideoInput> video;
    std::vector<std::unique_ptr<MovieAudioTrack>> audio;
    std::vector<InputSlot> inputs;
    PacketPtr packet;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopRequested = false;
    bool finishRequested = false;
    std::function<void()> completion;
    std::optional<Error> failure;
    std::thread worker;

    VideoInput* videoAt(int input) {
        if (input < 0 || static_cast<size_t>(input) >= inputs.size() || !inputs[input].video) return nullptr;
        return &*video;
    }
    MovieAudioTrack* audioAt(int input) {
        if (input < 0 || static_cast<size_t>(input) >= inputs.size() || inputs[input].video) return nullptr;
        return audio[inputs[input].index].get();
    }

    // Caller holds the mutex.
    bool hasRoom(int input) {
        if (status.load() != MovieWriterStatus::writing) return false;
        if (VideoInput* v = videoAt(input)) return !v->finished && v->queue.size() < kVideoQueueLimit;
        if (MovieAudioTrack* a = audioAt(input)) return !a->finished && a->queue.size() < kAudioQueueLimit;
        return false;
    }

    // ---- Setup, on the controlling thread before the worker exists ----

    std::optional<Error> openVideo(VideoInput& input) {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (codec == nullptr)
            return Error(kErrorDomain, encoderUnavailable, "The H.264 encoder (libx264) is not available");
        input.encoder.reset(avcodec_alloc_context3(codec));
        if (!input.encoder) return writerError(encoderSetupFailed, "Cannot set up the H.264 encoder", AVERROR(ENOMEM));
        AVCodecContext& context = *input.encoder;
        const MovieVideoSettings& settings = input.settings;
        context.width = input.widthPx;
        context.height = input.heightPx;
        context.pix_fmt = AV_PIX_FMT_YUV420P;
        // What the GPU conversion produces: BT.709 in video range. Tagged, so players
        // do not guess BT.601 for the smaller sizes.
        context.color_primaries = AVCOL_PRI_BT709;
        context.color_trc = AVCOL_TRC_BT709;
        context.colorspace = AVCOL_SPC_BT709;
        context.color_range = AVCOL_RANGE_MPEG;
        context.time_base = kVideoTimeBase;
        context.framerate = AVRational{settings.framesPerSecond, 1};
        context.bit_rate = settings.averageBitRate;
        // A VBV cap keeps the rate an average instead of letting x264 fall back to a
        // constant quality whose size nobody can predict.
        context.rc_max_rate = settings.averageBitRate * 3 / 2;
        context.rc_buffer_size = static_cast<int>(std::min<int64_t>(settings.averageBitRate * 2, INT_MAX));
        context.gop_size = std::max(1, static_cast<int>(std::lround(settings.framesPerSecond * settings.keyFrameIntervalSeconds)));
        // Without reordering every packet's dts is its pts, whatever the preset.
        context.max_b_frames = 0;
        if (output->oformat->flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

        DictionaryOwner options;
        av_dict_set(&options.dictionary, "preset", settings.x264Preset.empty() ? RecordingSettings{}.x264Preset.c_str() : settings.x264Preset.c_str(), 0);
        av_dict_set(&options.dictionary, "profile", "high", 0);
        // The profile option only caps what x264 uses; ultrafast alone writes Constrained
        // Baseline. The 8×8 transform is a High tool, so the stream really is High.
        av_dict_set(&options.dictionary, "x264-params", "8x8dct=1", 0);
        if (int result = avcodec_open2(&context, codec, &options.dictionary); result < 0)
            return writerError(encoderSetupFailed, "Cannot open the H.264 encoder", result);

        input.picture.reset(av_frame_alloc());
        if (!input.picture) return writerError(encoderSetupFailed, "Cannot set up the H.264 encoder", AVERROR(ENOMEM));
        input.picture->format = AV_PIX_FMT_YUV420P;
        input.picture->width = input.widthPx;
        input.picture->height = input.heightPx;
        if (int result = av_frame_get_buffer(input.picture.get(), 0); result < 0)
            return writerError(encoderSetupFailed, "Cannot set up the H.264 encoder", result);

        input.stream = avformat_new_stream(output.get(), nullptr);
        if (input.stream == nullptr) return writerError(muxFailed, "Cannot add the video track", AVERROR(ENOMEM));
        input.stream->time_base = kVideoTimeBase;
        input.stream->avg_frame_rate = context.framerate;
        if (int result = avcodec_parameters_from_context(input.stream->codecpar, &context); result < 0)
            return writerError(muxFailed, "Cannot add the video track", result);
        return std::nullopt;
    }

    std::optional<Error> open() {
        // The muxer orders tracks by creation: the picture first, then sound as added.
        if (video)
            if (auto error = openVideo(*video)) return error;
        for (auto& input : audio)
            if (auto error = input->open(*output)) return error;
        packet.reset(av_packet_alloc());
        if (!packet) return writerError(encoderSetupFailed, "Cannot set up the encoders", AVERROR(ENOMEM));

        // A plain file of ours, never a protocol an FFmpeg URL could name.
        if (auto error = file.open(path)) return error;
        output->pb = file.context();
        output->flags |= AVFMT_FLAG_CUSTOM_IO;
        // Times as recorded: a picture that starts a moment after zero keeps its place.
        output->avoid_negative_ts = AVFMT_AVOID_NEG_TS_MAKE_NON_NEGATIVE;
        // Fragmented while recording, so the file on disk always plays up to its last
        // whole fragment; a clean finish rewrites it as a regular movie.
        DictionaryOwner options;
        av_dict_set(&options.dictionary, "movflags", "frag_custom+empty_moov+default_base_moof", 0);
        int result = avformat_write_header(output.get(), &options.dictionary);
        if (result >= 0 && output->pb->error < 0) result = output->pb->error;
        if (result < 0) return fileError(result, "Cannot write " + path);
        return file.commit();
    }

    // The media gathered since the last cut goes to the file as one fragment.
    std::optional<Error> cutFragment() {
        if (!fragmentHasMedia) return std::nullopt;
        int result = av_write_frame(output.get(), nullptr);
        if (result >= 0 && output->pb->error < 0) result = output->pb->error;
        if (result < 0) return fileError(result, "Cannot write " + path);
        fragmentHasMedia = false;
        return file.commit();
    }

    // ---- The worker ----

    std::optional<Error> writePackets(AVCodecContext& encoder, AVStream& stream, std::map<int64_t, int64_t>* durations) {
        for (;;) {
            int result = avcodec_receive_packet(&encoder, packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return std::nullopt;
            if (result < 0) return writerError(encodeFailed, "Cannot encode " + path, result);
            // The sound encoder's lead-in lies wholly before zero. A fragmented movie has
            // no edit list to hide it, and the muxer would move every track later to make
            // room for it, so it is left out.
            if (durations == nullptr && packet->pts != AV_NOPTS_VALUE && packet->pts + packet->duration <= 0) {
                av_packet_unref(packet.get());
                continue;
            }
            if (durations != nullptr) {
                if (auto found = durations->find(packet->pts); found != durations->end()) {
                    packet->duration = found->second;
                    durations->erase(durations->begin(), std::next(found));
                }
            }
            if (durations != nullptr) {
                const double seconds = static_cast<double>(packet->pts) * av_q2d(encoder.time_base);
                if ((packet->flags & AV_PKT_FLAG_KEY) || seconds - fragmentStartSeconds >= kMaxFragmentSeconds) {
                    if (auto error = cutFragment()) {
                        av_packet_unref(packet.get());
                        return error;
                    }
                    fragmentStartSeconds = seconds;
                }
            }
            packet->stream_index = stream.index;
            av_packet_rescale_ts(packet.get(), encoder.time_base, stream.time_base);
            // Straight to the muxer: it keeps each track's samples until the next cut,
            // so holding packets back for interleaving would only delay them reaching
            // the disk.
            result = av_write_frame(output.get(), packet.get());
            av_packet_unref(packet.get());
            fragmentHasMedia = true;
            // The muxer buffers; a full disk may only show in the I/O context's sticky error.
            if (result >= 0 && output->pb->error < 0) result = output->pb->error;
            if (result < 0) return fileError(result, "Cannot write " + path);
        }
    }

    std::optional<Error> encodeVideo(VideoInput& input, const MovieVideoFrame& frame) {
        const int64_t pts = av_rescale_q(frame.presentationTime.value, AVRational{1, frame.presentationTime.timescale}, kVideoTimeBase);
        // The muxer refuses times that do not increase; the movie starts at zero.
        if (pts < 0 || pts <= input.lastPts) return std::nullopt;
        input.lastPts = pts;

        AVFrame& picture = *input.picture;
        if (int result = av_frame_make_writable(&picture); result < 0)
            return writerError(encodeFailed, "Cannot encode " + path, result);
        // An odd-sized source keeps its own row length; the encoded picture drops the last
        // column and row. Chroma sizes agree either way (integer halves).
        const int64_t sourceWidth =
            static_cast<int64_t>(frame.planes.size()) == i420Bytes(input.widthPx, input.heightPx) ? input.widthPx
                                                                                                  : input.settings.widthPx;
        const int64_t sourceHeight = sourceWidth == input.widthPx ? input.heightPx : input.settings.heightPx;
        const uint8_t* luma = frame.planes.data();
        const uint8_t* blue = luma + sourceWidth * sourceHeight;
        const uint8_t* red = blue + (sourceWidth / 2) * (sourceHeight / 2);
        for (int y = 0; y < input.heightPx; ++y)
            std::memcpy(picture.data[0] + static_cast<std::ptrdiff_t>(y) * picture.linesize[0], luma + y * sourceWidth,
                        static_cast<size_t>(input.widthPx));
        const int chromaWidth = input.widthPx / 2;
        for (int y = 0; y < input.heightPx / 2; ++y) {
            std::memcpy(picture.data[1] + static_cast<std::ptrdiff_t>(y) * picture.linesize[1], blue + y * (sourceWidth / 2),
                        static_cast<size_t>(chromaWidth));
            std::memcpy(picture.data[2] + static_cast<std::ptrdiff_t>(y) * picture.linesize[2], red + y * (sourceWidth / 2),
                        static_cast<size_t>(chromaWidth));
        }
        picture.pts = pts;
        int64_t duration = 0;
        if (frame.duration.timescale > 0)
            duration = av_rescale_q(frame.duration.value, AVRational{1, frame.duration.timescale}, kVideoTimeBase);
        if (duration <= 0) duration = std::max<int64_t>(1, kVideoTimeBase.den / std::max(1, input.settings.framesPerSecond));
        input.durations[pts] = duration;

        if (int result = avcodec_send_frame(input.encoder.get(), &picture); result < 0)
            return writerError(encodeFailed, "Cannot encode " + path, result);
        return writePackets(*input.encoder, *input.stream, &input.durations);
    }

    std::optional<Error> finishTracks() {
        if (video) {
            if (int result = avcodec_send_frame(video->encoder.get(), nullptr); result < 0)
                return writerError(encodeFailed, "Cannot encode " + path, result);
            if (auto error = writePackets(*video->encoder, *video->stream, &video->durations)) return error;
        }
        for (auto& track : audio)
            if (auto error = track->finish()) return error;
        int result = av_write_trailer(output.get());
        if (result >= 0 && output->pb->error < 0) result = output->pb->error;
        if (result < 0) return fileError(result, "Cannot write " + path);
        if (auto error = file.commit()) return error;
        const bool regular = file.isRegular();
        closeFile();
        // The fragmented file is a whole movie already; a conversion that fails (the
        // disk too full for a second copy) leaves it as it is.
        if (regular) {
            if (auto error = convertToRegularMovie(path))
                printConsoleLine("MovieWriter: kept the fragmented movie: " + error->description);
        }
        return std::nullopt;
    }

    void closeFile() {
        output->pb = nullptr;
        file.close();
    }

    void end(MovieWriterStatus outcome, std::optional<Error> error) {
        closeFile();
        std::function<void()> done;
        {
            std::lock_guard lock(mutex);
            failure = std::move(error);
            status.store(outcome);
            if (video) video->queue.clear();
            for (auto& input : audio) input->queue.clear();
            done = std::move(completion);
        }
        if (done) done();
    }

    void run() {
        for (;;) {
            MovieVideoFrame frame;
            AudioSampleBuffer sound;
            MovieAudioTrack* soundInput = nullptr;
            bool haveFrame = false;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopRequested || finishRequested || anythingQueued(); });
                if (stopRequested) return;
                // Earliest first keeps what the muxer holds back for interleaving small.
                double earliest = std::numeric_limits<double>::infinity();
                if (video && !video->queue.empty()) {
                    earliest = video->queue.front().presentationTime.seconds();
                    haveFrame = true;
                }
                for (auto& input : audio) {
                    if (input->queue.empty()) continue;
                    const AudioSampleBuffer& head = input->queue.front();
                    const double seconds = head.timescale > 0 ? static_cast<double>(head.presentationValue) / head.timescale
                                                              : -std::numeric_limits<double>::infinity();
                    if ((!haveFrame && soundInput == nullptr) || seconds < earliest) {
                        earliest = seconds;
                        soundInput = input.get();
                    }
                }
                if (soundInput != nullptr) {
                    haveFrame = false;
                    sound = std::move(soundInput->queue.front());
                    soundInput->queue.pop_front();
                } else if (haveFrame) {
                    frame = std::move(video->queue.front());
                    video->queue.pop_front();
                }
            }
            std::optional<Error> error;
            if (soundInput != nullptr) {
                error = soundInput->encodeAudio(sound);
            } else if (haveFrame) {
                error = encodeVideo(*video, frame);
            } else {
                // Finishing with nothing left.
                error = finishTracks();
                const bool failed = error.has_value();
                end(failed ? MovieWriterStatus::failed : MovieWriterStatus::completed, std::move(error));
                return;
            }
            if (error) {
                end(MovieWriterStatus::failed, std::move(error));
                return;
            }
        }
    }

    // Caller holds the mutex.
    bool anythingQueued() const {
        if (video && !video->queue.empty()) return true;
        return std::any_of(audio.begin(), audio.end(), [](const auto& input) { return !input->queue.empty(); });
    }
};

MovieWriter::MovieWriter(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>(path_, status_)) {}

Expected<std::unique_ptr<MovieWriter>, Error> MovieWriter::create(const std::string& path) {
    std::unique_ptr<MovieWriter> writer(new MovieWriter(path));
    AVFormatContext* output = nullptr;
    // The mp4 muxer whatever the extension says.
    if (int result = avformat_alloc_output_context2(&output, nullptr, "mp4", path.c_str()); result < 0 || output == nullptr)
        return unexpected(writerError(muxerUnavailable, "Cannot set up the MP4 muxer for " + path, result < 0 ? result : AVERROR_MUXER_NOT_FOUND));
    writer->impl_->output.reset(output);
    return writer;
}

MovieWriter::~MovieWriter() {
    if (status_.load() == MovieWriterStatus::writing) cancelWriting();
    if (!impl_->worker.joinable()) return;
    // A completion that drops the writer runs on the worker, which touches nothing after it.
    if (impl_->worker.get_id() == std::this_thread::get_id())
        impl_->worker.detach();
    else
        impl_->worker.join();
}

int MovieWriter::addVideoInput(const MovieVideoSettings& settings) {
    Impl& impl = *impl_;
    if (status_.load() != MovieWriterStatus::unknown || impl.video) return -1;
    const int widthPx = settings.widthPx & ~1;
    const int heightPx = settings.heightPx & ~1;
    if (widthPx < 2 || heightPx < 2 || settings.framesPerSecond <= 0 || settings.averageBitRate <= 0) return -1;
    std::lock_guard lock(impl.mutex);
    impl.video.emplace();
    impl.video->settings = settings;
    impl.video->widthPx = widthPx;
    impl.video->heightPx = heightPx;
    impl.inputs.push_back({true, 0});
    return static_cast<int>(impl.inputs.size()) - 1;
}

int MovieWriter::addAudioInput() {
    Impl& impl = *impl_;
    if (status_.load() != MovieWriterStatus::unknown || impl.audio.size() >= 2) return -1;
    std::lock_guard lock(impl.mutex);
    impl.audio.push_back(std::make_unique<MovieAudioTrack>(
        path_, [&impl](AVCodecContext& encoder, AVStream& stream) { return impl.writePackets(encoder, stream, nullptr); }));
    impl.inputs.push_back({false, impl.audio.size() - 1});
    return static_cast<int>(impl.inputs.size()) - 1;
}

bool MovieWriter::startWriting() {
    Impl& impl = *impl_;
    if (status_.load() != MovieWriterStatus::unknown) return false;
    if (auto error = impl.open()) {
        if (impl.file.isOpen()) {
            impl.closeFile();
            removeRegularFile(path_);
        }
        std::lock_guard lock(impl.mutex);
        impl.failure = std::move(error);
        status_.store(MovieWriterStatus::failed);
        return false;
    }
    {
        std::lock_guard lock(impl.mutex);
        status_.store(MovieWriterStatus::writing);
    }
    impl.worker = std::thread([&impl] { impl.run(); });
    return true;
}

std::optional<Error> MovieWriter::error() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->failure;
}

bool MovieWriter::isReadyForMoreMediaData(int input) const {
    std::lock_guard lock(impl_->mutex);
    return impl_->hasRoom(input);
}

bool MovieWriter::appendVideo(int input, MovieVideoFrame frame) {
    Impl& impl = *impl_;
    if (frame.presentationTime.timescale <= 0) return false;
    std::lock_guard lock(impl.mutex);
    VideoInput* video = impl.videoAt(input);
    if (video == nullptr || !impl.hasRoom(input)) return false;
    const auto bytes = static_cast<int64_t>(frame.planes.size());
    if (bytes != i420Bytes(video->widthPx, video->heightPx) &&
        bytes != i420Bytes(video->settings.widthPx, video->settings.heightPx))
        return false;
    video->queue.push_back(std::move(frame));
    impl.framesAccepted.fetch_add(1);
    impl.wake.notify_one();
    return true;
}

bool MovieWriter::appendAudio(int input, const AudioSampleBuffer& buffer) {
    Impl& impl = *impl_;
    const double rate = buffer.sampleRate;
    if (!(rate >= 1000.0 && rate <= 768000.0) || buffer.channels < 1 || buffer.frameCount <= 0 ||
        buffer.frameCount > kMaxBufferFrames ||
        static_cast<int64_t>(buffer.planes.size()) < buffer.channels * buffer.frameCount)
        return false;
    std::lock_guard lock(impl.mutex);
    MovieAudioTrack* audio = impl.audioAt(input);
    if (audio == nullptr || !impl.hasRoom(input)) return false;
    audio->queue.push_back(buffer);
    impl.wake.notify_one();
    return true;
}

void MovieWriter::markInputFinished(int input) {
    Impl& impl = *impl_;
    std::lock_guard lock(impl.mutex);
    if (VideoInput* video = impl.videoAt(input)) video->finished = true;
    if (MovieAudioTrack* audio = impl.audioAt(input)) audio->finished = true;
}

void MovieWriter::cancelWriting() {
    Impl& impl = *impl_;
    // Once a picture is in, the movie is the user's: it is finished and kept, never removed.
    if (impl.framesAccepted.load() > 0 && status_.load() == MovieWriterStatus::writing) {
        finishWritingAndWait();
        return;
    }
    {
        std::lock_guard lock(impl.mutex);
        if (status_.load() == MovieWriterStatus::unknown) {
            status_.store(MovieWriterStatus::cancelled);
            return;
        }
        if (status_.load() != MovieWriterStatus::writing) return;
        impl.stopRequested = true;
    }
    impl.wake.notify_all();
    if (impl.worker.joinable()) impl.worker.join();
    // The worker may have finished on its own just before it saw the request.
    if (status_.load() != MovieWriterStatus::writing) return;
    impl.closeFile();
    removeRegularFile(path_);
    std::function<void()> done;
    {
        std::lock_guard lock(impl.mutex);
        if (impl.video) impl.video->queue.clear();
        for (auto& input : impl.audio) input->queue.clear();
        status_.store(MovieWriterStatus::cancelled);
        done = std::move(impl.completion);
    }
    // A finish that was under way still reports its end.
    if (done) done();
}

void MovieWriter::finishWriting(std::function<void()> completion) {
    Impl& impl = *impl_;
    {
        std::lock_guard lock(impl.mutex);
        if (status_.load() == MovieWriterStatus::writing && !impl.finishRequested) {
            impl.finishRequested = true;
            if (impl.video) impl.video->finished = true;
            for (auto& input : impl.audio) input->finished = true;
            impl.completion = std::move(completion);
            impl.wake.notify_all();
            return;
        }
    }
    if (completion) completion();
}

void MovieWriter::finishWritingAndWait() {
    finishWriting({});
    // The worker ends once the file is finished (or at once when nothing was writing).
    if (impl_->worker.joinable() && impl_->worker.get_id() != std::this_thread::get_id()) impl_->worker.join();
}

}  // namespace lumbrix
