// The view model's capture commands: folder, screenshot, recording with the video
// file's sound and the microphone. Their only feedback is the capture line.
#include <filesystem>
#include <system_error>

#include <QLocale>
#include <QPointer>

#include "capture/audio_capture.h"
#include "sources/file_texture_source.h"
#include "viewer/path_name.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

const QString kRendererNotReady = QStringLiteral("Renderer not ready yet.");
const QString kChooseFolderFirst = QStringLiteral("Choose folder first.");
const QString kRecordingPrefix = QStringLiteral("Recording\u2026 ");

std::string filePath(const QString& folder, const QString& name) {
    return (std::filesystem::path(folder.toStdString()) / name.toStdString()).string();
}

}  // namespace

QString ViewerViewModel::captureFileName(const QDateTime& localTime, const QString& extension) {
    // A fixed locale: the digits and their order must not follow the user's settings.
    const QLocale posix(QLocale::English, QLocale::UnitedStates);
    return QStringLiteral("Lumbrix_") + posix.toString(localTime, QStringLiteral("yyyyMMdd_HHmmss")) + extension;
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
    const QString name = captureFileName(now(), QStringLiteral(".png"));
    if (const auto error = bridge->saveScreenshot(filePath(*captureFolderURL_, name))) {
        setLastCaptureMessage(QStringLiteral("Screenshot failed: ") + QString::fromStdString(error->description));
        return;
    }
    setLastCaptureMessage(QStringLiteral("Saved: ") + name);
}

void ViewerViewModel::toggleRecording() {
    const auto bridge = readyCaptureBridge();
    if (!bridge) return;
    if (isRecording_) {
        stopRecording(bridge);
    } else {
        startRecording(bridge);
    }
}

void ViewerViewModel::stopRecording(const std::shared_ptr<CaptureBridge>& bridge) {
    if (auto file = std::dynamic_pointer_cast<FileTextureSource>(activeSource_)) file->removeRecordingTap();

    const std::shared_ptr<MainQueue> mainQueue = dependencies_.mainQueue;
    const QPointer<ViewerViewModel> weak(this);
    const std::weak_ptr<CaptureBridge> weakBridge = bridge;
    // isRecording stays true until the writer has answered: the button shows the stop
    // is still under way.
    mainQueue->post([weak, weakBridge, mainQueue] {
        if (!weak) return;
        if (weak->audioCapture_) weak->audioCapture_->stop();
        const auto renderer = weakBridge.lock();
        if (!renderer) {
            // The view went away with its recording; nothing will answer any more.
            weak->setLastCaptureMessage(kRendererNotReady);
            weak->write(Field::isRecording, weak->isRecording_, false);
            return;
        }
        renderer->stopRecording([weak, mainQueue](std::variant<std::string, Error> result) {
            mainQueue->post([weak, result = std::move(result)] {
                if (!weak) return;
                if (const auto* path = std::get_if<std::string>(&result)) {
                    weak->setLastCaptureMessage(QStringLiteral("Saved: ") +
                                                lastPathComponent(QString::fromStdString(*path)));
                } else {
                    weak->setLastCaptureMessage(QStringLiteral("Stop failed: ") +
                                                QString::fromStdString(std::get<Error>(result).description));
                }
                weak->write(Field::isRecording, weak->isRecording_, false);
            });
        });
    });
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
    const QString name = captureFileName(now(), QStringLiteral(".mov"));
    const auto file = std::dynamic_pointer_cast<FileTextureSource>(activeSource_);
    const bool includeSourceAudio = sourceMode_ == SourceMode::file && file != nullptr;
    if (const auto error = bridge->startRecording(filePath(*captureFolderURL_, name), captureFPS_, includeSourceAudio,
                                                  isMicEnabled_)) {
        fail(QString::fromStdString(error->description));
        return;
    }

    const QPointer<ViewerViewModel> weak(this);
    if (file) {
        file->setRecordingGainDB(videoGainDB_);
        file->setOnRecordingLevel([weak](float level) {
            if (weak) weak->write(Field::videoLevel, weak->videoLevel_, level);
        });
        file->installRecordingTap(bridge->sourceAudioSink());
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
            if (weak && weak->isRecording_ && weak->recordingName_ == name) {
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
