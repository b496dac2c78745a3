#include "capture/movie_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "error_printer.h"
#include "tests/support/command_output.h"
#include "tests/support/mp4_boxes.h"
#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TempFolder;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 30;

// A gradient that moves a little every frame, so the encoder has real work.
MovieVideoFrame gradientFrame(int widthPx, int heightPx, int index, MediaTime time) {
    MovieVideoFrame frame;
    const int chromaWidth = widthPx / 2;
    const int chromaHeight = heightPx / 2;
    frame.planes.resize(static_cast<size_t>(widthPx * heightPx + 2 * chromaWidth * chromaHeight));
    uint8_t* luma = frame.planes.data();
    for (int y = 0; y < heightPx; ++y)
        for (int x = 0; x < widthPx; ++x) luma[y * widthPx + x] = static_cast<uint8_t>(x + y + index * 4);
    uint8_t* chroma = luma + widthPx * heightPx;
    for (int i = 0; i < 2 * chromaWidth * chromaHeight; ++i) chroma[i] = static_cast<uint8_t>(128 + (i % chromaWidth) / 4);
    frame.presentationTime = time;
    frame.duration = MediaTime{600 / kFps, 600};
    return frame;
}

// 440 Hz from sample `first` on at `rate`, in the layout the source hands over.
AudioSampleBuffer sineBuffer(double rate, int channels, bool interleaved, int64_t first, int64_t frames) {
    AudioSampleBuffer buffer;
    buffer.sampleRate = rate;
    buffer.channels = channels;
    buffer.interleaved = interleaved;
    buffer.frameCount = frames;
    buffer.planes.resize(static_cast<size_t>(channels * frames));
    for (int64_t i = 0; i < frames; ++i) {
        const auto value = static_cast<float>(0.4 * std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(first + i) / rate));
        for (int c = 0; c < channels; ++c) {
            const int64_t at = interleaved ? i * channels + c : c * frames + i;
            buffer.planes[static_cast<size_t>(at)] = value;
        }
    }
    buffer.presentationValue = first;
    buffer.timescale = static_cast<int32_t>(rate);
    return buffer;
}

// The completion as the worker reports it.
class Completion {
public:
    std::function<void()> callback() {
        return [this] {
            std::lock_guard lock(mutex_);
            called_ = true;
            thread_ = std::this_thread::get_id();
            ++count_;
            changed_.notify_all();
        };
    }
    bool wait(std::chrono::seconds timeout = 30s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return called_; });
    }
    std::thread::id thread() {
        std::lock_guard lock(mutex_);
        return thread_;
    }
    int count() {
        std::lock_guard lock(mutex_);
        return count_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool called_ = false;
    std::thread::id thread_;
    int count_ = 0;
};

