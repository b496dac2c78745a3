#include "sources/offline_video_reader.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>

#include "platform/media/ffmpeg_handles.h"
#include "sources/media_file.h"

namespace lumbrix {

namespace {

struct ChannelLayoutOwner {
    AVChannelLayout layout{};
    ~ChannelLayoutOwner() { av_channel_layout_uninit(&layout); }
};

// Stamps are rationals and render times are doubles: a frame stamped within a
// microsecond after the time asked for counts as due, so that k / fps is frame k even
// when the sum that made it came out a hair low.
constexpr double kDueSlackSeconds = 1e-6;
// Beyond this, seeking to the key frame before costs less than decoding all the way.
constexpr double kFarAheadSeconds = 2.0;
// AAC and its kin need a few packets before their output settles: sound seeks start
// this much early and throw the lead-in away.
constexpr double kSoundPrerollSeconds = 0.2;
// Stamps that stray further than this from the samples counted so far mark a real gap
// (or overlap) in the file's sound rather than rounding.
constexpr double kSoundJumpSeconds = 0.05;
// Further than any file lasts; keeps sample counts and stamps well inside int64.
constexpr double kTimeLimitSeconds = 1e9;
// As with the sample counts: a time meant to fall on a sample that came out a hair
// early from the caller's arithmetic still starts at that sample.
constexpr double kSampleSlack = 1e-6;

constexpr int64_t kUnknownIndex = std::numeric_limits<int64_t>::min();

// Seeks and the sound reopen the file; a failure is one line of text to them.
Expected<FormatContextPtr, std::string> openContainer(const std::string& path) {
    auto opened = openMediaContainer(path);
    if (!opened) {
        return unexpected(opened.error().message);
    }
    return std::move(opened.value());
}

// Only one stream is wanted from each demuxer; the others are not even read.
void keepOnlyStream(AVFormatContext* format, int keep) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int>(i) != keep) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
}

// Seconds from the container's start, as the viewer counts them. Multiplying before
// dividing rounds once, so k / 30 s stamped in 1/15360 units is the very double k / 30.0.
double toSeconds(int64_t stamp, AVRational timeBase, int64_t startTime) {
    return static_cast<double>(stamp) * timeBase.num / timeBase.den -
           static_cast<double>(startTime) / AV_TIME_BASE;
}

// Rounded down, so a seek lands at or before the time asked for.
int64_t toStamp(double seconds, AVRational timeBase, int64_t startTime) {
    const auto micro = static_cast<int64_t>(std::floor(seconds * AV_TIME_BASE)) + startTime;
    return av_rescale_q_rnd(micro, AVRational{1, AV_TIME_BASE}, timeBase, AV_ROUND_DOWN);
}

int64_t soundIndex(double seconds) {
    return static_cast<int64_t>(std::floor(seconds * OfflineVideoReader::kSoundRate + kSampleSlack));
}

}  // namespace

struct OfflineVideoReader::Picture {
    std::string path;
    FormatContextPtr format;
    CodecContextPtr decoder;
    PacketPtr packet;
    ScaleContextPtr scaler;
    int stream = -1;
    AVRational timeBase{1, 1};
    int64_t startTime = 0;
    double frameSeconds = 1.0 / 30.0;  // stands in for a missing stamp
    int width = 0;
    int height = 0;
    bool inputEnded = false;  // the decoder has been told no more packets come
    // After a seek, decoding starts at a key frame: some decoders turn out grey guesses
    // for pictures whose references they never saw.
    bool needKey = false;

    double firstPts = 0.0;

    // `held` shows now; `ahead` is the next frame, decoded to learn when `held` stops
    // showing (null past the last frame). `spare` is decoded into next.
    FramePtr held, ahead, spare;
    double heldPts = 0.0, aheadPts = 0.0;
    bool heldIsFirst = false;
    bool converted = false;
    std::vector<uint8_t> rgba;

