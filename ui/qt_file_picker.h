#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/qt_file_picker.h is internal to ui/"
#endif
// The desktop program's file panels: Qt's file dialog, shown without blocking the event
// loop, answering through the FilePicker seam the view model uses.
#include <functional>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "viewer/file_picker.h"

namespace lumbrix {

class QtFilePicker final : public FilePicker {
public:
    // Dialogs are shown over `parent` (none: free-standing).
    explicit QtFilePicker(QWidget* parent = nullptr);

    // Exactly one answer per pick, queued to the GUI thread after the dialog has closed:
    // the chosen paths, or an empty list for Cancel or a dialog destroyed unanswered.
    void pick(FilePickKind kind, std::function<void(QStringList)> done) override;

    // The dialog's file-type filter for `kind`.
    static QString nameFilter(FilePickKind kind);
    // Whether `kind` lets the user choose several files.
    static bool allowsMany(FilePickKind kind);

private:
    QPointer<QWidget> parent_;
};

// Shows a non-modal folder chooser over `parent`; `done` gets the folder's path, or an
// empty string for Cancel, queued to the GUI thread.
void chooseFolderWithDialog(QWidget* parent, std::function<void(QString)> done);

}  // namespace lumbrix