// Appends do not block; a producer retries until the worker made room.
bool appendSoon(const std::function<bool()>& append, std::chrono::seconds timeout = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!append()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// ---- ffprobe's JSON, only as far as these tests read it ----

struct Probe {
    std::vector<std::string> streams;  // each stream's object text, in file order
    std::string format;
};

Probe probe(const std::string& path) {
    const std::string json = test::commandOutput("ffprobe -v error -show_streams -show_format -of json '" + path + "' 2>&1");
    Probe result;
    const size_t formatAt = json.find("\"format\": {");
    const size_t streamsEnd = formatAt == std::string::npos ? json.size() : formatAt;
    if (formatAt != std::string::npos) result.format = json.substr(formatAt);
    // Stream objects open with their index; nested objects (tags, disposition) stay inside.
    size_t at = json.find("\"index\": ");
    while (at != std::string::npos && at < streamsEnd) {
        const size_t next = json.find("\"index\": ", at + 1);
        result.streams.push_back(json.substr(at, std::min(next, streamsEnd) - at));
        at = next;
    }
    return result;
}

// The value of `"key": value` in an object's text, quotes removed; empty when missing.
std::string field(const std::string& object, const std::string& key) {
    const std::string marker = "\"" + key + "\": ";
    const size_t at = object.find(marker);
    if (at == std::string::npos) return {};
    size_t begin = at + marker.size();
    if (object[begin] == '"') {
        ++begin;
        return object.substr(begin, object.find('"', begin) - begin);
    }
    const size_t end = object.find_first_of(",\n}", begin);
    return object.substr(begin, end - begin);
}

double number(const std::string& object, const std::string& key) {
    const std::string text = field(object, key);
    return text.empty() ? -1.0 : std::stod(text);
}

std::string failureText(const MovieWriter& writer) {
    const std::optional<Error> error = writer.error();
    return error ? error->description : "no error";
}

// One second of a sound track from 0.5 s on, decoded by FFmpeg: sign changes and level
// per channel, which tell a wrong rate, a lost channel or a wrong gain apart.
struct Tone {
    int crossings[2] = {0, 0};
    double rms[2] = {0.0, 0.0};
};

Tone measureTone(const std::string& path, int audioTrack) {
    const std::string samples = test::commandOutput("ffmpeg -v error -ss 0.5 -t 1 -i '" + path + "' -map 0:a:" +
                                           std::to_string(audioTrack) + " -f f32le -ac 2 -ar 48000 - 2>/dev/null");
    std::vector<float> values(samples.size() / sizeof(float));
    std::memcpy(values.data(), samples.data(), values.size() * sizeof(float));
    Tone tone;
    for (int channel = 0; channel < 2; ++channel) {
        double sum = 0.0;
        size_t count = 0;
        for (size_t i = static_cast<size_t>(channel); i + 2 < values.size(); i += 2) {
            if ((values[i] < 0.0f) != (values[i + 2] < 0.0f)) ++tone.crossings[channel];
            sum += static_cast<double>(values[i]) * values[i];
            ++count;
        }
        tone.rms[channel] = count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
    }
    return tone;
}

// The level of the first sound track between two times, both channels together.
double rmsBetween(const std::string& path, double fromSeconds, double toSeconds) {
    const std::string samples = test::commandOutput("ffmpeg -v error -i '" + path + "' -map 0:a:0 -af atrim=" +
                                                    std::to_string(fromSeconds) + ":" + std::to_string(toSeconds) +
                                                    " -f f32le -ac 2 -ar 48000 - 2>/dev/null");
    std::vector<float> values(samples.size() / sizeof(float));
    std::memcpy(values.data(), samples.data(), values.size() * sizeof(float));
    double sum = 0.0;
    for (float value : values) sum += static_cast<double>(value) * value;
    return values.empty() ? -1.0 : std::sqrt(sum / static_cast<double>(values.size()));
}

// What a full decode reports: empty for a movie that plays to its end without a fault.
std::string decodeErrors(const std::string& path) {
    return test::commandOutput("ffmpeg -v error -i '" + path + "' -f null - 2>&1");
}

MovieVideoSettings smallVideo() {
    MovieVideoSettings settings;
    settings.widthPx = kWidth;
    settings.heightPx = kHeight;
    settings.framesPerSecond = kFps;
    settings.averageBitRate = 2000000;
    return settings;
}

std::unique_ptr<MovieWriter> makeWriter(const std::string& path) {
    auto writer = MovieWriter::create(path);
    EXPECT_TRUE(writer) << path << ": " << (writer ? std::string() : writer.error().description);
    return writer ? std::move(writer.value()) : nullptr;
}

// ---- Writing a movie ----

TEST(MovieWriterFile, PictureAndTwoSoundTracksEndUpInOneMp4) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    // The extension does not pick the container.
    const std::string path = folder.file("take.mov");
    auto writer = makeWriter(path);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->status(), MovieWriterStatus::unknown);
    EXPECT_EQ(writer->outputPath(), path);
    const int video = writer->addVideoInput(smallVideo());
    const int film = writer->addAudioInput();
    const int microphone = writer->addAudioInput();
    ASSERT_EQ(video, 0);
    ASSERT_EQ(film, 1);
    ASSERT_EQ(microphone, 2);
    EXPECT_FALSE(writer->isReadyForMoreMediaData(video));
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    EXPECT_EQ(writer->status(), MovieWriterStatus::writing);
    EXPECT_FALSE(writer->error());

    // Two seconds: planar stereo at 48 kHz in 1024-frame blocks, and interleaved mono at
    // 44.1 kHz in 4096-frame blocks, which has to be resampled.
    const int frames = 2 * kFps;
    int64_t filmSamples = 0;
    int64_t microphoneSamples = 0;
    for (int i = 0; i < frames; ++i) {
        ASSERT_TRUE(appendSoon([&] {
            return writer->appendVideo(video, gradientFrame(kWidth, kHeight, i, MediaTime{i * 600 / kFps, 600}));
        }));
        const double until = static_cast<double>(i + 1) / kFps;
        while (filmSamples < std::llround(until * 48000)) {
            const AudioSampleBuffer buffer = sineBuffer(48000, 2, false, filmSamples, 1024);
            ASSERT_TRUE(appendSoon([&] { return writer->appendAudio(film, buffer); }));
            filmSamples += 1024;
        }
        while (microphoneSamples < std::llround(until * 44100)) {
            const AudioSampleBuffer buffer = sineBuffer(44100, 1, true, microphoneSamples, 4096);
            ASSERT_TRUE(appendSoon([&] { return writer->appendAudio(microphone, buffer); }));
            microphoneSamples += 4096;
        }
    }
    Completion completion;
    writer->finishWriting(completion.callback());
    ASSERT_TRUE(completion.wait());
    EXPECT_NE(completion.thread(), std::this_thread::get_id());
    EXPECT_EQ(writer->status(), MovieWriterStatus::completed) << failureText(*writer);
    EXPECT_FALSE(writer->error());
    EXPECT_FALSE(writer->isReadyForMoreMediaData(video));
    EXPECT_FALSE(writer->appendVideo(video, gradientFrame(kWidth, kHeight, 0, MediaTime{3000, 600})));

    const Probe movie = probe(path);
    EXPECT_NE(field(movie.format, "format_name").find("mp4"), std::string::npos) << movie.format;
    EXPECT_NEAR(number(movie.format, "duration"), 2.0, 0.15) << movie.format;
    ASSERT_EQ(movie.streams.size(), 3u);
    const std::string& picture = movie.streams[0];
    EXPECT_EQ(field(picture, "codec_name"), "h264");
    for (const char* key : {"color_space", "color_transfer", "color_primaries"}) EXPECT_EQ(field(picture, key), "bt709") << key;
    EXPECT_EQ(field(picture, "color_range"), "tv");
    // A clean finish leaves a regular movie: one index, no fragments.
    const std::vector<std::string> boxes = test::topLevelBoxes(path);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moov"), 1);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "moof"), 0);
    EXPECT_EQ(folder.list().size(), 1u);
    EXPECT_EQ(field(picture, "profile"), "High");
    EXPECT_EQ(field(picture, "width"), "320");
    EXPECT_EQ(field(picture, "height"), "240");
    EXPECT_EQ(field(picture, "pix_fmt"), "yuv420p");
    EXPECT_EQ(field(picture, "nb_frames"), std::to_string(frames));
    EXPECT_EQ(number(picture, "start_time"), 0.0);
    EXPECT_NEAR(number(picture, "duration"), 2.0, 0.05);
    for (size_t i = 1; i < 3; ++i) {
        const std::string& sound = movie.streams[i];
        EXPECT_EQ(field(sound, "codec_name"), "aac") << i;
        EXPECT_EQ(field(sound, "sample_rate"), "48000") << i;
        EXPECT_EQ(field(sound, "channels"), "2") << i;
        EXPECT_NEAR(number(sound, "start_time"), 0.0, 0.03) << i;
        EXPECT_NEAR(number(sound, "duration"), 2.0, 0.15) << i;
        EXPECT_NEAR(number(sound, "bit_rate"), 128000, 40000) << i;
        // 440 Hz crosses zero 880 times a second, on both sides, at the level it went in.
        const Tone tone = measureTone(path, static_cast<int>(i) - 1);
        for (int channel = 0; channel < 2; ++channel) {
            EXPECT_NEAR(tone.crossings[channel], 880, 6) << i << " " << channel;
            EXPECT_NEAR(tone.rms[channel], 0.4 / std::numbers::sqrt2, 0.03) << i << " " << channel;
        }
    }
}

