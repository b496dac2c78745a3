#include "capture/movie_audio_track.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "capture/movie_writer_errors.h"
#include "capture/recording_settings.h"

namespace lumbrix {
namespace {

using namespace movie_writer_detail;

constexpr int kAudioRate = RecordingSettings::kAudioSampleRate;
constexpr int kAudioChannels = RecordingSettings::kAudioChannels;
constexpr int64_t kAudioBitRate = RecordingSettings::kAudioBitRate;
static_assert(kAudioChannels == 2, "the sound path packs left and right planes");
constexpr AVRational kAudioTimeBase{1, kAudioRate};
// Sources' clocks jitter against their sample counts. Within this much the sound just
// follows on; beyond it a gap becomes silence and an overlap is cut, so the track
// stays in step with the picture without chopping the sound at every jitter.
constexpr double kAudioSlackSeconds = 0.1;
// Silence goes through the resampler in pieces of this many frames.
constexpr int64_t kSilenceChunkFrames = 4096;

}  // namespace

std::optional<Error> MovieAudioTrack::open(AVFormatContext& output) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (codec == nullptr)
        return Error(kErrorDomain, encoderUnavailable, "The AAC encoder is not available");
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) return writerError(encoderSetupFailed, "Cannot set up the AAC encoder", AVERROR(ENOMEM));
    AVCodecContext& context = *encoder_;
    context.sample_fmt = AV_SAMPLE_FMT_FLTP;
    context.sample_rate = kAudioRate;
    av_channel_layout_default(&context.ch_layout, kAudioChannels);
    context.bit_rate = kAudioBitRate;
    context.time_base = kAudioTimeBase;
    if (output.oformat->flags & AVFMT_GLOBALHEADER) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int result = avcodec_open2(&context, codec, nullptr); result < 0)
        return writerError(encoderSetupFailed, "Cannot open the AAC encoder", result);

    const int frameSize = context.frame_size > 0 ? context.frame_size : 1024;
    fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, kAudioChannels, frameSize * 4));
    frame_.reset(av_frame_alloc());
    if (!fifo_ || !frame_)
        return writerError(encoderSetupFailed, "Cannot set up the AAC encoder", AVERROR(ENOMEM));
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = kAudioRate;
    frame_->nb_samples = frameSize;
    av_channel_layout_default(&frame_->ch_layout, kAudioChannels);
    if (int result = av_frame_get_buffer(frame_.get(), 0); result < 0)
        return writerError(encoderSetupFailed, "Cannot set up the AAC encoder", result);

    stream_ = avformat_new_stream(&output, nullptr);
    if (stream_ == nullptr) return writerError(muxFailed, "Cannot add an audio track", AVERROR(ENOMEM));
    stream_->time_base = kAudioTimeBase;
    if (int result = avcodec_parameters_from_context(stream_->codecpar, &context); result < 0)
        return writerError(muxFailed, "Cannot add an audio track", result);
    return std::nullopt;
}

int MovieAudioTrack::audioFrameSize() const {
    return encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
}

std::optional<Error> MovieAudioTrack::sendAudioFrame(int frames) {
    AVFrame& frame = *frame_;
    // make_writable reallocates for nb_samples, so the full size is asked for first.
    frame.nb_samples = audioFrameSize();
    if (int result = av_frame_make_writable(&frame); result < 0)
        return writerError(encodeFailed, "Cannot encode " + path_, result);
    frame.nb_samples = frames;
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame.data), frames) != frames)
        return writerError(encodeFailed, "Cannot encode " + path_, AVERROR_BUG);
    frame.pts = nextPts_;
    nextPts_ += frames;
    if (int result = avcodec_send_frame(encoder_.get(), &frame); result < 0)
        return writerError(encodeFailed, "Cannot encode " + path_, result);
    return writePackets_(*encoder_, *stream_);
}

std::optional<Error> MovieAudioTrack::encodeWholeFrames() {
    const int frameSize = audioFrameSize();
    while (av_audio_fifo_size(fifo_.get()) >= frameSize)
        if (auto error = sendAudioFrame(frameSize)) return error;
    return std::nullopt;
}

std::optional<Error> MovieAudioTrack::queueSamples(float* left, float* right, int frames) {
    void* planes[2] = {left, right};
    if (av_audio_fifo_write(fifo_.get(), planes, frames) != frames)
        return writerError(encodeFailed, "Cannot encode " + path_, AVERROR(ENOMEM));
    return std::nullopt;
}

// What the resampler still holds goes to the FIFO before it is replaced or the end.
std::optional<Error> MovieAudioTrack::drainResampler() {
    if (!resampler_) return std::nullopt;
    for (;;) {
        const int room = std::max(swr_get_out_samples(resampler_.get(), 0), 0) + 64;
        resampledLeft_.resize(static_cast<size_t>(room));
        resampledRight_.resize(static_cast<size_t>(room));
        uint8_t* out[2] = {reinterpret_cast<uint8_t*>(resampledLeft_.data()),
                           reinterpret_cast<uint8_t*>(resampledRight_.data())};
        const int produced = swr_convert(resampler_.get(), out, room, nullptr, 0);
        if (produced < 0) return writerError(encodeFailed, "Cannot resample the sound for " + path_, produced);
        if (produced == 0) break;
        if (auto error = queueSamples(resampledLeft_.data(), resampledRight_.data(), produced))
            return error;
    }
    resampler_.reset();
    resamplerRate_ = 0;
    return std::nullopt;
}

