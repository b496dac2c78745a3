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
#include "sources/offline_video_sound.h"

namespace lumbrix {

namespace {

using namespace offline_video;

Unexpected<Error> decodeFailure(std::string text) {
    return unexpected(Error(kMediaErrorDomain, static_cast<int>(MediaFileStep::Decode), std::move(text)));
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
        if (auto reopened = openMediaContainer(path)) {
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


OfflineVideoReader::OfflineVideoReader() = default;
OfflineVideoReader::~OfflineVideoReader() = default;

Expected<std::unique_ptr<OfflineVideoReader>, Error> OfflineVideoReader::open(const std::string& path) {
    auto opened = MediaFile::open(path);
    if (!opened) {
        return unexpected(opened.error());
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
        return decodeFailure("out of memory");
    }
    if (picture.decodeNext(picture.held.get(), 0.0, picture.heldPts) != 0) {
        return decodeFailure("cannot decode the video stream");
    }
    picture.firstPts = picture.heldPts;
    picture.heldIsFirst = true;
    if (!picture.decodeAhead()) {
        return decodeFailure("cannot decode the video stream");
    }
    reader->width_ = picture.width;
    reader->height_ = picture.height;

    reader->duration_ = file.durationSeconds;

    const int audio = file.audioStream;
    if (audio >= 0) {
        // A second demuxer on the same file; its streams are numbered the same way.
        auto reopened = openMediaContainer(path);
        if (!reopened) {
            return unexpected(Error(kMediaErrorDomain, reopened.error().code,
                                    "cannot open the file for its sound: " + reopened.error().description));
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
