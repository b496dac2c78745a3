// The video file source on clips made by ffmpeg for each test: which picture shows
// when, seeking, pausing, looping, the sound's start lines, the recording tap, and
// files it cannot play. SDL's dummy driver stands in for the sound card.
#include "sources/file_texture_source.h"

#include <epoxy/gl.h>
#include <gmock/gmock.h>
#include <stdlib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "platform/main_queue.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace lumbrix {
namespace {

using Clock = std::chrono::steady_clock;
using ::testing::HasSubstr;
using ::testing::Not;
using Rgb = std::array<int, 3>;

const Rgb kRed{255, 0, 0}, kLime{0, 255, 0}, kBlue{0, 0, 255};

std::string colorName(const Rgb& c) {
    return "(" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ", " + std::to_string(c[2]) + ")";
}

bool near(const Rgb& a, const Rgb& b) {
    for (size_t i = 0; i < 3; ++i) {
        if (std::abs(a[i] - b[i]) > 40) return false;  // H.264 in yuv420p moves solid colours a little
    }
    return true;
}

class FileSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        auto created = HeadlessGLContext::create();
        ASSERT_TRUE(created) << created.error().description;
        context_.emplace(std::move(created.value()));
        ASSERT_TRUE(folder_.ok());
    }
    void TearDown() override {
        source.reset();
        queue->drain();
        context_.reset();
    }

    std::string clip(const std::string& name, const test::ClipSpec& spec) {
        const std::string path = folder_.file(name);
        std::string error;
        EXPECT_TRUE(test::makeClip(path, spec, &error)) << error;
        return path;
    }

    // Creates, configures and prepares a source the way the view model does, and
    // returns what preparing printed.
    std::string open(const std::string& path, bool playing = true, bool looping = true, bool playsSound = true) {
        source = FileTextureSource::create(path, queue, playsSound);
        source->setLooping(looping);
        source->setPlaying(playing);
        ::testing::internal::CaptureStdout();
        source->prepare();
        return ::testing::internal::GetCapturedStdout();
    }

    // Plays the display: asks for the texture every 5 ms until `done` or the limit.
    bool displayUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(6)) {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            source->texture();
            queue->drain();
            if (done()) return true;
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void displayFor(std::chrono::milliseconds span) {
        displayUntil([] { return false; }, span);
    }

    // The colour in the middle of the source's texture.
    Rgb shownColor() {
        const GLuint texture = source->texture();
        if (texture == 0) return {-1, -1, -1};
        GLint width = 0, height = 0;
        glBindTexture(GL_TEXTURE_2D, texture);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        glBindTexture(GL_TEXTURE_2D, 0);
        GLFramebuffer framebuffer = GLFramebuffer::generate();
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
        uint8_t pixel[4] = {};
        glReadPixels(width / 2, height / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return {pixel[0], pixel[1], pixel[2]};
    }
    bool showsSoon(const Rgb& color) {
        return displayUntil([&] { return near(shownColor(), color); });
    }
    double now() const { return source->currentSeconds().value_or(-1.0); }

    std::shared_ptr<TaskQueue> queue = std::make_shared<TaskQueue>();
    std::shared_ptr<FileTextureSource> source;

private:
    std::optional<HeadlessGLContext> context_;
    test::TempFolder folder_;
};

TEST_F(FileSourceTest, PreparesSoundAndPlaysEachSecondsPictureOnTime) {
    const std::string printed = open(clip("colours.mp4", {}));
    EXPECT_THAT(printed, HasSubstr("FileTextureSource: AVAudioEngine setup complete, format: 2 ch, 48000 Hz"));
    EXPECT_THAT(printed, HasSubstr("FileTextureSource: Audio playback started at frame 0\n"));
    EXPECT_TRUE(source->hasSound());
    ASSERT_TRUE(source->durationSeconds().has_value());
    EXPECT_NEAR(*source->durationSeconds(), 3.0, 0.1);
    EXPECT_TRUE(source->isSeekable());

    ASSERT_TRUE(showsSoon(kRed)) << colorName(shownColor());
    const auto started = Clock::now();
    ASSERT_TRUE(displayUntil([&] { return near(shownColor(), kLime); })) << "second 1 never showed";
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    EXPECT_GT(elapsed, 0.6) << "the picture ran ahead of the clock";
    EXPECT_LT(elapsed, 1.6) << "the picture fell behind the clock";
    EXPECT_NEAR(now(), 1.0, 0.2);
}

TEST_F(FileSourceTest, SeekWhilePausedMovesThePictureAndTheNextPlayStartsTheSoundThere) {
    const std::string printed = open(clip("colours.mp4", {}), /*playing=*/false);
    EXPECT_THAT(printed, Not(HasSubstr("started")));
    ASSERT_TRUE(showsSoon(kRed));

    ::testing::internal::CaptureStdout();
    source->seek(2.5);
    ASSERT_TRUE(showsSoon(kBlue)) << colorName(shownColor());
    EXPECT_NEAR(*source->shownFrameSeconds(), 2.5, 1.0 / 30 + 1e-6) << "the frame showing at 2.5 s";
    EXPECT_LE(*source->shownFrameSeconds(), 2.5 + 1e-6);
    EXPECT_DOUBLE_EQ(now(), 2.5);
    displayFor(std::chrono::milliseconds(150));
    EXPECT_DOUBLE_EQ(now(), 2.5) << "paused: the clock stands";
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "a seek while paused starts no sound";

    ::testing::internal::CaptureStdout();
    source->setPlaying(true);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "FileTextureSource: Audio playback started at frame 120000\n");
    ASSERT_TRUE(displayUntil([&] { return now() > 2.7; }, std::chrono::seconds(2)));
}

