// NDI frames from the fake runtime into a GL texture: what the live path costs next to
// the least any receiver must do with a frame, one memcpy of its bytes.
//
// Each case runs a fake sender (1920×1080 at 60 fps, 3840×2160 at 30 fps) through the
// real loader, receiver and NDITextureSource for a few seconds. The main thread plays
// a 250 Hz display: every 4 ms it asks the source for its texture and finishes the GL
// work, so a new frame is picked up within 4 ms of landing. Reported per case:
//   - frames per second uploaded, against the sender's rate;
//   - CPU per frame (process CPU time over the run, all threads: the fake sender's
//     stamping, the receiver's copy, the upload, the polling) against the floor, a
//     memcpy of the same bytes timed in the same run;
//   - delivery: time from the sender's timestamp (in the frame's first row) to the end
//     of the upload that put it in the texture, worst case and 99th percentile, against
//     one frame interval.
// Both upload paths are measured (glTexSubImage2D straight from the frame, and through a
// pixel-buffer object); the source uses the faster. 1080p60 also runs with the sender's
// sound (a 1 kHz tone, 48 kHz stereo) played on SDL's dummy driver, which takes samples
// at the real pace: its CPU per frame next to the silent case's is what sound costs.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/headless_gl_context.h"
#include "platform/main_queue.h"
#include "sources/ndi_receiver.h"
#include "sources/ndi_texture_source.h"
#include "tests/fake_ndi/fake_ndi_control.h"

