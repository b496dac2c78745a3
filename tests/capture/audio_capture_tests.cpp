// The microphone, played by SDL's "disk" driver: it reads what the device captures from
// a raw file each case writes, so a case knows every sample the microphone heard (and
// silence once the file runs out). The driver sleeps SDL_DISKAUDIODELAY ms per device
// buffer; 2 ms for 1024 frames runs about ten times faster than real time.
#include "capture/audio_capture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kFrames = static_cast<size_t>(AudioCapture::kBufferFrames);
constexpr int kRate = 44100;

const char* const kStarting = "AudioCapture: Starting mic capture with AVAudioEngine...";
const char* const kAuthorized = "AudioCapture: Current microphone permission status: 3 (authorized)";
const char* const kDenied = "AudioCapture: Current microphone permission status: 2 (denied)";
const char* const kDeniedOrRestricted = "AudioCapture: Microphone permission denied or restricted";
const char* const kStopped = "AudioCapture: Mic engine stopped";

std::string startedLine(int channels) {
    return "AudioCapture: ✅ AVAudioEngine started, sampleRate=44100.0, channels=" + std::to_string(channels);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Distinct, exactly representable and growing well past full scale, so loss,
// reordering, a swapped channel or a clip all show.
std::vector<float> ramp(size_t frames, int channels) {
    std::vector<float> samples(frames * static_cast<size_t>(channels));
    for (size_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            const float magnitude = static_cast<float>(f + 1) / 256.0f;
            samples[f * static_cast<size_t>(channels) + static_cast<size_t>(c)] = c == 0 ? magnitude : -magnitude;
        }
    }
    return samples;
}

std::vector<float> sine(size_t frames, float amplitude, double hz) {
    std::vector<float> samples(frames);
    for (size_t f = 0; f < frames; ++f) {
        samples[f] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(f) / kRate));
    }
    return samples;
}

std::vector<float> square(size_t frames, size_t halfPeriod) {
    std::vector<float> samples(frames);
    for (size_t f = 0; f < frames; ++f) samples[f] = (f / halfPeriod) % 2 == 0 ? 1.0f : -1.0f;
    return samples;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Points standard output at a file for the life of the object. Unlike a capture that
// only hands its text over at the end, this can be read while the worker still prints,
// so a case can wait for a line.
class StdoutCapture {
public:
    explicit StdoutCapture(const std::string& path) : path_(path) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~StdoutCapture() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    std::vector<std::string> lines() const {
        std::ifstream in(path_);
        return linesOf(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    bool waitForLine(const std::string& line, size_t occurrences = 1) const {
        return waitUntil([&] {
            const auto all = lines();
            return static_cast<size_t>(std::count(all.begin(), all.end(), line)) >= occurrences;
        });
    }

private:
    std::string path_;
    int saved_ = -1;
};

// Keeps what the worker hands over; read from the test thread.
class Recorder {
public:
    AudioCapture::SampleBufferCallback callback() {
        return [this](const AudioSampleBuffer& buffer) {
            std::lock_guard lock(mutex_);
            buffers_.push_back(buffer);
        };
    }
    std::vector<AudioSampleBuffer> buffers() const {
        std::lock_guard lock(mutex_);
        return buffers_;
    }
    bool waitFor(size_t count) const {
        return waitUntil([&] { return buffers().size() >= count; });
    }

private:
    mutable std::mutex mutex_;
    std::vector<AudioSampleBuffer> buffers_;
};

std::vector<float> joined(const std::vector<AudioSampleBuffer>& buffers, size_t first, size_t count) {
    std::vector<float> samples;
    for (size_t i = first; i < first + count && i < buffers.size(); ++i) {
        samples.insert(samples.end(), buffers[i].planes.begin(), buffers[i].planes.end());
    }
    return samples;
}

class AudioCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.ok());
        inputPath_ = folder_.file("microphone.raw");
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILEIN", inputPath_.c_str(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "2", 1);
        capture_ = std::make_unique<AudioCapture>(mainQueue_);
        capture_->setOnMicSampleBuffer(recorder_.callback());
    }
    void TearDown() override {
        capture_.reset();
        ::unsetenv("SDL_AUDIODRIVER");
        ::unsetenv("SDL_DISKAUDIOFILEIN");
        ::unsetenv("SDL_DISKAUDIODELAY");
    }

    void writeInput(const std::vector<float>& samples) const {
        std::ofstream out(inputPath_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size() * sizeof(float)));
    }

    // Stops, and returns once the worker has said so.
    void stopAndWait(const StdoutCapture& out, size_t stopsSoFar = 0) {
        capture_->stop();
        ASSERT_TRUE(out.waitForLine(kStopped, stopsSoFar + 1));
    }

    test::TempFolder folder_;
    std::string inputPath_;
    std::shared_ptr<TaskQueue> mainQueue_ = std::make_shared<TaskQueue>();
    Recorder recorder_;
    std::unique_ptr<AudioCapture> capture_;
};