TEST(MovieWriterFile, OddSizeIsRoundedDownAndOtherPresetsWork) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("odd.mp4");
    auto writer = makeWriter(path);
    ASSERT_TRUE(writer);
    MovieVideoSettings settings = smallVideo();
    settings.widthPx = 321;
    settings.heightPx = 241;
    settings.x264Preset = "veryfast";
    settings.keyFrameIntervalSeconds = 0.5;
    const int video = writer->addVideoInput(settings);
    ASSERT_EQ(video, 0);
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    // A picture laid out at the odd size and one at the encoded size are both taken.
    EXPECT_FALSE(writer->appendVideo(video, gradientFrame(322, 242, 0, MediaTime{0, 600})));
    for (int i = 0; i < kFps; ++i) {
        const int side = i % 2 == 0 ? 321 : 320;
        const int rows = i % 2 == 0 ? 241 : 240;
        ASSERT_TRUE(appendSoon([&] {
            return writer->appendVideo(video, gradientFrame(side, rows, i, MediaTime{i * 600 / kFps, 600}));
        }));
    }
    Completion completion;
    writer->finishWriting(completion.callback());
    ASSERT_TRUE(completion.wait());
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed) << failureText(*writer);

    const Probe movie = probe(path);
    ASSERT_EQ(movie.streams.size(), 1u);
    EXPECT_EQ(field(movie.streams[0], "width"), "320");
    EXPECT_EQ(field(movie.streams[0], "height"), "240");
    EXPECT_EQ(field(movie.streams[0], "profile"), "High");
    EXPECT_EQ(field(movie.streams[0], "has_b_frames"), "0");
    EXPECT_EQ(field(movie.streams[0], "nb_frames"), std::to_string(kFps));
    // Key frames every 15 frames: two per second.
    const std::string keys = test::commandOutput("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 '" +
                                        path + "' | grep -c K");
    EXPECT_EQ(std::stoi(keys), 2);
}