namespace {

using namespace lumbrix;
using Clock = std::chrono::steady_clock;

constexpr double kRunSeconds = 4.0;
constexpr auto kDisplayTick = std::chrono::milliseconds(4);

struct Case {
    const char* label;
    int width;
    int height;
    double fps;
    int toneHz;  // 0: no sound
};

const Case kCases[] = {
    {"1080p60", 1920, 1080, 60.0, 0}, {"1080p60+sound", 1920, 1080, 60.0, 1000}, {"2160p30", 3840, 2160, 30.0, 0}};

struct Figures {
    double framesPerSecond = 0.0;
    double senderFps = 0.0;
    double cpuMsPerFrame = 0.0;
    double memcpyMsPerFrame = 0.0;
    double worstDeliveryMs = 0.0;
    double p99DeliveryMs = 0.0;
    double intervalMs = 0.0;
    size_t frames = 0;
};

std::map<std::string, Figures> g_figures;

double processCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The floor: one copy of a frame's bytes between two buffers that have both been
// touched, median of several.
double memcpyMilliseconds(size_t bytes) {
    std::vector<uint8_t> from(bytes, 0x5A);
    std::vector<uint8_t> to(bytes, 0);
    std::vector<double> times;
    for (int i = 0; i < 15; ++i) {
        auto start = Clock::now();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void liveUpload(benchmark::State& state, Case spec, NDIUploadPath path) {
    FakeNdiControl fake;
    if (!fake.loaded()) {
        state.SkipWithError(fake.error().c_str());
        return;
    }
    fake.reset();
    char senders[128];
    if (spec.toneHz > 0) {
        std::snprintf(senders, sizeof senders, "Bench@%dx%d@%g@%d", spec.width, spec.height, spec.fps, spec.toneHz);
    } else {
        std::snprintf(senders, sizeof senders, "Bench@%dx%d@%g", spec.width, spec.height, spec.fps);
    }
    fake.setSenders(senders);

    auto queue = std::make_shared<TaskQueue>();
    auto receiver = NDIReceiver::create(queue);
    receiver->startDiscovery();
    const auto giveUp = Clock::now() + std::chrono::seconds(5);
    while (receiver->sources().empty() && Clock::now() < giveUp) {
        queue->drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    receiver->connect(0);
    NDITextureSource source(receiver, path);
    if (spec.toneHz > 0 && !source.playsSound()) {
        receiver->shutdown();
        queue->drain();
        state.SkipWithError("no playback device for the sound");
        return;
    }

    std::vector<double> deliveriesMs;
    uint32_t lastShown = 0;
    bool any = false;
    double cpuStart = 0.0;
    Clock::time_point wallStart;
    // One display tick: upload whatever is newest; returns the delivery time of a frame
    // that reached the texture for the first time.
    auto tick = [&]() -> std::optional<double> {
        queue->drain();
        std::optional<VideoFrame> newest = receiver->latestFrame();
        const uint64_t uploadsBefore = source.uploads();
        source.texture();
        if (source.uploads() == uploadsBefore || !newest) {
            return std::nullopt;
        }
        glFinish();
        // The frame uploaded is at least as new as the one looked at just before.
        const uint32_t number = fakeNdiFrameNumber(newest->data.get());
        if (any && number == lastShown) {
            return std::nullopt;
        }
        lastShown = number;
        any = true;
        const int64_t sentNs = fakeNdiSendTimeNs(newest->data.get());
        const int64_t nowNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
        return static_cast<double>(nowNs - sentNs) * 1e-6;
    };
    for (auto _ : state) {
        // Settle outside the measurement: the first frames, the texture, the sender's
        // first pattern pictures and the first touches of fresh frame buffers.
        auto nextTick = Clock::now();
        const auto settled = nextTick + std::chrono::milliseconds(750);
        while (Clock::now() < settled) {
            nextTick += kDisplayTick;
            std::this_thread::sleep_until(nextTick);
            tick();
        }
        cpuStart = processCpuSeconds();
        wallStart = Clock::now();
        nextTick = wallStart;
        while (Clock::now() - wallStart < std::chrono::duration<double>(kRunSeconds)) {
            nextTick += kDisplayTick;
            std::this_thread::sleep_until(nextTick);
            if (auto deliveredMs = tick()) {
                deliveriesMs.push_back(*deliveredMs);
            }
        }
    }
    const double cpuSeconds = processCpuSeconds() - cpuStart;
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - wallStart).count();
    receiver->shutdown();
    queue->drain();

    if (deliveriesMs.empty()) {
        state.SkipWithError("no frame reached the texture");
        return;
    }
    Figures figures;
    figures.frames = deliveriesMs.size();
    figures.framesPerSecond = static_cast<double>(deliveriesMs.size()) / wallSeconds;
    figures.senderFps = spec.fps;
    figures.cpuMsPerFrame = cpuSeconds * 1e3 / static_cast<double>(deliveriesMs.size());
    figures.memcpyMsPerFrame = memcpyMilliseconds(static_cast<size_t>(spec.width) * spec.height * 4);
    std::sort(deliveriesMs.begin(), deliveriesMs.end());
    figures.worstDeliveryMs = deliveriesMs.back();
    figures.p99DeliveryMs = deliveriesMs[std::min(deliveriesMs.size() - 1, deliveriesMs.size() * 99 / 100)];
    figures.intervalMs = 1e3 / spec.fps;
    const std::string name = std::string(spec.label) + (path == NDIUploadPath::direct ? " direct" : " pbo");
    g_figures[name] = figures;
    state.counters["fps"] = figures.framesPerSecond;
    state.counters["cpu_ms_per_frame"] = figures.cpuMsPerFrame;
    state.counters["memcpy_ms"] = figures.memcpyMsPerFrame;
    state.counters["worst_delivery_ms"] = figures.worstDeliveryMs;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("NDI_RUNTIME_DIR_V6", LUMBRIX_FAKE_NDI_DIR, 0);
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    auto context = HeadlessGLContext::create();
    if (!context) {
        std::fprintf(stderr, "No OpenGL context: %s\n", context.error().description.c_str());
        return 1;
    }
    std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    for (const Case& spec : kCases) {
        for (NDIUploadPath path : {NDIUploadPath::direct, NDIUploadPath::pixelBuffer}) {
            const std::string name =
                std::string("ndi_upload/") + spec.label + (path == NDIUploadPath::direct ? "/direct" : "/pbo");
            benchmark::RegisterBenchmark(name.c_str(), liveUpload, spec, path)
                ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n%-20s %8s %8s %12s %11s %7s %12s %10s %9s\n", "case", "fps", "sender", "cpu ms/frame",
                "memcpy ms", "ratio", "worst ms", "p99 ms", "interval");
    for (const auto& [name, f] : g_figures) {
        std::printf("%-20s %8.2f %8.2f %12.2f %11.2f %7.2f %12.2f %10.2f %9.2f\n", name.c_str(), f.framesPerSecond,
                    f.senderFps, f.cpuMsPerFrame, f.memcpyMsPerFrame, f.cpuMsPerFrame / f.memcpyMsPerFrame,
                    f.worstDeliveryMs, f.p99DeliveryMs, f.intervalMs);
    }
    for (const char* path : {" direct", " pbo"}) {
        const auto silent = g_figures.find(std::string("1080p60") + path);
        const auto sound = g_figures.find(std::string("1080p60+sound") + path);
        if (silent != g_figures.end() && sound != g_figures.end()) {
            const double added = sound->second.cpuMsPerFrame - silent->second.cpuMsPerFrame;
            std::printf("1080p60%s: sound adds %.3f ms CPU per frame (%+.1f %%)\n", path, added,
                        100.0 * added / silent->second.cpuMsPerFrame);
        }
    }
    return 0;
}
