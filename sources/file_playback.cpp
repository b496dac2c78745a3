#include "sources/file_playback.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/media/ffmpeg_handles.h"
#include "sources/media_file.h"

namespace lumbrix {

namespace {

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Half a second of sound between the decoder and the device: enough to ride out a slow
// video frame, little enough that a seek is heard at once.
constexpr double kSoundRingSeconds = 0.5;

}  // namespace

struct FilePlayback::Stream {
    FormatContextPtr format;
    CodecContextPtr video;
    CodecContextPtr audio;
    ScaleContextPtr scaler;
    ResamplerPtr resampler;
    int64_t startTime = 0;  // AV_TIME_BASE units: the container's first timestamp
    AVRational videoTimeBase{1, 1};
    AVRational audioTimeBase{1, 1};

    double seconds(int64_t timestamp, AVRational timeBase) const {
        return static_cast<double>(timestamp) * av_q2d(timeBase) - static_cast<double>(startTime) / AV_TIME_BASE;
    }
};

Expected<std::unique_ptr<FilePlayback>, Error> FilePlayback::open(const std::string& path) {
    auto opened = MediaFile::open(path);
    if (!opened) {
        // The viewer has always left FFmpeg's reason out of this one.
        if (failedAt(opened.error(), MediaFileStep::ReadStreams)) {
            return unexpected(Error(kMediaErrorDomain, opened.error().code, "cannot read the file's streams"));
        }
        return unexpected(opened.error());
    }
    MediaFile& file = opened.value();
    std::unique_ptr<FilePlayback> playback(new FilePlayback());
    playback->path_ = path;
    playback->container_ = std::make_unique<Stream>();
    Stream& stream = *playback->container_;
    stream.format = std::move(file.format);
    stream.startTime = file.startTime;
    stream.video = std::move(file.video);
    stream.videoTimeBase = stream.format->streams[file.videoStream]->time_base;
    playback->videoStream_ = file.videoStream;
    playback->frameDuration_ = file.frameSeconds;
    playback->duration_ = file.durationSeconds;
    // The device is fed from the decoder's own rate and channels: without them, no sound.
    if (file.audio && file.audio->sample_rate > 0 && file.audio->ch_layout.nb_channels > 0) {
        stream.audio = std::move(file.audio);
        stream.audioTimeBase = stream.format->streams[file.audioStream]->time_base;
        playback->audioStream_ = file.audioStream;
    }
    return playback;
}

FilePlayback::~FilePlayback() {
    aborting_.store(true);
    videoPackets_.abort();
    audioPackets_.abort();
    {
        std::lock_guard lock(seekMutex_);
        seekWake_.notify_all();
    }
    {
        std::lock_guard lock(pictureMutex_);
        pictureSpace_.notify_all();
    }
    for (std::thread* worker : {&demuxer_, &videoDecoder_, &audioDecoder_}) {
        if (worker->joinable()) {
            worker->join();
        }
    }
    sound_.reset();
}

int FilePlayback::audioSampleRate() const {
    return container_->audio ? container_->audio->sample_rate : 0;
}

int64_t FilePlayback::audioLengthFrames() const {
    if (!container_->audio) {
        return 0;
    }
    const AVStream* stream = container_->format->streams[audioStream_];
    double seconds = duration_.value_or(0.0);
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    }
    return static_cast<int64_t>(seconds * audioSampleRate());
}

