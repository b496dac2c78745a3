// The media generator, checked through libavformat and the decoders rather than
// ffprobe's text, so the file-source suites can trust what the clips contain: stream
// layout, length, frame count, the colour of every second and the sound's peak.
#include "tests/support/test_media.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/media/ffmpeg_handles.h"
#include "tests/support/temp_folder.h"

namespace lumbrix::test {
namespace {

using Yuv = std::array<int, 3>;

struct StreamFacts {
    bool present = false;
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
    int packets = 0;
};

struct Probe {
    std::string error;
    double durationSeconds = 0.0;
    StreamFacts video;
    StreamFacts audio;
    // Filled when decoding: the top-left pixel of every picture, and the sound's peak.
    std::vector<Yuv> cornerPixels;
    double audioPeak = 0.0;
};

double peakOf(const AVFrame& frame) {
    const int channels = frame.ch_layout.nb_channels;
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int planes = planar ? channels : 1;
    const int perPlane = planar ? frame.nb_samples : frame.nb_samples * channels;
    double peak = 0.0;
    for (int p = 0; p < planes; ++p) {
        for (int i = 0; i < perPlane; ++i) {
            double value = 0.0;
            switch (av_get_packed_sample_fmt(format)) {
                case AV_SAMPLE_FMT_FLT: value = reinterpret_cast<const float*>(frame.extended_data[p])[i]; break;
                case AV_SAMPLE_FMT_S16:
                    value = reinterpret_cast<const int16_t*>(frame.extended_data[p])[i] / 32768.0;
                    break;
                case AV_SAMPLE_FMT_S32:
                    value = reinterpret_cast<const int32_t*>(frame.extended_data[p])[i] / 2147483648.0;
                    break;
                default: return -1.0;
            }
            peak = std::max(peak, std::abs(value));
        }
    }
    return peak;
}

CodecContextPtr openDecoder(const AVStream& stream) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr) return nullptr;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_parameters_to_context(context.get(), stream.codecpar) < 0 ||
        avcodec_open2(context.get(), codec, nullptr) < 0) {
        return nullptr;
    }
    return context;
}

Probe probe(const std::string& path, bool decode) {
    Probe result;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        result.error = "cannot open " + path;
        return result;
    }
    FormatContextPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        result.error = "no stream info in " + path;
        return result;
    }
    if (format->duration != AV_NOPTS_VALUE) result.durationSeconds = format->duration / double(AV_TIME_BASE);
    const int videoIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audioIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    CodecContextPtr videoDecoder;
    CodecContextPtr audioDecoder;
    if (videoIndex >= 0) {
        const AVCodecParameters& par = *format->streams[videoIndex]->codecpar;
        result.video = {true, par.codec_id, par.width, par.height, 0, 0, 0};
        if (decode) videoDecoder = openDecoder(*format->streams[videoIndex]);
    }
    if (audioIndex >= 0) {
        const AVCodecParameters& par = *format->streams[audioIndex]->codecpar;
        result.audio = {true, par.codec_id, 0, 0, par.sample_rate, par.ch_layout.nb_channels, 0};
        if (decode) audioDecoder = openDecoder(*format->streams[audioIndex]);
    }
    if (decode && ((videoIndex >= 0 && !videoDecoder) || (audioIndex >= 0 && !audioDecoder))) {
        result.error = "no decoder";
        return result;
    }

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    auto drain = [&](AVCodecContext* decoder, bool isVideo) {
        while (avcodec_receive_frame(decoder, frame.get()) == 0) {
            if (isVideo) {
                result.cornerPixels.push_back(
                    {frame->data[0][0], frame->data[1][0], frame->data[2][0]});
            } else {
                result.audioPeak = std::max(result.audioPeak, peakOf(*frame));
            }
            av_frame_unref(frame.get());
        }
    };
    auto feed = [&](AVCodecContext* decoder, const AVPacket* data, bool isVideo) {
        if (decoder == nullptr) return;
        avcodec_send_packet(decoder, data);
        drain(decoder, isVideo);
    };
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == videoIndex) {
            ++result.video.packets;
            feed(videoDecoder.get(), packet.get(), true);
        } else if (packet->stream_index == audioIndex) {
            ++result.audio.packets;
            feed(audioDecoder.get(), packet.get(), false);
        }
        av_packet_unref(packet.get());
    }
    feed(videoDecoder.get(), nullptr, true);
    feed(audioDecoder.get(), nullptr, false);
    return result;
}

