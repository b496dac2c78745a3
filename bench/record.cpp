// Recording the view at 1920 × 1080, 30 fps: what the GUI thread pays per frame, whether
// every offered frame reaches the movie, and how fast our encoder path runs next to the
// ffmpeg program's own libx264 on the same settings and the same frames.
//
// Live part: the renderer draws a textured sheet whose picture is fresh noise every
// frame (the hardest case for the encoder), a recorder takes the renderer's capture
// texture every 33.3 ms for LUMBRIX_BENCH_RECORD_SECONDS (default 60) and the time spent
// inside RenderCapture::capture is measured on its own. The software rasteriser cannot
// draw 1080p at 30 fps, so a second case offers a true 30 fps of fresh noise pictures
// straight into the capture texture. Encoder part: the same kind of
// noisy 1080p I420 frames pushed through MovieWriter as fast as it takes them, and then
// through `ffmpeg -c:v libx264 -preset P -b:v 12M -profile:v high` from a raw file.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "capture/fragment_file.h"
#include "capture/movie_writer.h"
#include "capture/render_capture.h"
#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "platform/main_queue.h"
#include "render/renderer.h"
#include "tests/support/command_output.h"
#include "tests/support/mp4_boxes.h"

namespace {

using namespace lumbrix;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 30;
constexpr int64_t kBitRate = 12000000;
constexpr int kPictureSize = 512;

uint64_t g_random = 0x9E3779B97F4A7C15ull;
uint8_t noiseByte() {
    g_random ^= g_random << 13;
    g_random ^= g_random >> 7;
    g_random ^= g_random << 17;
    return static_cast<uint8_t>(g_random >> 24);
}

double envSeconds(const char* name, double fallback) {
    const char* text = std::getenv(name);
    const double value = text ? std::atof(text) : 0.0;
    return value > 0.0 ? value : fallback;
}

std::string presetName() {
    const char* preset = std::getenv("LUMBRIX_BENCH_PRESET");
    return preset && *preset ? preset : "ultrafast";
}

RecordingSettings benchRecordingSettings() {
    RecordingSettings settings;
    settings.videoBitRate = kBitRate;
    settings.x264Preset = presetName();
    return settings;
}

// A picture source whose texture is new noise every time it is asked.
class NoisePicture : public TextureSource {
public:
    NoisePicture() : texture_(GLTexture::generate()), bytes_(size_t{kPictureSize} * kPictureSize * 4) {
        glBindTexture(GL_TEXTURE_2D, texture_.id());
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kPictureSize, kPictureSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    void stop() override {}
    void setPlaying(bool) override {}
    void setLooping(bool) override {}
    unsigned int texture() override {
        for (uint8_t& byte : bytes_) byte = noiseByte();
        glBindTexture(GL_TEXTURE_2D, texture_.id());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kPictureSize, kPictureSize, GL_RGBA, GL_UNSIGNED_BYTE, bytes_.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        return texture_.id();
    }
    std::optional<double> durationSeconds() const override { return std::nullopt; }
    std::optional<double> currentSeconds() const override { return std::nullopt; }
    bool isSeekable() const override { return false; }
    void seek(double) override {}

private:
    GLTexture texture_;
    std::vector<uint8_t> bytes_;
};

std::shared_ptr<Mesh> facingSheet() {
    auto mesh = std::make_shared<Mesh>();
    auto vertex = [](float y, float z, float u, float v) {
        Vertex result;
        result.position = {0.0f, y, z};
        result.uv = {u, v};
        result.normal = {-1.0f, 0.0f, 0.0f};
        return result;
    };
    mesh->vertices = {vertex(-0.9f, -1.6f, 0, 0), vertex(-0.9f, 1.6f, 1, 0), vertex(0.9f, 1.6f, 1, 1),
                      vertex(0.9f, -1.6f, 0, 1)};
    mesh->indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

std::variant<std::string, Error> stopAndWait(RenderCapture& recorder, TaskQueue& queue) {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<std::variant<std::string, Error>> result;
    recorder.stopRecording([&](std::variant<std::string, Error> outcome) {
        std::lock_guard lock(mutex);
        result = std::move(outcome);
        done.notify_all();
    });
    for (;;) {
        queue.drain();
        std::unique_lock lock(mutex);
        if (result) return *result;
        done.wait_for(lock, std::chrono::milliseconds(5));
    }
}

struct LiveFigures {
    uint64_t offered = 0;
    uint64_t appended = 0;
    double captureMedianMs = 0, captureP99Ms = 0, captureMaxMs = 0;
    std::string fileFrames;
    double seconds = 0;
};
struct EncoderFigures {
    double oursFps = 0;
    double ffmpegFps = 0;
    int frames = 0;
};
LiveFigures g_live;
LiveFigures g_captureOnly;
EncoderFigures g_encoder;
std::string g_folder;

void liveRecording(benchmark::State& state) {
    auto queue = std::make_shared<TaskQueue>();
    auto created = Renderer::create(queue);
    if (!created) {
        state.SkipWithError(created.error().description.c_str());
        return;
    }
    Renderer& renderer = *created.value();
    renderer.setMesh(facingSheet());
    renderer.textureSource = std::make_shared<NoisePicture>();
    GLFramebuffer window = GLFramebuffer::generate();
    GLRenderbuffer color = GLRenderbuffer::generate();
    glBindRenderbuffer(GL_RENDERBUFFER, color.id());
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
    glBindFramebuffer(GL_FRAMEBUFFER, window.id());
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.id());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    auto recorder = RenderCapture::create(queue);
    recorder->setRecordingSettings(benchRecordingSettings());
    const std::string path = g_folder + "/live.mp4";
    const double seconds = envSeconds("LUMBRIX_BENCH_RECORD_SECONDS", 60.0);
    std::vector<double> captureMs;
    for (auto _ : state) {
        renderer.draw(window.id(), kWidth, kHeight);  // targets and programs made
        if (auto error = recorder->startRecording(path, kWidth, kHeight, kFps, kBitRate, false, false)) {
            state.SkipWithError(error->description.c_str());
            return;
        }
        const auto start = Clock::now();
        auto next = start;
        while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
            renderer.draw(window.id(), kWidth, kHeight);
            const CaptureTexture frame{renderer.captureTexture(), kWidth, kHeight, GL_RGBA8};
            const auto before = Clock::now();
            recorder->capture(frame);
            captureMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
            queue->drain();
            next += std::chrono::microseconds(1000000 / kFps);
            std::this_thread::sleep_until(next);
        }
        // The read-backs still in flight are collected by one more call (whose own frame
        // is not one of those offered: the recording stops before it comes back).
        glFinish();
        recorder->capture({renderer.captureTexture(), kWidth, kHeight, GL_RGBA8});
        g_live.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        g_live.appended = recorder->framesAppended();
        const auto outcome = stopAndWait(*recorder, *queue);
        if (std::holds_alternative<Error>(outcome)) {
            state.SkipWithError(std::get<Error>(outcome).description.c_str());
            return;
        }
    }
    g_live.offered = captureMs.size();
    std::sort(captureMs.begin(), captureMs.end());
    g_live.captureMedianMs = captureMs[captureMs.size() / 2];
    g_live.captureP99Ms = captureMs[std::min(captureMs.size() - 1, captureMs.size() * 99 / 100)];
    g_live.captureMaxMs = captureMs.back();
    g_live.fileFrames = test::commandOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
                            "-of default=nw=1:nk=1 '" + path + "'");
    while (!g_live.fileFrames.empty() && g_live.fileFrames.back() == '\n') g_live.fileFrames.pop_back();
    state.counters["offered"] = static_cast<double>(g_live.offered);
    state.counters["appended"] = static_cast<double>(g_live.appended);
    state.counters["capture_ms_median"] = g_live.captureMedianMs;
}

