#pragma once
#if !defined(LUMBRIX_INSIDE_CAPTURE) && !defined(LUMBRIX_TESTS)
#error "capture/movie_audio_track.h is internal to capture/"
#endif
// One AAC track of a movie: whatever sound arrives (any rate, mono or stereo, planar or
// interleaved, with gaps and overlaps on its clock) is resampled into the movie's one
// sound format and encoded. Internal to capture/: the movie writer's worker drives it.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/audio_fifo.h>
}

#include "platform/error.h"
#include "platform/media/audio_sample_buffer.h"
#include "platform/media/ffmpeg_handles.h"

namespace lumbrix {

class MovieAudioTrack {
public:
    // Hands the encoder's finished packets to the muxer.
    using PacketWriter = std::function<std::optional<Error>(AVCodecContext&, AVStream&)>;

    MovieAudioTrack(std::string path, PacketWriter writePackets)
        : path_(std::move(path)), writePackets_(std::move(writePackets)) {}

    // Sets up the encoder and adds the track to `output`, before its header.
    std::optional<Error> open(AVFormatContext& output);
    // The first buffer's time starts the track (times before zero are cut off); later
    // buffers follow on sample by sample, unless their time strays beyond the slack.
    std::optional<Error> encodeAudio(const AudioSampleBuffer& buffer);
    // Encodes what is left and flushes the encoder.
    std::optional<Error> finish();

    // Guarded by the writer's mutex.
    std::deque<AudioSampleBuffer> queue;
    bool finished = false;

private:
    struct AudioFifoDeleter {
        void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
    };

    int audioFrameSize() const;
    std::optional<Error> sendAudioFrame(int frames);
    std::optional<Error> encodeWholeFrames();
    std::optional<Error> queueSamples(float* left, float* right, int frames);
    std::optional<Error> drainResampler();
    std::optional<Error> pushSound(float* left, float* right, int frames, int rate);
    std::optional<Error> pushSilence(int64_t frames, int rate);

    const std::string path_;
    PacketWriter writePackets_;
    CodecContextPtr encoder_;
    AVStream* stream_ = nullptr;
    FramePtr frame_;
    std::unique_ptr<AVAudioFifo, AudioFifoDeleter> fifo_;
    ResamplerPtr resampler_;
    int resamplerRate_ = 0;
    bool started_ = false;
    int64_t nextPts_ = 0;      // in the sound format's samples, of the next frame handed to the encoder
    double endSeconds_ = 0.0;  // where the sound taken so far ends, on the buffers' clock
    std::vector<float> left_, right_, resampledLeft_, resampledRight_;
};

}  // namespace lumbrix