TEST_F(FileSourceTest, NegativeAndNonNumberSeeksGoToTheStart) {
    open(clip("colours.mp4", {}), /*playing=*/false);
    for (double target : {-4.0, std::nan("")}) {
        source->seek(2.2);
        ASSERT_TRUE(showsSoon(kBlue));
        source->seek(target);
        ASSERT_TRUE(showsSoon(kRed)) << target;
        EXPECT_DOUBLE_EQ(now(), 0.0);
    }
}

TEST_F(FileSourceTest, PausingFreezesPictureAndClock) {
    open(clip("colours.mp4", {}));
    ASSERT_TRUE(displayUntil([&] { return now() > 0.3; }));
    source->setPlaying(false);
    const double stoodAt = now();
    const uint64_t shown = source->framesShown();
    displayFor(std::chrono::milliseconds(250));
    EXPECT_DOUBLE_EQ(now(), stoodAt);
    EXPECT_EQ(source->framesShown(), shown);
    source->setPlaying(true);
    EXPECT_TRUE(displayUntil([&] { return now() > stoodAt + 0.2; }, std::chrono::seconds(2)));
}

TEST_F(FileSourceTest, LoopingRestartsAtZeroAndOtherwiseTheLastPictureStays) {
    test::ClipSpec spec;
    spec.secondColors = {"red", "blue"};
    const std::string path = clip("two.mp4", spec);

    open(path, /*playing=*/true, /*looping=*/true);
    source->seek(1.6);
    ASSERT_TRUE(showsSoon(kBlue));
    ASSERT_TRUE(displayUntil([&] { return near(shownColor(), kRed); }, std::chrono::seconds(3)))
        << "no restart after the end";
    EXPECT_LT(now(), 1.0);
    EXPECT_TRUE(displayUntil([&] { return now() > 0.3; }, std::chrono::seconds(2))) << "playing on after the loop";

    open(path, /*playing=*/true, /*looping=*/false);
    source->seek(1.6);
    ASSERT_TRUE(displayUntil([&] { return now() >= 1.99; }, std::chrono::seconds(3)));
    const uint64_t shown = source->framesShown();
    displayFor(std::chrono::milliseconds(400));
    EXPECT_TRUE(near(shownColor(), kBlue)) << "the last picture stays";
    EXPECT_EQ(source->framesShown(), shown);
}

