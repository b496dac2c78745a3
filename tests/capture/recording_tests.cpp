// Recording the view: frames from a real (headless) GL texture through the GPU read-back
// into an MP4, checked with ffprobe and ffmpeg; every stop path and its lines.
#include <epoxy/gl.h>
#include <gmock/gmock.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>

#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "capture/audio_capture.h"
#include "capture/render_capture.h"
#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "platform/main_queue.h"
#include "tests/support/command_output.h"
#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

using test::commandOutput;

std::string probe(const std::string& path) {
    return commandOutput("ffprobe -v error -show_entries stream=codec_name,profile,width,height,sample_rate,channels,"
               "nb_read_frames,start_time:format=format_name,duration -count_frames -of default=nw=1 '" +
               path + "'");
}

// The first decoded frame as RGB bytes, top row first.
std::vector<uint8_t> firstFrameRgb(const std::string& path) {
    const std::string out = commandOutput("ffmpeg -v error -i '" + path + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    return std::vector<uint8_t>(out.begin(), out.end());
}

// A texture stored as GL stores render targets (bottom row first) whose upper half,
// as seen, is red and lower half blue; with `quarters`, the left half of the upper half
// is green instead.
GLTexture makePicture(int width, int height, bool quarters = false) {
    std::vector<uint8_t> stored;
    for (int row = 0; row < height; ++row) {
        const bool upper = row >= height / 2;  // the last stored rows are the top
        for (int x = 0; x < width; ++x) {
            const bool green = quarters && upper && x < width / 2;
            stored.insert(stored.end(), {static_cast<uint8_t>(upper && !green ? 255 : 0),
                                         static_cast<uint8_t>(green ? 255 : 0), static_cast<uint8_t>(upper ? 0 : 255), 255});
        }
    }
    GLTexture texture = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, stored.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = HeadlessGLContext::create();
        ASSERT_TRUE(created) << created.error().description;
        context_.emplace(std::move(created.value()));
        ASSERT_TRUE(folder.ok());
    }
    void TearDown() override {
        capture.reset();
        queue->drain();
        context_.reset();
    }

    // Hands `texture` to the capture at about `fps` for `seconds`.
    void feed(const CaptureTexture& texture, double seconds, int fps = 30) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            capture->capture(texture);
            queue->drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1000 / fps));
        }
    }

    // Stops and waits for the completion, running the main queue meanwhile; returns the
    // result and what was printed.
    std::pair<std::optional<std::variant<std::string, Error>>, std::string> stop() {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<std::variant<std::string, Error>> result;
        ::testing::internal::CaptureStdout();
        capture->stopRecording([&](std::variant<std::string, Error> outcome) {
            std::lock_guard lock(mutex);
            result = std::move(outcome);
            done.notify_all();
        });
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            queue->drain();
            std::unique_lock lock(mutex);
            if (result || Clock::now() > deadline) break;
            done.wait_for(lock, std::chrono::milliseconds(10));
        }
        queue->drain();
        return {std::move(result), ::testing::internal::GetCapturedStdout()};
    }

    std::shared_ptr<TaskQueue> queue = std::make_shared<TaskQueue>();
    std::shared_ptr<RenderCapture> capture = RenderCapture::create(queue);
    test::TempFolder folder;

private:
    std::optional<HeadlessGLContext> context_;
};

TEST_F(RecordingTest, StopWithNothingRecordingAnswersNoActiveRecording) {
    auto [result, printed] = stop();
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(std::holds_alternative<Error>(*result));
    EXPECT_EQ(std::get<Error>(*result), Error("RenderCapture", -10, "No active recording"));
    EXPECT_EQ(printed,
              "Audio: stopRecording called, state: idle, writer: false, input: false\n"
              "Audio: stopRecording failed - no writer or input\n");
}

