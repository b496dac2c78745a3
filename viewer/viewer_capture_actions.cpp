// The view model's capture commands: folder, screenshot, and the recording commands its
// RecordingSession carries out. Their only feedback is the capture line.
#include <filesystem>
#include <system_error>

#include <QDir>
#include <QLocale>
#include <QStandardPaths>

#include "viewer/path_name.h"
#include "viewer/recording_session.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

const QString kRendererNotReady = QStringLiteral("Renderer not ready yet.");
const QString kChooseFolderFirst = QStringLiteral("Choose folder first.");
// Past this many captures in one second the last name is reused rather than searching on.
constexpr int kMaxSameSecondCaptures = 9999;

}  // namespace

std::optional<QString> userCaptureFolder() {
    // Qt reads XDG_VIDEOS_DIR from user-dirs.dirs and falls back to ~/Videos itself;
    // the fallback here covers a Qt that answers nothing.
    QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (videos.isEmpty()) {
        const QString home = QDir::homePath();
        if (home.isEmpty() || home == QDir::rootPath()) return std::nullopt;
        videos = home + QStringLiteral("/Videos");
    }
    return QDir(videos).filePath(QStringLiteral("Lumbrix"));
}

QString ViewerViewModel::captureFileName(const QDateTime& localTime, const QString& extension) {
    // A fixed locale: the digits and their order must not follow the user's settings.
    const QLocale posix(QLocale::English, QLocale::UnitedStates);
    return QStringLiteral("Lumbrix_") + posix.toString(localTime, QStringLiteral("yyyyMMdd_HHmmss")) + extension;
}

QString ViewerViewModel::freeCaptureFileName(const QString& folder, const QDateTime& localTime,
                                             const QString& extension) {
    const QString first = captureFileName(localTime, extension);
    const QString stem = first.left(first.size() - extension.size());
    QString name = first;
    for (int number = 2; number <= kMaxSameSecondCaptures; ++number) {
        // A dangling link or a folder of that name counts as taken too: nothing of the
        // user's is ever replaced.
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(capturePath(folder, name), error))) break;
        name = stem + QLatin1Char('-') + QString::number(number) + extension;
    }
    return name;
}

void ViewerViewModel::setCaptureFolder(const QString& path) {
    captureFolderIsDefault_ = false;
    write(Field::captureFolderURL, captureFolderURL_, path);
    setLastCaptureMessage(QStringLiteral("Folder: ") + lastPathComponent(path));
    persistence_.saveCaptureFolder(path);
}

bool ViewerViewModel::ensureCaptureFolder(QString* problem) const {
    // The folder may have been deleted since it was chosen; it is simply made again.
    std::error_code error;
    std::filesystem::create_directories(captureFolderURL_->toStdString(), error);
    if (!error) return true;
    *problem = QStringLiteral("Cannot create folder %1: %2")
                   .arg(*captureFolderURL_, QString::fromStdString(error.message()));
    return false;
}

std::shared_ptr<CaptureBridge> ViewerViewModel::readyCaptureBridge() {
    auto bridge = captureBridge_.lock();
    if (!bridge) {
        setLastCaptureMessage(kRendererNotReady);
        return nullptr;
    }
    // A default folder that cannot be made is no folder at all: the user must pick one.
    // A chosen one that has gone is reported by the capture itself, naming the reason.
    QString problem;
    if (!captureFolderURL_ || (captureFolderIsDefault_ && !ensureCaptureFolder(&problem))) {
        setLastCaptureMessage(kChooseFolderFirst);
        return nullptr;
    }
    return bridge;
}

std::optional<QString> ViewerViewModel::openableCaptureFolder() {
    QString problem;
    if (!captureFolderURL_ || (captureFolderIsDefault_ && !ensureCaptureFolder(&problem))) {
        setLastCaptureMessage(kChooseFolderFirst);
        return std::nullopt;
    }
    if (!ensureCaptureFolder(&problem)) {
        setLastCaptureMessage(problem);
        return std::nullopt;
    }
    return captureFolderURL_;
}

void ViewerViewModel::takeScreenshot() {
    const auto bridge = readyCaptureBridge();
    if (!bridge) return;
    QString problem;
    if (!ensureCaptureFolder(&problem)) {
        setLastCaptureMessage(QStringLiteral("Screenshot failed: ") + problem);
        return;
    }
    const QString name = freeCaptureFileName(*captureFolderURL_, now(), QStringLiteral(".png"));
    if (const auto error = bridge->saveScreenshot(capturePath(*captureFolderURL_, name))) {
        setLastCaptureMessage(QStringLiteral("Screenshot failed: ") + QString::fromStdString(error->description));
        return;
    }
    setLastCaptureMessage(QStringLiteral("Saved: ") + name);
}

void ViewerViewModel::toggleRecording() {
    // A click while the file is being finished would otherwise read as a second Stop
    // and swallow the user's next Record.
    if (recording_->isFinishing()) return;
    const auto bridge = readyCaptureBridge();
    if (!bridge) return;
    recording_->toggle(bridge);
}

bool ViewerViewModel::finishRecording() { return recording_->finish(); }

std::chrono::milliseconds ViewerViewModel::recordingFinishTimeLeft() const { return recording_->finishTimeLeft(); }

bool ViewerViewModel::waitForRecordingFinish() { return recording_->waitForFinish(); }

bool ViewerViewModel::isFinishingRecording() const { return recording_->isFinishing(); }

AudioCapture& ViewerViewModel::audioCapture() { return recording_->microphone(); }

bool ViewerViewModel::hasAudioCapture() const { return recording_->hasMicrophone(); }

}  // namespace lumbrix