// A display drawing at the file's own rate, its ticks a jitter either side of the frame
// times, must still show every frame; one stalled tick may drop pictures, after which
// the picture is back within a frame and a half of the clock. The main queue turns
// between ticks, as the event loop does.
TEST_F(FileSourceTest, ADisplayAtTheFilesRateShowsEveryFrameThroughTickJitter) {
    using namespace std::chrono;
    constexpr double kFrame = 1.0 / 30.0;
    struct Case {
        const char* name;
        std::function<milliseconds(int)> offset;  // of tick k from k frames after Play
        int stallAt;                              // this tick waits 150 ms more; -1: none
    };
    const Case cases[] = {
        {"jitter of ±3 ms", [](int k) { return milliseconds(k % 2 ? -3 : 3); }, -1},
        {"jitter of +6/−2 ms", [](int k) { return milliseconds(k % 3 ? -2 : 6); }, -1},
        {"one stalled tick", [](int) { return milliseconds(0); }, 20},
    };
    test::ClipSpec spec;
    spec.secondColors = {"red", "lime"};
    spec.sineHz = 0.0;
    const std::string path = clip("frames.mp4", spec);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open(path, /*playing=*/false, /*looping=*/false, /*playsSound=*/false);
        ASSERT_TRUE(displayUntil([&] { return source->framesShown() > 0; }));
        source->setPlaying(true);
        const auto play = Clock::now();
        int skipped = 0;
        double worstLag = 0.0;
        double previous = 0.0;
        for (int k = 1; k < 40; ++k) {
            auto at = play + duration_cast<nanoseconds>(duration<double>(k * kFrame)) + c.offset(k);
            if (k == c.stallAt) at += milliseconds(150);
            while (Clock::now() < at) {
                queue->drain();
                std::this_thread::sleep_until(std::min(at, Clock::now() + milliseconds(5)));
            }
            const double planned = duration<double>(at - play).count();
            source->texture();
            const double shown = source->shownFrameSeconds().value_or(-1.0);
            const double clock = now();
            // A loaded machine may wake this thread late: such a tick may rightly drop.
            if (k != c.stallAt && clock - planned < 0.006) {
                skipped += std::max(0, static_cast<int>(std::lround((shown - previous) / kFrame)) - 1);
                if (k > c.stallAt + 1) worstLag = std::max(worstLag, clock - shown);
            }
            previous = shown;
        }
        EXPECT_EQ(skipped, 0);
        EXPECT_LT(worstLag, 1.5 * kFrame + 0.004);
    }
}

TEST_F(FileSourceTest, TapHandsOverWhatPlaysAsStereoWithTheGainAndASampleClock) {
    test::ClipSpec spec;
    spec.sineAmplitude = 0.1;
    spec.secondColors = {"red", "red", "red", "red"};
    open(clip("sine.mp4", spec));
    std::vector<float> levels;
    source->setOnRecordingLevel([&](float level) { levels.push_back(level); });
    EXPECT_FLOAT_EQ(source->recordingGainDB(), -8.0f);
    source->setRecordingGainDB(0.0f);

    std::mutex mutex;
    std::vector<AudioSampleBuffer> buffers;
    ::testing::internal::CaptureStdout();
    source->installRecordingTap([&](const AudioSampleBuffer& buffer) {
        std::lock_guard lock(mutex);
        buffers.push_back(buffer);
    });
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "FileTextureSource: Audio tap installed for recording\n");
    EXPECT_DOUBLE_EQ(source->recordSampleRate(), 48000.0);
    const auto installed = Clock::now();
    displayFor(std::chrono::milliseconds(1200));
    const double elapsed = std::chrono::duration<double>(Clock::now() - installed).count();

    std::lock_guard lock(mutex);
    ASSERT_GE(buffers.size(), 5u);
    int64_t expectedStart = 0;
    for (const AudioSampleBuffer& buffer : buffers) {
        EXPECT_EQ(buffer.frameCount, 4096);
        EXPECT_EQ(buffer.planes.size(), 2u * 4096);
        EXPECT_EQ(buffer.timescale, 48000);
        EXPECT_EQ(buffer.presentationValue, expectedStart) << "stamps count samples from the installation";
        expectedStart += buffer.frameCount;
    }
    EXPECT_EQ(source->recordSamplesWritten(), expectedStart);
    // All that played reached the tap, give or take the block being filled.
    EXPECT_NEAR(static_cast<double>(expectedStart), elapsed * 48000.0, 2 * 4096 + 0.1 * elapsed * 48000.0);

    // A middle buffer is all sine: peak 0.1 at 0 dB, RMS 0.1 / √2, level three times that.
    const AudioSampleBuffer& middle = buffers[buffers.size() / 2];
    float peak = 0.0f;
    for (float sample : middle.planes) peak = std::max(peak, std::abs(sample));
    EXPECT_NEAR(peak, 0.1f, 0.012f);
    ASSERT_FALSE(levels.empty());
    EXPECT_NEAR(levels[levels.size() / 2], 3.0 * 0.1 / std::sqrt(2.0), 0.04);
}

