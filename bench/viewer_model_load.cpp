// A model load as the viewer does it against the bare loader on the same file, in the
// same run: for FBX the Varnel check in its own process, the import, the conversion to a
// mesh and the stored record; for OBJ the loader plus the record. The difference is what
// the user waits for beyond parsing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include "bench/bench_support.h"
#include "model/fbx_scene_importer.h"
#include "model/obj_loader.h"
#include "sources/ndi_receiver.h"
#include "viewer/qt_main_queue.h"
#include "viewer/viewer_view_model.h"

namespace {

using lumbrix::bench::ThroughputReporter;

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

// The reporter keys its table on throughput, so both sides report the file's bytes.
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

void BM_ViewerLoad(benchmark::State& state, const ModelFile& file) {
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
    }
    countBytes(state, file.path);
    // The fit requests posted by the FBX loads.
    QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    std::printf("Model load: the bare loader against the viewer's whole load of the same file\n"
                "(FBX: Varnel in its own process + import + mesh + stored record; OBJ: loader + record)\n\n");
    for (const ModelFile& file : files()) {
        benchmark::RegisterBenchmark(("loader/" + file.label).c_str(), BM_LoaderAlone, file)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("viewer/" + file.label).c_str(), BM_ViewerLoad, file)
            ->Unit(benchmark::kMillisecond);
    }
    ThroughputReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-16s %12s %12s %10s %8s\n", "file", "loader ms", "viewer ms", "extra ms", "ratio");
    for (const ModelFile& file : files()) {
        const double loader = reporter.milliseconds("loader/" + file.label);
        const double viewer = reporter.milliseconds("viewer/" + file.label);
        if (loader <= 0.0 || viewer <= 0.0) continue;
        std::printf("%-16s %12.2f %12.2f %10.2f %8.2f\n", file.label.c_str(), loader, viewer, viewer - loader,
                    viewer / loader);
    }
    benchmark::Shutdown();
    return 0;
}
