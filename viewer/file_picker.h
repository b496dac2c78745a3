#pragma once
// The file panels the view model opens, behind a seam: the desktop program shows Qt's
// dialogs, tests answer at once.
#include <functional>

#include <QStringList>

namespace lumbrix {

enum class FilePickKind {
    videoFile,  // one movie
    imageFile,  // one PNG or JPEG
    objModel,   // one .obj
    fbxModel,   // one .fbx
    model,      // one .obj or .fbx
    venues,     // any number of .obj and .fbx files
};

class FilePicker {
public:
    virtual ~FilePicker() = default;
    // Shows the panel without blocking; `done` gets the chosen absolute paths, or an
    // empty list for Cancel, later on the GUI thread.
    virtual void pick(FilePickKind kind, std::function<void(QStringList)> done) = 0;
};

}  // namespace lumbrix