    // 0 with a frame in `frame`, AVERROR_EOF past the last one, another error when
    // decoding cannot go on.
    int decodeNext(AVFrame* frame, double previousPts, double& pts) {
        av_frame_unref(frame);
        for (;;) {
            const int received = avcodec_receive_frame(decoder.get(), frame);
            if (received == 0) {
                const int64_t stamp = frame->best_effort_timestamp;
                pts = stamp != AV_NOPTS_VALUE ? toSeconds(stamp, timeBase, startTime) : previousPts + frameSeconds;
                return 0;
            }
            if (received != AVERROR(EAGAIN)) {
                return received;
            }
            if (inputEnded) {
                return AVERROR_EOF;
            }
            const int read = av_read_frame(format.get(), packet.get());
            if (read < 0) {
                // The end, or damage that ends the stream all the same: drain what is queued.
                inputEnded = true;
                avcodec_send_packet(decoder.get(), nullptr);
                continue;
            }
            if (packet->stream_index == stream && (!needKey || (packet->flags & AV_PKT_FLAG_KEY) != 0)) {
                needKey = false;
                // A damaged packet is skipped; the frames after it may well decode.
                avcodec_send_packet(decoder.get(), packet.get());
            }
            av_packet_unref(packet.get());
        }
    }

    // Fills `ahead` with the frame after `held`; false on a decoding failure.
    bool decodeAhead() {
        const int result = decodeNext(spare.get(), heldPts, aheadPts);
        if (result == 0) {
            std::swap(ahead, spare);
            return true;
        }
        ahead.reset();
        return result == AVERROR_EOF;
    }

    // Decodes the first two frames from wherever the demuxer now stands.
    bool startDecoding() {
        avcodec_flush_buffers(decoder.get());
        inputEnded = false;
        for (FramePtr* frame : {&held, &ahead, &spare}) {
            if (!*frame) {
                frame->reset(av_frame_alloc());
            }
            if (!*frame) {
                return false;
            }
        }
        if (decodeNext(held.get(), 0.0, heldPts) != 0) {
            return false;
        }
        heldIsFirst = heldPts <= firstPts + kDueSlackSeconds;
        converted = false;
        return decodeAhead();
    }

    // Leaves `held` at or before `seconds` (or at the first frame) with nothing skipped
    // after it. Most demuxers land on the key frame at or before the stamp asked for;
    // some (MPEG-TS) only near it, so a landing past the time tries further back, and
    // the last resort reads from the top of a freshly opened file.
    bool seekTo(double seconds) {
        for (const double back : {0.0, 1.0, 3.0, 7.0}) {
            const double target = seconds - back;
            const int64_t stamp = toStamp(target, timeBase, startTime);
            if (avformat_seek_file(format.get(), stream, INT64_MIN, stamp, stamp, 0) < 0) {
                break;
            }
            needKey = true;
            if (startDecoding() && (heldIsFirst || heldPts <= seconds + kDueSlackSeconds)) {
                return true;
            }
            if (target < firstPts) {
                break;  // already as far back as the file goes
            }
        }
        if (auto reopened = openContainer(path)) {
            format = std::move(reopened.value());
            keepOnlyStream(format.get(), stream);
            needKey = false;
            if (startDecoding()) {
                return true;
            }
        }
        held.reset();
        return false;
    }

    // Whether decoding on from `held` reaches `seconds` sooner than a seek would.
    bool worthSeeking(double seconds) const {
        if (seconds <= heldPts + kFarAheadSeconds) {
            return false;
        }
        // With an index to ask, a seek that would land at or before where decoding
        // stands gains nothing (long gaps between key frames).
        const AVIndexEntry* key = avformat_index_get_entry_from_timestamp(
            format->streams[stream], toStamp(seconds, timeBase, startTime), AVSEEK_FLAG_BACKWARD);
        return key == nullptr || held->best_effort_timestamp == AV_NOPTS_VALUE ||
               key->timestamp > held->best_effort_timestamp;
    }