// A recording places the file's sound by the tap's sample count, so the count must
// follow the clock through a pause and a seek (the device plays silence meanwhile)
// instead of standing still and pulling the later sound early.
TEST_F(FileSourceTest, TapKeepsCountingThroughPauseAndSeek) {
    test::ClipSpec spec;
    spec.secondColors = {"red", "lime", "blue", "red"};
    open(clip("paused.mp4", spec));
    std::atomic<int64_t> tapped{0};
    source->installRecordingTap([&](const AudioSampleBuffer& buffer) { tapped += buffer.frameCount; });
    const auto installed = Clock::now();
    displayFor(std::chrono::milliseconds(400));
    source->setPlaying(false);
    displayFor(std::chrono::milliseconds(700));
    source->seek(2.5);
    displayFor(std::chrono::milliseconds(300));
    source->setPlaying(true);
    displayFor(std::chrono::milliseconds(400));
    const double elapsed = std::chrono::duration<double>(Clock::now() - installed).count();
    source->removeRecordingTap();
    EXPECT_NEAR(static_cast<double>(tapped.load()), elapsed * 48000.0, 2 * 4096 + 0.1 * elapsed * 48000.0);
}

TEST_F(FileSourceTest, TapGainReinstallAndRemoval) {
    test::ClipSpec spec;
    spec.sineAmplitude = 0.5;
    spec.secondColors = {"red", "red", "red", "red"};
    open(clip("sine.mp4", spec));
    std::mutex mutex;
    std::vector<AudioSampleBuffer> first, second;
    source->installRecordingTap([&](const AudioSampleBuffer& b) {
        std::lock_guard lock(mutex);
        first.push_back(b);
    });
    displayFor(std::chrono::milliseconds(500));
    // Installing again replaces the callback and restarts the count.
    source->installRecordingTap([&](const AudioSampleBuffer& b) {
        std::lock_guard lock(mutex);
        second.push_back(b);
    });
    size_t firstCount = 0;
    {
        std::lock_guard lock(mutex);
        firstCount = first.size();
    }
    displayFor(std::chrono::milliseconds(700));
    {
        std::lock_guard lock(mutex);
        EXPECT_GE(firstCount, 1u);
        EXPECT_EQ(first.size(), firstCount) << "the old callback gets nothing more";
        ASSERT_GE(second.size(), 3u);
        EXPECT_EQ(second.front().presentationValue, 0);
        // The initial gain of -8 dB scales the 0.5 peak by about 0.398.
        float peak = 0.0f;
        for (float sample : second[second.size() / 2].planes) peak = std::max(peak, std::abs(sample));
        EXPECT_NEAR(peak, 0.5f * std::pow(10.0f, -8.0f / 20.0f), 0.03f);
    }
    ::testing::internal::CaptureStdout();
    source->removeRecordingTap();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "FileTextureSource: Audio tap removed\n");
    EXPECT_EQ(source->recordSamplesWritten(), 0);
    size_t secondCount = 0;
    {
        std::lock_guard lock(mutex);
        secondCount = second.size();
    }
    displayFor(std::chrono::milliseconds(300));
    std::lock_guard lock(mutex);
    EXPECT_EQ(second.size(), secondCount) << "nothing after removal";
}

TEST_F(FileSourceTest, MonoSoundReachesTheTapOnBothSides) {
    test::ClipSpec spec;
    spec.audioChannels = 1;
    spec.secondColors = {"red", "red"};
    open(clip("mono.mp4", spec));
    std::mutex mutex;
    std::vector<AudioSampleBuffer> buffers;
    source->installRecordingTap([&](const AudioSampleBuffer& b) {
        std::lock_guard lock(mutex);
        buffers.push_back(b);
    });
    displayFor(std::chrono::milliseconds(500));
    std::lock_guard lock(mutex);
    ASSERT_FALSE(buffers.empty());
    const AudioSampleBuffer& buffer = buffers.back();
    float peak = 0.0f;
    for (int64_t i = 0; i < buffer.frameCount; ++i) {
        ASSERT_EQ(buffer.left()[i], buffer.right()[i]) << i;
        peak = std::max(peak, std::abs(buffer.left()[i]));
    }
    EXPECT_GT(peak, 0.05f) << "sound, not silence";
}