// The same recording at a true 30 fps: Mesa's software rasteriser needs about 100 ms
// to draw a 1080p frame here, so this case skips the 3D drawing and makes the capture
// texture itself new every frame by uploading one of a few noise pictures.
void liveCaptureOnly(benchmark::State& state) {
    auto queue = std::make_shared<TaskQueue>();
    std::vector<std::vector<uint8_t>> pictures(6, std::vector<uint8_t>(size_t{kWidth} * kHeight * 4));
    for (auto& picture : pictures) {
        for (uint8_t& byte : picture) byte = noiseByte();
    }
    GLTexture texture = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    auto recorder = RenderCapture::create(queue);
    recorder->setRecordingSettings(benchRecordingSettings());
    const std::string path = g_folder + "/capture-only.mp4";
    const double seconds = envSeconds("LUMBRIX_BENCH_RECORD_SECONDS", 60.0);
    std::vector<double> captureMs;
    for (auto _ : state) {
        if (auto error = recorder->startRecording(path, kWidth, kHeight, kFps, kBitRate, false, false)) {
            state.SkipWithError(error->description.c_str());
            return;
        }
        const auto start = Clock::now();
        auto next = start;
        size_t frame = 0;
        while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
            glBindTexture(GL_TEXTURE_2D, texture.id());
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE,
                            pictures[frame++ % pictures.size()].data());
            glBindTexture(GL_TEXTURE_2D, 0);
            const auto before = Clock::now();
            recorder->capture({texture.id(), kWidth, kHeight, GL_RGBA8});
            captureMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
            queue->drain();
            next += std::chrono::microseconds(1000000 / kFps);
            std::this_thread::sleep_until(next);
        }
        glFinish();
        recorder->capture({texture.id(), kWidth, kHeight, GL_RGBA8});
        g_captureOnly.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        g_captureOnly.appended = recorder->framesAppended();
        const auto outcome = stopAndWait(*recorder, *queue);
        if (std::holds_alternative<Error>(outcome)) {
            state.SkipWithError(std::get<Error>(outcome).description.c_str());
            return;
        }
    }
    g_captureOnly.offered = captureMs.size();
    std::sort(captureMs.begin(), captureMs.end());
    g_captureOnly.captureMedianMs = captureMs[captureMs.size() / 2];
    g_captureOnly.captureP99Ms = captureMs[std::min(captureMs.size() - 1, captureMs.size() * 99 / 100)];
    g_captureOnly.captureMaxMs = captureMs.back();
    g_captureOnly.fileFrames = test::commandOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                   "stream=nb_read_frames -of default=nw=1:nk=1 '" + path + "'");
    while (!g_captureOnly.fileFrames.empty() && g_captureOnly.fileFrames.back() == '\n') g_captureOnly.fileFrames.pop_back();
    state.counters["offered"] = static_cast<double>(g_captureOnly.offered);
    state.counters["appended"] = static_cast<double>(g_captureOnly.appended);
}

