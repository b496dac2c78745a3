#include "viewer/launch_files.h"

#include <QFileInfo>

#include "platform/console_line.h"
#include "viewer/source_kinds.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

LaunchFileKind launchFileKind(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("obj")) return LaunchFileKind::objModel;
    if (extension == QLatin1String("fbx")) return LaunchFileKind::fbxModel;
    if (const SourceKind* kind = sourceKindForFile(path)) {
        return kind->mode == SourceMode::image ? LaunchFileKind::image : LaunchFileKind::video;
    }
    return LaunchFileKind::unknown;
}

void openLaunchFiles(ViewerViewModel& viewModel, const QStringList& paths) {
    for (const QString& given : paths) {
        // Relative names are the shell's: resolve them before anything is stored.
        const QString path = QFileInfo(given).absoluteFilePath();
        if (const SourceKind* kind = sourceKindForFile(path)) {
            viewModel.setSourceMode(kind->mode);
            kind->openFile(viewModel, path);
            continue;
        }
        switch (launchFileKind(path)) {
        case LaunchFileKind::objModel:
            viewModel.setModelKind(ModelKind::obj);
            viewModel.openOBJModel(path);
            break;
        case LaunchFileKind::fbxModel:
            viewModel.setModelKind(ModelKind::fbx);
            viewModel.openFBXModel(path);
            break;
        case LaunchFileKind::video:
        case LaunchFileKind::image:  // opened above, as the source kind they belong to
            break;
        case LaunchFileKind::unknown:
            printConsoleLine("Not a model, movie or picture, ignored: " + given.toStdString());
            break;
        }
    }
}

}  // namespace lumbrix