TEST(MovieWriterFile, FramesNotLaterThanThePreviousAreDropped) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("times.mp4");
    auto writer = makeWriter(path);
    ASSERT_TRUE(writer);
    const int video = writer->addVideoInput(smallVideo());
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    // Milliseconds, not the writer's 1/600 s.
    const int64_t times[] = {0, 100, 100, 200, 150, 300, 300, 400};
    int index = 0;
    for (int64_t ms : times) {
        ASSERT_TRUE(appendSoon([&] {
            return writer->appendVideo(video, gradientFrame(kWidth, kHeight, index, MediaTime{ms, 1000}));
        }));
        ++index;
    }
    writer->markInputFinished(video);
    EXPECT_FALSE(writer->appendVideo(video, gradientFrame(kWidth, kHeight, 0, MediaTime{500, 1000})));
    Completion completion;
    writer->finishWriting(completion.callback());
    ASSERT_TRUE(completion.wait());
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed) << failureText(*writer);

    const Probe movie = probe(path);
    ASSERT_EQ(movie.streams.size(), 1u);
    EXPECT_EQ(field(movie.streams[0], "nb_frames"), "5");
    EXPECT_NEAR(number(movie.format, "duration"), 0.4 + 1.0 / kFps, 0.02);
}

TEST(MovieWriterFile, SoundGapBecomesSilenceAndLateStartIsKept) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("gap.mp4");
    auto writer = makeWriter(path);
    ASSERT_TRUE(writer);
    const int sound = writer->addAudioInput();
    ASSERT_EQ(sound, 0);
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    // 0.5 s to 1.0 s, nothing until 2.0 s, then on to 2.5 s.
    for (int64_t first = 24000; first < 48000; first += 4800)
        ASSERT_TRUE(appendSoon([&] { return writer->appendAudio(sound, sineBuffer(48000, 2, false, first, 4800)); }));
    for (int64_t first = 96000; first < 120000; first += 4800)
        ASSERT_TRUE(appendSoon([&] { return writer->appendAudio(sound, sineBuffer(48000, 2, false, first, 4800)); }));
    // Back at 2.0 s, overlapping by more than the slack: only its last 0.1 s is new.
    ASSERT_TRUE(appendSoon([&] { return writer->appendAudio(sound, sineBuffer(48000, 2, false, 96000, 4800 * 6)); }));
    Completion completion;
    writer->finishWriting(completion.callback());
    ASSERT_TRUE(completion.wait());
    ASSERT_EQ(writer->status(), MovieWriterStatus::completed) << failureText(*writer);

    // The late start is silence from zero on, so the sound keeps its place in time.
    const Probe movie = probe(path);
    ASSERT_EQ(movie.streams.size(), 1u);
    EXPECT_NEAR(number(movie.streams[0], "start_time") + number(movie.streams[0], "duration"), 2.6, 0.05);
    EXPECT_LT(rmsBetween(path, 0.0, 0.45), 0.001);
    EXPECT_GT(rmsBetween(path, 0.55, 0.95), 0.2);
    EXPECT_LT(rmsBetween(path, 1.05, 1.95), 0.001);
    EXPECT_GT(rmsBetween(path, 2.05, 2.45), 0.2);
}

// ---- Inputs and their queues ----