    bool convert() {
        AVFrame* frame = held.get();
        // Colours as the viewer's playback gives them.
        if (!prepareRgbaConverter(scaler, *frame, width, height)) {
            return false;
        }
        rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
        uint8_t* planes[4] = {rgba.data(), nullptr, nullptr, nullptr};
        int strides[4] = {width * 4, 0, 0, 0};
        if (sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0) {
            return false;
        }
        converted = true;
        return true;
    }
};

struct OfflineVideoReader::Sound {
    struct Chunk {
        int64_t start = 0;  // in 48 kHz frames
        std::vector<float> left, right;
    };

    std::string path;
    FormatContextPtr format;
    CodecContextPtr decoder;
    PacketPtr packet;
    FramePtr frame;
    ResamplerPtr resampler;
    int stream = -1;
    AVRational timeBase{1, 1};
    int64_t startTime = 0;

    // What the resampler was made for, to notice the file's sound changing format.
    int inRate = 0, inChannels = 0, inFormat = -1;
    int outChannels = 2;  // 1 for mono, copied to both sides at full level

    // The resampler's output is laid on the timeline from the stamp of the frame that
    // started it, then sample after sample; stamps only count again when they jump.
    bool anchored = false;
    int64_t anchorIndex = 0;
    double anchorSeconds = 0.0;
    int64_t inputSinceAnchor = 0;
    int64_t outputSinceAnchor = 0;

    bool inputEnded = false;
    bool ended = false;  // nothing more comes: past here the file is silent
    // Everything before `frontier` is final: in `chunks`, handed out, or silence.
    int64_t frontier = kUnknownIndex;
    int64_t startedAt = 0;               // where decoding began (the top, or a seek)
    int64_t consumedTo = kUnknownIndex;  // the end of the last span handed out
    std::deque<Chunk> chunks;
    std::vector<float> scratch;

    // Decoding starts afresh from wherever the demuxer now stands; what comes before
    // `index` is not heard.
    void restart(int64_t index) {
        avcodec_flush_buffers(decoder.get());
        if (resampler) {
            swr_init(resampler.get());  // forgets what it held from before
        }
        anchored = false;
        inputEnded = false;
        ended = false;
        frontier = kUnknownIndex;
        startedAt = index;
        consumedTo = index;
        chunks.clear();
    }

    // As with pictures: a landing after the time tries further back, and the last
    // resort reads from the top. A landing after the time from as far back as the file
    // goes means its sound starts later.
    void seek(int64_t index) {
        const double seconds = static_cast<double>(index) / kSoundRate;
        for (const double back : {0.0, 1.0, 3.0, 7.0}) {
            const double target = seconds - kSoundPrerollSeconds - back;
            const int64_t stamp = toStamp(target, timeBase, startTime);
            if (avformat_seek_file(format.get(), stream, INT64_MIN, stamp, stamp, 0) < 0) {
                break;
            }
            restart(index);
            while (!anchored && !ended) {
                step();
            }
            // Ending with no sound at all is taken at its word: past the sound's end.
            if (!anchored || anchorIndex <= index || target <= 0.0) {
                return;
            }
        }
        if (auto reopened = openContainer(path)) {
            format = std::move(reopened.value());
            keepOnlyStream(format.get(), stream);
            restart(index);
            return;
        }
        restart(index);
        ended = true;  // the file has gone: silence rather than a stall
    }

    void append(const float* left, const float* right, int64_t count) {
        int64_t start = anchorIndex + outputSinceAnchor;
        outputSinceAnchor += count;
        frontier = start + count;
        // A seek's lead-in, and anything before a span already handed out, is not heard.
        if (consumedTo != kUnknownIndex && start < consumedTo) {
            const int64_t skip = std::min(consumedTo - start, count);
            left += skip;
            right += skip;
            count -= skip;
            start += skip;
        }
        if (count <= 0) {
            return;
        }
        Chunk chunk;
        chunk.start = start;
        chunk.left.assign(left, left + count);
        chunk.right.assign(right, right + count);
        chunks.push_back(std::move(chunk));
    }

