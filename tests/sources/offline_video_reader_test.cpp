// The offline reader on clips made by ffmpeg: which picture is due at which time, going
// back and far ahead, before the start and past the end; the sound's spans, their
// lengths, level, channels and rate; and files it cannot read.
#include "sources/offline_video_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace lumbrix {
namespace {

using Rgb = std::array<int, 3>;

const Rgb kRed{255, 0, 0}, kLime{0, 255, 0}, kBlue{0, 0, 255};
constexpr double kFps = 30.0;
constexpr int kRate = OfflineVideoReader::kSoundRate;
// Stamps are rationals and times doubles; the reader allows a microsecond either way.
constexpr double kStampSlack = 1e-6;

std::string describe(const Rgb& c) {
    return "(" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ", " + std::to_string(c[2]) + ")";
}

// H.264 in yuv420p moves solid colours a little.
bool near(const Rgb& a, const Rgb& b) {
    for (size_t i = 0; i < 3; ++i) {
        if (std::abs(a[i] - b[i]) > 40) return false;
    }
    return true;
}

Rgb centre(const OfflineVideoReader& reader, const std::vector<uint8_t>& rgba) {
    const size_t x = static_cast<size_t>(reader.widthPx() / 2), y = static_cast<size_t>(reader.heightPx() / 2);
    const size_t at = (y * static_cast<size_t>(reader.widthPx()) + x) * 4;
    return {rgba[at], rgba[at + 1], rgba[at + 2]};
}

Rgb colourOfSecond(int second) {
    static const Rgb colours[] = {kRed, kLime, kBlue};
    return colours[std::clamp(second, 0, 2)];
}

float peak(const float* samples, int64_t count) {
    float most = 0.0f;
    for (int64_t i = 0; i < count; ++i) most = std::max(most, std::abs(samples[i]));
    return most;
}

int zeroCrossings(const float* samples, int64_t count) {
    int crossings = 0;
    for (int64_t i = 1; i < count; ++i) {
        if ((samples[i - 1] < 0.0f) != (samples[i] < 0.0f)) ++crossings;
    }
    return crossings;
}

// Clips take ffmpeg a moment each: made once for the whole suite.
class OfflineReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new test::TempFolder();
        ASSERT_TRUE(folder_->ok());
        make("stereo.mp4", {});
        test::ClipSpec mono;
        mono.audioChannels = 1;
        make("mono.mp4", mono);
        test::ClipSpec silent;
        silent.sineHz = 0.0;
        make("silent.mp4", silent);
        test::ClipSpec pcm;
        pcm.audioRate = 44100;
        pcm.audioCodec = "pcm_s16le";
        make("pcm44k.mov", pcm);
        test::ClipSpec transport;
        transport.container = "mpegts";
        make("transport.ts", transport);
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    static void make(const std::string& name, const test::ClipSpec& clip) {
        std::string error;
        ASSERT_TRUE(test::makeClip(folder_->file(name), clip, &error)) << name << ": " << error;
    }

    static std::unique_ptr<OfflineVideoReader> openClip(const std::string& name) {
        auto opened = OfflineVideoReader::open(folder_->file(name));
        EXPECT_TRUE(opened) << name << ": " << (opened ? std::string() : opened.error().description);
        return opened ? std::move(opened.value()) : nullptr;
    }

    // The colour at `seconds`, checking the frame's stamp against the time asked for.
    static void expectPicture(OfflineVideoReader& reader, double seconds, const Rgb& colour) {
        double pts = -100.0;
        const std::vector<uint8_t>* rgba = reader.pictureAt(seconds, &pts);
        ASSERT_NE(rgba, nullptr) << "at " << seconds;
        ASSERT_EQ(rgba->size(), static_cast<size_t>(reader.widthPx() * reader.heightPx() * 4));
        const Rgb seen = centre(reader, *rgba);
        EXPECT_TRUE(near(seen, colour)) << "at " << seconds << " saw " << describe(seen) << ", wanted "
                                        << describe(colour);
        EXPECT_LE(pts, seconds + kStampSlack) << "at " << seconds;
        EXPECT_GT(pts + 1.0 / kFps, seconds) << "at " << seconds;
    }

    static test::TempFolder* folder_;
};

test::TempFolder* OfflineReaderTest::folder_ = nullptr;

