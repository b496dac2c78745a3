// A video file played through FileTextureSource the way the viewer plays it: the main
// thread is a 60 Hz display that asks for the texture every 16.67 ms and finishes the
// GL work, draining the main queue each tick. Clips are 1920×1080 and 3840×2160 H.264
// at 30 fps with AAC stereo sound, made with the ffmpeg program at start-up (moving
// detail over cycling colours, so decoding costs what real footage costs).
//
// Reported per clip:
//   - frames shown against frames due, 30 × the seconds the playback clock advanced;
//     pictures skipped (a newer picture replacing one never shown) come out of the gap;
//   - process CPU time (all threads: demuxing, decoding, conversion, sound, upload) per
//     second of playback;
//   - sound against picture: at each tick that shows a new picture, its presentation
//     time minus the playback clock, which the sound drives. A 60 Hz display picking up
//     30 fps pictures puts this between about −17 ms and 0 when nothing is late;
//     The first picture's offset and the time from prepare() to it are shown apart:
//     startup lands in the minimum otherwise;
//   - how far the clock fell behind the wall clock over the run (startup included),
//     which shows stalls of the sound; upload time of a new picture (texture() plus
//     glFinish); ticks the display missed because one ran long.
//
// The sound goes to SDL's dummy driver unless SDL_AUDIODRIVER says otherwise, so the
// run is headless but the device still consumes samples in real time.
// LUMBRIX_BENCH_VIDEO_SECONDS shortens the clips (default 20); LUMBRIX_BENCH_KEEP_FILE=1
// leaves them in /tmp.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless_gl_context.h"
#include "platform/main_queue.h"
#include "sources/file_texture_source.h"
#include "tests/support/test_media.h"

namespace {

using namespace lumbrix;
using Clock = std::chrono::steady_clock;

constexpr double kFps = 30.0;
constexpr auto kDisplayTick = std::chrono::nanoseconds(16'666'667);
// Past the clip's length plus this, a source that never reaches its end is given up on.
constexpr double kGraceSeconds = 5.0;

struct Case {
    const char* label;
    int width;
    int height;
};

const Case kCases[] = {{"1080p30", 1920, 1080}, {"2160p30", 3840, 2160}};

struct Figures {
    double generateSeconds = 0.0;
    bool sound = false;
    bool reachedEnd = false;
    uint64_t framesShown = 0;
    uint64_t framesSkipped = 0;
    double framesDue = 0.0;
    double playbackSeconds = 0.0;
    double clockLagMs = 0.0;  // wall time of the run minus the clock's advance
    double cpuMsPerSecond = 0.0;
    double offsetMeanMs = 0.0;
    double offsetMinMs = 0.0;
    double offsetMaxMs = 0.0;
    double firstOffsetMs = 0.0;  // the first picture's, where startup shows
    double firstPictureMs = 0.0;  // from prepare() to the first picture in the texture
    double uploadMedianMs = 0.0;
    double uploadMaxMs = 0.0;
    uint64_t lateTicks = 0;  // ticks that started more than one tick behind schedule
};

std::map<std::string, Figures> g_figures;
int g_seconds = 20;

// Fixed buffers: the cleanup also runs from a signal handler.
char g_dir[64] = "";
char g_files[2][160] = {"", ""};

void removeClips() {
    for (const char* file : g_files) {
        if (file[0] != '\0') unlink(file);
    }
    if (g_dir[0] != '\0') rmdir(g_dir);
}

void onTerminatingSignal(int sig) {
    removeClips();
    signal(sig, SIG_DFL);
    raise(sig);
}

bool makeClipFolder() {
    std::snprintf(g_dir, sizeof g_dir, "/tmp/lumbrix-bench-XXXXXX");
    if (mkdtemp(g_dir) == nullptr) {
        std::perror("mkdtemp");
        g_dir[0] = '\0';
        return false;
    }
    const char* keep = std::getenv("LUMBRIX_BENCH_KEEP_FILE");
    if (keep == nullptr || *keep == '\0' || *keep == '0') {
        std::atexit(removeClips);
        signal(SIGINT, onTerminatingSignal);
        signal(SIGTERM, onTerminatingSignal);
    }
    return true;
}

bool secondsFromEnvironment() {
    const char* text = std::getenv("LUMBRIX_BENCH_VIDEO_SECONDS");
    if (text == nullptr || *text == '\0') return true;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > 600) {
        std::fprintf(stderr, "LUMBRIX_BENCH_VIDEO_SECONDS must be a whole number of seconds, 1 to 600, got \"%s\"\n",
                     text);
        return false;
    }
    g_seconds = static_cast<int>(value);
    return true;
}

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Made on first use, so a --benchmark_filter that skips a size skips its encoding too.
std::string clipFor(const Case& c, size_t index, double& generateSeconds, std::string& error) {
    std::snprintf(g_files[index], sizeof g_files[index], "%s/%s.mp4", g_dir, c.label);
    test::ClipSpec spec;
    spec.widthPx = c.width;
    spec.heightPx = c.height;
    spec.fps = kFps;
    const char* const palette[] = {"red", "lime", "blue", "yellow", "magenta", "cyan", "white", "gray"};
    spec.secondColors.clear();
    for (int s = 0; s < g_seconds; ++s) spec.secondColors.emplace_back(palette[s % 8]);
    spec.sineHz = 440.0;
    spec.sineAmplitude = 0.5;
    spec.audioRate = 48000;
    spec.audioChannels = 2;
    spec.movingDetail = true;
    const auto started = Clock::now();
    const bool made = test::makeClip(g_files[index], spec, &error);
    generateSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    return made ? std::string(g_files[index]) : std::string();
}

