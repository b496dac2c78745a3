// A model load as the viewer does it against the bare loader on the same file, in the
// same run: for FBX the Varnel check in its own process, the import, the conversion to a
// mesh and the stored record; for OBJ the loader plus the record. Then the same load
// handed to the renderer with its first frame drawn (headless OpenGL, when there is a
// context), and, for FBX, the Varnel check alone and a re-export's way to the screen. The differences are what the user
// waits for beyond parsing.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "bench/bench_support.h"
#include "model/fbx_scene_importer.h"
#include "model/obj_loader.h"
#include "platform/gl/gl_object.h"
#include "platform/headless_gl_context.h"
#include "render/renderer.h"
#include "sources/ndi_receiver.h"
#include "viewer/qt_main_queue.h"
#include "viewer/varnel_check.h"
#include "viewer/viewer_view_model.h"

namespace {

using lumbrix::bench::ThroughputReporter;

constexpr int kWidthPx = 1280;
constexpr int kHeightPx = 720;

struct ModelFile {
    std::string label;
    std::string path;
};

// The big grid lives only in the shared corpus beside the repository.
const std::vector<ModelFile>& files() {
    static const std::vector<ModelFile> list = [] {
        std::vector<ModelFile> found = {
            {"fbx_cube", std::string(LUMBRIX_TEST_DATA_DIR) + "/generated/blender/bl_b_cube_uv.fbx"},
            {"obj_grid", std::string(LUMBRIX_TEST_DATA_DIR) + "/generated/blender_obj/bl_obj_grid100.obj"},
        };
        const std::string grid = std::string(LUMBRIX_CORPUS_DIR) + "/generated/blender/bl_g_big_grid.fbx";
        if (QFileInfo::exists(QString::fromStdString(grid))) {
            found.insert(found.begin() + 1, {"fbx_grid_500k", grid});
        } else {
            std::printf("Corpus file %s missing: fbx_grid_500k left out\n", grid.c_str());
        }
        return found;
    }();
    return list;
}

// The reporter keys its table on throughput, so every side reports the file's bytes.
void countBytes(benchmark::State& state, const std::string& path) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * QFileInfo(QString::fromStdString(path)).size());
}

bool isFBX(const std::string& path) { return path.size() > 4 && path.compare(path.size() - 4, 4, ".fbx") == 0; }

std::unique_ptr<lumbrix::ViewerViewModel> makeViewModel(const QTemporaryDir& settings) {
    lumbrix::ViewerDependencies deps;
    deps.mainQueue = std::make_shared<lumbrix::QtMainQueue>();
    deps.receiver = lumbrix::NDIReceiver::create(deps.mainQueue);
    deps.settingsFile = settings.filePath(QStringLiteral("Lumbrix.conf"));
    deps.executableDir = QStringLiteral(LUMBRIX_VARNEL_DIR);
    return std::make_unique<lumbrix::ViewerViewModel>(std::move(deps));
}

// The 3D view without a window: a headless context, an offscreen target of the view's
// size, and the renderer that exists before any model is opened.
struct View {
    lumbrix::HeadlessGLContext context;
    lumbrix::GLFramebuffer framebuffer = lumbrix::GLFramebuffer::generate();
    lumbrix::GLRenderbuffer color = lumbrix::GLRenderbuffer::generate();
    lumbrix::GLRenderbuffer depth = lumbrix::GLRenderbuffer::generate();
    std::unique_ptr<lumbrix::Renderer> renderer;

    explicit View(lumbrix::HeadlessGLContext ctx) : context(std::move(ctx)) {
        glBindRenderbuffer(GL_RENDERBUFFER, color.id());
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidthPx, kHeightPx);
        glBindRenderbuffer(GL_RENDERBUFFER, depth.id());
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32F, kWidthPx, kHeightPx);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color.id());
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth.id());
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }

    // The frame the user first sees the model in: the mesh handed over (uploaded on
    // this draw), the camera fitted, drawn and finished.
    void firstFrame(std::shared_ptr<const lumbrix::Mesh> mesh, bool fit = true) {
        renderer->setMesh(std::move(mesh));
        renderer->pendingFit = fit;
        renderer->draw(framebuffer.id(), kWidthPx, kHeightPx);
        glFinish();
    }
};

