// Four venues, each playing a 1920×1080 30 fps H.264 file of its own through a silent
// FileTextureSource (no sound device: a venue's sound is never heard), drawn by the
// renderer on the headless context at 30 frames a second into a 1280×720 target, the
// way the viewer draws a venue wall of side screens.
//
// The sources start paused and are drawn until each shows its first picture (the program
// built, the textures allocated), then play: the viewer has been drawing before Play.
//
// Anchor, in the same run: the same four sources with their texture asked for on the
// same 30 Hz tick but nothing drawn, so the difference is what drawing the venues costs.
//
// Reported per case:
//   - frames shown against frames due per source (30 × the seconds its clock advanced),
//     the worst of the four, and pictures skipped (a newer one replacing one never shown);
//   - the worst lag: how far any source's clock had passed its shown picture's time when
//     the tick's drawing had finished;
//   - process CPU time per second of playback (all threads: demux, decode, conversion,
//     upload, drawing); draw time per tick (draw() plus glFinish), median and maximum;
//     ticks the loop missed because one ran long;
//   - static frames: with the sources paused, 60 more ticks must upload nothing (buffer
//     uploads of the renderer) and show no new picture.
//
// LUMBRIX_BENCH_VIDEO_SECONDS sets the clip's length (default 10).
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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

#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "platform/main_queue.h"
#include "render/renderer.h"
#include "sources/file_texture_source.h"
#include "tests/support/test_media.h"

namespace {

using namespace lumbrix;
using Clock = std::chrono::steady_clock;

constexpr double kFps = 30.0;
constexpr auto kTick = std::chrono::nanoseconds(33'333'333);
constexpr int kVenues = 4;
constexpr int kTargetWidthPx = 1280;
constexpr int kTargetHeightPx = 720;
constexpr int kStaticTicks = 60;

struct Figures {
    std::array<uint64_t, kVenues> shown{};
    std::array<double, kVenues> due{};
    uint64_t skipped = 0;
    double worstRatio = 0.0;
    double worstLagMs = 0.0;  // the clock past the shown picture's time, at any tick
    double cpuMsPerSecond = 0.0;
    double drawMedianMs = 0.0;
    double drawMaxMs = 0.0;
    uint64_t lateTicks = 0;
    uint64_t staticUploads = 0;
    uint64_t staticPictures = 0;
};

std::map<std::string, Figures> g_figures;
int g_seconds = 10;
std::string g_clip;

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// A square of half size `half` in the plane x = 0 centred at (0, y, z), facing the
// default camera, with the UVs as the loaders store them.
std::shared_ptr<const Mesh> square(float y, float z, float half) {
    auto mesh = std::make_shared<Mesh>();
    auto corner = [](float py, float pz, float u, float v) {
        Vertex vertex;
        vertex.position = {0.0f, py, pz};
        vertex.uv = {u, v};
        vertex.normal = {-1.0f, 0.0f, 0.0f};
        return vertex;
    };
    mesh->vertices = {corner(y - half, z - half, 0, 1), corner(y - half, z + half, 1, 1),
                      corner(y + half, z + half, 1, 0), corner(y + half, z - half, 0, 0)};
    mesh->indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

void venues(benchmark::State& state) {
    const bool draw = state.range(0) != 0;
    Figures figures;
    for (auto _ : state) {
        auto created = Renderer::create();
        if (!created) {
            state.SkipWithError(created.error().description.c_str());
            return;
        }
        Renderer& renderer = *created.value();
        renderer.showFloorGrid = false;
        GLFramebuffer window = GLFramebuffer::generate();
        GLRenderbuffer color = GLRenderbuffer::generate();
        glBindRenderbuffer(GL_RENDERBUFFER, color.id());
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kTargetWidthPx, kTargetHeightPx);
        glBindFramebuffer(GL_FRAMEBUFFER, window.id());
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.id());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);

        auto queue = std::make_shared<TaskQueue>();
        std::vector<std::shared_ptr<FileTextureSource>> sources;
        std::vector<VenueDraw> draws;
        for (int i = 0; i < kVenues; ++i) {
            auto source = FileTextureSource::create(g_clip, queue, /*playsSound=*/false);
            source->setLooping(false);
            source->setPlaying(false);
            sources.push_back(source);
            draws.push_back({square(i < 2 ? 0.5f : -0.5f, i % 2 == 0 ? -0.85f : 0.85f, 0.45f),
                             VenueContentKind::ownSource, {}, source});
        }
        renderer.setVenueDraws(draws);
        for (const auto& source : sources) source->prepare();
        const double duration = sources.front()->durationSeconds().value_or(static_cast<double>(g_seconds));

