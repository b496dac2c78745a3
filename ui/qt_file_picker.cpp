#include "ui/qt_file_picker.h"

#include <memory>

#include <QCoreApplication>
#include <QFileDialog>

#include "viewer/source_kinds.h"

namespace lumbrix {

namespace {

// Opens `dialog` and hands its outcome to `answer` exactly once, later on the event
// loop, so the caller's work never runs inside the dialog's own teardown. A dialog that
// dies unanswered (its parent closed) counts as Cancel.
void runDialog(QFileDialog* dialog, std::function<void(bool accepted, QStringList paths)> answer) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto answered = std::make_shared<bool>(false);
    auto deliver = [answered, answer = std::move(answer)](bool accepted, QStringList paths) {
        if (*answered) return;
        *answered = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [answer, accepted, paths = std::move(paths)] { answer(accepted, paths); },
            Qt::QueuedConnection);
    };
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, deliver](int result) {
        const bool accepted = result == QDialog::Accepted;
        deliver(accepted, accepted ? dialog->selectedFiles() : QStringList{});
    });
    QObject::connect(dialog, &QObject::destroyed, QCoreApplication::instance(),
                     [deliver] { deliver(false, {}); });
    dialog->open();
}

}  // namespace

QtFilePicker::QtFilePicker(QWidget* parent) : parent_(parent) {}

QString QtFilePicker::nameFilter(FilePickKind kind) {
    if (const SourceKind* source = sourceKindForPick(kind)) {
        const std::string_view label = sourceDescriptor(source->mode).filesLabel;
        return QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())) + QStringLiteral(" (*.") +
               source->extensions.join(QStringLiteral(" *.")) + QLatin1Char(')');
    }
    switch (kind) {
    case FilePickKind::objModel:
        return QStringLiteral("OBJ models (*.obj)");
    case FilePickKind::fbxModel:
        return QStringLiteral("FBX models (*.fbx)");
    case FilePickKind::model:
    case FilePickKind::venues:
        return QStringLiteral("Models (*.obj *.fbx)");
    case FilePickKind::videoFile:
    case FilePickKind::imageFile:
        break;  // named by their source kinds above
    }
    return {};
}

bool QtFilePicker::allowsMany(FilePickKind kind) { return kind == FilePickKind::venues; }

void QtFilePicker::pick(FilePickKind kind, std::function<void(QStringList)> done) {
    auto* dialog = new QFileDialog(parent_.data());
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(allowsMany(kind) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog->setNameFilter(nameFilter(kind));
    runDialog(dialog, [done = std::move(done)](bool, QStringList paths) { done(std::move(paths)); });
}

void chooseFolderWithDialog(QWidget* parent, std::function<void(QString)> done) {
    auto* dialog = new QFileDialog(parent);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    runDialog(dialog, [done = std::move(done)](bool accepted, QStringList paths) {
        done(accepted && !paths.isEmpty() ? paths.first() : QString());
    });
}

}  // namespace lumbrix
