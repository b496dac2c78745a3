#pragma once
#if !defined(LUMBRIX_INSIDE_SOURCES) && !defined(LUMBRIX_TESTS)
#error "sources/offline_video_sound.h is internal to sources/"
#endif
// The offline reader's sound: its own demuxer on the file, decoded and resampled to
// 48 kHz planar stereo and laid on the file's timeline span by span.
extern "C" {
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/media/ffmpeg_handles.h"
#include "sources/offline_video_reader.h"
#include "sources/offline_video_timing.h"

namespace lumbrix {

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
    int64_t frontier = offline_video::kUnknownIndex;
    int64_t startedAt = 0;               // where decoding began (the top, or a seek)
    int64_t consumedTo = offline_video::kUnknownIndex;  // the end of the last span handed out
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
        frontier = offline_video::kUnknownIndex;
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
            const double target = seconds - offline_video::kSoundPrerollSeconds - back;
            const int64_t stamp = offline_video::toStamp(target, timeBase, startTime);
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
        if (auto reopened = openMediaContainer(path)) {
            format = std::move(reopened.value());
            offline_video::keepOnlyStream(format.get(), stream);
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
        if (consumedTo != offline_video::kUnknownIndex && start < consumedTo) {
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
        offline_video::ChannelLayoutOwner in;
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
        offline_video::ChannelLayoutOwner out;
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
        const double pts = stamp != AV_NOPTS_VALUE ? offline_video::toSeconds(stamp, timeBase, startTime)
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
            if (std::abs(pts - expected) > offline_video::kSoundJumpSeconds) {
                drainResampler();
                swr_init(resampler.get());
                anchored = false;
            }
        }
        if (!anchored) {
            const double seconds = std::isfinite(pts) ? pts
                                   : frontier != offline_video::kUnknownIndex ? static_cast<double>(frontier) / kSoundRate
                                                               : static_cast<double>(startedAt) / kSoundRate;
            anchorSeconds = std::clamp(seconds, -offline_video::kTimeLimitSeconds, offline_video::kTimeLimitSeconds);
            // The nearest sample, not the one before: a stamp between two 48 kHz samples
            // then lands where reading from the top would have put it.
            anchorIndex = std::llround(anchorSeconds * kSoundRate);
            if (frontier != offline_video::kUnknownIndex) {
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
        const bool earlier = consumedTo != offline_video::kUnknownIndex && from < consumedTo;
        const bool farAhead = !ended && from > reached + static_cast<int64_t>(offline_video::kFarAheadSeconds * kSoundRate);
        if (earlier || farAhead) {
            seek(from);
        }
        consumedTo = from;
        while (!ended && (frontier == offline_video::kUnknownIndex || frontier < to)) {
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

}  // namespace lumbrix