TEST(MovieWriterInputs, OneVideoTwoSoundsAndOnlyBeforeStart) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    auto writer = makeWriter(folder.file("inputs.mp4"));
    ASSERT_TRUE(writer);
    MovieVideoSettings tiny = smallVideo();
    tiny.widthPx = 1;
    EXPECT_EQ(writer->addVideoInput(tiny), -1);
    EXPECT_EQ(writer->addAudioInput(), 0);
    EXPECT_EQ(writer->addVideoInput(smallVideo()), 1);
    EXPECT_EQ(writer->addVideoInput(smallVideo()), -1);
    EXPECT_EQ(writer->addAudioInput(), 2);
    EXPECT_EQ(writer->addAudioInput(), -1);
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    EXPECT_FALSE(writer->startWriting());
    EXPECT_EQ(writer->addAudioInput(), -1);
    EXPECT_EQ(writer->addVideoInput(smallVideo()), -1);
    // Media must match its input.
    EXPECT_FALSE(writer->appendVideo(0, gradientFrame(kWidth, kHeight, 0, MediaTime{0, 600})));
    EXPECT_FALSE(writer->appendAudio(1, sineBuffer(48000, 2, false, 0, 1024)));
    EXPECT_FALSE(writer->appendVideo(7, gradientFrame(kWidth, kHeight, 0, MediaTime{0, 600})));
    EXPECT_FALSE(writer->isReadyForMoreMediaData(-1));
    AudioSampleBuffer empty = sineBuffer(48000, 2, false, 0, 1024);
    empty.planes.resize(100);
    EXPECT_FALSE(writer->appendAudio(0, empty));
    EXPECT_TRUE(writer->appendVideo(1, gradientFrame(kWidth, kHeight, 0, MediaTime{0, 600})));
    EXPECT_TRUE(writer->appendAudio(2, sineBuffer(48000, 2, false, 0, 1024)));
    Completion completion;
    writer->finishWriting(completion.callback());
    ASSERT_TRUE(completion.wait());
    EXPECT_EQ(writer->status(), MovieWriterStatus::completed) << failureText(*writer);

    // The tracks follow the picture first, then the sounds as added.
    const Probe movie = probe(folder.file("inputs.mp4"));
    ASSERT_EQ(movie.streams.size(), 3u);
    EXPECT_EQ(field(movie.streams[0], "codec_type"), "video");
    EXPECT_EQ(field(movie.streams[1], "codec_type"), "audio");
    EXPECT_EQ(field(movie.streams[2], "codec_type"), "audio");
}

TEST(MovieWriterInputs, FullQueueRefusesUntilTheWorkerCatchesUp) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    auto writer = makeWriter(folder.file("queue.mp4"));
    ASSERT_TRUE(writer);
    MovieVideoSettings large = smallVideo();
    large.widthPx = 1920;
    large.heightPx = 1080;
    const int video = writer->addVideoInput(large);
    const int sound = writer->addAudioInput();
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    EXPECT_TRUE(writer->isReadyForMoreMediaData(video));

    // Moving a ready frame in costs nothing next to encoding a full-HD picture, so the
    // queue fills long before the worker could take a dozen.
    std::vector<MovieVideoFrame> pictures;
    for (int i = 0; i < 20; ++i) pictures.push_back(gradientFrame(1920, 1080, i, MediaTime{i * 20, 600}));
    int accepted = 0;
    for (MovieVideoFrame& frame : pictures) {
        if (!writer->appendVideo(video, std::move(frame))) break;
        ++accepted;
    }
    EXPECT_GE(accepted, 6);
    EXPECT_LT(accepted, 20);
    // Sound later than every queued picture waits behind them, so its queue fills too.
    int buffers = 0;
    const AudioSampleBuffer later = sineBuffer(48000, 2, false, 48000 * 60, 1024);
    while (buffers < 100000 && writer->appendAudio(sound, later)) ++buffers;
    EXPECT_GE(buffers, 64);
    EXPECT_LT(buffers, 100000);

    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!writer->isReadyForMoreMediaData(video) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(writer->isReadyForMoreMediaData(video));
    Completion completion;
    writer->finishWriting(completion.callback());
    EXPECT_FALSE(writer->isReadyForMoreMediaData(video));
    EXPECT_FALSE(writer->isReadyForMoreMediaData(sound));
    ASSERT_TRUE(completion.wait());
    EXPECT_EQ(writer->status(), MovieWriterStatus::completed) << failureText(*writer);
}

TEST(MovieWriterInputs, FinishBeforeStartCompletesAtOnce) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    auto writer = makeWriter(folder.file("idle.mp4"));
    ASSERT_TRUE(writer);
    writer->addVideoInput(smallVideo());
    Completion completion;
    writer->finishWriting(completion.callback());
    EXPECT_EQ(completion.count(), 1);
    EXPECT_EQ(completion.thread(), std::this_thread::get_id());
    EXPECT_EQ(writer->status(), MovieWriterStatus::unknown);
    EXPECT_FALSE(writer->isReadyForMoreMediaData(0));
    EXPECT_TRUE(folder.list().empty());
}