    // Runs the resampler on `input` (null: empties it) and lays the result down.
    void convert(const uint8_t* const* input, int inputCount) {
        if (!resampler || !anchored) {
            return;
        }
        const int capacity = swr_get_out_samples(resampler.get(), inputCount);
        if (capacity <= 0) {
            return;
        }
        const auto size = static_cast<size_t>(capacity);
        scratch.resize(size * 2);
        uint8_t* out[2] = {reinterpret_cast<uint8_t*>(scratch.data()),
                           reinterpret_cast<uint8_t*>(scratch.data() + size)};
        const int made = swr_convert(resampler.get(), out, capacity, const_cast<const uint8_t**>(input), inputCount);
        if (made > 0) {
            const float* left = scratch.data();
            append(left, outChannels == 1 ? left : scratch.data() + size, made);
        }
    }

    void drainResampler() { convert(nullptr, 0); }

    bool makeResampler(const AVFrame* source) {
        ChannelLayoutOwner in;
        if (source->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || source->ch_layout.nb_channels <= 0) {
            // Files that do not name their channels get the usual meaning for the count.
            const int count =
                source->ch_layout.nb_channels > 0 ? source->ch_layout.nb_channels : decoder->ch_layout.nb_channels;
            if (count <= 0) {
                return false;
            }
            av_channel_layout_default(&in.layout, count);
        } else if (av_channel_layout_copy(&in.layout, &source->ch_layout) < 0) {
            return false;
        }
        outChannels = in.layout.nb_channels == 1 ? 1 : 2;
        ChannelLayoutOwner out;
        av_channel_layout_default(&out.layout, outChannels);
        SwrContext* made = nullptr;
        if (swr_alloc_set_opts2(&made, &out.layout, AV_SAMPLE_FMT_FLTP, kSoundRate, &in.layout,
                                static_cast<AVSampleFormat>(source->format), source->sample_rate, 0, nullptr) < 0 ||
            made == nullptr || swr_init(made) < 0) {
            swr_free(&made);
            resampler.reset();
            return false;
        }
        resampler.reset(made);
        inRate = source->sample_rate;
        inChannels = source->ch_layout.nb_channels;
        inFormat = source->format;
        return true;
    }

    void take(AVFrame* source) {
        const int64_t stamp = source->best_effort_timestamp;
        const double pts = stamp != AV_NOPTS_VALUE ? toSeconds(stamp, timeBase, startTime)
                                                   : std::numeric_limits<double>::quiet_NaN();
        if (!resampler || source->sample_rate != inRate || source->ch_layout.nb_channels != inChannels ||
            source->format != inFormat) {
            drainResampler();
            anchored = false;
            if (source->sample_rate <= 0 || !makeResampler(source)) {
                return;  // sound it cannot convert stays silent
            }
        }
        if (anchored && std::isfinite(pts)) {
            const double expected = anchorSeconds + static_cast<double>(inputSinceAnchor) / inRate;
            if (std::abs(pts - expected) > kSoundJumpSeconds) {
                drainResampler();
                swr_init(resampler.get());
                anchored = false;
            }
        }
        if (!anchored) {
            const double seconds = std::isfinite(pts) ? pts
                                   : frontier != kUnknownIndex ? static_cast<double>(frontier) / kSoundRate
                                                               : static_cast<double>(startedAt) / kSoundRate;
            anchorSeconds = std::clamp(seconds, -kTimeLimitSeconds, kTimeLimitSeconds);
            // The nearest sample, not the one before: a stamp between two 48 kHz samples
            // then lands where reading from the top would have put it.
            anchorIndex = std::llround(anchorSeconds * kSoundRate);
            if (frontier != kUnknownIndex) {
                // Sound stamped over sound already laid down plays after it instead:
                // what is final stays final.
                anchorIndex = std::max(anchorIndex, frontier);
            }
            inputSinceAnchor = 0;
            outputSinceAnchor = 0;
            anchored = true;
        }
        inputSinceAnchor += source->nb_samples;
        convert(source->extended_data, source->nb_samples);
    }