// Noisy I420 frames, reused in turn: generating noise must not be what is timed.
std::vector<std::vector<uint8_t>> noisyFrames(int count) {
    std::vector<std::vector<uint8_t>> frames(static_cast<size_t>(count));
    for (auto& frame : frames) {
        frame.resize(size_t{kWidth} * kHeight * 3 / 2);
        for (uint8_t& byte : frame) byte = noiseByte();
    }
    return frames;
}

void encoderSpeed(benchmark::State& state) {
    const int distinct = 30;
    const int total = 300;
    const auto frames = noisyFrames(distinct);
    const std::string raw = g_folder + "/frames.yuv";
    {
        std::ofstream out(raw, std::ios::binary);
        for (const auto& frame : frames) out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    for (auto _ : state) {
        auto created = MovieWriter::create(g_folder + "/ours.mp4");
        if (!created) {
            state.SkipWithError(created.error().description.c_str());
            return;
        }
        std::shared_ptr<MovieWriter> writer = std::move(created.value());
        const int input = writer->addVideoInput(MovieVideoSettings::of(benchRecordingSettings(), kWidth, kHeight, kFps));
        if (input < 0 || !writer->startWriting()) {
            state.SkipWithError("the writer did not start");
            return;
        }
        const auto start = Clock::now();
        for (int i = 0; i < total; ++i) {
            while (!writer->isReadyForMoreMediaData(input)) std::this_thread::sleep_for(std::chrono::microseconds(200));
            MovieVideoFrame frame;
            frame.planes = frames[static_cast<size_t>(i % distinct)];
            frame.presentationTime = MediaTime{i * 20, 600};
            writer->appendVideo(input, std::move(frame));
        }
        writer->finishWritingAndWait();
        g_encoder.oursFps = total / std::chrono::duration<double>(Clock::now() - start).count();
        g_encoder.frames = total;

        const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 30 -stream_loop " +
                                    std::to_string(total / distinct - 1) + " -i '" + raw +
                                    "' -c:v libx264 -preset " + presetName() +
                                    " -profile:v high -b:v 12M -maxrate 18M -bufsize 24M -g 60 -f mp4 '" + g_folder +
                                    "/anchor.mp4'";
        const auto anchorStart = Clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        g_encoder.ffmpegFps = total / std::chrono::duration<double>(Clock::now() - anchorStart).count();
    }
    state.counters["ours_fps"] = g_encoder.oursFps;
    state.counters["ffmpeg_fps"] = g_encoder.ffmpegFps;
}

// A clean stop rewrites the fragmented recording as a regular MP4. Timed on a movie of
// LUMBRIX_BENCH_RECORD_SECONDS (default 60) at 1080p30, 12 Mbit/s, made by repeating the
// encoder case's ten seconds; the anchor is the ffmpeg program copying the same
// fragmented file into a regular one.
struct ConversionFigures {
    double movieSeconds = 0;
    double megabytes = 0;
    double oursSeconds = 0;
    double ffmpegSeconds = 0;
    bool regular = false;
};
ConversionFigures g_conversion;

void finishConversion(benchmark::State& state) {
    const std::string tenSeconds = g_folder + "/anchor.mp4";
    if (!std::filesystem::exists(tenSeconds)) {
        state.SkipWithError("the encoder case made no movie to repeat");
        return;
    }
    const double seconds = envSeconds("LUMBRIX_BENCH_RECORD_SECONDS", 60.0);
    const int repeats = std::max(1, static_cast<int>(std::lround(seconds / 10.0)));
    const std::string fragmented = g_folder + "/fragmented.mp4";
    const std::string make = "ffmpeg -v error -y -stream_loop " + std::to_string(repeats - 1) + " -i '" + tenSeconds +
                             "' -c copy -movflags frag_keyframe+empty_moov+default_base_moof '" + fragmented + "'";
    if (std::system(make.c_str()) != 0) {
        state.SkipWithError("ffmpeg could not make the fragmented movie");
        return;
    }
    const std::string ours = g_folder + "/converted.mp4";
    for (auto _ : state) {
        std::filesystem::copy_file(fragmented, ours, std::filesystem::copy_options::overwrite_existing);
        const auto start = Clock::now();
        if (auto error = convertToRegularMovie(ours)) {
            state.SkipWithError(error->description.c_str());
            return;
        }
        g_conversion.oursSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        const auto anchorStart = Clock::now();
        const std::string copy = "ffmpeg -v error -y -i '" + fragmented + "' -c copy -map 0 '" + g_folder + "/copied.mp4'";
        if (std::system(copy.c_str()) != 0) {
            state.SkipWithError("ffmpeg could not copy the fragmented movie");
            return;
        }
        g_conversion.ffmpegSeconds = std::chrono::duration<double>(Clock::now() - anchorStart).count();
    }
    g_conversion.movieSeconds = 10.0 * repeats;
    g_conversion.megabytes = static_cast<double>(std::filesystem::file_size(fragmented)) / 1e6;
    const std::vector<std::string> boxes = test::topLevelBoxes(ours);
    g_conversion.regular = std::count(boxes.begin(), boxes.end(), "moov") == 1 &&
                           std::count(boxes.begin(), boxes.end(), "moof") == 0;
    state.counters["ours_s_per_min"] = g_conversion.oursSeconds * 60.0 / g_conversion.movieSeconds;
    state.counters["ffmpeg_s_per_min"] = g_conversion.ffmpegSeconds * 60.0 / g_conversion.movieSeconds;
}

}  // namespace