// ---- Cancelling and failing ----

// Cancelling or dropping a writer only ever removes a movie without a picture in it;
// once frames are in, the movie is finished and kept.
TEST(MovieWriterEnd, CancelAndDropKeepAMovieThatHasFrames) {
    struct Case {
        const char* name;
        int frames;
        bool drop;  // the writer goes away instead of being cancelled
    };
    const Case cases[] = {{"cancel-empty", 0, false}, {"cancel-ten", 10, false}, {"drop-empty", 0, true}, {"drop-one", 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ASSERT_TRUE(folder.ok());
        const std::string path = folder.file(std::string(c.name) + ".mp4");
        auto writer = makeWriter(path);
        ASSERT_TRUE(writer);
        const int video = writer->addVideoInput(smallVideo());
        const int sound = writer->addAudioInput();
        ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
        EXPECT_TRUE(fs::exists(path));
        for (int i = 0; i < c.frames; ++i) {
            ASSERT_TRUE(appendSoon([&] {
                return writer->appendVideo(video, gradientFrame(kWidth, kHeight, i, MediaTime{i * 20, 600}));
            }));
            ASSERT_TRUE(appendSoon([&] { return writer->appendAudio(sound, sineBuffer(48000, 2, false, i * 1600, 1600)); }));
        }
        if (c.drop) {
            writer.reset();
        } else {
            writer->cancelWriting();
            EXPECT_EQ(writer->status(), c.frames > 0 ? MovieWriterStatus::completed : MovieWriterStatus::cancelled);
            EXPECT_FALSE(writer->error());
            EXPECT_FALSE(writer->isReadyForMoreMediaData(video));
            EXPECT_FALSE(writer->appendVideo(video, gradientFrame(kWidth, kHeight, 11, MediaTime{220, 600})));
            Completion completion;
            writer->finishWriting(completion.callback());
            EXPECT_EQ(completion.count(), 1);
        }
        if (c.frames == 0) {
            EXPECT_TRUE(folder.list().empty());
            continue;
        }
        ASSERT_TRUE(fs::exists(path));
        EXPECT_EQ(decodeErrors(path), "");
        EXPECT_EQ(field(probe(path).streams.at(0), "nb_frames"), std::to_string(c.frames));
        EXPECT_EQ(folder.list().size(), 1u) << "a temporary file was left beside the movie";
    }
}

TEST(MovieWriterEnd, CompletionMayReleaseTheWriter) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("released.mp4");
    auto writer = makeWriter(path);
    ASSERT_TRUE(writer);
    const int video = writer->addVideoInput(smallVideo());
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    EXPECT_TRUE(writer->appendVideo(video, gradientFrame(kWidth, kHeight, 0, MediaTime{0, 600})));
    Completion completion;
    MovieWriter* released = writer.release();
    released->finishWriting([released, signal = completion.callback()] {
        delete released;
        signal();
    });
    ASSERT_TRUE(completion.wait());
    EXPECT_EQ(field(probe(path).streams.at(0), "nb_frames"), "1");
}

TEST(MovieWriterEnd, MissingOrUnwritableFolderFailsAtStart) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    struct Case {
        std::string path;
        int code;
    };
    std::vector<Case> cases = {{folder.file("missing/movie.mp4"), ENOENT}};
    std::ofstream(folder.file("plain")) << "not a folder";
    cases.push_back({folder.file("plain/movie.mp4"), ENOTDIR});
    // The superuser writes into any folder, so the permission case needs an ordinary user.
    if (::geteuid() != 0) {
        fs::create_directory(folder.file("locked"));
        ::chmod(folder.file("locked").c_str(), 0500);
        cases.push_back({folder.file("locked/movie.mp4"), EACCES});
    }
    for (const Case& c : cases) {
        auto writer = makeWriter(c.path);
        ASSERT_TRUE(writer);
        const int video = writer->addVideoInput(smallVideo());
        writer->addAudioInput();
        EXPECT_FALSE(writer->startWriting()) << c.path;
        EXPECT_EQ(writer->status(), MovieWriterStatus::failed);
        const std::optional<Error> error = writer->error();
        ASSERT_TRUE(error) << c.path;
        EXPECT_EQ(*error, posixError(c.code, "Cannot create " + c.path));
        EXPECT_FALSE(writer->isReadyForMoreMediaData(video));
        EXPECT_FALSE(writer->appendVideo(video, gradientFrame(kWidth, kHeight, 0, MediaTime{0, 600})));
        Completion completion;
        writer->finishWriting(completion.callback());
        EXPECT_EQ(completion.count(), 1);
        EXPECT_FALSE(fs::exists(c.path));
    }
    ::chmod(folder.file("locked").c_str(), 0700);
}