    // One step of reading and decoding: a frame taken, a packet read, or the end.
    void step() {
        const int received = avcodec_receive_frame(decoder.get(), frame.get());
        if (received == 0) {
            take(frame.get());
            av_frame_unref(frame.get());
            return;
        }
        if (received != AVERROR(EAGAIN) || inputEnded) {
            // The end, or a decoder that cannot go on: silent from here either way.
            drainResampler();
            ended = true;
            return;
        }
        if (av_read_frame(format.get(), packet.get()) < 0) {
            inputEnded = true;
            avcodec_send_packet(decoder.get(), nullptr);
            return;
        }
        if (packet->stream_index == stream) {
            avcodec_send_packet(decoder.get(), packet.get());  // a damaged packet is skipped
        }
        av_packet_unref(packet.get());
    }

    void fill(int64_t from, int64_t to, float* left, float* right) {
        const int64_t reached = std::max(frontier, startedAt);
        const bool earlier = consumedTo != kUnknownIndex && from < consumedTo;
        const bool farAhead = !ended && from > reached + static_cast<int64_t>(kFarAheadSeconds * kSoundRate);
        if (earlier || farAhead) {
            seek(from);
        }
        consumedTo = from;
        while (!ended && (frontier == kUnknownIndex || frontier < to)) {
            step();
        }
        for (const Chunk& chunk : chunks) {
            const int64_t chunkEnd = chunk.start + static_cast<int64_t>(chunk.left.size());
            const int64_t begin = std::max(chunk.start, from);
            const int64_t end = std::min(chunkEnd, to);
            if (begin >= end) {
                continue;
            }
            const auto offset = static_cast<size_t>(begin - chunk.start);
            const auto count = static_cast<size_t>(end - begin);
            std::memcpy(left + (begin - from), chunk.left.data() + offset, count * sizeof(float));
            std::memcpy(right + (begin - from), chunk.right.data() + offset, count * sizeof(float));
        }
        while (!chunks.empty() && chunks.front().start + static_cast<int64_t>(chunks.front().left.size()) <= to) {
            chunks.pop_front();
        }
        consumedTo = to;
    }
};

OfflineVideoReader::OfflineVideoReader() = default;
OfflineVideoReader::~OfflineVideoReader() = default;

Expected<std::unique_ptr<OfflineVideoReader>, std::string> OfflineVideoReader::open(const std::string& path) {
    auto opened = MediaFile::open(path);
    if (!opened) {
        return unexpected(opened.error().message);
    }
    MediaFile& file = opened.value();
    std::unique_ptr<OfflineVideoReader> reader(new OfflineVideoReader());
    reader->picture_ = std::make_unique<Picture>();
    Picture& picture = *reader->picture_;
    picture.path = path;
    picture.format = std::move(file.format);
    picture.decoder = std::move(file.video);
    AVFormatContext* format = picture.format.get();
    const int video = file.videoStream;
    picture.stream = video;
    picture.timeBase = format->streams[video]->time_base;
    picture.startTime = file.startTime;
    picture.width = file.widthPx;
    picture.height = file.heightPx;
    picture.frameSeconds = file.frameSeconds;
    keepOnlyStream(format, video);

    // The first picture proves the stream decodes, and fixes what "before the start" shows.
    picture.packet.reset(av_packet_alloc());
    picture.held.reset(av_frame_alloc());
    picture.ahead.reset(av_frame_alloc());
    picture.spare.reset(av_frame_alloc());
    if (!picture.packet || !picture.held || !picture.ahead || !picture.spare) {
        return unexpected(std::string("out of memory"));
    }
    if (picture.decodeNext(picture.held.get(), 0.0, picture.heldPts) != 0) {
        return unexpected(std::string("cannot decode the video stream"));
    }
    picture.firstPts = picture.heldPts;
    picture.heldIsFirst = true;
    if (!picture.decodeAhead()) {
        return unexpected(std::string("cannot decode the video stream"));
    }
    reader->width_ = picture.width;
    reader->height_ = picture.height;

    reader->duration_ = file.durationSeconds;

    const int audio = file.audioStream;
    if (audio >= 0) {
        // A second demuxer on the same file; its streams are numbered the same way.
        auto reopened = openContainer(path);
        if (!reopened) {
            return unexpected("cannot open the file for its sound: " + reopened.error());
        }
        auto sound = std::make_unique<Sound>();
        sound->format = std::move(reopened.value());
        AVFormatContext* soundFormat = sound->format.get();
        if (static_cast<unsigned>(audio) < soundFormat->nb_streams &&
            soundFormat->streams[audio]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            const AVStream* audioStream = soundFormat->streams[audio];
            // The decoder was opened on the first demuxer's description of the very same stream.
            sound->decoder = std::move(file.audio);
            sound->packet.reset(av_packet_alloc());
            sound->frame.reset(av_frame_alloc());
            if (sound->decoder && sound->packet && sound->frame) {
                sound->path = path;
                sound->stream = audio;
                sound->timeBase = audioStream->time_base;
                // Both demuxers count from the same container start, keeping sound and
                // picture in step.
                sound->startTime = picture.startTime;
                keepOnlyStream(soundFormat, audio);
                reader->sound_ = std::move(sound);
            }
        }
    }
    return reader;
}