TEST_F(AudioCaptureTest, StartsIdleWithTheDocumentedDefaults) {
    EXPECT_FALSE(capture_->isMicEnabled);
    EXPECT_FALSE(capture_->isRunning());
    EXPECT_EQ(capture_->micGainDB(), 6.0f);
    EXPECT_EQ(capture_->sampleRate(), 44100.0);
    EXPECT_EQ(capture_->audioSamplesWritten(), 0);
}

TEST_F(AudioCaptureTest, DisabledStartOnlySaysSo) {
    writeInput(ramp(4 * kFrames, 1));
    StdoutCapture out(folder_.file("stdout.txt"));
    capture_->start();
    // The worker finishes whatever was posted before it exits, so anything the start
    // had set going would show by now.
    capture_.reset();
    EXPECT_EQ(out.lines(), std::vector<std::string>{"AudioCapture: Mic not enabled"});
    EXPECT_TRUE(recorder_.buffers().empty());
    EXPECT_EQ(mainQueue_->pending(), 0u);
}

class AudioCaptureChannelsTest : public AudioCaptureTest, public ::testing::WithParamInterface<int> {};

TEST_P(AudioCaptureChannelsTest, DeliversInterleavedBuffersStampedByFramesDelivered) {
    const int channels = GetParam();
    const std::vector<float> input = ramp(4 * kFrames, channels);
    writeInput(input);
    capture_->isMicEnabled = true;
    capture_->requestedChannels = channels;
    capture_->setMicGainDB(0.0f);
    StdoutCapture out(folder_.file("stdout.txt"));

    capture_->start();
    ASSERT_TRUE(recorder_.waitFor(4));
    EXPECT_TRUE(capture_->isRunning());
    EXPECT_EQ(capture_->sampleRate(), kRate);
    EXPECT_GE(capture_->audioSamplesWritten(), static_cast<int64_t>(4 * kFrames));
    stopAndWait(out);

    EXPECT_EQ(out.lines(), (std::vector<std::string>{kStarting, kAuthorized, startedLine(channels), kStopped}));
    EXPECT_FALSE(capture_->isRunning());
    EXPECT_EQ(capture_->audioSamplesWritten(), 0);

    const std::vector<AudioSampleBuffer> buffers = recorder_.buffers();
    for (size_t i = 0; i < buffers.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(buffers[i].interleaved);
        EXPECT_EQ(buffers[i].channels, channels);
        EXPECT_EQ(buffers[i].frameCount, static_cast<int64_t>(kFrames));
        EXPECT_EQ(buffers[i].planes.size(), kFrames * static_cast<size_t>(channels));
        EXPECT_EQ(buffers[i].sampleRate, kRate);
        EXPECT_EQ(buffers[i].timescale, kRate);
        EXPECT_EQ(buffers[i].presentationValue, static_cast<int64_t>(i * kFrames));
    }
    // At 0 dB nothing touches the samples, not even those beyond full scale.
    EXPECT_EQ(joined(buffers, 0, 4), input);
    // Nobody asked for a level, so nothing went to the main queue.
    EXPECT_EQ(mainQueue_->pending(), 0u);
}

INSTANTIATE_TEST_SUITE_P(MonoAndStereo, AudioCaptureChannelsTest, ::testing::Values(1, 2),
                         [](const auto& info) { return info.param == 1 ? "Mono" : "Stereo"; });

TEST_F(AudioCaptureTest, RunsItsWorkOnAThreadNamedAfterTheQueue) {
    writeInput(ramp(kFrames, 1));
    capture_->isMicEnabled = true;
    capture_->start();
    ASSERT_TRUE(recorder_.waitFor(1));
    bool found = false;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        // The kernel keeps the first 15 characters.
        found = found || name == std::string("AudioCapture.mic.queue").substr(0, 15);
    }
    EXPECT_TRUE(found);
}