// BT.601 limited range, what ffmpeg's RGB → yuv420p conversion uses by default.
Yuv expectedYuv(double r, double g, double b) {
    return {static_cast<int>(std::lround(16 + 65.481 * r + 128.553 * g + 24.966 * b)),
            static_cast<int>(std::lround(128 - 37.797 * r - 74.203 * g + 112.0 * b)),
            static_cast<int>(std::lround(128 + 112.0 * r - 93.786 * g - 18.214 * b))};
}

::testing::AssertionResult near(const Yuv& actual, const Yuv& expected, int tolerance) {
    for (size_t i = 0; i < 3; ++i) {
        if (std::abs(actual[i] - expected[i]) > tolerance) {
            return ::testing::AssertionFailure() << "YUV (" << actual[0] << ", " << actual[1] << ", " << actual[2]
                                                 << ") is not within " << tolerance << " of (" << expected[0] << ", "
                                                 << expected[1] << ", " << expected[2] << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

class TestMedia : public ::testing::Test {
protected:
    void SetUp() override {
        if (ffmpegVersionLine().empty()) GTEST_SKIP() << "the ffmpeg program is missing";
        ASSERT_TRUE(folder_.ok());
    }

    std::string make(const std::string& name, const ClipSpec& spec) {
        std::string path = folder_.file(name);
        std::string error;
        EXPECT_TRUE(makeClip(path, spec, &error)) << error;
        return path;
    }

    TempFolder folder_;
};

TEST(TestMediaProgram, FfmpegIsInstalled) {
    const std::string line = ffmpegVersionLine();
    EXPECT_EQ(line.rfind("ffmpeg version ", 0), 0u) << "got \"" << line << "\"";
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST_F(TestMedia, DefaultClipIsThreeSecondsOfPictureWithStereoSound) {
    const Probe facts = probe(make("default.mp4", {}), true);
    ASSERT_TRUE(facts.error.empty()) << facts.error;
    EXPECT_NEAR(facts.durationSeconds, 3.0, 0.05);
    ASSERT_TRUE(facts.video.present);
    EXPECT_EQ(facts.video.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(facts.video.width, 64);
    EXPECT_EQ(facts.video.height, 48);
    EXPECT_EQ(facts.video.packets, 90);
    EXPECT_EQ(facts.cornerPixels.size(), 90u);
    ASSERT_TRUE(facts.audio.present);
    EXPECT_EQ(facts.audio.codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(facts.audio.sampleRate, 48000);
    EXPECT_EQ(facts.audio.channels, 2);
    // AAC rounds the sine's peak by a few percent.
    EXPECT_NEAR(facts.audioPeak, 0.5, 0.05);
}

TEST_F(TestMedia, EverySecondShowsItsOwnColour) {
    const Probe facts = probe(make("colours.mp4", {}), true);
    ASSERT_TRUE(facts.error.empty()) << facts.error;
    ASSERT_EQ(facts.cornerPixels.size(), 90u);
    const std::array<Yuv, 3> seconds = {expectedYuv(1, 0, 0), expectedYuv(0, 1, 0), expectedYuv(0, 0, 1)};
    for (size_t i = 0; i < facts.cornerPixels.size(); ++i) {
        EXPECT_TRUE(near(facts.cornerPixels[i], seconds[i / 30], 4)) << "frame " << i;
    }
}

TEST_F(TestMedia, NoSineMeansNoAudioStream) {
    ClipSpec spec;
    spec.sineHz = 0.0;
    const Probe facts = probe(make("silent.mp4", spec), false);
    ASSERT_TRUE(facts.error.empty()) << facts.error;
    EXPECT_TRUE(facts.video.present);
    EXPECT_FALSE(facts.audio.present);
    EXPECT_NEAR(facts.durationSeconds, 3.0, 0.05);
}

TEST_F(TestMedia, MonoPcmMpeg4InMov) {
    ClipSpec spec;
    spec.widthPx = 320;
    spec.heightPx = 240;
    spec.fps = 25.0;
    spec.secondColors = {"0x336699", "white"};
    spec.sineAmplitude = 0.25;
    spec.audioRate = 44100;
    spec.audioChannels = 1;
    spec.videoCodec = "mpeg4";
    spec.audioCodec = "pcm_s16le";
    const Probe facts = probe(make("mono.mov", spec), true);
    ASSERT_TRUE(facts.error.empty()) << facts.error;
    EXPECT_NEAR(facts.durationSeconds, 2.0, 0.05);
    EXPECT_EQ(facts.video.codec, AV_CODEC_ID_MPEG4);
    EXPECT_EQ(facts.video.width, 320);
    EXPECT_EQ(facts.video.height, 240);
    ASSERT_EQ(facts.cornerPixels.size(), 50u);
    EXPECT_TRUE(near(facts.cornerPixels[0], expectedYuv(0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0), 4));
    EXPECT_TRUE(near(facts.cornerPixels[49], expectedYuv(1, 1, 1), 4));
    EXPECT_EQ(facts.audio.codec, AV_CODEC_ID_PCM_S16LE);
    EXPECT_EQ(facts.audio.sampleRate, 44100);
    EXPECT_EQ(facts.audio.channels, 1);
    EXPECT_NEAR(facts.audioPeak, 0.25, 0.002);
}

TEST_F(TestMedia, ContainerOverridesTheExtension) {
    ClipSpec spec;
    spec.container = "matroska";
    spec.secondColors = {"red"};
    const Probe facts = probe(make("clip.bin", spec), false);
    ASSERT_TRUE(facts.error.empty()) << facts.error;
    EXPECT_TRUE(facts.video.present);
    EXPECT_TRUE(facts.audio.present);
    EXPECT_NEAR(facts.durationSeconds, 1.0, 0.05);
}

TEST_F(TestMedia, MovingDetailKeepsTheColoursAtTheEdges) {
    ClipSpec spec;
    spec.widthPx = 160;
    spec.heightPx = 96;
    spec.secondColors = {"blue", "red"};
    spec.movingDetail = true;
    const Probe facts = probe(make("detail.mp4", spec), true);
    ASSERT_TRUE(facts.error.empty()) << facts.error;
    ASSERT_EQ(facts.cornerPixels.size(), 60u);
    EXPECT_TRUE(near(facts.cornerPixels[0], expectedYuv(0, 0, 1), 4));
    EXPECT_TRUE(near(facts.cornerPixels[59], expectedYuv(1, 0, 0), 4));
}

TEST_F(TestMedia, AudioOnlyClipHasNoPicture) {
    const std::string path = folder_.file("sound.m4a");
    std::string error;
    ASSERT_TRUE(makeAudioOnlyClip(path, 1.5, &error)) << error;
    const Probe facts = probe(path, false);
    ASSERT_TRUE(facts.error.empty()) << facts.error;
    EXPECT_FALSE(facts.video.present);
    ASSERT_TRUE(facts.audio.present);
    EXPECT_EQ(facts.audio.sampleRate, 48000);
    EXPECT_EQ(facts.audio.channels, 2);
    EXPECT_NEAR(facts.durationSeconds, 1.5, 0.05);
}

TEST_F(TestMedia, RefusesWhatItCannotMake) {
    std::string error;
    ClipSpec injected;
    injected.secondColors = {"red:s=8x8"};
    EXPECT_FALSE(makeClip(folder_.file("a.mp4"), injected, &error));
    EXPECT_FALSE(error.empty());

    ClipSpec odd;
    odd.widthPx = 63;
    error.clear();
    EXPECT_FALSE(makeClip(folder_.file("b.mp4"), odd, &error));
    EXPECT_FALSE(error.empty());

    // ffmpeg's own complaint comes back, and nothing is left behind.
    const std::string nowhere = folder_.file("missing-folder/c.mp4");
    error.clear();
    EXPECT_FALSE(makeClip(nowhere, {}, &error));
    EXPECT_NE(error.find("ffmpeg"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(nowhere));
}

TEST_F(TestMedia, PathsNeedNoQuoting) {
    const std::string path = folder_.file("-odd name; 'quoted' $x:1.mp4");
    std::string error;
    ClipSpec spec;
    spec.secondColors = {"lime"};
    ASSERT_TRUE(makeClip(path, spec, &error)) << error;
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(folder_.list().size(), 1u);
}

TEST(TestMediaBytes, FileHoldsExactlyTheBytes) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string noise = noiseBytes(4096, 7);
    EXPECT_EQ(noise, noiseBytes(4096, 7));
    EXPECT_NE(noise, noiseBytes(4096, 8));
    const std::string path = folder.file("garbage.mp4");
    ASSERT_TRUE(makeFileOfBytes(path, noise));
    std::ifstream in(path, std::ios::binary);
    const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(back, noise);
    ASSERT_TRUE(makeFileOfBytes(path, ""));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_FALSE(makeFileOfBytes(folder.file("missing-folder/x"), "x"));
}

}  // namespace
}  // namespace lumbrix::test