const std::vector<uint8_t>* OfflineVideoReader::pictureAt(double seconds, double* framePtsSeconds) {
    if (std::isnan(seconds)) {
        return nullptr;
    }
    seconds = std::clamp(seconds, -kTimeLimitSeconds, kTimeLimitSeconds);
    Picture& picture = *picture_;
    if (!picture.held) {
        // A failure earlier left nothing to decode on from.
        if (!picture.seekTo(seconds)) {
            return nullptr;
        }
    } else if (seconds + kDueSlackSeconds < picture.heldPts) {
        // Before the first frame the first frame shows.
        if (!picture.heldIsFirst && !picture.seekTo(seconds)) {
            return nullptr;
        }
    } else if (picture.ahead && picture.worthSeeking(seconds)) {
        if (!picture.seekTo(seconds)) {
            return nullptr;
        }
    }
    while (picture.ahead && picture.aheadPts <= seconds + kDueSlackSeconds) {
        std::swap(picture.held, picture.ahead);
        picture.heldPts = picture.aheadPts;
        picture.heldIsFirst = false;
        picture.converted = false;
        if (!picture.decodeAhead()) {
            picture.held.reset();
            return nullptr;
        }
    }
    if (!picture.converted && !picture.convert()) {
        return nullptr;
    }
    if (framePtsSeconds != nullptr) {
        *framePtsSeconds = picture.heldPts;
    }
    return &picture.rgba;
}

AudioSampleBuffer OfflineVideoReader::soundFor(double fromSeconds, double toSeconds) {
    AudioSampleBuffer buffer;
    buffer.sampleRate = kSoundRate;
    buffer.channels = 2;
    buffer.interleaved = false;
    buffer.timescale = kSoundRate;
    if (std::isnan(fromSeconds) || std::isnan(toSeconds)) {
        return buffer;
    }
    const int64_t from = soundIndex(std::clamp(fromSeconds, -kTimeLimitSeconds, kTimeLimitSeconds));
    const int64_t to = soundIndex(std::clamp(toSeconds, -kTimeLimitSeconds, kTimeLimitSeconds));
    buffer.presentationValue = from;
    buffer.frameCount = std::max<int64_t>(0, to - from);
    buffer.planes.assign(static_cast<size_t>(buffer.frameCount) * 2, 0.0f);
    if (sound_ && buffer.frameCount > 0) {
        sound_->fill(from, to, buffer.planes.data(), buffer.planes.data() + buffer.frameCount);
    }
    return buffer;
}

}  // namespace lumbrix