TEST(MovieWriterEnd, FullDiskFailsWithTheSystemsText) {
    struct stat info {};
    if (::stat("/dev/full", &info) != 0 || !S_ISCHR(info.st_mode)) GTEST_SKIP() << "no /dev/full";
    auto writer = makeWriter("/dev/full");
    ASSERT_TRUE(writer);
    const int video = writer->addVideoInput(smallVideo());
    const int sound = writer->addAudioInput();
    Completion completion;
    if (writer->startWriting()) {
        // The muxer buffers, so the refusal may only show some frames in; the appends stop
        // being taken once it has.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        for (int i = 0; writer->status() == MovieWriterStatus::writing && i < 10 * kFps; ++i) {
            while (!writer->isReadyForMoreMediaData(video) && writer->status() == MovieWriterStatus::writing &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
            writer->appendVideo(video, gradientFrame(kWidth, kHeight, i, MediaTime{i * 20, 600}));
            writer->appendAudio(sound, sineBuffer(48000, 2, false, i * 1600, 1600));
        }
        writer->finishWriting(completion.callback());
        ASSERT_TRUE(completion.wait(10s));
    } else {
        writer->finishWriting(completion.callback());
        EXPECT_EQ(completion.count(), 1);
    }
    EXPECT_EQ(writer->status(), MovieWriterStatus::failed);
    const std::optional<Error> error = writer->error();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kPosixErrorDomain);
    EXPECT_EQ(error->code, ENOSPC);
    EXPECT_NE(error->description.find("No space left on device"), std::string::npos) << error->description;
    EXPECT_FALSE(writer->appendVideo(video, gradientFrame(kWidth, kHeight, 0, MediaTime{0, 600})));
    EXPECT_FALSE(writer->isReadyForMoreMediaData(sound));
    writer.reset();
    // Never removed: it is no file of ours.
    EXPECT_EQ(::stat("/dev/full", &info), 0);
}

// Runs `body` in a forked child and returns its exit status (or 128 + the signal that
// ended it). Limits and kills then touch only the child.
int inChild(const std::function<int()>& body, std::function<void(pid_t)> whileRunning = {}) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(body());
    if (whileRunning) whileRunning(child);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A small picture and one sound track, writing; nothing when it cannot start.
std::unique_ptr<MovieWriter> startedWriter(const std::string& path, int& video, int& sound) {
    auto created = MovieWriter::create(path);
    if (!created) return nullptr;
    std::unique_ptr<MovieWriter> writer = std::move(created.value());
    video = writer->addVideoInput(smallVideo());
    sound = writer->addAudioInput();
    return writer->startWriting() ? std::move(writer) : nullptr;
}

// Noise compresses badly: files grow fast and fragments are large.
MovieVideoFrame noiseFrame(int index, MediaTime time) {
    MovieVideoFrame frame = gradientFrame(kWidth, kHeight, index, time);
    for (size_t at = 0; at < frame.planes.size(); ++at)
        frame.planes[at] = static_cast<uint8_t>((at * 2654435761u + static_cast<size_t>(index) * 97) >> 13);
    return frame;
}

// The last presentation time of a track kind ("v" or "a") a decoder reaches.
double lastPacketSeconds(const std::string& path, const char* kind) {
    const std::string out = test::commandOutput(std::string("ffprobe -v error -select_streams ") + kind +
                                                " -show_entries packet=pts_time -of csv=p=0 '" + path + "' | tail -n 1");
    return out.empty() ? -1.0 : std::stod(out);
}