TEST_F(FileSourceTest, WithoutSoundThePicturePlaysOnTheWallClock) {
    test::ClipSpec spec;
    spec.sineHz = 0.0;  // no audio stream
    const std::string printed = open(clip("silent.mp4", spec));
    EXPECT_THAT(printed, HasSubstr("FileTextureSource: Failed to setup audio playback: "));
    EXPECT_THAT(printed, Not(HasSubstr("started at frame")));
    EXPECT_FALSE(source->hasSound());
    ASSERT_TRUE(showsSoon(kRed));
    const auto started = Clock::now();
    ASSERT_TRUE(displayUntil([&] { return near(shownColor(), kLime); }));
    EXPECT_NEAR(std::chrono::duration<double>(Clock::now() - started).count(), 1.0, 0.4);
    ::testing::internal::CaptureStdout();
    source->installRecordingTap([](const AudioSampleBuffer&) {});
    source->removeRecordingTap();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "no tap without sound";
}

TEST_F(FileSourceTest, WithoutASoundCardThePicturePlaysSilently) {
    ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    const std::string printed = open(clip("colours.mp4", {}));
    EXPECT_THAT(printed, HasSubstr("FileTextureSource: Failed to setup audio playback: "));
    EXPECT_FALSE(source->hasSound());
    ASSERT_TRUE(showsSoon(kRed));
    EXPECT_TRUE(displayUntil([&] { return now() > 0.4; }, std::chrono::seconds(2)));
}

TEST_F(FileSourceTest, ASilentSourceOpensNoDeviceAndPlaysOnTheWallClock) {
    const std::string printed = open(clip("colours.mp4", {}), true, true, false);
    EXPECT_THAT(printed, Not(HasSubstr("AVAudioEngine")));
    EXPECT_FALSE(source->hasSound());
    EXPECT_EQ(source->sound(), nullptr) << "nothing for a recording to take";
    ASSERT_TRUE(showsSoon(kRed));
    const auto started = Clock::now();
    ASSERT_TRUE(displayUntil([&] { return near(shownColor(), kLime); }));
    EXPECT_NEAR(std::chrono::duration<double>(Clock::now() - started).count(), 1.0, 0.4);
}

TEST_F(FileSourceTest, FilesItCannotPlayGiveNoPictureAndNoDuration) {
    std::vector<std::string> paths;
    paths.push_back(clip("ok.mp4", {}) + ".missing");
    const std::string garbage = clip("ok.mp4", {}) + ".garbage";
    ASSERT_TRUE(test::makeFileOfBytes(garbage, test::noiseBytes(20000)));
    paths.push_back(garbage);
    const std::string empty = garbage + ".empty";
    ASSERT_TRUE(test::makeFileOfBytes(empty, ""));
    paths.push_back(empty);
    const std::string soundOnly = garbage + ".m4a";
    ASSERT_TRUE(test::makeAudioOnlyClip(soundOnly, 1.0));
    paths.push_back(soundOnly);
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const std::string printed = open(path);
        EXPECT_THAT(printed, HasSubstr("FileTextureSource: Failed to setup audio playback: "));
        displayFor(std::chrono::milliseconds(50));
        EXPECT_EQ(source->texture(), 0u);
        EXPECT_FALSE(source->durationSeconds().has_value());
        EXPECT_FALSE(source->currentSeconds().has_value());
        source->seek(1.0);
        source->setPlaying(false);
        source->stop();
    }
}

TEST_F(FileSourceTest, StopSilencesOnceAndKeepsTheLastPicture) {
    open(clip("colours.mp4", {}));
    ASSERT_TRUE(showsSoon(kRed));
    const GLuint texture = source->texture();
    ::testing::internal::CaptureStdout();
    source->stop();
    source->stop();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "FileTextureSource: Audio playback stopped\n");
    EXPECT_EQ(source->texture(), texture);
    EXPECT_FALSE(source->durationSeconds().has_value());
}

}  // namespace
}  // namespace lumbrix
