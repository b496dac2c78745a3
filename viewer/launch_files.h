#pragma once
// Files named on the command line (or dropped on the program's icon through its
// desktop entry): a model is opened as the model, a movie as the video file, a picture
// as the image, each as if chosen in its panel. Runs after start-up, so what the user
// names wins over what was restored.
#include <QStringList>

namespace lumbrix {

class ViewerViewModel;

enum class LaunchFileKind { objModel, fbxModel, video, image, unknown };

// By extension, case-insensitive.
LaunchFileKind launchFileKind(const QString& path);

// Opens each file in order; files of no known kind are named on standard output and
// skipped. A later file of the same kind replaces an earlier one.
void openLaunchFiles(ViewerViewModel& viewModel, const QStringList& paths);

}  // namespace lumbrix