Expected<std::string, Error> FilePlayback::openSound() {
    if (!container_->audio) {
        return unexpected(Error(kMediaErrorDomain, static_cast<int>(MediaFileStep::ChooseStreams),
                                "the file has no sound FFmpeg can decode"));
    }
    AVCodecContext* audio = container_->audio.get();
    const int channels = std::min(audio->ch_layout.nb_channels, 2);
    const size_t ringFrames = static_cast<size_t>(audio->sample_rate * kSoundRingSeconds);
    auto opened = AudioOutput::open(audio->sample_rate, channels, ringFrames);
    if (!opened) {
        return unexpected(opened.error());
    }
    std::unique_ptr<AudioOutput> output = std::move(opened.value());
    const AudioOutputFormat& device = output->format();

    AVChannelLayout deviceLayout;
    av_channel_layout_default(&deviceLayout, device.channels);
    SwrContext* resampler = nullptr;
    const int made = swr_alloc_set_opts2(&resampler, &deviceLayout, AV_SAMPLE_FMT_FLT, device.sampleRate,
                                         &audio->ch_layout, audio->sample_fmt, audio->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&deviceLayout);
    if (made < 0 || resampler == nullptr || swr_init(resampler) < 0) {
        swr_free(&resampler);
        return unexpected(Error(kAudioErrorDomain, static_cast<int>(AudioErrorCode::deviceFailed),
                                "cannot convert the file's sound for the device"));
    }
    container_->resampler.reset(resampler);
    sound_ = std::move(output);
    return std::to_string(device.channels) + " ch, " + std::to_string(device.sampleRate) + " Hz, Float32, interleaved";
}

void FilePlayback::start(bool paused) {
    paused_ = paused;
    pausedClockSeconds_ = 0.0;
    baseSeconds_ = 0.0;
    anchorNs_ = steadyNowNs();
    {
        std::lock_guard lock(seekMutex_);
        seekTargets_.push_back({0, 0.0});
    }
    prerolling_ = true;
    if (sound_) {
        sound_->setPaused(true);
    }
    demuxer_ = std::thread(&FilePlayback::demuxLoop, this);
    videoDecoder_ = std::thread(&FilePlayback::videoLoop, this);
    if (sound_) {
        audioDecoder_ = std::thread(&FilePlayback::audioLoop, this);
    }
}

void FilePlayback::setPaused(bool paused) {
    if (paused == paused_) {
        return;
    }
    if (paused) {
        pausedClockSeconds_ = clockSeconds();
        paused_ = true;
    } else {
        // The wall clock resumes from where it stood; the sound's clock resumes by itself.
        baseSeconds_ = soundDrivesClock() ? baseSeconds_ : pausedClockSeconds_;
        anchorNs_ = steadyNowNs();
        paused_ = false;
    }
    if (sound_ && !prerolling_) {
        sound_->setPaused(paused);
    }
}

void FilePlayback::seek(double seconds) {
    const int serial = serial_.load() + 1;
    {
        std::lock_guard lock(seekMutex_);
        seekTargets_.push_back({serial, seconds});
        while (seekTargets_.size() > 8) {
            seekTargets_.pop_front();
        }
        seekPending_ = true;
        serial_.store(serial);
        seekWake_.notify_all();
    }
    {
        // Only the old timeline's pictures go: the decoder may already have delivered the
        // new one's first picture, the very one the seek must show.
        std::lock_guard lock(pictureMutex_);
        std::deque<DecodedPicture> kept;
        for (DecodedPicture& picture : pictures_) {
            if (picture.serial == serial) {
                kept.push_back(std::move(picture));
            } else {
                spare_.push_back(std::move(picture.rgba));
            }
        }
        pictures_ = std::move(kept);
        pictureSpace_.notify_all();
    }
    baseSeconds_ = seconds;
    pausedClockSeconds_ = seconds;
    anchorNs_ = steadyNowNs();
    wallAfterSound_ = false;
    // The sound waits for the new timeline's first picture, as at the start.
    prerolling_ = true;
    if (sound_) {
        sound_->setPaused(true);
    }
}

double FilePlayback::seekTargetFor(int serial) const {
    std::lock_guard lock(seekMutex_);
    for (auto it = seekTargets_.rbegin(); it != seekTargets_.rend(); ++it) {
        if (it->first == serial) {
            return it->second;
        }
    }
    return 0.0;
}

bool FilePlayback::soundDrivesClock() const { return sound_ && !wallAfterSound_; }

double FilePlayback::wallClock() const {
    if (paused_) {
        return pausedClockSeconds_;
    }
    return baseSeconds_ + static_cast<double>(steadyNowNs() - anchorNs_) * 1e-9;
}

