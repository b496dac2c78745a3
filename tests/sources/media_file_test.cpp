// The shared opening of video files on clips made by ffmpeg: which streams are taken,
// which files are refused and why, and which colours a decoded picture turns into.
#include "sources/media_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace lumbrix {
namespace {

TEST(MediaFileTest, TakesTheStreamsAFileHas) {
    test::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    test::ClipSpec silent;
    silent.sineHz = 0.0;
    test::ClipSpec pcm;
    pcm.widthPx = 32;
    pcm.heightPx = 16;
    pcm.fps = 25.0;
    pcm.audioCodec = "pcm_s16le";
    const struct {
        std::string name;
        test::ClipSpec clip;
        bool sound;
    } cases[] = {
        {"sound.mp4", {}, true},
        {"silent.mp4", silent, false},
        {"pcm.mov", pcm, true},
    };
    for (const auto& c : cases) {
        std::string error;
        ASSERT_TRUE(test::makeClip(folder.file(c.name), c.clip, &error)) << c.name << ": " << error;
        auto opened = MediaFile::open(folder.file(c.name));
        ASSERT_TRUE(opened) << c.name << ": " << opened.error().description;
        const MediaFile& file = opened.value();
        ASSERT_NE(file.format, nullptr);
        ASSERT_GE(file.videoStream, 0) << c.name;
        EXPECT_NE(file.video, nullptr) << c.name;
        EXPECT_EQ(file.format->streams[file.videoStream]->codecpar->codec_type, AVMEDIA_TYPE_VIDEO) << c.name;
        EXPECT_EQ(file.widthPx, c.clip.widthPx) << c.name;
        EXPECT_EQ(file.heightPx, c.clip.heightPx) << c.name;
        EXPECT_NEAR(file.frameSeconds, 1.0 / c.clip.fps, 1e-9) << c.name;
        ASSERT_TRUE(file.durationSeconds) << c.name;
        EXPECT_NEAR(*file.durationSeconds, 3.0, 0.1) << c.name;
        EXPECT_EQ(file.audioStream >= 0, c.sound) << c.name;
        EXPECT_EQ(file.audio != nullptr, c.sound) << c.name;
        if (c.sound) {
            EXPECT_EQ(file.format->streams[file.audioStream]->codecpar->codec_type, AVMEDIA_TYPE_AUDIO) << c.name;
            EXPECT_EQ(file.audio->sample_rate, c.clip.audioRate) << c.name;
        }
    }
}

TEST(MediaFileTest, RefusesWhatIsNoVideoWithTheStepAndReason) {
    test::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    std::string error;
    const std::string soundOnly = folder.file("sound.m4a");
    ASSERT_TRUE(test::makeAudioOnlyClip(soundOnly, 1.0, &error)) << error;
    // Past the cap, yet small on disk: two uncompressed frames a few rows high.
    test::ClipSpec wide;
    wide.widthPx = MediaFile::kMaxPictureSidePx + 2;
    wide.heightPx = 2;
    wide.fps = 2.0;
    wide.secondColors = {"red"};
    wide.sineHz = 0.0;
    wide.videoCodec = "rawvideo";
    const std::string tooWide = folder.file("wide.nut");
    ASSERT_TRUE(test::makeClip(tooWide, wide, &error)) << error;
    const std::string garbage = folder.file("garbage.mp4");
    ASSERT_TRUE(test::makeFileOfBytes(garbage, test::noiseBytes(64 * 1024)));
    const std::string fifo = folder.file("pipe.mp4");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    const struct {
        std::string path;
        MediaFileStep step;
        std::string message;  // empty: FFmpeg's own words, not checked
    } cases[] = {
        {fifo, MediaFileStep::OpenFile, "cannot open the file: Not a regular file (a named pipe)"},
        {folder.path().string(), MediaFileStep::OpenFile, "cannot open the file: Is a directory"},
        {folder.file("missing.mp4"), MediaFileStep::OpenFile, "cannot open the file: No such file or directory"},
        {garbage, MediaFileStep::OpenFile, ""},
        {soundOnly, MediaFileStep::ChooseStreams, "no video stream"},
        {tooWide, MediaFileStep::ChooseStreams, "unsupported picture size"},
    };
    for (const auto& c : cases) {
        const auto opened = MediaFile::open(c.path);
        ASSERT_FALSE(opened) << c.path;
        EXPECT_TRUE(failedAt(opened.error(), c.step)) << c.path << ": " << opened.error().code;
        if (c.message.empty()) {
            EXPECT_EQ(opened.error().description.rfind("cannot open the file: ", 0), 0u) << opened.error().description;
        } else {
            EXPECT_EQ(opened.error().description, c.message);
        }
    }
}

using Rgb = std::array<int, 3>;

// One flat 4:2:0 picture through the converter, read back at its centre.
Rgb convertFlat(int heightPx, AVColorSpace space, AVColorRange range, int y, int u, int v) {
    constexpr int kWidthPx = 16;
    FramePtr frame(av_frame_alloc());
    frame->width = kWidthPx;
    frame->height = heightPx;
    frame->format = AV_PIX_FMT_YUV420P;
    frame->colorspace = space;
    frame->color_range = range;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return {-1, -1, -1};
    std::memset(frame->data[0], y, static_cast<size_t>(frame->linesize[0]) * heightPx);
    std::memset(frame->data[1], u, static_cast<size_t>(frame->linesize[1]) * (heightPx / 2));
    std::memset(frame->data[2], v, static_cast<size_t>(frame->linesize[2]) * (heightPx / 2));
    ScaleContextPtr scaler;
    if (!prepareRgbaConverter(scaler, *frame, kWidthPx, heightPx)) return {-1, -1, -1};
    std::vector<uint8_t> rgba(static_cast<size_t>(kWidthPx) * heightPx * 4);
    uint8_t* planes[4] = {rgba.data(), nullptr, nullptr, nullptr};
    int strides[4] = {kWidthPx * 4, 0, 0, 0};
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, heightPx, planes, strides);
    const size_t at = (static_cast<size_t>(heightPx / 2) * kWidthPx + kWidthPx / 2) * 4;
    return {rgba[at], rgba[at + 1], rgba[at + 2]};
}