TEST_F(RecordingTest, RecordsTheViewUprightAtWallClockTimesAndFinishesWithEveryLine) {
    GLTexture picture = makePicture(64, 48);
    const std::string path = folder.file("view.mp4");
    ASSERT_FALSE(capture->startRecording(path, 64, 48, 30, 2000000, false, false));
    EXPECT_EQ(capture->state(), RecordingState::recording);
    feed({picture.id(), 64, 48, GL_RGBA8}, 1.0);
    auto [result, printed] = stop();
    EXPECT_EQ(capture->state(), RecordingState::idle);
    ASSERT_TRUE(result.has_value()) << "no completion";
    ASSERT_TRUE(std::holds_alternative<std::string>(*result)) << std::get<Error>(*result).description;
    EXPECT_EQ(std::get<std::string>(*result), path);
    EXPECT_EQ(printed,
              "Audio: stopRecording called, state: recording, writer: true, input: true\n"
              "Audio: Marking video input as finished\n"
              "Audio: Video input marked as finished\n"
              "Audio: No microphone input to mark as finished\n"
              "Audio: Checking writer status before finish: 1\n"
              "Audio: Finishing writer, status: 1\n"
              "Audio: Writer finishWriting completed, status: 2\n"
              "Audio: Writer finished successfully\n");

    const std::string info = probe(path);
    EXPECT_THAT(info, HasSubstr("codec_name=h264"));
    EXPECT_THAT(info, HasSubstr("profile=High"));
    EXPECT_THAT(info, HasSubstr("width=64\nheight=48"));
    EXPECT_THAT(info, HasSubstr("format_name=mov,mp4"));
    // Every frame the capture appended is in the file (about 30 were offered; a busy
    // machine may skip some, which is the point of never waiting).
    EXPECT_GE(capture->framesAppended(), 10u);
    EXPECT_THAT(info, HasSubstr("nb_read_frames=" + std::to_string(capture->framesAppended()) + "\n"));

    const std::vector<uint8_t> rgb = firstFrameRgb(path);
    ASSERT_EQ(rgb.size(), size_t{64 * 48 * 3});
    auto at = [&](int x, int y) { return &rgb[(static_cast<size_t>(y) * 64 + x) * 3]; };
    EXPECT_GT(at(32, 10)[0], 200);  // top: red
    EXPECT_LT(at(32, 10)[2], 60);
    EXPECT_GT(at(32, 38)[2], 200);  // bottom: blue
    EXPECT_LT(at(32, 38)[0], 60);
}

TEST_F(RecordingTest, ALargerViewThanTheMovieGivesItsTopLeftCorner) {
    GLTexture picture = makePicture(64, 48, /*quarters=*/true);
    const std::string path = folder.file("corner.mp4");
    ASSERT_FALSE(capture->startRecording(path, 32, 24, 30, 1000000, false, false));
    feed({picture.id(), 64, 48, GL_RGBA8}, 0.4);
    auto [result, printed] = stop();
    ASSERT_TRUE(result && std::holds_alternative<std::string>(*result)) << printed;
    const std::vector<uint8_t> rgb = firstFrameRgb(path);
    ASSERT_EQ(rgb.size(), size_t{32 * 24 * 3});
    const uint8_t* middle = &rgb[(12 * 32 + 16) * 3];
    EXPECT_GT(middle[1], 200) << "the green top-left quarter fills the movie";
    EXPECT_LT(middle[0], 60);
}

