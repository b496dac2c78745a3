// The SDL playback device, run on SDL's own headless drivers. "dummy" calls the callback
// at real-time pace and throws the sound away, which is what the clock cases need;
// "disk" writes every byte the device plays to a file, so a case can check the exact
// samples heard, silence included.
#include "platform/audio/audio_output.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Distinct, non-zero and exactly representable, so silence and any reordering,
// duplication or loss show up as a mismatch.
std::vector<float> ramp(size_t frames, int channels, size_t firstFrame = 0) {
    std::vector<float> samples(frames * static_cast<size_t>(channels));
    for (size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const float magnitude = static_cast<float>(firstFrame + f + 1) / 65536.0f;
            samples[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = c == 0 ? magnitude : -magnitude;
        }
    }
    return samples;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               const std::function<void()>& meanwhile = {}) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        if (meanwhile) meanwhile();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<float> readFloats(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

size_t firstNonZero(const std::vector<float>& samples) {
    for (size_t i = 0; i < samples.size(); ++i) {
        if (samples[i] != 0.0f) return i;
    }
    return samples.size();
}

bool allZero(const std::vector<float>& samples, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        if (samples[i] != 0.0f) return false;
    }
    return true;
}

bool sameSamples(const std::vector<float>& actual, size_t offset, const std::vector<float>& expected) {
    return offset + expected.size() <= actual.size() &&
           std::memcmp(actual.data() + offset, expected.data(), expected.size() * sizeof(float)) == 0;
}

std::unique_ptr<AudioOutput> openOrFail(int sampleRate, int channels, size_t ringFrames) {
    auto opened = AudioOutput::open(sampleRate, channels, ringFrames);
    EXPECT_TRUE(opened) << opened.error().description;
    return opened ? std::move(opened).value() : nullptr;
}

class AudioOutputTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("SDL_AUDIODRIVER", "dummy", 1); }
    void TearDown() override { ::unsetenv("SDL_AUDIODRIVER"); }
};

// The disk driver sleeps SDL_DISKAUDIODELAY ms per device buffer: 5 ms for 1024 frames
// at 48 kHz plays about four times faster than real time, keeping the cases short while
// the feeding thread stays well ahead.
class AudioOutputDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        path_ = folder_.file("played.raw");
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", path_.c_str(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "5", 1);
    }
    void TearDown() override {
        ::unsetenv("SDL_AUDIODRIVER");
        ::unsetenv("SDL_DISKAUDIOFILE");
        ::unsetenv("SDL_DISKAUDIODELAY");
    }

    // What the device played, valid once the output is closed.
    std::vector<float> played() const { return readFloats(path_); }

    test::TempFolder folder_;
    std::string path_;
};

TEST_F(AudioOutputTest, RefusesChannelCountsOtherThanOneOrTwoAndAnEmptyRing) {
    for (int channels : {0, 3, 6}) {
        auto opened = AudioOutput::open(48000, channels, 1024);
        ASSERT_FALSE(opened) << channels << " channels";
        EXPECT_NE(opened.error().description.find("channels"), std::string::npos) << opened.error().description;
    }
    EXPECT_FALSE(AudioOutput::open(0, 2, 1024));
    EXPECT_FALSE(AudioOutput::open(48000, 2, 0));
    // A refusal leaves nothing behind: a valid open still works.
    EXPECT_TRUE(AudioOutput::open(48000, 2, 1024));
}

TEST_F(AudioOutputTest, ReportsTheGrantedFormatWithAbout20MillisecondsPerCallback) {
    struct Case {
        int rate;
        int channels;
        int bufferFrames;
    };
    for (const Case& c : {Case{48000, 2, 1024}, Case{44100, 2, 1024}, Case{22050, 1, 512}, Case{96000, 1, 2048}}) {
        auto output = openOrFail(c.rate, c.channels, 4096);
        ASSERT_TRUE(output);
        EXPECT_EQ(output->format().sampleRate, c.rate);
        EXPECT_EQ(output->format().channels, c.channels);
        EXPECT_EQ(output->format().deviceBufferFrames, c.bufferFrames) << c.rate;
    }
}