View* g_view = nullptr;

void BM_LoaderAlone(benchmark::State& state, const ModelFile& file) {
    for (auto _ : state) {
        if (isFBX(file.path)) {
            auto scene = lumbrix::FBXSceneImporter::loadSceneFromURL(file.path);
            if (!scene) {
                state.SkipWithError(scene.error().description.c_str());
                return;
            }
            benchmark::DoNotOptimize(scene.value()->mesh());
        } else {
            auto mesh = lumbrix::OBJLoader::load(file.path);
            if (!mesh) {
                state.SkipWithError(lumbrix::describe(mesh.error()).c_str());
                return;
            }
            benchmark::DoNotOptimize(mesh.value().indices.data());
        }
    }
    countBytes(state, file.path);
}

// The check the viewer runs before an FBX import: Varnel in its own process.
void BM_VarnelAlone(benchmark::State& state, const ModelFile& file) {
    const QString path = QString::fromStdString(file.path);
    for (auto _ : state) {
        const auto check = lumbrix::runVarnelCheck(path, QStringLiteral(LUMBRIX_VARNEL_DIR));
        if (!check || !check.value().passed) {
            state.SkipWithError(check ? check.value().message.toStdString().c_str()
                                      : check.error().description.c_str());
            return;
        }
    }
    countBytes(state, file.path);
}

// `frame`: also hand the mesh to the renderer and draw the first frame with it.
void viewerLoad(benchmark::State& state, const ModelFile& file, bool frame) {
    QTemporaryDir settings;
    auto vm = makeViewModel(settings);
    const QString path = QString::fromStdString(file.path);
    for (auto _ : state) {
        if (isFBX(file.path)) {
            vm->setModelKind(lumbrix::ModelKind::fbx);
            vm->openFBXModel(path);
        } else {
            vm->setModelKind(lumbrix::ModelKind::obj);
            vm->openOBJModel(path);
        }
        if (!vm->mesh()) {
            state.SkipWithError(vm->validationErrors().join(QLatin1Char(' ')).toStdString().c_str());
            return;
        }
        if (frame) g_view->firstFrame(vm->mesh());
    }
    if (frame) g_view->renderer->setMesh(nullptr);
    countBytes(state, file.path);
    // The fit requests posted by the FBX loads.
    QCoreApplication::processEvents();
}

void BM_ViewerLoad(benchmark::State& state, const ModelFile& file) { viewerLoad(state, file, false); }