TEST_F(RecordingTest, AudioTracksFollowTheVideoInOrderAndTheMicrophoneIsAnnounced) {
    GLTexture picture = makePicture(64, 48);
    const std::string path = folder.file("sound.mp4");
    ::testing::internal::CaptureStdout();
    ASSERT_FALSE(capture->startRecording(path, 64, 48, 30, 1000000, true, true));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Audio: microphone writer input added (AAC)\n");

    // The video file's sound: planar stereo at 48 kHz; the microphone: interleaved mono.
    std::thread producers([&] {
        int64_t written = 0;
        for (int block = 0; block < 20; ++block) {
            AudioSampleBuffer source;
            source.sampleRate = 48000;
            source.frameCount = 2400;
            source.planes.assign(2 * 2400, 0.25f);
            source.presentationValue = written;
            source.timescale = 48000;
            capture->appendSourceAudio(source);
            AudioSampleBuffer mic;
            mic.sampleRate = 44100;
            mic.channels = 1;
            mic.interleaved = true;
            mic.frameCount = 2205;
            mic.planes.assign(2205, -0.25f);
            mic.presentationValue = written * 44100 / 48000;
            mic.timescale = 44100;
            capture->appendMicrophone(mic);
            written += 2400;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    feed({picture.id(), 64, 48, GL_RGBA8}, 1.0);
    producers.join();
    auto [result, printed] = stop();
    ASSERT_TRUE(result && std::holds_alternative<std::string>(*result)) << printed;
    EXPECT_THAT(printed, HasSubstr("Audio: Marking microphone input as finished\n"
                                   "Audio: Microphone input marked as finished\n"));

    const std::string info = probe(path);
    const size_t video = info.find("codec_name=h264");
    const size_t firstAudio = info.find("codec_name=aac");
    ASSERT_NE(video, std::string::npos);
    ASSERT_NE(firstAudio, std::string::npos);
    EXPECT_LT(video, firstAudio) << "video first";
    EXPECT_NE(info.find("codec_name=aac", firstAudio + 1), std::string::npos) << "two sound tracks:\n" << info;
    EXPECT_THAT(info, HasSubstr("sample_rate=48000\nchannels=2"));

    // All tracks start together: the sound at 0, the picture at its first frame's wall
    // time since the start, which comes within a frame or two.
    const std::string starts = commandOutput("ffprobe -v error -show_entries stream=codec_type,start_time -of csv=p=0 '" + path + "'");
    double videoStart = -1, firstAudioStart = -1;
    for (size_t at = 0; at < starts.size();) {
        const size_t end = starts.find('\n', at);
        const std::string line = starts.substr(at, end - at);
        const size_t comma = line.find(',');
        if (comma != std::string::npos) {
            const double value = std::atof(line.c_str() + comma + 1);
            if (line.rfind("video", 0) == 0) videoStart = value;
            if (line.rfind("audio", 0) == 0 && firstAudioStart < 0) firstAudioStart = value;
        }
        if (end == std::string::npos) break;
        at = end + 1;
    }
    EXPECT_GE(videoStart, 0.0);
    EXPECT_LT(videoStart, 0.1) << starts;
    EXPECT_DOUBLE_EQ(firstAudioStart, 0.0) << starts;
}

TEST_F(RecordingTest, ASecondStopWhileFinishingGetsTheSameFile) {
    GLTexture picture = makePicture(64, 48);
    const std::string path = folder.file("twice.mp4");
    ASSERT_FALSE(capture->startRecording(path, 64, 48, 30, 1000000, false, false));
    feed({picture.id(), 64, 48, GL_RGBA8}, 0.3);
    std::mutex mutex;
    std::vector<std::variant<std::string, Error>> results;
    auto record = [&](std::variant<std::string, Error> outcome) {
        std::lock_guard lock(mutex);
        results.push_back(std::move(outcome));
    };
    ::testing::internal::CaptureStdout();
    capture->stopRecording(record);
    capture->stopRecording(record);  // the first has not finished the file yet
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        queue->drain();
        {
            std::lock_guard lock(mutex);
            if (results.size() >= 2 || Clock::now() > deadline) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    queue->drain();
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_THAT(printed, HasSubstr("Audio: State is already idle, checking writer status: 1\n"
                                   "Audio: Writer still writing, finishing...\n"));
    std::lock_guard lock(mutex);
    ASSERT_EQ(results.size(), 2u) << printed;
    ASSERT_TRUE(std::holds_alternative<std::string>(results[0])) << std::get<Error>(results[0]).description;
    EXPECT_EQ(std::get<std::string>(results[0]), path);
    // The second stop hears the same file, or, when the first finish was already done
    // and the writer released by the time its delayed step ran, that the writer is gone.
    if (std::holds_alternative<Error>(results[1])) {
        EXPECT_EQ(std::get<Error>(results[1]), Error("RenderCapture", -15, "Writer was deallocated"));
    } else {
        EXPECT_EQ(std::get<std::string>(results[1]), path);
    }
    EXPECT_THAT(probe(path), HasSubstr("codec_name=h264")) << "finished once, not cancelled by the second stop";
}

TEST_F(RecordingTest, StartingAgainKeepsTheRunningRecording) {
    GLTexture picture = makePicture(64, 48);
    const std::string first = folder.file("first.mp4");
    ASSERT_FALSE(capture->startRecording(first, 64, 48, 30, 1000000, false, false));
    feed({picture.id(), 64, 48, GL_RGBA8}, 0.4);
    const std::string second = folder.file("second.mp4");
    ASSERT_FALSE(capture->startRecording(second, 64, 48, 30, 1000000, false, false));
    feed({picture.id(), 64, 48, GL_RGBA8}, 0.4);
    auto [result, printed] = stop();
    ASSERT_TRUE(result && std::holds_alternative<std::string>(*result)) << printed;
    EXPECT_EQ(std::get<std::string>(*result), second);
    // What the first one had recorded is finished, not thrown away.
    for (const std::string& path : {first, second}) {
        EXPECT_THAT(probe(path), HasSubstr("codec_name=h264")) << path;
        EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "") << path;
    }
}

// A view drawn at an uneven pace (a software rasteriser, a busy machine): every frame
// is kept, and the movie still decodes without a complaint.
TEST_F(RecordingTest, AnUnevenPaceStillGivesAMovieThatDecodesCleanly) {
    GLTexture picture = makePicture(64, 48);
    const std::string path = folder.file("uneven.mp4");
    ASSERT_FALSE(capture->startRecording(path, 64, 48, 30, 1000000, false, false));
    const int pauses[] = {20, 45, 70, 33, 90, 12, 61};
    for (int i = 0; i < 40; ++i) {
        capture->capture({picture.id(), 64, 48, GL_RGBA8});
        queue->drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(pauses[i % 7]));
    }
    auto [result, printed] = stop();
    ASSERT_TRUE(result && std::holds_alternative<std::string>(*result)) << printed;
    EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    // The last frame is still on its way back from the GPU when the stop comes.
    EXPECT_EQ(capture->framesAppended(), 39u);
    EXPECT_THAT(probe(path), HasSubstr("nb_read_frames=39"));
}

// The encoder's own record of its settings (x264 writes them into the first picture)
// says what the recording asked for.
TEST_F(RecordingTest, RecordingSettingsReachTheEncoder) {
    RecordingSettings settings;
    settings.videoBitRate = 2'000'000;
    settings.x264Preset = "veryfast";
    settings.keyFrameIntervalSeconds = 0.5;
    capture->setRecordingSettings(settings);
    GLTexture picture = makePicture(64, 48);
    const std::string path = folder.file("settings.mp4");
    ASSERT_FALSE(capture->startRecording(path, 64, 48, 30, capture->recordingSettings().videoBitRate, false, false));
    feed({picture.id(), 64, 48, GL_RGBA8}, 0.5);
    auto [result, printed] = stop();
    ASSERT_TRUE(result && std::holds_alternative<std::string>(*result)) << printed;
    const std::string options = commandOutput("strings -n 20 '" + path + "' | grep -m 1 'x264 - core'");
    for (const char* expected : {" keyint=15 ", " bitrate=2000 ", " subme=2 "})  // veryfast searches at subme 2
        EXPECT_THAT(options, HasSubstr(expected)) << expected;
}

TEST_F(RecordingTest, UnwritablePlacesFailCleanly) {
    const auto missingFolder = capture->startRecording(folder.file("no/such/folder/x.mp4"), 64, 48, 30, 1000000,
                                                       false, false);
    ASSERT_TRUE(missingFolder.has_value());
    EXPECT_THAT(missingFolder->description, HasSubstr("No such file or directory"));
    EXPECT_EQ(capture->state(), RecordingState::idle);

    // Places that are not files are refused before anything is written to them.
    const std::string fifo = folder.file("pipe.mov");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& target : {std::string("/dev/full"), std::string("/dev/null"), fifo, folder.file("")}) {
        const auto refused = capture->startRecording(target, 64, 48, 30, 1000000, false, false);
        ASSERT_TRUE(refused.has_value()) << target;
        EXPECT_THAT(refused->description, HasSubstr("Cannot record to " + target)) << target;
        EXPECT_EQ(capture->state(), RecordingState::idle);
    }
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A microphone switched on before Record: its sound sits at the moment it was heard,
// not at how long the microphone had been on. SDL's disk driver plays a file holding a
// click 1.2 s in, at about real speed; the click must land within a frame of the block
// the microphone handed it over in.
TEST_F(RecordingTest, AMicrophoneOnBeforeRecordIsInStepWithThePicture) {
    constexpr int kRate = 44100;
    const std::string input = folder.file("microphone.raw");
    {
        std::vector<float> samples(static_cast<size_t>(kRate * 2.5), 0.0f);
        std::fill_n(samples.begin() + static_cast<long>(kRate * 1.2), kRate / 100, 0.9f);
        std::ofstream out(input, std::ios::binary);
        out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * sizeof(float)));
    }
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILEIN", input.c_str(), 1);
    ::unsetenv("SDL_DISKAUDIODELAY");
    const std::string path = folder.file("mic.mp4");
    std::atomic<int64_t> clickArrivedNanos{0};
    Clock::time_point recordFrom;
    {
        AudioCapture microphone(queue);
        microphone.isMicEnabled = true;
        microphone.requestedChannels = 1;
        microphone.setMicGainDB(0.0f);
        std::weak_ptr<RenderCapture> weak = capture;
        microphone.setOnMicSampleBuffer([weak, &clickArrivedNanos](const AudioSampleBuffer& buffer) {
            const bool click = std::any_of(buffer.planes.begin(), buffer.planes.end(), [](float v) { return v > 0.45f; });
            if (click && clickArrivedNanos.load() == 0)
                clickArrivedNanos.store(Clock::now().time_since_epoch().count());
            if (auto target = weak.lock()) target->appendMicrophone(buffer);
        });
        microphone.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        GLTexture picture = makePicture(64, 48);
        recordFrom = Clock::now();
        ASSERT_FALSE(capture->startRecording(path, 64, 48, 30, 1000000, false, true));
        feed({picture.id(), 64, 48, GL_RGBA8}, 1.6);
        auto [result, printed] = stop();
        ASSERT_TRUE(result && std::holds_alternative<std::string>(*result)) << printed;
        microphone.stop();
    }
    ::unsetenv("SDL_AUDIODRIVER");
    ::unsetenv("SDL_DISKAUDIOFILEIN");
    ASSERT_NE(clickArrivedNanos.load(), 0) << "the microphone never delivered the click";
    const double expectedSeconds =
        std::chrono::duration<double>(Clock::time_point(Clock::duration(clickArrivedNanos.load())) - recordFrom).count();

    const std::string sound = commandOutput("ffmpeg -v error -i '" + path + "' -map 0:a:0 -f f32le -ac 1 -ar 44100 -");
    std::vector<float> samples(sound.size() / sizeof(float));
    std::memcpy(samples.data(), sound.data(), samples.size() * sizeof(float));
    const auto click = std::find_if(samples.begin(), samples.end(), [](float value) { return std::fabs(value) > 0.45f; });
    ASSERT_NE(click, samples.end()) << "no click in " << samples.size() << " samples";
    const double clickSeconds = static_cast<double>(click - samples.begin()) / kRate;
    // The click was heard somewhere inside the device's block that carried it, which
    // was handed over when the block was full; within a frame of that span.
    const double blockSeconds = static_cast<double>(AudioCapture::kBufferFrames) / kRate;
    EXPECT_GE(clickSeconds, expectedSeconds - blockSeconds - 1.0 / 30);
    EXPECT_LE(clickSeconds, expectedSeconds + 1.0 / 30);
}

}  // namespace
}  // namespace lumbrix
