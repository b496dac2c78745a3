// The view model's capture commands: folder, screenshot, recording with the video
// file's sound and the microphone. Their only feedback is the capture line.
#include <filesystem>
#include <system_error>

#include <QEventLoop>
#include <QLocale>
#include <QPointer>
#include <QTimer>

#include "capture/audio_capture.h"
#include "sources/source_sound.h"
#include "viewer/path_name.h"
#include "viewer/source_kinds.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

const QString kRendererNotReady = QStringLiteral("Renderer not ready yet.");
const QString kChooseFolderFirst = QStringLiteral("Choose folder first.");
const QString kRecordingPrefix = QStringLiteral("Recording\u2026 ");
const QString kFinishingRecording = QStringLiteral("Finishing recording\u2026");
// Past this many captures in one second the last name is reused rather than searching on.
constexpr int kMaxSameSecondCaptures = 9999;

std::string filePath(const QString& folder, const QString& name) {
    return (std::filesystem::path(folder.toStdString()) / name.toStdString()).string();
}

}  // namespace

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
        if (!std::filesystem::exists(std::filesystem::symlink_status(filePath(folder, name), error))) break;
        name = stem + QLatin1Char('-') + QString::number(number) + extension;
    }
    return name;
}

void ViewerViewModel::setCaptureFolder(const QString& path) {
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
    if (!captureFolderURL_) {
        setLastCaptureMessage(kChooseFolderFirst);
        return nullptr;
    }
    return bridge;
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
    if (const auto error = bridge->saveScreenshot(filePath(*captureFolderURL_, name))) {
        setLastCaptureMessage(QStringLiteral("Screenshot failed: ") + QString::fromStdString(error->description));
        return;
    }
    setLastCaptureMessage(QStringLiteral("Saved: ") + name);
}

void ViewerViewModel::toggleRecording() {
    // A click while the file is being finished would otherwise read as a second Stop
    // and swallow the user's next Record.
    if (isFinishingRecording_) return;
    const auto bridge = readyCaptureBridge();
    if (!bridge) return;
    if (isRecording_) {
        stopRecording(bridge);
    } else {
        startRecording(bridge);
    }
}

void ViewerViewModel::endRecording(const QString& message) {
    setLastCaptureMessage(message);
    isFinishingRecording_ = false;
    finishDeadline_.reset();
    write(Field::isRecording, isRecording_, false);
}

void ViewerViewModel::stopRecording(const std::weak_ptr<CaptureBridge>& weakBridge) {
    if (SourceSound* sound = activeSource_ ? activeSource_->sound() : nullptr) sound->removeRecordingTap();
    // isRecording stays true until the writer has answered; the panel learns of the
    // finish through it.
    isFinishingRecording_ = true;
    write(Field::isRecording, isRecording_, true);

    const std::shared_ptr<MainQueue> mainQueue = dependencies_.mainQueue;
    const QPointer<ViewerViewModel> weak(this);
    mainQueue->post([weak, weakBridge, mainQueue] {
        if (!weak) return;
        if (weak->audioCapture_) weak->audioCapture_->stop();
        const auto renderer = weakBridge.lock();
        if (!renderer) {
            // The view went away with its recording; nothing will answer any more.
            weak->endRecording(kRendererNotReady);
            return;
        }
        renderer->stopRecording([weak, mainQueue](std::variant<std::string, Error> result) {
            mainQueue->post([weak, result = std::move(result)] {
                if (!weak) return;
                if (const auto* path = std::get_if<std::string>(&result)) {
                    weak->endRecording(QStringLiteral("Saved: ") + lastPathComponent(QString::fromStdString(*path)));
                } else {
                    weak->endRecording(QStringLiteral("Stop failed: ") +
                                       QString::fromStdString(std::get<Error>(result).description));
                }
            });
        });
    });
}

bool ViewerViewModel::finishRecording() {
    if (!isRecording_) return false;
    if (!finishDeadline_) finishDeadline_ = std::chrono::steady_clock::now() + dependencies_.recordingFinishLimit;
    if (!isFinishingRecording_) stopRecording(captureBridge_);
    if (lastCaptureMessage_ != kFinishingRecording) setLastCaptureMessage(kFinishingRecording);
    return recordingFinishTimeLeft().count() > 0;
}

std::chrono::milliseconds ViewerViewModel::recordingFinishTimeLeft() const {
    if (!isRecording_) return std::chrono::milliseconds(0);
    if (!finishDeadline_) return dependencies_.recordingFinishLimit;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*finishDeadline_ - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

bool ViewerViewModel::waitForRecordingFinish() {
    if (!finishRecording()) return !isRecording_;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &ViewerViewModel::changed, &loop, [this, &loop](Field field) {
        if (field == Field::isRecording && !isRecording_) loop.quit();
    });
    limit.start(recordingFinishTimeLeft());
    loop.exec();
    return !isRecording_;
}

void ViewerViewModel::startRecording(const std::shared_ptr<CaptureBridge>& bridge) {
    const auto fail = [this](const QString& description) {
        write(Field::isRecording, isRecording_, false);
        setLastCaptureMessage(QStringLiteral("Record failed: ") + description);
    };
    QString problem;
    if (!ensureCaptureFolder(&problem)) {
        fail(problem);
        return;
    }
    const QString name = freeCaptureFileName(*captureFolderURL_, now(), QStringLiteral(".mov"));
    SourceSound* const sound = activeSource_ ? activeSource_->sound() : nullptr;
    const bool includeSourceAudio = sourceKind(sourceMode_).hasSound && sound != nullptr;
    if (const auto error = bridge->startRecording(filePath(*captureFolderURL_, name), captureFPS_, includeSourceAudio,
                                                  isMicEnabled_)) {
        fail(QString::fromStdString(error->description));
        return;
    }

    const QPointer<ViewerViewModel> weak(this);
    if (sound) {
        sound->setRecordingGainDB(videoGainDB_);
        sound->setOnRecordingLevel([weak](float level) {
            if (weak) weak->write(Field::videoLevel, weak->videoLevel_, level);
        });
        sound->installRecordingTap(bridge->sourceAudioSink());
    }

    AudioCapture& microphone = audioCapture();
    microphone.isMicEnabled = isMicEnabled_;
    if (isMicEnabled_) {
        microphone.setOnMicLevel([weak](float level) {
            if (weak) weak->write(Field::micLevel, weak->micLevel_, level);
        });
        microphone.setMicGainDB(micGainDB_);
        microphone.setOnMicSampleBuffer(bridge->microphoneSink());
        // The device opens on the microphone's own worker, so a refusal arrives after the
        // recording has started; it then says so on the line that names the recording.
        microphone.setOnMicUnavailable([weak, name](const std::string&) {
            if (weak && weak->isRecording_ && !weak->isFinishingRecording_ && weak->recordingName_ == name) {
                weak->setLastCaptureMessage(kRecordingPrefix + name + QStringLiteral(" (microphone unavailable)"));
            }
        });
        microphone.start();
    }

    recordingName_ = name;
    write(Field::isRecording, isRecording_, true);
    setLastCaptureMessage(kRecordingPrefix + name);
}

}  // namespace lumbrix