int main(int argc, char** argv) {
    char folder[] = "/tmp/lumbrix-record-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    g_folder = folder;
    auto context = HeadlessGLContext::create();
    if (!context) {
        std::fprintf(stderr, "No OpenGL context: %s\n", context.error().description.c_str());
        return 1;
    }
    benchmark::RegisterBenchmark("record/live_1080p30", liveRecording)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("record/capture_only_1080p30", liveCaptureOnly)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("record/encoder_1080p", encoderSpeed)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("record/finish_conversion_1080p", finishConversion)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\npreset %s, 1920x1080, 12 Mbit/s, noisy pictures\n", presetName().c_str());
    auto report = [](const char* name, const LiveFigures& f) {
        if (f.offered == 0) return;
        std::printf("%s %.1f s, frames offered %llu (%.1f fps), appended %llu (%.3f), in the file %s\n", name, f.seconds,
                    static_cast<unsigned long long>(f.offered), static_cast<double>(f.offered) / f.seconds,
                    static_cast<unsigned long long>(f.appended),
                    static_cast<double>(f.appended) / static_cast<double>(f.offered), f.fileFrames.c_str());
        std::printf("         GUI thread in capture per frame: median %.3f ms, p99 %.3f ms, max %.3f ms (target < 1 ms)\n",
                    f.captureMedianMs, f.captureP99Ms, f.captureMaxMs);
    };
    report("rendered:", g_live);
    report("capture: ", g_captureOnly);
    if (g_encoder.frames > 0) {
        std::printf("encoder: ours %.1f fps, ffmpeg program %.1f fps (ratio %.2f), %d frames\n", g_encoder.oursFps,
                    g_encoder.ffmpegFps, g_encoder.oursFps / g_encoder.ffmpegFps, g_encoder.frames);
    }
    if (g_conversion.movieSeconds > 0) {
        std::printf("clean-stop conversion of %.0f s (%.1f MB): ours %.2f s (%.2f s per minute), ffmpeg -c copy %.2f s "
                    "(%.2f s per minute), ratio %.2f; no fragments left: %s\n",
                    g_conversion.movieSeconds, g_conversion.megabytes, g_conversion.oursSeconds,
                    g_conversion.oursSeconds * 60.0 / g_conversion.movieSeconds, g_conversion.ffmpegSeconds,
                    g_conversion.ffmpegSeconds * 60.0 / g_conversion.movieSeconds,
                    g_conversion.oursSeconds / g_conversion.ffmpegSeconds, g_conversion.regular ? "yes" : "no");
    }
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
    return 0;
}