TEST_F(AudioOutputTest, AFailedOpenReportsSdlsErrorAndLeavesTheOpenOutputPlaying) {
    auto first = openOrFail(48000, 2, 4096);
    ASSERT_TRUE(first);
    // The dummy driver has a single device; real drivers may open more.
    auto second = AudioOutput::open(48000, 1, 4096);
    ASSERT_FALSE(second);
    EXPECT_NE(second.error().description.find("already open"), std::string::npos) << second.error().description;

    // Dropping the failed open's hold on SDL's audio must not shut it down under the first.
    const std::vector<float> sound = ramp(2048, 2);
    ASSERT_EQ(first->write(sound.data(), 2048), 2048u);
    EXPECT_TRUE(waitUntil([&] { return first->consumedFrames() == 2048; }, 2s));

    first.reset();
    auto again = openOrFail(48000, 2, 4096);
    ASSERT_TRUE(again);
    ASSERT_EQ(again->write(sound.data(), 2048), 2048u);
    EXPECT_TRUE(waitUntil([&] { return again->consumedFrames() == 2048; }, 2s));
}

TEST_F(AudioOutputTest, WriteTakesWhatFitsAndTheCountsAgree) {
    auto output = openOrFail(48000, 2, 1000);
    ASSERT_TRUE(output);
    output->setPaused(true);  // nothing leaves the ring meanwhile
    EXPECT_EQ(output->writableFrames(), 1000u);
    EXPECT_EQ(output->queuedFrames(), 0u);

    const std::vector<float> sound = ramp(1500, 2);
    EXPECT_EQ(output->write(sound.data(), 600), 600u);
    EXPECT_EQ(output->queuedFrames(), 600u);
    EXPECT_EQ(output->writableFrames(), 400u);
    EXPECT_EQ(output->write(sound.data() + 600 * 2, 900), 400u);
    EXPECT_EQ(output->queuedFrames(), 1000u);
    EXPECT_EQ(output->writableFrames(), 0u);
    EXPECT_EQ(output->write(sound.data(), 1), 0u);
    EXPECT_EQ(output->write(sound.data(), 0), 0u);

    std::this_thread::sleep_for(50ms);  // a couple of callbacks
    EXPECT_EQ(output->queuedFrames(), 1000u);
    EXPECT_EQ(output->consumedFrames(), 0);
}

TEST_F(AudioOutputTest, ConsumesAtRealTimePaceAndCountsOnlyQueuedFrames) {
    auto output = openOrFail(48000, 2, 48000);
    ASSERT_TRUE(output);
    // Silence for an empty ring is played but not counted.
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(output->consumedFrames(), 0);
    EXPECT_EQ(output->lastCallbackTimeNs(), 0);

    const std::vector<float> sound = ramp(48000, 2);
    ASSERT_EQ(output->write(sound.data(), 48000), 48000u);
    ASSERT_TRUE(waitUntil([&] { return output->consumedFrames() > 0; }, 500ms));
    const int64_t startFrames = output->consumedFrames();
    const auto start = Clock::now();
    std::this_thread::sleep_for(300ms);
    const int64_t endFrames = output->consumedFrames();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const int64_t lastNs = output->lastCallbackTimeNs();

    const double framesPerSecond = static_cast<double>(endFrames - startFrames) / seconds;
    EXPECT_GT(framesPerSecond, 48000 * 0.7);
    EXPECT_LT(framesPerSecond, 48000 * 1.3);
    EXPECT_EQ((endFrames - startFrames) % 1024, 0) << "consumed whole device buffers from a full ring";
    const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    EXPECT_LE(lastNs, nowNs);
    EXPECT_GT(lastNs, nowNs - 200'000'000) << "the last consuming callback ran recently";
}

TEST_F(AudioOutputTest, PauseStopsTheCountAndKeepsQueuedFrames) {
    auto output = openOrFail(48000, 2, 48000);
    ASSERT_TRUE(output);
    const std::vector<float> sound = ramp(48000, 2);
    ASSERT_EQ(output->write(sound.data(), 48000), 48000u);
    ASSERT_TRUE(waitUntil([&] { return output->consumedFrames() > 0; }, 500ms));

    output->setPaused(true);
    EXPECT_TRUE(output->isPaused());
    std::this_thread::sleep_for(40ms);  // a callback already running may still finish
    const int64_t consumed = output->consumedFrames();
    const size_t queued = output->queuedFrames();
    const int64_t lastNs = output->lastCallbackTimeNs();
    EXPECT_EQ(static_cast<size_t>(consumed) + queued, 48000u);

    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(output->consumedFrames(), consumed);
    EXPECT_EQ(output->queuedFrames(), queued);
    EXPECT_EQ(output->lastCallbackTimeNs(), lastNs);

    output->setPaused(false);
    EXPECT_FALSE(output->isPaused());
    EXPECT_TRUE(waitUntil([&] { return output->consumedFrames() > consumed; }, 500ms));
    EXPECT_GT(output->lastCallbackTimeNs(), lastNs);
}