TEST_F(OfflineReaderTest, DescribesTheClip) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->widthPx(), 64);
    EXPECT_EQ(reader->heightPx(), 48);
    ASSERT_TRUE(reader->durationSeconds().has_value());
    EXPECT_NEAR(*reader->durationSeconds(), 3.0, 0.1);
    EXPECT_TRUE(reader->hasSound());
}

TEST_F(OfflineReaderTest, EachSecondShowsItsColour) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    for (const double t : {0.0, 0.2, 0.5, 0.97, 1.01, 1.3, 1.5, 1.99, 2.02, 2.4, 2.9}) {
        expectPicture(*reader, t, colourOfSecond(static_cast<int>(t)));
    }
}

TEST_F(OfflineReaderTest, FrameBoundariesGiveThatFrame) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    auto check = [&](int k) {
        const double t = k / kFps;
        double pts = -1.0;
        ASSERT_NE(reader->pictureAt(t, &pts), nullptr) << "frame " << k;
        EXPECT_NEAR(pts, t, kStampSlack) << "frame " << k;
    };
    for (int k = 0; k < 90; ++k) check(k);
    // The same going backwards, one seek after another.
    for (int k = 89; k >= 0; k -= 7) check(k);
}

TEST_F(OfflineReaderTest, GoesBackwards) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    expectPicture(*reader, 2.5, kBlue);
    expectPicture(*reader, 0.5, kRed);
    expectPicture(*reader, 0.4, kRed);
    expectPicture(*reader, 1.5, kLime);
}

TEST_F(OfflineReaderTest, JumpsFarAhead) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    expectPicture(*reader, 0.1, kRed);
    expectPicture(*reader, 2.7, kBlue);
    expectPicture(*reader, 2.8, kBlue);
}

TEST_F(OfflineReaderTest, BeforeTheStartShowsTheFirstFrame) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    double pts = -1.0;
    const std::vector<uint8_t>* rgba = reader->pictureAt(-1.0, &pts);
    ASSERT_NE(rgba, nullptr);
    EXPECT_TRUE(near(centre(*reader, *rgba), kRed));
    EXPECT_NEAR(pts, 0.0, kStampSlack);
    // And again after the reader has moved on.
    expectPicture(*reader, 1.5, kLime);
    rgba = reader->pictureAt(-0.25, &pts);
    ASSERT_NE(rgba, nullptr);
    EXPECT_TRUE(near(centre(*reader, *rgba), kRed));
    EXPECT_NEAR(pts, 0.0, kStampSlack);
}

TEST_F(OfflineReaderTest, PastTheEndShowsTheLastFrame) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    for (const double t : {3.5, 10.0, 3.2}) {
        double pts = -1.0;
        const std::vector<uint8_t>* rgba = reader->pictureAt(t, &pts);
        ASSERT_NE(rgba, nullptr) << "at " << t;
        EXPECT_TRUE(near(centre(*reader, *rgba), kBlue)) << "at " << t;
        EXPECT_NEAR(pts, 89 / kFps, kStampSlack) << "at " << t;
    }
}

TEST_F(OfflineReaderTest, ConsecutiveFramesAreDistinctAndInOrder) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    std::vector<double> stamps;
    for (int i = 0; i < 30; ++i) {
        double pts = -1.0;
        ASSERT_NE(reader->pictureAt(1.0 + i / kFps, &pts), nullptr) << "frame " << i;
        stamps.push_back(pts);
    }
    for (size_t i = 1; i < stamps.size(); ++i) {
        EXPECT_GT(stamps[i], stamps[i - 1]) << "frame " << i;
    }
}