        std::array<std::optional<double>, kVenues> previousPts;
        std::array<double, kVenues> lastClock{};
        std::vector<double> drawMs;
        bool measuring = false;
        auto tick = [&] {
            queue->drain();
            const auto t0 = Clock::now();
            if (draw) {
                renderer.setVenueDraws(draws);  // pushed every update, as the view bridge does
                renderer.draw(window.id(), kTargetWidthPx, kTargetHeightPx);
            } else {
                for (const auto& source : sources) source->texture();
            }
            glFinish();
            if (measuring) drawMs.push_back(milliseconds(Clock::now() - t0));
        };
        // Paused until each shows its first picture: the textured program is built and every
        // texture allocated, as in a viewer that has been showing them before Play.
        const auto warmUpEnd = Clock::now() + std::chrono::seconds(10);
        auto allShown = [&] {
            return std::all_of(sources.begin(), sources.end(), [](const auto& s) { return s->framesShown() > 0; });
        };
        while (!allShown() && Clock::now() < warmUpEnd) {
            tick();
            std::this_thread::sleep_for(kTick);
        }
        tick();
        measuring = true;
        // The draw ticks meet each file's frame times at a phase of its own, a quarter
        // frame apart; the first sits a millisecond before a frame's time, where tick
        // jitter decides between two pictures.
        const double cpuStart = processCpuSeconds();
        const auto loopStart = Clock::now();
        for (int i = 0; i < kVenues; ++i) {
            std::this_thread::sleep_until(loopStart + std::chrono::milliseconds(1) + kTick * i / kVenues);
            sources[static_cast<size_t>(i)]->setPlaying(true);
        }
        auto next = loopStart + kTick;
        std::this_thread::sleep_until(next);
        for (;;) {
            tick();
            bool ended = true;
            for (int i = 0; i < kVenues; ++i) {
                FileTextureSource& source = *sources[static_cast<size_t>(i)];
                if (auto clock = source.currentSeconds()) lastClock[static_cast<size_t>(i)] = *clock;
                const std::optional<double> pts = source.shownFrameSeconds();
                auto& previous = previousPts[static_cast<size_t>(i)];
                if (pts && previous && *pts != *previous) {
                    const long step = std::lround((*pts - *previous) * kFps);
                    if (step > 1) figures.skipped += static_cast<uint64_t>(step - 1);
                }
                if (pts) previous = pts;
                if (pts) {
                    const double lagMs = (lastClock[static_cast<size_t>(i)] - *pts) * 1000.0;
                    figures.worstLagMs = std::max(figures.worstLagMs, lagMs);
                }
                ended = ended && lastClock[static_cast<size_t>(i)] >= duration - 0.5 / kFps;
            }
            if (ended || std::chrono::duration<double>(Clock::now() - loopStart).count() > duration + 10.0) break;
            next += kTick;
            const auto now = Clock::now();
            if (now > next + kTick) {
                ++figures.lateTicks;
                next = now;
            }
            std::this_thread::sleep_until(next);
        }
        const double cpuSeconds = processCpuSeconds() - cpuStart;
        double longest = 0.0;
        figures.worstRatio = 1e9;
        for (int i = 0; i < kVenues; ++i) {
            const auto at = static_cast<size_t>(i);
            figures.shown[at] = sources[at]->framesShown();
            figures.due[at] = kFps * lastClock[at];
            longest = std::max(longest, lastClock[at]);
            figures.worstRatio = std::min(figures.worstRatio, figures.due[at] > 0 ? figures.shown[at] / figures.due[at] : 0.0);
        }
        figures.cpuMsPerSecond = longest > 0 ? cpuSeconds / longest * 1000.0 : 0.0;
        std::sort(drawMs.begin(), drawMs.end());
        figures.drawMedianMs = drawMs.empty() ? 0.0 : drawMs[drawMs.size() / 2];
        figures.drawMaxMs = drawMs.empty() ? 0.0 : drawMs.back();

        // Nothing changes from here on: no buffer upload, no new picture.
        for (const auto& source : sources) source->setPlaying(false);
        tick();
        const uint64_t uploadsBefore = renderer.uploadCount();
        uint64_t picturesBefore = 0;
        for (const auto& source : sources) picturesBefore += source->framesShown();
        for (int i = 0; i < kStaticTicks; ++i) tick();
        figures.staticUploads = renderer.uploadCount() - uploadsBefore;
        for (const auto& source : sources) figures.staticPictures += source->framesShown();
        figures.staticPictures -= picturesBefore;