TEST_F(AudioCaptureTest, DefaultSixDecibelsDoublesAndClipsAtFullScale) {
    const std::vector<float> pattern = {0.1f, -0.2f, 0.45f, -0.45f, 0.6f, -0.9f, 1.0f, 0.0f, 0.25f, -3.0f};
    std::vector<float> input;
    while (input.size() < 2 * kFrames) input.insert(input.end(), pattern.begin(), pattern.end());
    input.resize(2 * kFrames);
    writeInput(input);
    capture_->isMicEnabled = true;
    capture_->requestedChannels = 1;
    capture_->start();
    ASSERT_TRUE(recorder_.waitFor(2));

    const std::vector<float> got = joined(recorder_.buffers(), 0, 2);
    ASSERT_EQ(got.size(), input.size());
    const double gain = std::pow(10.0, 6.0 / 20.0);
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const double expected = std::min(1.0, std::max(-1.0, input[i] * gain));
        EXPECT_NEAR(got[i], expected, 1e-6);
        EXPECT_GE(got[i], -1.0f);
        EXPECT_LE(got[i], 1.0f);
    }
    // "Doubles", to within what 6 dB really is.
    EXPECT_NEAR(got[0], 0.2f, 0.001f);
    EXPECT_EQ(got[4], 1.0f);
    EXPECT_EQ(got[5], -1.0f);
    EXPECT_EQ(got[9], -1.0f);
}

TEST_F(AudioCaptureTest, AGainChangeAppliesFromTheNextBuffer) {
    writeInput(std::vector<float>(64 * kFrames, 0.5f));
    capture_->isMicEnabled = true;
    capture_->requestedChannels = 1;
    capture_->setMicGainDB(-20.0f);
    capture_->start();
    ASSERT_TRUE(recorder_.waitFor(1));
    capture_->setMicGainDB(0.0f);
    const size_t before = recorder_.buffers().size();
    ASSERT_TRUE(recorder_.waitFor(before + 2));

    const std::vector<AudioSampleBuffer> buffers = recorder_.buffers();
    EXPECT_NEAR(buffers[0].planes[0], 0.05f, 1e-6f);
    EXPECT_EQ(buffers.back().planes[0], 0.5f);
}

struct LevelCase {
    const char* name;
    std::vector<float> input;
    float gainDB;
    float expected;
    float tolerance;
};

void PrintTo(const LevelCase& param, std::ostream* out) { *out << param.name; }

class AudioCaptureLevelTest : public AudioCaptureTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(AudioCaptureLevelTest, PostsEachBuffersLevelToTheMainQueue) {
    const LevelCase& param = GetParam();
    writeInput(param.input);
    capture_->isMicEnabled = true;
    capture_->requestedChannels = 1;
    capture_->setMicGainDB(param.gainDB);
    std::vector<float> levels;  // touched on this thread only, when draining
    capture_->setOnMicLevel([&levels](float level) { levels.push_back(level); });
    capture_->start();
    ASSERT_TRUE(recorder_.waitFor(3));
    capture_->stop();
    capture_.reset();