double FilePlayback::clockSeconds() const {
    if (paused_) {
        return pausedClockSeconds_;
    }
    if (prerolling_) {
        return baseSeconds_;
    }
    if (!soundDrivesClock()) {
        return wallClock();
    }
    const int serial = serial_.load();
    if (soundReadySerial_.load() != serial) {
        return baseSeconds_;  // the new timeline's sound is not queued yet: wait for it
    }
    const double rate = sound_->format().sampleRate;
    const int64_t consumed = sound_->consumedFrames();
    double played = 0.0;
    if (consumed > 0) {
        // The callback took `consumed` frames, the last deviceBufferFrames of them to be
        // heard over the time since it ran.
        const int64_t buffer = sound_->format().deviceBufferFrames;
        const double since = static_cast<double>(steadyNowNs() - sound_->lastCallbackTimeNs()) * 1e-9 * rate;
        played = std::clamp(static_cast<double>(consumed - buffer) + since,
                            static_cast<double>(std::max<int64_t>(0, consumed - buffer)), static_cast<double>(consumed));
    }
    const double clock = baseSeconds_ + played / rate;
    if (soundEndSerial_.load() == serial && sound_->queuedFrames() == 0) {
        // The sound has run out (it may be shorter than the picture): time goes on.
        baseSeconds_ = clock;
        anchorNs_ = steadyNowNs();
        wallAfterSound_ = true;
    }
    return clock;
}

std::optional<DecodedPicture> FilePlayback::takeDuePicture(bool holdingUnshown) {
    const double clock = clockSeconds();
    const int serial = serial_.load();
    std::optional<DecodedPicture> taken;
    std::lock_guard lock(pictureMutex_);
    auto drop = [this](DecodedPicture& picture) { spare_.push_back(std::move(picture.rgba)); };
    while (!pictures_.empty() && pictures_.front().serial != serial) {
        drop(pictures_.front());
        pictures_.pop_front();
    }
    // A millisecond of slack: a picture stamped at the very instant is shown now.
    const double dueBy = clock + 0.001;
    // A picture not yet shown gives way to the next only once that one is half a frame
    // late. When the display draws at the file's rate, its ticks and the pictures' times
    // can sit a jitter apart: without the margin every other tick would find two
    // pictures due and drop one, showing half the frames.
    const double overdueBy = clock - frameDuration_ * 0.5;
    const bool firstOfTimeline = !pictures_.empty() && pictures_.front().serial != shownSerial_;
    if (!pictures_.empty() && (firstOfTimeline || (!holdingUnshown && pictures_.front().ptsSeconds <= dueBy))) {
        taken = std::move(pictures_.front());
        pictures_.pop_front();
    }
    while ((taken || holdingUnshown) && !pictures_.empty() && pictures_.front().ptsSeconds <= overdueBy) {
        if (taken) {
            drop(*taken);
        }
        taken = std::move(pictures_.front());
        pictures_.pop_front();
    }
    pictureSpace_.notify_all();
    if (taken) {
        shownSerial_ = taken->serial;
        lastPictureSeconds_ = taken->ptsSeconds;
        if (prerolling_) {
            // Time starts with the first picture: decoding it can take longer than a
            // frame, and the sound started before it would leave the picture behind.
            prerolling_ = false;
            anchorNs_ = steadyNowNs();
            if (sound_ && !paused_) {
                sound_->setPaused(false);
            }
        }
    }
    return taken;
}

void FilePlayback::recycle(DecodedPicture&& picture) {
    std::lock_guard lock(pictureMutex_);
    if (spare_.size() < kMaxPictures + 2) {
        spare_.push_back(std::move(picture.rgba));
    }
}

bool FilePlayback::takeEnd() {
    const int serial = serial_.load();
    if (endTakenSerial_ == serial || videoEndSerial_.load() != serial) {
        return false;
    }
    {
        std::lock_guard lock(pictureMutex_);
        if (!pictures_.empty()) {
            return false;
        }
    }
    if (shownSerial_ == serial && clockSeconds() < lastPictureSeconds_ + frameDuration_) {
        return false;
    }
    endTakenSerial_ = serial;
    return true;
}

void FilePlayback::demuxLoop() {
    AVFormatContext* format = container_->format.get();
    int serial = 0;
    bool ended = false;
    while (!aborting_.load()) {
        std::optional<double> target;
        {
            std::unique_lock lock(seekMutex_);
            if (!seekPending_ && (ended || videoPackets_.full() || (sound_ && audioPackets_.full()))) {
                // Nothing to do until a seek comes or the decoders make room.
                seekWake_.wait_for(lock, std::chrono::milliseconds(ended ? 50 : 5));
            }
            if (seekPending_) {
                seekPending_ = false;
                serial = serial_.load();
                target = seekTargets_.back().second;
            }
        }
        if (target) {
            const int64_t timestamp = static_cast<int64_t>(*target * AV_TIME_BASE) + container_->startTime;
            // The key frame at or before the target; the decoders skip forward from it.
            avformat_seek_file(format, -1, INT64_MIN, timestamp, timestamp, 0);
            videoPackets_.flush(serial);
            audioPackets_.flush(serial);
            ended = false;
            continue;
        }
        if (ended || videoPackets_.full() || (sound_ && audioPackets_.full())) {
            continue;
        }
        PacketPtr packet(av_packet_alloc());
        if (!packet) {
            break;
        }
        const int read = av_read_frame(format, packet.get());
        if (read == AVERROR(EAGAIN)) {
            continue;
        }
        if (read < 0) {
            // The end, or an error that ends the stream all the same: drain the decoders.
            videoPackets_.put(nullptr, serial);
            if (sound_) {
                audioPackets_.put(nullptr, serial);
            }
            ended = true;
            continue;
        }
        if (packet->stream_index == videoStream_) {
            videoPackets_.put(std::move(packet), serial);
        } else if (packet->stream_index == audioStream_ && sound_) {
            audioPackets_.put(std::move(packet), serial);
        }
    }
}

bool FilePlayback::pushPicture(DecodedPicture&& picture) {
    std::unique_lock lock(pictureMutex_);
    pictureSpace_.wait(lock, [&] {
        return aborting_.load() || pictures_.size() < kMaxPictures || picture.serial != serial_.load();
    });
    if (aborting_.load() || picture.serial != serial_.load()) {
        spare_.push_back(std::move(picture.rgba));
        return false;
    }
    pictures_.push_back(std::move(picture));
    return true;
}

void FilePlayback::videoLoop() {
    AVCodecContext* decoder = container_->video.get();
    FramePtr frame(av_frame_alloc());
    FramePtr pending;  // the last picture at or before a seek's target, not yet shown
    int decodeSerial = -1;
    double target = 0.0;
    bool pastTarget = false;
    double nextPts = 0.0;

    auto convert = [&](AVFrame* source, double pts) {
        DecodedPicture picture;
        picture.width = source->width;
        picture.height = source->height;
        picture.ptsSeconds = pts;
        picture.serial = decodeSerial;
        const size_t bytes = static_cast<size_t>(source->width) * static_cast<size_t>(source->height) * 4;
        {
            std::lock_guard lock(pictureMutex_);
            if (!spare_.empty()) {
                picture.rgba = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        picture.rgba.resize(bytes);
        if (!prepareRgbaConverter(container_->scaler, *source, source->width, source->height)) {
            return std::optional<DecodedPicture>();
        }
        uint8_t* planes[4] = {picture.rgba.data(), nullptr, nullptr, nullptr};
        int strides[4] = {source->width * 4, 0, 0, 0};
        sws_scale(container_->scaler.get(), source->data, source->linesize, 0, source->height, planes, strides);
        return std::optional<DecodedPicture>(std::move(picture));
    };
    auto deliver = [&](AVFrame* source, double pts) {
        if (auto picture = convert(source, pts)) {
            pushPicture(std::move(*picture));
        }
    };

    PacketQueue::Item item;
    while (videoPackets_.get(item)) {
        if (item.serial != serial_.load()) {
            continue;
        }
        if (item.serial != decodeSerial) {
            avcodec_flush_buffers(decoder);
            decodeSerial = item.serial;
            target = seekTargetFor(decodeSerial);
            pastTarget = false;
            pending.reset();
            nextPts = target;
        }
        if (avcodec_send_packet(decoder, item.packet.get()) < 0 && item.packet) {
            continue;  // a damaged packet: skip it
        }
        for (;;) {
            const int received = avcodec_receive_frame(decoder, frame.get());
            if (received == AVERROR_EOF) {
                if (pending) {
                    deliver(pending.get(), nextPts);
                    pending.reset();
                }
                avcodec_flush_buffers(decoder);
                videoEndSerial_.store(decodeSerial);
                break;
            }
            if (received < 0) {
                break;
            }
            const int64_t stamp = frame->best_effort_timestamp;
            const double pts = stamp != AV_NOPTS_VALUE ? container_->seconds(stamp, container_->videoTimeBase) : nextPts;
            nextPts = pts + frameDuration_;
            if (!pastTarget && pts <= target + 1e-6) {
                // Not yet past the target: remember it, it may be the one to show.
                pending.reset(av_frame_clone(frame.get()));
                av_frame_unref(frame.get());
                continue;
            }
            if (!pastTarget && pending) {
                const int64_t pendingStamp = pending->best_effort_timestamp;
                deliver(pending.get(), pendingStamp != AV_NOPTS_VALUE
                                           ? container_->seconds(pendingStamp, container_->videoTimeBase)
                                           : target);
                pending.reset();
            }
            pastTarget = true;
            deliver(frame.get(), pts);
            av_frame_unref(frame.get());
            if (aborting_.load() || decodeSerial != serial_.load()) {
                break;
            }
        }
    }
}

bool FilePlayback::writeSound(const float* interleaved, size_t frames, int serial) {
    const size_t channels = static_cast<size_t>(sound_->format().channels);
    while (frames > 0) {
        const size_t written = sound_->write(interleaved, frames);
        interleaved += written * channels;
        frames -= written;
        if (frames == 0) {
            break;
        }
        if (aborting_.load() || serial != serial_.load()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void FilePlayback::audioLoop() {
    AVCodecContext* decoder = container_->audio.get();
    SwrContext* resampler = container_->resampler.get();
    const int deviceRate = sound_->format().sampleRate;
    const int channels = sound_->format().channels;
    FramePtr frame(av_frame_alloc());
    std::vector<float> converted;
    int decodeSerial = -1;
    double target = 0.0;

    PacketQueue::Item item;
    while (audioPackets_.get(item)) {
        if (item.serial != serial_.load()) {
            continue;
        }
        if (item.serial != decodeSerial) {
            avcodec_flush_buffers(decoder);
            swr_init(resampler);  // drops what the resampler held from the old timeline
            decodeSerial = item.serial;
            target = seekTargetFor(decodeSerial);
            sound_->clear();
            soundReadySerial_.store(decodeSerial);
        }
        if (avcodec_send_packet(decoder, item.packet.get()) < 0 && item.packet) {
            continue;
        }
        for (;;) {
            const int received = avcodec_receive_frame(decoder, frame.get());
            if (received == AVERROR_EOF) {
                avcodec_flush_buffers(decoder);
                soundEndSerial_.store(decodeSerial);
                break;
            }
            if (received < 0) {
                break;
            }
            const int64_t stamp = frame->best_effort_timestamp;
            const double start =
                stamp != AV_NOPTS_VALUE ? container_->seconds(stamp, container_->audioTimeBase) : target;
            const int capacity = swr_get_out_samples(resampler, frame->nb_samples);
            converted.resize(static_cast<size_t>(std::max(capacity, 0)) * channels);
            uint8_t* out[1] = {reinterpret_cast<uint8_t*>(converted.data())};
            const int made = swr_convert(resampler, out, capacity, const_cast<const uint8_t**>(frame->extended_data),
                                         frame->nb_samples);
            av_frame_unref(frame.get());
            if (made <= 0) {
                continue;
            }
            // Frame-exact seeks: what precedes the target is not heard.
            size_t skip = 0;
            if (start < target) {
                skip = std::min(static_cast<size_t>((target - start) * deviceRate), static_cast<size_t>(made));
            }
            if (!writeSound(converted.data() + skip * channels, static_cast<size_t>(made) - skip, decodeSerial)) {
                break;
            }
        }
    }
}

}  // namespace lumbrix
