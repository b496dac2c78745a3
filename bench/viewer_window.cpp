// The main window on a real X display against a bare QOpenGLWidget of the same size:
// how long until the first frame, and what a static scene costs once it is up.
//
// The bare widget is the least any Qt OpenGL window can do: a 3.3 core context that only
// clears. Start-up adds the view model, the panels and the renderer's programs. For the
// steady state the bare widget asks for its next frame as soon as one is swapped, which
// is what a view without pacing does; under Xvfb nothing waits for vsync, so that is the
// busy reference. The viewport paces itself to the screen's refresh rate instead, so it
// should show the display rate at a fraction of the CPU.
//
// Run under scripts/with-display. Whole run ~30 s on llvmpipe.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QOpenGLWidget>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include "sources/ndi_receiver.h"
#include "ui/main_window.h"
#include "ui/viewport.h"
#include "viewer/qt_main_queue.h"
#include "viewer/viewer_view_model.h"

namespace {

using namespace lumbrix;
using Clock = std::chrono::steady_clock;

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 800;
constexpr int kStartupPairs = 6;
constexpr int kSteadyRounds = 2;
constexpr std::chrono::milliseconds kSteadySpan{3000};
// Lets the picture upload, the first fit and the panels' relayout finish before counting.
constexpr std::chrono::milliseconds kSettle{700};
constexpr std::chrono::milliseconds kWaitLimit{20000};

double secondsBetween(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the event loop until `done` holds; false after kWaitLimit. A blocking loop rather
// than polling, so waiting adds neither latency nor CPU to what is measured.
bool waitFor(const std::function<bool()>& done, const std::function<void(QEventLoop&)>& wake) {
    if (done()) return true;
    QEventLoop loop;
    wake(loop);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(kWaitLimit);
    while (!done() && limit.isActive()) loop.exec();
    return done();
}

void runFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

// Deleting a window posts deferred deletions (the GL compositor's resources among them);
// flushing them keeps one case's teardown out of the next one's figures.
void flushDeletions() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

class ClearingWidget : public QOpenGLWidget {
public:
    explicit ClearingWidget(bool continuous) {
        // The very context the 3D view asks for, so only the drawing differs.
        setFormat(lumbrix::Viewport::surfaceFormat());
        connect(this, &QOpenGLWidget::frameSwapped, this, [this, continuous] {
            ++framesSwapped;
            if (continuous) update();
        });
    }

    uint64_t framesSwapped = 0;
    Clock::time_point firstPaint{};
    std::string renderer;

protected:
    void initializeGL() override { renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER)); }
    void paintGL() override {
        if (firstPaint == Clock::time_point{}) firstPaint = Clock::now();
        glClearColor(0.1f, 0.1f, 0.1f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
};

ViewerDependencies dependencies(const QTemporaryDir& settings) {
    ViewerDependencies deps;
    deps.mainQueue = std::make_shared<QtMainQueue>();
    // No NDI runtime: discovery fails at once instead of searching the network.
    deps.receiver = NDIReceiver::create(deps.mainQueue, []() -> Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> {
        return unexpected(NDIRuntimeLoadFailure{{"bench: no runtime"}});
    });
    deps.settingsFile = settings.filePath(QStringLiteral("Lumbrix.conf"));
    deps.isShiftHeld = [] { return false; };
    return deps;
}

// The main window with its viewport, both remembered; each case gets fresh settings so
// that start-up never restores what an earlier case loaded.
struct Window {
    QTemporaryDir settings;
    std::unique_ptr<MainWindow> window;
    Viewport* viewport = nullptr;
    bool started = false;

    Window() {
        window = std::make_unique<MainWindow>(dependencies(settings));
        viewport = window->findChild<Viewport*>();
        QObject::connect(window.get(), &MainWindow::started, [this] { started = true; });
        window->resize(kWindowWidth, kWindowHeight);
    }

    ~Window() {
        window->close();
        window.reset();
        flushDeletions();
    }
};

std::unique_ptr<ClearingWidget> bareWidget(bool continuous) {
    auto widget = std::make_unique<ClearingWidget>(continuous);
    widget->resize(kWindowWidth, kWindowHeight);
    return widget;
}

// All from the start of construction. Qt may paint inside show(), so the marks are not
// split at show(): only the construction is, which is ours alone to answer for.
struct StartupTimes {
    double constructed = 0.0;
    double drawn = 0.0;    // the first paintGL done
    double swapped = 0.0;  // the first frame on screen
};

struct StartupSample {
    StartupTimes ours;
    StartupTimes bare;
};

std::string g_error;

bool ourStartup(StartupTimes& times) {
    Clock::time_point drawn{}, swapped{};
    const auto t0 = Clock::now();
    Window w;
    const auto constructed = Clock::now();
    if (w.viewport == nullptr) {
        g_error = "the main window has no Viewport";
        return false;
    }
    QObject::connect(w.viewport, &Viewport::frameDrawn, w.viewport, [&drawn] {
        if (drawn == Clock::time_point{}) drawn = Clock::now();
    });
    QObject::connect(w.viewport, &QOpenGLWidget::frameSwapped, w.viewport, [&swapped] {
        if (swapped == Clock::time_point{}) swapped = Clock::now();
    });
    QEventLoop* waiting = nullptr;
    QObject::connect(w.viewport, &QOpenGLWidget::frameSwapped, w.viewport, [&waiting] {
        if (waiting != nullptr) waiting->quit();
    });
    w.window->show();
    if (!waitFor([&] { return swapped != Clock::time_point{}; }, [&](QEventLoop& loop) { waiting = &loop; })) {
        g_error = "the viewport drew no frame";
        return false;
    }
    waiting = nullptr;
    times.constructed = secondsBetween(t0, constructed);
    times.drawn = secondsBetween(t0, drawn);
    times.swapped = secondsBetween(t0, swapped);
    return true;
}

bool bareStartup(StartupTimes& times, std::string* renderer) {
    Clock::time_point swapped{};
    QEventLoop* waiting = nullptr;
    const auto t0 = Clock::now();
    auto widget = bareWidget(false);
    const auto constructed = Clock::now();
    QObject::connect(widget.get(), &QOpenGLWidget::frameSwapped, widget.get(), [&] {
        if (swapped == Clock::time_point{}) swapped = Clock::now();
        if (waiting != nullptr) waiting->quit();
    });
    widget->show();
    if (!waitFor([&] { return swapped != Clock::time_point{}; }, [&](QEventLoop& loop) { waiting = &loop; })) {
        g_error = "the bare widget drew no frame";
        return false;
    }
    waiting = nullptr;
    times.constructed = secondsBetween(t0, constructed);
    times.drawn = secondsBetween(t0, widget->firstPaint);
    times.swapped = secondsBetween(t0, swapped);
    if (renderer != nullptr) *renderer = widget->renderer;
    widget.reset();
    flushDeletions();
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

struct Results {
    bool startupDone = false;
    StartupSample cold;
    StartupTimes ours;  // medians over the warm pairs
    StartupTimes bare;
    int viewportWidth = 0;
    int viewportHeight = 0;

    bool steadyDone = false;
    double ourFps = 0.0;
    double ourCpu = 0.0;  // process CPU seconds per wall second
    double bareFps = 0.0;
    double bareCpu = 0.0;
} g_results;

std::string g_glRenderer;

// The first pair pays for loading the GL driver, fonts and style once per process; it is
// kept apart. After it the pairs alternate which side goes first, so that neither side
// always inherits the other's teardown.
void BM_FirstFrame(benchmark::State& state) {
    StartupSample cold;
    if (!bareStartup(cold.bare, &g_glRenderer) || !ourStartup(cold.ours)) {
        state.SkipWithError(g_error.c_str());
        return;
    }
    std::vector<double> ours[3], bare[3];
    bool oursFirst = true;
    for (auto _ : state) {
        StartupSample sample;
        const bool ok = oursFirst ? ourStartup(sample.ours) && bareStartup(sample.bare, nullptr)
                                  : bareStartup(sample.bare, nullptr) && ourStartup(sample.ours);
        if (!ok) {
            state.SkipWithError(g_error.c_str());
            return;
        }
        oursFirst = !oursFirst;
        ours[0].push_back(sample.ours.constructed);
        ours[1].push_back(sample.ours.drawn);
        ours[2].push_back(sample.ours.swapped);
        bare[0].push_back(sample.bare.constructed);
        bare[1].push_back(sample.bare.drawn);
        bare[2].push_back(sample.bare.swapped);
    }
    Results& r = g_results;
    r.cold = cold;
    r.ours = {median(ours[0]), median(ours[1]), median(ours[2])};
    r.bare = {median(bare[0]), median(bare[1]), median(bare[2])};
    r.startupDone = true;
    state.counters["ours_swap_ms"] = r.ours.swapped * 1e3;
    state.counters["bare_swap_ms"] = r.bare.swapped * 1e3;
    state.counters["ratio"] = r.ours.swapped / r.bare.swapped;
    state.counters["cold_ours_ms"] = cold.ours.swapped * 1e3;
    state.counters["cold_bare_ms"] = cold.bare.swapped * 1e3;
}

struct Span {
    uint64_t frames = 0;
    double wall = 0.0;
    double cpu = 0.0;
};

Span measure(const std::function<uint64_t()>& frames) {
    const uint64_t f0 = frames();
    const double c0 = cpuSeconds();
    const auto t0 = Clock::now();
    runFor(kSteadySpan);
    Span span;
    span.frames = frames() - f0;
    span.cpu = cpuSeconds() - c0;
    span.wall = secondsBetween(t0, Clock::now());
    return span;
}

bool ourSteady(Span& span) {
    Window w;
    w.window->show();
    if (!waitFor([&] { return w.started && w.viewport->framesDrawn() > 0; }, [&](QEventLoop& loop) {
            QObject::connect(w.viewport, &Viewport::frameDrawn, &loop, &QEventLoop::quit);
            QObject::connect(w.window.get(), &MainWindow::started, &loop, &QEventLoop::quit);
        })) {
        g_error = "the main window did not start";
        return false;
    }
    ViewerViewModel& vm = w.window->viewModel();
    vm.setModelKind(ModelKind::obj);
    vm.openOBJModel(QStringLiteral(LUMBRIX_DEMO_DIR "/venue.obj"));
    vm.selectSourceMode(SourceMode::image);
    vm.setImageFile(QStringLiteral(LUMBRIX_DEMO_DIR "/still.png"));
    if (!vm.mesh() || !vm.activeSource()) {
        g_error = "the demo venue or still did not load: " + vm.validationErrors().join(QLatin1Char(' ')).toStdString();
        return false;
    }
    runFor(kSettle);
    g_results.viewportWidth = w.viewport->width();
    g_results.viewportHeight = w.viewport->height();
    span = measure([&] { return w.viewport->framesDrawn(); });
    return true;
}

bool bareSteady(Span& span) {
    auto widget = bareWidget(true);
    widget->show();
    runFor(kSettle);
    span = measure([&] { return widget->framesSwapped; });
    widget.reset();
    flushDeletions();
    return true;
}

// Rounds alternate sides; each side's figures are totals over its rounds.
void BM_SteadyState(benchmark::State& state) {
    Span ours, bare;
    for (auto _ : state) {
        Span a, b;
        if (!ourSteady(a) || !bareSteady(b)) {
            state.SkipWithError(g_error.c_str());
            return;
        }
        for (auto [total, part] : {std::pair{&ours, &a}, std::pair{&bare, &b}}) {
            total->frames += part->frames;
            total->wall += part->wall;
            total->cpu += part->cpu;
        }
    }
    Results& r = g_results;
    r.ourFps = static_cast<double>(ours.frames) / ours.wall;
    r.ourCpu = ours.cpu / ours.wall;
    r.bareFps = static_cast<double>(bare.frames) / bare.wall;
    r.bareCpu = bare.cpu / bare.wall;
    r.steadyDone = true;
    state.counters["ours_fps"] = r.ourFps;
    state.counters["bare_fps"] = r.bareFps;
    state.counters["ours_cpu"] = r.ourCpu;
    state.counters["bare_cpu"] = r.bareCpu;
}

void row(const char* figure, double ours, double anchor, const char* format) {
    char oursText[32], anchorText[32];
    std::snprintf(oursText, sizeof oursText, format, ours);
    std::snprintf(anchorText, sizeof anchorText, format, anchor);
    std::printf("%-42s %10s %10s %8.2f\n", figure, oursText, anchorText, anchor > 0.0 ? ours / anchor : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    const QScreen* screen = QGuiApplication::primaryScreen();
    std::printf("Main window against a bare clearing QOpenGLWidget, both %d×%d, platform %s, screen %.1f Hz\n\n",
                kWindowWidth, kWindowHeight, qPrintable(QGuiApplication::platformName()),
                screen != nullptr ? screen->refreshRate() : 0.0);

    benchmark::RegisterBenchmark("first_frame_pair", BM_FirstFrame)
        ->Iterations(kStartupPairs)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("steady_static_scene", BM_SteadyState)
        ->Iterations(kSteadyRounds)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const Results& r = g_results;
    std::printf("\nGL renderer: %s; viewport inside the window %d×%d\n", g_glRenderer.c_str(), r.viewportWidth,
                r.viewportHeight);
    std::printf("%-42s %10s %10s %8s\n", "figure", "ours", "anchor", "ratio");
    if (r.startupDone) {
        row("construction alone, ms", r.ours.constructed * 1e3, r.bare.constructed * 1e3, "%.2f");
        row("construct+show -> first frame drawn, ms", r.ours.drawn * 1e3, r.bare.drawn * 1e3, "%.1f");
        row("construct+show -> first frame swapped, ms", r.ours.swapped * 1e3, r.bare.swapped * 1e3, "%.1f");
        row("cold: same, first frame swapped, ms", r.cold.ours.swapped * 1e3, r.cold.bare.swapped * 1e3, "%.1f");
    }
    if (r.steadyDone) {
        row("static scene, frames/s", r.ourFps, r.bareFps, "%.1f");
        row("static scene, CPU s per wall s", r.ourCpu, r.bareCpu, "%.3f");
        row("static scene, CPU ms per frame", r.ourFps > 0 ? r.ourCpu / r.ourFps * 1e3 : 0.0,
            r.bareFps > 0 ? r.bareCpu / r.bareFps * 1e3 : 0.0, "%.2f");
    }
    std::printf("(warm figures: medians of %d alternating pairs; the cold pair is the process's first and runs\n"
                " the anchor first, so loading the GL driver lands on the anchor)\n",
                kStartupPairs);
    return r.startupDone && r.steadyDone ? 0 : 1;
}