// MPEG-TS seeks only land near the time asked for; random access must still give what
// reading straight through gives.
TEST_F(OfflineReaderTest, TransportStreamSeeksExactly) {
    auto straight = openClip("transport.ts");
    auto jumping = openClip("transport.ts");
    ASSERT_TRUE(straight && jumping);
    std::vector<double> stamps;
    std::vector<std::vector<uint8_t>> pictures;
    for (int k = 0; k < 90; ++k) {
        double pts = -1.0;
        const std::vector<uint8_t>* rgba = straight->pictureAt(k / kFps + 0.01, &pts);
        ASSERT_NE(rgba, nullptr) << "frame " << k;
        stamps.push_back(pts);
        pictures.push_back(*rgba);
    }
    for (const int k : {80, 3, 45, 1, 70, 0, 31, 89, 12}) {
        double pts = -1.0;
        const std::vector<uint8_t>* rgba = jumping->pictureAt(k / kFps + 0.01, &pts);
        ASSERT_NE(rgba, nullptr) << "frame " << k;
        EXPECT_EQ(pts, stamps[static_cast<size_t>(k)]) << "frame " << k;
        EXPECT_TRUE(*rgba == pictures[static_cast<size_t>(k)]) << "frame " << k;
        EXPECT_TRUE(near(centre(*jumping, *rgba), colourOfSecond(k / 30))) << "frame " << k;
    }
    const AudioSampleBuffer late = jumping->soundFor(2.0, 2.2);
    const AudioSampleBuffer early = jumping->soundFor(0.5, 0.7);
    EXPECT_NEAR(peak(late.left(), late.frameCount), 0.5, 0.06);
    EXPECT_NEAR(peak(early.left(), early.frameCount), 0.5, 0.06);
}

TEST_F(OfflineReaderTest, ConsecutiveSpansAddUpExactly) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    int64_t total = 0;
    int64_t expectedStart = 0;
    for (int i = 0; i < 30; ++i) {
        const AudioSampleBuffer span = reader->soundFor(i / kFps, (i + 1) / kFps);
        EXPECT_EQ(span.sampleRate, kRate);
        EXPECT_EQ(span.channels, 2);
        EXPECT_FALSE(span.interleaved);
        EXPECT_EQ(span.timescale, kRate);
        EXPECT_EQ(span.presentationValue, expectedStart) << "span " << i;
        EXPECT_EQ(span.planes.size(), static_cast<size_t>(span.frameCount) * 2);
        expectedStart += span.frameCount;
        total += span.frameCount;
    }
    EXPECT_EQ(total, kRate);
}

TEST_F(OfflineReaderTest, SineKeepsItsLevel) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    const AudioSampleBuffer span = reader->soundFor(1.0, 1.1);
    ASSERT_EQ(span.frameCount, kRate / 10);
    EXPECT_NEAR(peak(span.left(), span.frameCount), 0.5, 0.06);
    EXPECT_NEAR(peak(span.right(), span.frameCount), 0.5, 0.06);
}

TEST_F(OfflineReaderTest, SequentialSpansMatchOneLongRead) {
    auto reader = openClip("stereo.mp4");
    auto whole = openClip("stereo.mp4");
    ASSERT_TRUE(reader && whole);
    const AudioSampleBuffer expected = whole->soundFor(0.0, 2.0);
    for (int i = 0; i < 60; ++i) {
        const AudioSampleBuffer span = reader->soundFor(i / kFps, (i + 1) / kFps);
        for (int64_t s = 0; s < span.frameCount; ++s) {
            const int64_t at = span.presentationValue + s;
            ASSERT_EQ(span.left()[s], expected.left()[at]) << "sample " << at;
            ASSERT_EQ(span.right()[s], expected.right()[at]) << "sample " << at;
        }
    }
}

TEST_F(OfflineReaderTest, EarlierSpanSeeksBackToTheSameSound) {
    auto reader = openClip("stereo.mp4");
    auto fresh = openClip("stereo.mp4");
    ASSERT_TRUE(reader && fresh);
    reader->soundFor(2.0, 2.5);
    const AudioSampleBuffer again = reader->soundFor(1.0, 1.1);
    fresh->soundFor(0.0, 1.0);
    const AudioSampleBuffer straight = fresh->soundFor(1.0, 1.1);
    ASSERT_EQ(again.frameCount, straight.frameCount);
    EXPECT_EQ(again.presentationValue, straight.presentationValue);
    float worst = 0.0f;
    for (int64_t s = 0; s < again.frameCount; ++s) {
        worst = std::max(worst, std::abs(again.left()[s] - straight.left()[s]));
    }
    EXPECT_LT(worst, 0.02f);
}

TEST_F(OfflineReaderTest, MonoPlaysOnBothSides) {
    auto reader = openClip("mono.mp4");
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->hasSound());
    const AudioSampleBuffer span = reader->soundFor(0.5, 1.0);
    ASSERT_EQ(span.frameCount, kRate / 2);
    EXPECT_NEAR(peak(span.left(), span.frameCount), 0.5, 0.06);
    for (int64_t s = 0; s < span.frameCount; ++s) {
        ASSERT_EQ(span.left()[s], span.right()[s]) << "sample " << s;
    }
}