TEST_F(AudioOutputTest, ClearDropsQueuedFramesAndRestartsTheCount) {
    auto output = openOrFail(48000, 2, 48000);
    ASSERT_TRUE(output);
    const std::vector<float> sound = ramp(48000, 2);
    ASSERT_EQ(output->write(sound.data(), 48000), 48000u);
    ASSERT_TRUE(waitUntil([&] { return output->consumedFrames() > 0; }, 500ms));

    output->clear();
    EXPECT_EQ(output->queuedFrames(), 0u);
    EXPECT_EQ(output->writableFrames(), 48000u);
    EXPECT_EQ(output->consumedFrames(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(output->consumedFrames(), 0);

    ASSERT_EQ(output->write(sound.data(), 3000), 3000u);
    EXPECT_TRUE(waitUntil([&] { return output->consumedFrames() == 3000; }, 1s));
    EXPECT_EQ(output->queuedFrames(), 0u);
}

TEST_F(AudioOutputTest, TapCountsWhatDoesNotFitWhenNobodyReads) {
    auto output = openOrFail(48000, 2, 4096);
    ASSERT_TRUE(output);
    output->setTapEnabled(true);
    // 4096 frames hold four callbacks; the rest is dropped.
    ASSERT_TRUE(waitUntil([&] { return output->tapDroppedFrames() >= 2048; }, 1s));
    output->setTapEnabled(false);
    std::this_thread::sleep_for(40ms);  // a callback already running may still finish
    const uint64_t dropped = output->tapDroppedFrames();
    EXPECT_EQ(output->tapAvailableFrames(), 4096u);
    EXPECT_EQ(dropped % 1024, 0u) << "whole callbacks beyond a ring of whole callbacks";
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(output->tapDroppedFrames(), dropped) << "a disabled tap drops nothing";
    EXPECT_EQ(output->tapAvailableFrames(), 4096u);

    std::vector<float> heard(5000 * 2, 1.0f);
    EXPECT_EQ(output->readTap(heard.data(), 5000), 4096u);
    EXPECT_TRUE(allZero(heard, 0, 4096 * 2)) << "nothing was written, so only silence was heard";
    EXPECT_EQ(output->tapAvailableFrames(), 0u);

    // Re-enabling starts from an empty tap; the drop count stays.
    output->setTapEnabled(true);
    ASSERT_TRUE(waitUntil([&] { return output->tapAvailableFrames() == 4096; }, 1s));
    output->setTapEnabled(true);
    EXPECT_LT(output->tapAvailableFrames(), 4096u) << "only what the odd callback since has added";
    EXPECT_GE(output->tapDroppedFrames(), dropped);
}

TEST_F(AudioOutputDiskTest, PlaysExactlyTheWrittenSamplesInOrderThenSilence) {
    constexpr size_t kFrames = 40000;
    const std::vector<float> sound = ramp(kFrames, 2);
    size_t bufferFrames = 0;
    {
        // A ring smaller than the sound, fed in chunks that do not divide it: the writes
        // wrap around at varying places. It still holds about 80 ms of play, so a busy
        // machine does not starve the device (an underflow would insert silence).
        auto output = openOrFail(48000, 2, 16000);
        ASSERT_TRUE(output);
        bufferFrames = static_cast<size_t>(output->format().deviceBufferFrames);
        size_t written = 0;
        const bool done = waitUntil([&] { return output->consumedFrames() == static_cast<int64_t>(kFrames); }, 3s,
                                    [&] {
                                        const size_t chunk = std::min<size_t>(1500, kFrames - written);
                                        written += output->write(sound.data() + written * 2, chunk);
                                    });
        ASSERT_TRUE(done) << "consumed " << output->consumedFrames() << " of " << kFrames;
        EXPECT_EQ(output->queuedFrames(), 0u);
        std::this_thread::sleep_for(30ms);  // some trailing silence
    }
    const std::vector<float> file = played();
    ASSERT_EQ(file.size() % (bufferFrames * 2), 0u) << "the device writes whole buffers";
    const size_t start = firstNonZero(file);
    ASSERT_LT(start, file.size()) << "nothing but silence was played";
    EXPECT_EQ(start % (bufferFrames * 2), 0u) << "the sound starts with a callback";
    EXPECT_TRUE(sameSamples(file, start, sound)) << "the played samples differ from the written ones";
    EXPECT_TRUE(allZero(file, start + sound.size(), file.size())) << "silence follows the sound";
    EXPECT_GE(file.size(), start + sound.size() + bufferFrames * 2);
}

TEST_F(AudioOutputDiskTest, MonoDevicePlaysSingleChannelFrames) {
    constexpr size_t kFrames = 5000;
    const std::vector<float> sound = ramp(kFrames, 1);
    {
        auto output = openOrFail(44100, 1, 8192);
        ASSERT_TRUE(output);
        EXPECT_EQ(output->format().channels, 1);
        EXPECT_EQ(output->format().sampleRate, 44100);
        EXPECT_EQ(output->writableFrames(), 8192u);
        ASSERT_EQ(output->write(sound.data(), kFrames), kFrames);
        ASSERT_TRUE(waitUntil([&] { return output->consumedFrames() == static_cast<int64_t>(kFrames); }, 2s));
    }
    const std::vector<float> file = played();
    const size_t start = firstNonZero(file);
    ASSERT_LT(start, file.size());
    EXPECT_EQ(start % 1024, 0u);
    EXPECT_TRUE(sameSamples(file, start, sound));
    EXPECT_TRUE(allZero(file, start + sound.size(), file.size()));
}

TEST_F(AudioOutputDiskTest, TapHoldsExactlyWhatWasPlayedThroughUnderflowAndPause) {
    constexpr size_t kPartFrames = 3000;  // not a whole number of callbacks: the last one is padded
    const std::vector<float> first = ramp(kPartFrames, 2);
    const std::vector<float> second = ramp(kPartFrames, 2, kPartFrames);
    std::vector<float> tapped;
    size_t bufferFrames = 0;
    uint64_t dropped = 1;
    {
        // Room for about 160 ms of callbacks, so a slow reader drops nothing.
        auto output = openOrFail(48000, 2, 32768);
        ASSERT_TRUE(output);
        bufferFrames = static_cast<size_t>(output->format().deviceBufferFrames);
        const auto drainTap = [&] {
            std::vector<float> chunk(1024 * 2);
            while (size_t frames = output->readTap(chunk.data(), 1024)) {
                tapped.insert(tapped.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(frames * 2));
            }
        };
        const auto keepDraining = [&](std::chrono::milliseconds duration) {
            waitUntil([] { return false; }, duration, drainTap);
        };
        output->setTapEnabled(true);

        ASSERT_EQ(output->write(first.data(), kPartFrames), kPartFrames);
        ASSERT_TRUE(waitUntil([&] { return output->consumedFrames() == int64_t(kPartFrames); }, 2s, drainTap));
        keepDraining(30ms);  // the ring runs dry: silence

        output->setPaused(true);
        ASSERT_EQ(output->write(second.data(), kPartFrames), kPartFrames);
        keepDraining(30ms);  // paused: silence, and the queued part waits
        EXPECT_EQ(output->consumedFrames(), int64_t(kPartFrames));
        EXPECT_EQ(output->queuedFrames(), kPartFrames);

        output->setPaused(false);
        ASSERT_TRUE(waitUntil([&] { return output->consumedFrames() == int64_t(2 * kPartFrames); }, 2s, drainTap));
        keepDraining(20ms);
        output->setTapEnabled(false);
        keepDraining(20ms);
        drainTap();
        dropped = output->tapDroppedFrames();
    }
    EXPECT_EQ(dropped, 0u);
    ASSERT_EQ(tapped.size() % (bufferFrames * 2), 0u) << "the tap receives whole callbacks";

    // Both parts, in order, each starting with a callback and separated by silence.
    const size_t firstStart = firstNonZero(tapped);
    ASSERT_LT(firstStart, tapped.size());
    EXPECT_EQ(firstStart % (bufferFrames * 2), 0u);
    ASSERT_TRUE(sameSamples(tapped, firstStart, first));
    const size_t firstEnd = firstStart + first.size();
    std::vector<float> rest(tapped.begin() + static_cast<std::ptrdiff_t>(firstEnd), tapped.end());
    const size_t secondStart = firstEnd + firstNonZero(rest);
    ASSERT_LT(secondStart, tapped.size());
    EXPECT_EQ(secondStart % (bufferFrames * 2), 0u);
    const size_t padding = bufferFrames - kPartFrames % bufferFrames;
    EXPECT_GE(secondStart - firstEnd, (padding + bufferFrames) * 2) << "at least the padding and a paused callback";
    ASSERT_TRUE(sameSamples(tapped, secondStart, second));
    EXPECT_TRUE(allZero(tapped, secondStart + second.size(), tapped.size()));

    // And the tap is exactly a stretch of what the device played.
    const std::vector<float> file = played();
    const size_t fileStart = firstNonZero(file);
    ASSERT_GE(fileStart, firstStart);
    const size_t offset = fileStart - firstStart;
    EXPECT_EQ(offset % (bufferFrames * 2), 0u);
    EXPECT_TRUE(sameSamples(file, offset, tapped)) << "the tap differs from the played sound";
}

}  // namespace
}  // namespace lumbrix
