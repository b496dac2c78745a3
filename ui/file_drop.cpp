#include "ui/file_drop.h"

#include <QFileInfo>

#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

bool isModelFile(const QFileInfo& file) {
    const QString extension = file.suffix().toLower();
    return extension == QLatin1String("obj") || extension == QLatin1String("fbx");
}

}  // namespace

void openDroppedUrls(ViewerViewModel& viewModel, const QList<QUrl>& urls, bool modelsAsVenues) {
    for (const QUrl& url : urls) {
        // A browser's link or a remote share's address has no file we could read.
        if (!url.isLocalFile()) {
            viewModel.setLastCaptureMessage(QStringLiteral("Not a local file: ") + url.toDisplayString());
            continue;
        }
        const QFileInfo file(url.toLocalFile());
        const QString name = file.fileName().isEmpty() ? file.filePath() : file.fileName();
        if (file.isDir()) {
            viewModel.setLastCaptureMessage(QStringLiteral("Cannot open a folder: ") + name);
        } else if (!file.isFile()) {
            viewModel.setLastCaptureMessage(QStringLiteral("Not found: ") + name);
        } else if (modelsAsVenues && isModelFile(file)) {
            viewModel.addVenue(file.absoluteFilePath());
        } else if (!viewModel.openFile(file.absoluteFilePath())) {
            viewModel.setLastCaptureMessage(QStringLiteral("Not a model, movie or picture: ") + name);
        }
    }
}

}  // namespace lumbrix