// Stereo planes at `rate` in, 48 kHz into the FIFO and on to the encoder.
std::optional<Error> MovieAudioTrack::pushSound(float* left, float* right, int frames, int rate) {
    if (rate == kAudioRate) {
        if (auto error = drainResampler()) return error;
        if (auto error = queueSamples(left, right, frames)) return error;
        return encodeWholeFrames();
    }
    if (resamplerRate_ != rate) {
        if (auto error = drainResampler()) return error;
        AVChannelLayout stereo{};
        av_channel_layout_default(&stereo, 2);
        SwrContext* resampler = nullptr;
        int result = swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_FLTP, kAudioRate, &stereo,
                                         AV_SAMPLE_FMT_FLTP, rate, 0, nullptr);
        resampler_.reset(resampler);
        if (result >= 0) result = swr_init(resampler);
        if (result < 0) return writerError(encodeFailed, "Cannot resample the sound for " + path_, result);
        resamplerRate_ = rate;
    }
    const int room = swr_get_out_samples(resampler_.get(), frames);
    if (room < 0) return writerError(encodeFailed, "Cannot resample the sound for " + path_, room);
    resampledLeft_.resize(static_cast<size_t>(room) + 1);
    resampledRight_.resize(static_cast<size_t>(room) + 1);
    uint8_t* out[2] = {reinterpret_cast<uint8_t*>(resampledLeft_.data()),
                       reinterpret_cast<uint8_t*>(resampledRight_.data())};
    const uint8_t* in[2] = {reinterpret_cast<const uint8_t*>(left), reinterpret_cast<const uint8_t*>(right)};
    const int produced = swr_convert(resampler_.get(), out, room + 1, in, frames);
    if (produced < 0) return writerError(encodeFailed, "Cannot resample the sound for " + path_, produced);
    if (auto error = queueSamples(resampledLeft_.data(), resampledRight_.data(), produced))
        return error;
    return encodeWholeFrames();
}

std::optional<Error> MovieAudioTrack::pushSilence(int64_t frames, int rate) {
    std::vector<float> zeros(static_cast<size_t>(std::min(frames, kSilenceChunkFrames)), 0.0f);
    while (frames > 0) {
        const int chunk = static_cast<int>(std::min<int64_t>(frames, kSilenceChunkFrames));
        if (auto error = pushSound(zeros.data(), zeros.data(), chunk, rate)) return error;
        frames -= chunk;
    }
    return std::nullopt;
}

std::optional<Error> MovieAudioTrack::encodeAudio(const AudioSampleBuffer& buffer) {
    const int rate = static_cast<int>(std::lround(buffer.sampleRate));
    const bool timed = buffer.timescale > 0;
    const double seconds = timed ? static_cast<double>(buffer.presentationValue) / buffer.timescale : 0.0;
    int64_t skip = 0;
    if (!started_) {
        started_ = true;
        const double start = timed ? std::max(seconds, 0.0) : 0.0;
        nextPts_ = 0;
        endSeconds_ = start;
        if (timed && seconds < 0.0) skip = std::llround(-seconds * rate);
        // A fragmented movie has no edit list to say that a track starts late, so
        // a sound that starts after the picture is led in with silence instead.
        if (start > 0.0)
            if (auto error = pushSilence(std::llround(start * rate), rate)) return error;
    } else if (timed) {
        const double gap = seconds - endSeconds_;
        if (gap > kAudioSlackSeconds) {
            const int64_t silence = std::llround(gap * rate);
            if (auto error = pushSilence(silence, rate)) return error;
            endSeconds_ += static_cast<double>(silence) / rate;
        } else if (gap < -kAudioSlackSeconds) {
            skip = std::llround(-gap * rate);
        }
    }
    if (skip >= buffer.frameCount) return std::nullopt;
    const int frames = static_cast<int>(buffer.frameCount - skip);
    endSeconds_ += static_cast<double>(frames) / rate;

    // Mono plays on both sides; channels past the second are left out.
    left_.resize(static_cast<size_t>(frames));
    right_.resize(static_cast<size_t>(frames));
    const int rightChannel = buffer.channels > 1 ? 1 : 0;
    const float* samples = buffer.planes.data();
    for (int i = 0; i < frames; ++i) {
        const int64_t at = skip + i;
        if (buffer.interleaved) {
            left_[i] = samples[at * buffer.channels];
            right_[i] = samples[at * buffer.channels + rightChannel];
        } else {
            left_[i] = samples[at];
            right_[i] = samples[rightChannel * buffer.frameCount + at];
        }
    }
    return pushSound(left_.data(), right_.data(), frames, rate);
}


std::optional<Error> MovieAudioTrack::finish() {
    // The muxer leaves out a track without samples, which would renumber the ones
    // after it; a sound that never arrived is one frame of silence instead.
    if (!started_) {
        started_ = true;
        if (auto error = pushSilence(audioFrameSize(), kAudioRate)) return error;
    }
    if (auto error = drainResampler()) return error;
    if (auto error = encodeWholeFrames()) return error;
    // The encoder takes a short last frame.
    if (const int rest = av_audio_fifo_size(fifo_.get()); rest > 0)
        if (auto error = sendAudioFrame(rest)) return error;
    if (int result = avcodec_send_frame(encoder_.get(), nullptr); result < 0)
        return writerError(encodeFailed, "Cannot encode " + path_, result);
    return writePackets_(*encoder_, *stream_);
}

}  // namespace lumbrix