    // Nothing arrives until the main thread runs its queue.
    EXPECT_TRUE(levels.empty());
    const size_t delivered = recorder_.buffers().size();
    EXPECT_EQ(mainQueue_->drain(), delivered);
    ASSERT_EQ(levels.size(), delivered);
    // Only the buffers cut from the file: afterwards the driver captures silence.
    const size_t fromFile = param.input.size() / kFrames;
    for (size_t i = 0; i < fromFile && i < levels.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(levels[i], param.expected, param.tolerance);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, AudioCaptureLevelTest,
    ::testing::Values(LevelCase{"Silence", std::vector<float>(3 * kFrames, 0.0f), 6.0f, 0.0f, 0.0f},
                      LevelCase{"FullScaleSquare", square(3 * kFrames, 50), 0.0f, 1.0f, 0.0f},
                      // Twice a full-scale square is clipped back to it first.
                      LevelCase{"BoostedSquare", square(3 * kFrames, 50), 6.0f, 1.0f, 0.0f},
                      // RMS of a sine is amplitude/√2; 1024 frames hold about ten periods.
                      LevelCase{"QuarterSine", sine(3 * kFrames, 0.25f, 440.0), 0.0f,
                                static_cast<float>(0.25 / std::sqrt(2.0) * 3.0), 0.01f},
                      // A broken sample must not pin the meter at full scale.
                      LevelCase{"NotANumber", std::vector<float>(3 * kFrames, std::numeric_limits<float>::quiet_NaN()),
                                0.0f, 0.0f, 0.0f}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AudioCaptureTest, StopReportsAndARestartBeginsAgainAtZero) {
    const std::vector<float> input = ramp(8 * kFrames, 1);
    writeInput(input);
    capture_->isMicEnabled = true;
    capture_->requestedChannels = 1;
    capture_->setMicGainDB(0.0f);
    StdoutCapture out(folder_.file("stdout.txt"));

    capture_->start();
    ASSERT_TRUE(recorder_.waitFor(3));
    // Already running: nothing happens, not even a line.
    capture_->start();
    // Straight after a stop the worker may not have stopped yet; the start must still count.
    capture_->stop();
    capture_->start();
    ASSERT_TRUE(out.waitForLine(startedLine(1), 2));
    ASSERT_TRUE(waitUntil([&] {
        const auto buffers = recorder_.buffers();
        return buffers.size() >= 3 && buffers.back().presentationValue >= static_cast<int64_t>(2 * kFrames) &&
               std::count_if(buffers.begin(), buffers.end(), [](const auto& b) { return b.presentationValue == 0; }) ==
                   2;
    }));
    stopAndWait(out, 1);
    // Stopping what is stopped says nothing.
    capture_->stop();
    capture_.reset();

    // The second start announces itself on this thread, the stop on the worker: either may
    // come first.
    const std::vector<std::string> lines = out.lines();
    const std::vector<std::string> stopFirst = {kStarting, kAuthorized, startedLine(1), kStopped,
                                                kStarting, kAuthorized, startedLine(1), kStopped};
    const std::vector<std::string> startFirst = {kStarting, kAuthorized, startedLine(1), kStarting,
                                                 kStopped,  kAuthorized, startedLine(1), kStopped};
    EXPECT_TRUE(lines == stopFirst || lines == startFirst) << ::testing::PrintToString(lines);
    const std::vector<AudioSampleBuffer> buffers = recorder_.buffers();
    size_t restart = 1;
    while (restart < buffers.size() && buffers[restart].presentationValue != 0) ++restart;
    ASSERT_LT(restart + 2, buffers.size());
    for (size_t i = 0; i < buffers.size(); ++i) {
        SCOPED_TRACE(i);
        const size_t inRun = i < restart ? i : i - restart;
        EXPECT_EQ(buffers[i].presentationValue, static_cast<int64_t>(inRun * kFrames));
    }
    // The device was opened anew, so the second run hears the file from its start.
    EXPECT_EQ(joined(buffers, restart, 2), joined(buffers, 0, 2));
    EXPECT_EQ(joined(buffers, restart, 2), std::vector<float>(input.begin(), input.begin() + 2 * kFrames));
}

struct UnavailableCase {
    const char* name;
    const char* driver;
    bool inputExists;
};

void PrintTo(const UnavailableCase& param, std::ostream* out) { *out << param.name; }

class AudioCaptureUnavailableTest : public AudioCaptureTest, public ::testing::WithParamInterface<UnavailableCase> {};

TEST_P(AudioCaptureUnavailableTest, TakesTheDeniedPathAndTellsTheCallerWhy) {
    const UnavailableCase& param = GetParam();
    ::setenv("SDL_AUDIODRIVER", param.driver, 1);
    if (param.inputExists) writeInput(ramp(4 * kFrames, 1));
    capture_->isMicEnabled = true;
    capture_->requestedChannels = 1;
    std::vector<std::string> reasons;
    capture_->setOnMicUnavailable([&reasons](const std::string& reason) { reasons.push_back(reason); });
    StdoutCapture out(folder_.file("stdout.txt"));

    capture_->start();
    ASSERT_TRUE(out.waitForLine(kDeniedOrRestricted));
    ASSERT_TRUE(waitUntil([&] { return mainQueue_->pending() == 1; }));
    EXPECT_TRUE(reasons.empty());
    mainQueue_->drain();
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_FALSE(reasons[0].empty());
    EXPECT_EQ(out.lines(), (std::vector<std::string>{kStarting, kDenied, kDeniedOrRestricted}));
    EXPECT_FALSE(capture_->isRunning());
    EXPECT_EQ(capture_->sampleRate(), 44100.0);

    // A refusal leaves nothing half open: once the microphone is there, a start records.
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    writeInput(ramp(4 * kFrames, 1));
    capture_->start();
    ASSERT_TRUE(recorder_.waitFor(1));
    EXPECT_EQ(recorder_.buffers()[0].presentationValue, 0);
    EXPECT_EQ(mainQueue_->pending(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Devices, AudioCaptureUnavailableTest,
                         ::testing::Values(UnavailableCase{"NoSuchDriver", "no-such-driver", true},
                                           UnavailableCase{"MissingInputFile", "disk", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumbrix
