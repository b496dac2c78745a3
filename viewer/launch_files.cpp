#include "viewer/launch_files.h"

#include <QFileInfo>

#include "platform/console_line.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

LaunchFileKind launchFileKind(const QString& path) {
    static const QStringList videos = {QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("m4v"),
                                       QStringLiteral("mkv"), QStringLiteral("avi"), QStringLiteral("webm"),
                                       QStringLiteral("mxf"), QStringLiteral("mts"), QStringLiteral("ts"),
                                       QStringLiteral("mpg"), QStringLiteral("mpeg")};
    static const QStringList images = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")};
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("obj")) return LaunchFileKind::objModel;
    if (extension == QLatin1String("fbx")) return LaunchFileKind::fbxModel;
    if (videos.contains(extension)) return LaunchFileKind::video;
    if (images.contains(extension)) return LaunchFileKind::image;
    return LaunchFileKind::unknown;
}

void openLaunchFiles(ViewerViewModel& viewModel, const QStringList& paths) {
    for (const QString& given : paths) {
        // Relative names are the shell's: resolve them before anything is stored.
        const QString path = QFileInfo(given).absoluteFilePath();
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
            viewModel.setSourceMode(SourceMode::file);
            viewModel.setVideoFile(path);
            break;
        case LaunchFileKind::image:
            viewModel.setSourceMode(SourceMode::image);
            viewModel.setImageFile(path);
            break;
        case LaunchFileKind::unknown:
            printConsoleLine("Not a model, movie or picture, ignored: " + given.toStdString());
            break;
        }
    }
}

}  // namespace lumbrix