// A write that fails while the worker runs; a file size limit stands in for a disk that
// fills up. What was written before the failure still plays.
TEST(MovieWriterEnd, WriteFailureWhileWritingKeepsWhatWasWritten) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("limited.mp4");
    // The exit code says which step went wrong.
    const int status = inChild([&]() -> int {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024 * 1024, 1024 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int video = -1, sound = -1;
        const auto started = startedWriter(path, video, sound);
        if (!started) return 2;
        MovieWriter& writer = *started;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        for (int i = 0; writer.status() == MovieWriterStatus::writing; ++i) {
            if (std::chrono::steady_clock::now() > deadline) return 4;
            const MovieVideoFrame frame = noiseFrame(i, MediaTime{i * 20, 600});
            while (!writer.appendVideo(video, frame) && writer.status() == MovieWriterStatus::writing)
                std::this_thread::sleep_for(1ms);
            while (!writer.appendAudio(sound, sineBuffer(48000, 2, false, i * 1600, 1600)) &&
                   writer.status() == MovieWriterStatus::writing)
                std::this_thread::sleep_for(1ms);
        }
        const std::optional<Error> error = writer.error();
        if (writer.status() != MovieWriterStatus::failed || !error) return 5;
        if (*error != posixError(EFBIG, "Cannot write " + path)) {
            std::fprintf(stderr, "unexpected error: %s\n", error->description.c_str());
            return 6;
        }
        if (writer.appendVideo(video, gradientFrame(kWidth, kHeight, 0, MediaTime{0, 600}))) return 7;
        Completion completion;
        writer.finishWriting(completion.callback());
        if (completion.count() != 1) return 8;
        return 0;
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(decodeErrors(path), "");
    EXPECT_GT(lastPacketSeconds(path, "v"), 0.9);
    EXPECT_GT(lastPacketSeconds(path, "a"), 0.9);
}

// A recorder killed outright: the file on disk plays, picture and sound, up to within
// a couple of seconds of the kill, whichever moment it comes.
TEST(MovieWriterEnd, KilledRecorderLeavesAPlayableMovie) {
    for (const double killAfterSeconds : {3.1, 4.4}) {
        SCOPED_TRACE(killAfterSeconds);
        TempFolder folder;
        ASSERT_TRUE(folder.ok());
        const std::string path = folder.file("killed.mov");
        const int status = inChild(
            [&]() -> int {
                int video = -1, sound = -1;
                const auto writer = startedWriter(path, video, sound);
                if (!writer) return 2;
                // As the viewer records: frames and sound on the wall clock, as they come.
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0;; ++i) {
                    std::this_thread::sleep_until(start + i * std::chrono::microseconds(1000000 / kFps));
                    writer->appendVideo(video, noiseFrame(i, MediaTime{i * 20, 600}));
                    writer->appendAudio(sound, sineBuffer(48000, 2, false, i * 1600, 1600));
                }
            },
            [&](pid_t child) {
                std::this_thread::sleep_for(std::chrono::duration<double>(killAfterSeconds));
                ::kill(child, SIGKILL);
            });
        ASSERT_EQ(status, 128 + SIGKILL);
        EXPECT_EQ(decodeErrors(path), "");
        EXPECT_GE(lastPacketSeconds(path, "v"), killAfterSeconds - 2.5);
        EXPECT_GE(lastPacketSeconds(path, "a"), killAfterSeconds - 2.5);
    }
}

// Not a check: how fast full-HD pictures go through the ultrafast preset on this machine.
// Run with --gtest_also_run_disabled_tests.
TEST(MovieWriterSpeed, DISABLED_FullHdUltrafast) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    auto writer = makeWriter(folder.file("speed.mp4"));
    ASSERT_TRUE(writer);
    MovieVideoSettings settings = smallVideo();
    settings.widthPx = 1920;
    settings.heightPx = 1080;
    settings.averageBitRate = 12000000;
    const int video = writer->addVideoInput(settings);
    ASSERT_TRUE(writer->startWriting()) << failureText(*writer);
    const int frames = 300;
    std::vector<MovieVideoFrame> pictures;
    for (int i = 0; i < 8; ++i) pictures.push_back(gradientFrame(1920, 1080, i * 7, MediaTime{0, 600}));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        ASSERT_TRUE(appendSoon([&] { return writer->isReadyForMoreMediaData(video); }, 60s));
        MovieVideoFrame frame = pictures[static_cast<size_t>(i) % pictures.size()];
        frame.presentationTime = MediaTime{i * 20, 600};
        ASSERT_TRUE(writer->appendVideo(video, std::move(frame)));
    }
    Completion completion;
    writer->finishWriting(completion.callback());
    ASSERT_TRUE(completion.wait(120s));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("1920x1080 ultrafast: %d frames in %.2f s = %.1f frames/s\n", frames, seconds, frames / seconds);
    EXPECT_EQ(writer->status(), MovieWriterStatus::completed);
}

}  // namespace
}  // namespace lumbrix