// A re-export as exporters write it (a new file renamed over the shown one), timed from
// the rename, the last write, to the first frame drawn with the new mesh: the settle
// time of the file watch, the whole viewer load, the upload and the draw.
void BM_ReloadToFrame(benchmark::State& state, const ModelFile& file) {
    QTemporaryDir folder;
    auto vm = makeViewModel(folder);
    vm->activate();
    const QString shown = folder.filePath(QStringLiteral("venue.") + QFileInfo(QString::fromStdString(file.path)).suffix());
    const QString exported = folder.filePath(QStringLiteral(".export.tmp"));
    QFile::copy(QString::fromStdString(file.path), shown);
    vm->openFile(shown);
    if (!vm->mesh()) {
        state.SkipWithError(vm->validationErrors().join(QLatin1Char(' ')).toStdString().c_str());
        return;
    }
    g_view->firstFrame(vm->mesh());
    for (auto _ : state) {
        QFile::remove(exported);
        QFile::copy(QString::fromStdString(file.path), exported);
        const auto before = vm->mesh();
        const auto start = std::chrono::steady_clock::now();
        std::rename(exported.toLocal8Bit().constData(), shown.toLocal8Bit().constData());
        while (vm->mesh() == before) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(10)) {
                state.SkipWithError("the new version was not shown within 10 s");
                return;
            }
        }
        g_view->firstFrame(vm->mesh(), false);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    g_view->renderer->setMesh(nullptr);
    vm->deactivate();
    countBytes(state, file.path);
}
void BM_ViewerFirstFrame(benchmark::State& state, const ModelFile& file) { viewerLoad(state, file, true); }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    std::optional<View> view;
    if (auto context = lumbrix::HeadlessGLContext::create()) {
        view.emplace(std::move(context.value()));
        auto renderer = lumbrix::Renderer::create();
        if (renderer) {
            view->renderer = std::move(renderer.value());
            view->renderer->drawableSizeWillChange(kWidthPx, kHeightPx);
            // The view's first frames happen before any model: programs and targets are made.
            view->renderer->draw(view->framebuffer.id(), kWidthPx, kHeightPx);
            glFinish();
            g_view = &*view;
            std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
        } else {
            std::printf("No renderer (%s): the first-frame figures are left out\n",
                        renderer.error().description.c_str());
        }
    } else {
        std::printf("No headless OpenGL context (%s): the first-frame figures are left out\n",
                    context.error().description.c_str());
    }

    std::printf("Model load: the bare loader against the viewer's whole load of the same file\n"
                "(FBX: Varnel in its own process + import + mesh + stored record; OBJ: loader + record),\n"
                "and that load with the renderer's first frame of the model (%dx%d)\n\n",
                kWidthPx, kHeightPx);
    for (const ModelFile& file : files()) {
        benchmark::RegisterBenchmark(("loader/" + file.label).c_str(), BM_LoaderAlone, file)
            ->Unit(benchmark::kMillisecond);
        if (isFBX(file.path)) {
            benchmark::RegisterBenchmark(("varnel/" + file.label).c_str(), BM_VarnelAlone, file)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("viewer/" + file.label).c_str(), BM_ViewerLoad, file)
            ->Unit(benchmark::kMillisecond);
        if (g_view) {
            benchmark::RegisterBenchmark(("frame/" + file.label).c_str(), BM_ViewerFirstFrame, file)
                ->Unit(benchmark::kMillisecond);
            if (isFBX(file.path)) {
                benchmark::RegisterBenchmark(("reload/" + file.label).c_str(), BM_ReloadToFrame, file)
                    ->Unit(benchmark::kMillisecond)
                    ->UseManualTime()
                    ->Iterations(5);
            }
        }
    }
    ThroughputReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-16s %11s %11s %11s %11s %11s %12s %11s\n", "file", "loader ms", "varnel ms", "viewer ms",
                "extra ms", "+frame ms", "varnel/load", "reload ms");
    for (const ModelFile& file : files()) {
        const double loader = reporter.milliseconds("loader/" + file.label);
        const double varnel = reporter.milliseconds("varnel/" + file.label);
        const double viewer = reporter.milliseconds("viewer/" + file.label);
        const double frame = reporter.milliseconds("frame/" + file.label);
        if (loader <= 0.0 || viewer <= 0.0) continue;
        std::printf("%-16s %11.2f ", file.label.c_str(), loader);
        if (varnel > 0.0) {
            std::printf("%11.2f ", varnel);
        } else {
            std::printf("%11s ", "-");
        }
        std::printf("%11.2f %11.2f ", viewer, viewer - loader);
        if (frame > 0.0) {
            std::printf("%11.2f ", frame);
        } else {
            std::printf("%11s ", "-");
        }
        if (varnel > 0.0) {
            std::printf("%12.2f ", varnel / loader);
        } else {
            std::printf("%12s ", "-");
        }
        const double reload = reporter.milliseconds("reload/" + file.label);
        if (reload > 0.0) std::printf("%11.2f", reload);
        std::printf("\n");
    }
    benchmark::Shutdown();
    g_view = nullptr;
    return 0;
}
