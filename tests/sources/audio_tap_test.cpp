// How a tapped block becomes a recorded buffer: planes, gain, level and time stamp.
#include "sources/audio_tap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace lumbrix {
namespace {

TEST(AudioTapBuffer, StereoBlockSplitsIntoPlanesWithTheGainApplied) {
    const std::vector<float> interleaved = {0.5f, -0.25f, 1.0f, 0.0f, -1.0f, 0.75f};
    double sum = 0.0;
    AudioSampleBuffer buffer = AudioTap::build(interleaved.data(), 3, 2, 48000.0, 0.0f, 8192, sum);
    EXPECT_EQ(buffer.frameCount, 3);
    EXPECT_EQ(buffer.planes, (std::vector<float>{0.5f, 1.0f, -1.0f, -0.25f, 0.0f, 0.75f}))
        << "0 dB leaves samples unchanged, left plane first";
    EXPECT_DOUBLE_EQ(sum, 0.5 * (0.25 + 0.0625) + 0.5 * (1.0 + 0.0) + 0.5 * (1.0 + 0.5625));
    EXPECT_EQ(buffer.presentationValue, 8192);
    EXPECT_EQ(buffer.timescale, 48000);
    EXPECT_DOUBLE_EQ(buffer.sampleRate, 48000.0);

    buffer = AudioTap::build(interleaved.data(), 3, 2, 48000.0, -8.0f, 0, sum);
    const float gain = std::pow(10.0f, -8.0f / 20.0f);
    EXPECT_NEAR(gain, 0.398f, 0.001f);
    EXPECT_FLOAT_EQ(buffer.left()[0], 0.5f * gain);
    EXPECT_FLOAT_EQ(buffer.right()[2], 0.75f * gain);
}

TEST(AudioTapBuffer, OtherChannelCountsPutTheFirstChannelOnBothSides) {
    const std::vector<float> mono = {0.5f, -0.5f};
    double sum = 0.0;
    AudioSampleBuffer buffer = AudioTap::build(mono.data(), 2, 1, 44100.0, 0.0f, 0, sum);
    EXPECT_EQ(buffer.planes, (std::vector<float>{0.5f, -0.5f, 0.5f, -0.5f}));
    EXPECT_DOUBLE_EQ(sum, 0.5);

    const std::vector<float> three = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    buffer = AudioTap::build(three.data(), 2, 3, 44100.0, 0.0f, 0, sum);
    EXPECT_EQ(buffer.planes, (std::vector<float>{0.1f, 0.4f, 0.1f, 0.4f}));
    EXPECT_EQ(buffer.timescale, 44100);
}

TEST(AudioTapBuffer, TimescaleRoundsHalvesAwayFromZero) {
    const float sample = 0.0f;
    double sum = 0.0;
    EXPECT_EQ(AudioTap::build(&sample, 1, 1, 47999.5, 0.0f, 0, sum).timescale, 48000);
    EXPECT_EQ(AudioTap::build(&sample, 1, 1, 22050.4, 0.0f, 0, sum).timescale, 22050);
}

TEST(AudioTapLevel, IsThreeTimesTheRMSCappedAtOneAndZeroForNonsense) {
    EXPECT_FLOAT_EQ(AudioTap::level(0.01 * 100, 100), 0.3f);  // RMS 0.1
    EXPECT_FLOAT_EQ(AudioTap::level(1.0 * 100, 100), 1.0f);   // RMS 1 → capped
    EXPECT_FLOAT_EQ(AudioTap::level(0.0, 0), 0.0f);           // no frames: divided by one
    EXPECT_FLOAT_EQ(AudioTap::level(std::numeric_limits<double>::quiet_NaN(), 10), 0.0f);
}

}  // namespace
}  // namespace lumbrix