        renderer.setVenueDraws({});
        for (const auto& source : sources) source->stop();
        sources.clear();
        draws.clear();
        queue->drain();
    }
    uint64_t shown = 0;
    double due = 0.0;
    for (int i = 0; i < kVenues; ++i) {
        shown += figures.shown[static_cast<size_t>(i)];
        due += figures.due[static_cast<size_t>(i)];
    }
    state.counters["frames_shown"] = static_cast<double>(shown);
    state.counters["frames_due"] = due;
    state.counters["worst_shown_per_due"] = figures.worstRatio;
    state.counters["skipped"] = static_cast<double>(figures.skipped);
    state.counters["cpu_ms_per_s"] = figures.cpuMsPerSecond;
    state.counters["static_uploads"] = static_cast<double>(figures.staticUploads);
    g_figures[draw ? "drawn" : "bare"] = figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* text = std::getenv("LUMBRIX_BENCH_VIDEO_SECONDS"); text != nullptr && *text != '\0') {
        g_seconds = std::atoi(text);
        if (g_seconds < 1 || g_seconds > 600) {
            std::fprintf(stderr, "LUMBRIX_BENCH_VIDEO_SECONDS must be a whole number of seconds, 1 to 600\n");
            return 2;
        }
    }
    // Silent sources open no device; the dummy driver keeps a slip from reaching a speaker.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    if (test::ffmpegVersionLine().empty()) {
        std::fprintf(stderr, "The ffmpeg program is needed to make the clip\n");
        return 1;
    }
    auto context = HeadlessGLContext::create();
    if (!context) {
        std::fprintf(stderr, "No OpenGL context: %s\n", context.error().description.c_str());
        return 1;
    }
    char dir[] = "/tmp/lumbrix-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    g_clip = std::string(dir) + "/1080p30.mp4";
    test::ClipSpec spec;
    spec.widthPx = 1920;
    spec.heightPx = 1080;
    spec.fps = kFps;
    const char* const palette[] = {"red", "lime", "blue", "yellow", "magenta", "cyan", "white", "gray"};
    spec.secondColors.clear();
    for (int s = 0; s < g_seconds; ++s) spec.secondColors.emplace_back(palette[s % 8]);
    spec.movingDetail = true;
    std::string error;
    const auto started = Clock::now();
    if (!test::makeClip(g_clip, spec, &error)) {
        std::fprintf(stderr, "making the clip failed: %s\n", error.c_str());
        rmdir(dir);
        return 1;
    }
    std::printf("GL renderer: %s\ncores: %u, clip: %d s of 1080p30 made in %.1f s, target %dx%d\n",
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)), std::thread::hardware_concurrency(),
                g_seconds, std::chrono::duration<double>(Clock::now() - started).count(), kTargetWidthPx,
                kTargetHeightPx);
    std::fflush(stdout);

    benchmark::RegisterBenchmark("four_video_venues/drawn", venues)->Arg(1)->Iterations(1)->UseRealTime()->Unit(
        benchmark::kSecond);
    benchmark::RegisterBenchmark("four_video_venues/bare_sources", venues)->Arg(0)->Iterations(1)->UseRealTime()->Unit(
        benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(g_clip.c_str());
    rmdir(dir);

    std::printf("\n%-6s %-31s %7s %6s %7s %9s %16s %5s %14s\n", "case", "shown/due per source", "worst", "skip",
                "lag ms", "CPU ms/s", "draw med/max ms", "late", "static up/pic");
    for (const char* name : {"drawn", "bare"}) {
        const auto it = g_figures.find(name);
        if (it == g_figures.end()) continue;
        const Figures& f = it->second;
        std::string perSource;
        for (int i = 0; i < kVenues; ++i) {
            char cell[32];
            std::snprintf(cell, sizeof cell, "%s%llu/%.0f", i ? " " : "",
                          static_cast<unsigned long long>(f.shown[static_cast<size_t>(i)]), f.due[static_cast<size_t>(i)]);
            perSource += cell;
        }
        std::printf("%-6s %-31s %7.3f %6llu %7.1f %9.0f %7.1f/%7.1f %5llu %7llu/%llu\n", name, perSource.c_str(),
                    f.worstRatio, static_cast<unsigned long long>(f.skipped), f.worstLagMs, f.cpuMsPerSecond,
                    f.drawMedianMs, f.drawMaxMs, static_cast<unsigned long long>(f.lateTicks),
                    static_cast<unsigned long long>(f.staticUploads), static_cast<unsigned long long>(f.staticPictures));
    }
    std::printf("targets: shown/due 1.0 per source; lag (read after the draw) under a frame and a half plus the "
                "draw; static frames upload nothing and show no new picture (CPU ms/s: 1000 is one core busy)\n");
    return 0;
}