void playback(benchmark::State& state) {
    const size_t index = static_cast<size_t>(state.range(0));
    const Case& c = kCases[index];
    Figures figures;
    std::string error;
    const std::string path = clipFor(c, index, figures.generateSeconds, error);
    if (path.empty()) {
        state.SkipWithError(("making the clip failed: " + error).c_str());
        return;
    }
    std::printf("%s: %d s clip made in %.1f s\n", c.label, g_seconds, figures.generateSeconds);
    std::fflush(stdout);

    for (auto _ : state) {
        auto queue = std::make_shared<TaskQueue>();
        auto source = FileTextureSource::create(path, queue);
        source->setLooping(false);
        const auto prepareStart = Clock::now();
        source->prepare();
        figures.sound = source->hasSound();
        const double duration = source->durationSeconds().value_or(static_cast<double>(g_seconds));

        std::vector<double> offsetsMs;
        std::vector<double> uploadsMs;
        std::optional<double> previousPts;
        double lastClock = 0.0;
        int ticksAfterEnd = 0;
        const double cpuStart = processCpuSeconds();
        const auto wallStart = Clock::now();
        auto next = wallStart;
        for (;;) {
            queue->drain();
            const uint64_t shownBefore = source->framesShown();
            const auto t0 = Clock::now();
            source->texture();
            glFinish();
            const auto t1 = Clock::now();
            const std::optional<double> clock = source->currentSeconds();
            if (clock) lastClock = *clock;
            const std::optional<double> pts = source->shownFrameSeconds();
            if (source->framesShown() != shownBefore && pts) {
                uploadsMs.push_back(milliseconds(t1 - t0));
                if (!previousPts) figures.firstPictureMs = milliseconds(t1 - prepareStart);
                if (clock) offsetsMs.push_back((*pts - *clock) * 1000.0);
                if (previousPts) {
                    const long step = std::lround((*pts - *previousPts) * kFps);
                    if (step > 1) figures.framesSkipped += static_cast<uint64_t>(step - 1);
                }
                previousPts = pts;
            }
            // A few ticks past the clock's end, so the last picture, due right at it,
            // is picked up.
            if (lastClock >= duration - 0.5 / kFps && ++ticksAfterEnd > 3) {
                figures.reachedEnd = true;
                break;
            }
            if (std::chrono::duration<double>(Clock::now() - wallStart).count() > duration + kGraceSeconds) break;
            next += kDisplayTick;
            const auto now = Clock::now();
            if (now > next + kDisplayTick) {
                ++figures.lateTicks;
                next = now;  // a display drops the tick rather than catching up in a burst
            }
            std::this_thread::sleep_until(next);
        }
        const double wallSeconds = std::chrono::duration<double>(Clock::now() - wallStart).count();
        const double cpuSeconds = processCpuSeconds() - cpuStart;
        figures.framesShown = source->framesShown();
        source->stop();
        source.reset();
        queue->drain();

        figures.playbackSeconds = lastClock;
        figures.framesDue = kFps * lastClock;
        figures.clockLagMs = (wallSeconds - lastClock) * 1000.0;
        figures.cpuMsPerSecond = lastClock > 0.0 ? cpuSeconds / lastClock * 1000.0 : 0.0;
        if (!offsetsMs.empty()) {
            double sum = 0.0;
            for (double o : offsetsMs) sum += o;
            figures.offsetMeanMs = sum / static_cast<double>(offsetsMs.size());
            figures.firstOffsetMs = offsetsMs.front();
            figures.offsetMinMs = *std::min_element(offsetsMs.begin(), offsetsMs.end());
            figures.offsetMaxMs = *std::max_element(offsetsMs.begin(), offsetsMs.end());
        }
        figures.uploadMedianMs = median(uploadsMs);
        figures.uploadMaxMs = uploadsMs.empty() ? 0.0 : *std::max_element(uploadsMs.begin(), uploadsMs.end());
    }

    const double ratio = figures.framesDue > 0.0 ? static_cast<double>(figures.framesShown) / figures.framesDue : 0.0;
    state.counters["frames_shown"] = static_cast<double>(figures.framesShown);
    state.counters["frames_due"] = figures.framesDue;
    state.counters["shown_per_due"] = ratio;
    state.counters["skipped"] = static_cast<double>(figures.framesSkipped);
    state.counters["cpu_ms_per_s"] = figures.cpuMsPerSecond;
    state.counters["offset_mean_ms"] = figures.offsetMeanMs;
    state.counters["offset_min_ms"] = figures.offsetMinMs;
    state.counters["offset_max_ms"] = figures.offsetMaxMs;
    state.counters["offset_first_ms"] = figures.firstOffsetMs;
    state.counters["first_picture_ms"] = figures.firstPictureMs;
    state.counters["generate_s"] = figures.generateSeconds;
    if (!figures.reachedEnd) state.SkipWithError("the playback clock never reached the clip's end");
    g_figures[c.label] = figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (!secondsFromEnvironment()) return 2;
    // Headless: a real device would need a sound server and would make runs differ by
    // machine; the dummy driver still consumes samples at the device's rate.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    const std::string ffmpeg = test::ffmpegVersionLine();
    if (ffmpeg.empty()) {
        std::fprintf(stderr, "The ffmpeg program is needed to make the clips\n");
        return 1;
    }
    auto context = HeadlessGLContext::create();
    if (!context) {
        std::fprintf(stderr, "No OpenGL context: %s\n", context.error().description.c_str());
        return 1;
    }
    if (!makeClipFolder()) return 1;
    std::printf("%s\nGL renderer: %s\nSDL audio driver: %s\ncores: %u, clips: %d s\n", ffmpeg.c_str(),
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)), std::getenv("SDL_AUDIODRIVER"),
                std::thread::hardware_concurrency(), g_seconds);

    for (size_t i = 0; i < std::size(kCases); ++i) {
        benchmark::RegisterBenchmark((std::string("playback/") + kCases[i].label).c_str(), playback)
            ->Arg(static_cast<int64_t>(i))->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-8s %6s %5s %7s %7s %6s %5s %5s %7s %9s %22s %9s %8s %14s %4s\n", "clip", "make s", "sound",
                "shown", "due", "ratio", "skip", "late", "lag ms", "CPU ms/s", "A/V mean/min/max ms", "A/V first",
                "start ms", "upload med/max", "end");
    for (const Case& c : kCases) {
        const auto it = g_figures.find(c.label);
        if (it == g_figures.end()) continue;
        const Figures& f = it->second;
        const double ratio = f.framesDue > 0.0 ? static_cast<double>(f.framesShown) / f.framesDue : 0.0;
        std::printf("%-8s %6.1f %5s %7llu %7.1f %6.3f %5llu %5llu %7.0f %9.0f %8.1f/%6.1f/%6.1f %9.1f %8.0f "
                    "%7.1f/%6.1f %4s\n",
                    c.label, f.generateSeconds, f.sound ? "yes" : "no", static_cast<unsigned long long>(f.framesShown),
                    f.framesDue, ratio, static_cast<unsigned long long>(f.framesSkipped),
                    static_cast<unsigned long long>(f.lateTicks), f.clockLagMs, f.cpuMsPerSecond, f.offsetMeanMs,
                    f.offsetMinMs, f.offsetMaxMs, f.firstOffsetMs, f.firstPictureMs, f.uploadMedianMs, f.uploadMaxMs,
                    f.reachedEnd ? "yes" : "no");
    }
    std::printf("targets: shown/due 1.0 for 1080p30 on 2 cores; A/V offset within ±20 ms "
                "(CPU ms/s: 1000 is one core busy)\n");
    return 0;
}