// Pure red as each matrix encodes it turns back into pure red only through that matrix
// (the other one leaves green at about 24, or red at about 233); and a light grey is
// only lifted to white when the file does not say its range is full.
TEST(MediaFileTest, ConvertsWithTheMatrixAndRangeTheFileDeclares) {
    const std::array<int, 3> red709{63, 102, 240}, red601{81, 90, 240}, grey{235, 128, 128};
    const struct {
        const char* name;
        int heightPx;
        AVColorSpace space;
        AVColorRange range;
        std::array<int, 3> yuv;
        Rgb expected;
    } cases[] = {
        {"declared BT.709, small", 64, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, red709, {255, 0, 0}},
        {"undeclared, HD", 720, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_MPEG, red709, {255, 0, 0}},
        {"undeclared, SD", 480, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_MPEG, red601, {255, 0, 0}},
        {"declared BT.601, HD", 720, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG, red601, {255, 0, 0}},
        {"full range", 64, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_JPEG, grey, {235, 235, 235}},
        {"range not said", 64, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_UNSPECIFIED, grey, {255, 255, 255}},
    };
    for (const auto& c : cases) {
        const Rgb got = convertFlat(c.heightPx, c.space, c.range, c.yuv[0], c.yuv[1], c.yuv[2]);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_LE(std::abs(got[i] - c.expected[i]), 6)
                << c.name << ": channel " << i << " is " << got[i] << ", not " << c.expected[i];
        }
    }
}

}  // namespace
}  // namespace lumbrix