TEST_F(OfflineReaderTest, NoSoundStreamGivesSilence) {
    auto reader = openClip("silent.mp4");
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->hasSound());
    const AudioSampleBuffer span = reader->soundFor(0.5, 0.75);
    EXPECT_EQ(span.frameCount, kRate / 4);
    EXPECT_EQ(span.presentationValue, kRate / 2);
    ASSERT_EQ(span.planes.size(), static_cast<size_t>(kRate / 2));
    EXPECT_EQ(peak(span.planes.data(), static_cast<int64_t>(span.planes.size())), 0.0f);
    ASSERT_NE(reader->pictureAt(0.5), nullptr);
}

TEST_F(OfflineReaderTest, BeyondTheEndIsSilent) {
    auto reader = openClip("stereo.mp4");
    ASSERT_TRUE(reader);
    const AudioSampleBuffer last = reader->soundFor(2.5, 2.6);
    EXPECT_GT(peak(last.left(), last.frameCount), 0.4f);
    const AudioSampleBuffer after = reader->soundFor(10.0, 10.5);
    EXPECT_EQ(after.frameCount, kRate / 2);
    EXPECT_EQ(peak(after.planes.data(), static_cast<int64_t>(after.planes.size())), 0.0f);
    // Before the start too.
    const AudioSampleBuffer before = reader->soundFor(-1.0, -0.5);
    EXPECT_EQ(before.frameCount, kRate / 2);
    EXPECT_EQ(peak(before.planes.data(), static_cast<int64_t>(before.planes.size())), 0.0f);
}

TEST_F(OfflineReaderTest, OtherRatesAreResampled) {
    auto reader = openClip("pcm44k.mov");
    ASSERT_TRUE(reader);
    ASSERT_TRUE(reader->hasSound());
    int64_t total = 0;
    std::vector<float> left;
    for (int i = 0; i < 30; ++i) {
        const AudioSampleBuffer span = reader->soundFor(0.5 + i / kFps, 0.5 + (i + 1) / kFps);
        total += span.frameCount;
        left.insert(left.end(), span.left(), span.left() + span.frameCount);
    }
    EXPECT_EQ(total, kRate);
    EXPECT_NEAR(peak(left.data(), total), 0.5, 0.06);
    // A 440 Hz sine crosses zero twice per cycle.
    EXPECT_NEAR(zeroCrossings(left.data(), total), 880, 880 * 0.02);
}

TEST_F(OfflineReaderTest, RefusesWhatItCannotRead) {
    const auto missing = OfflineVideoReader::open(folder_->file("nothing-here.mp4"));
    ASSERT_FALSE(missing);
    EXPECT_FALSE(missing.error().description.empty());

    const std::string garbage = folder_->file("garbage.mp4");
    ASSERT_TRUE(test::makeFileOfBytes(garbage, test::noiseBytes(64 * 1024)));
    const auto noise = OfflineVideoReader::open(garbage);
    ASSERT_FALSE(noise);
    EXPECT_FALSE(noise.error().description.empty());

    const std::string audioOnly = folder_->file("sound.m4a");
    std::string error;
    ASSERT_TRUE(test::makeAudioOnlyClip(audioOnly, 1.0, &error)) << error;
    const auto sound = OfflineVideoReader::open(audioOnly);
    ASSERT_FALSE(sound);
    EXPECT_EQ(sound.error().description, "no video stream");
}

// FFmpeg's own open would wait for a pipe's writer; these are refused before it runs.
TEST_F(OfflineReaderTest, PathsThatAreNoFileAreRefusedAtOnce) {
    test::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string fifo = folder.file("pipe.mp4");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {fifo, "cannot open the file: Not a regular file (a named pipe)"},
        {"/dev/zero", "cannot open the file: Not a regular file (a character device)"},
        {folder.path().string(), "cannot open the file: Is a directory"},
        {folder.file("missing.mp4"), "cannot open the file: No such file or directory"},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto opened = OfflineVideoReader::open(c.path);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << c.path;
        ASSERT_FALSE(opened) << c.path;
        EXPECT_EQ(opened.error().description, c.error);
    }
}

}  // namespace
}  // namespace lumbrix
