#include "viewer/recording_session.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include "capture/audio_capture.h"
#include "sources/source_sound.h"
#include "viewer/path_name.h"
#include "viewer/source_kinds.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

using Field = ViewerViewModel::Field;

const QString kRendererNotReady = QStringLiteral("Renderer not ready yet.");
const QString kRecordingPrefix = QStringLiteral("Recording\u2026 ");
const QString kFinishingRecording = QStringLiteral("Finishing recording\u2026");

}  // namespace

RecordingSession::RecordingSession(ViewerViewModel& viewModel) : vm_(viewModel) {}

RecordingSession::~RecordingSession() = default;

AudioCapture& RecordingSession::microphone() {
    if (!microphone_) microphone_ = std::make_unique<AudioCapture>(vm_.dependencies_.mainQueue);
    return *microphone_;
}

void RecordingSession::toggle(const std::shared_ptr<CaptureBridge>& bridge) {
    if (vm_.isRecording_) {
        stop(bridge);
    } else {
        start(bridge);
    }
}

void RecordingSession::end(const QString& message) {
    vm_.setLastCaptureMessage(message);
    isFinishing_ = false;
    finishDeadline_.reset();
    vm_.write(Field::isRecording, vm_.isRecording_, false);
}

void RecordingSession::stop(const std::weak_ptr<CaptureBridge>& weakBridge) {
    if (SourceSound* sound = vm_.activeSource_ ? vm_.activeSource_->sound() : nullptr) sound->removeRecordingTap();
    soundBridge_.reset();
    // isRecording stays true until the writer has answered; the panel learns of the
    // finish through it.
    isFinishing_ = true;
    vm_.write(Field::isRecording, vm_.isRecording_, true);

    const std::shared_ptr<MainQueue> mainQueue = vm_.dependencies_.mainQueue;
    const QPointer<ViewerViewModel> weak(&vm_);
    mainQueue->post([weak, weakBridge, mainQueue] {
        if (!weak) return;
        if (weak->recording_->microphone_) weak->recording_->microphone_->stop();
        const auto renderer = weakBridge.lock();
        if (!renderer) {
            // The view went away with its recording; nothing will answer any more.
            weak->recording_->end(kRendererNotReady);
            return;
        }
        renderer->stopRecording([weak, mainQueue](std::variant<std::string, Error> result) {
            mainQueue->post([weak, result = std::move(result)] {
                if (!weak) return;
                if (const auto* path = std::get_if<std::string>(&result)) {
                    weak->recording_->end(QStringLiteral("Saved: ") + lastPathComponent(QString::fromStdString(*path)));
                } else {
                    weak->recording_->end(QStringLiteral("Stop failed: ") +
                                       QString::fromStdString(std::get<Error>(result).description));
                }
            });
        });
    });
}

bool RecordingSession::finish() {
    if (!vm_.isRecording_) return false;
    if (!finishDeadline_) finishDeadline_ = std::chrono::steady_clock::now() + vm_.dependencies_.recordingFinishLimit;
    if (!isFinishing_) stop(vm_.captureBridge_);
    if (vm_.lastCaptureMessage_ != kFinishingRecording) vm_.setLastCaptureMessage(kFinishingRecording);
    return finishTimeLeft().count() > 0;
}

std::chrono::milliseconds RecordingSession::finishTimeLeft() const {
    if (!vm_.isRecording_) return std::chrono::milliseconds(0);
    if (!finishDeadline_) return vm_.dependencies_.recordingFinishLimit;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*finishDeadline_ - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

bool RecordingSession::waitForFinish() {
    if (!finish()) return !vm_.isRecording_;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    // A coarse timer may fire 5 % early, cutting the writer's time short.
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&vm_, &ViewerViewModel::changed, &loop, [this, &loop](Field field) {
        if (field == Field::isRecording && !vm_.isRecording_) loop.quit();
    });
    limit.start(finishTimeLeft());
    loop.exec();
    return !vm_.isRecording_;
}

void RecordingSession::sourceReplaced() {
    const auto bridge = soundBridge_.lock();
    SourceSound* const sound = vm_.activeSource_ ? vm_.activeSource_->sound() : nullptr;
    if (!bridge || !vm_.isRecording_ || isFinishing_ || sound == nullptr) return;
    tapSourceSound(*sound, bridge);
}

void RecordingSession::tapSourceSound(SourceSound& sound, const std::shared_ptr<CaptureBridge>& bridge) {
    sound.setRecordingGainDB(vm_.videoGainDB_);
    sound.setOnRecordingLevel([weak = QPointer<ViewerViewModel>(&vm_)](float level) {
        if (weak) weak->write(Field::videoLevel, weak->videoLevel_, level);
    });
    sound.installRecordingTap(bridge->sourceAudioSink());
    soundBridge_ = bridge;
}

void RecordingSession::start(const std::shared_ptr<CaptureBridge>& bridge) {
    const auto fail = [this](const QString& description) {
        vm_.write(Field::isRecording, vm_.isRecording_, false);
        vm_.setLastCaptureMessage(QStringLiteral("Record failed: ") + description);
    };
    QString problem;
    if (!vm_.ensureCaptureFolder(&problem)) {
        fail(problem);
        return;
    }
    const QString& folder = *vm_.captureFolderURL_;
    const QString name = ViewerViewModel::freeCaptureFileName(folder, vm_.now(), QStringLiteral(".mov"));
    SourceSound* const sound = vm_.activeSource_ ? vm_.activeSource_->sound() : nullptr;
    const bool includeSourceAudio = sourceKind(vm_.sourceMode_).hasSound && sound != nullptr;
    if (const auto error = bridge->startRecording(capturePath(folder, name), vm_.captureFPS_, includeSourceAudio,
                                                  vm_.isMicEnabled_)) {
        fail(QString::fromStdString(error->description));
        return;
    }

    const QPointer<ViewerViewModel> weak(&vm_);
    if (sound) tapSourceSound(*sound, bridge);

    AudioCapture& mic = microphone();
    mic.isMicEnabled = vm_.isMicEnabled_;
    if (vm_.isMicEnabled_) {
        mic.setOnMicLevel([weak](float level) {
            if (weak) weak->write(Field::micLevel, weak->micLevel_, level);
        });
        mic.setMicGainDB(vm_.micGainDB_);
        mic.setOnMicSampleBuffer(bridge->microphoneSink());
        // The device opens on the microphone's own worker, so a refusal arrives after the
        // recording has started; it then says so on the line that names the recording.
        mic.setOnMicUnavailable([weak, name](const std::string&) {
            if (weak && weak->isRecording_ && !weak->recording_->isFinishing_ && weak->recording_->name_ == name) {
                weak->setLastCaptureMessage(kRecordingPrefix + name + QStringLiteral(" (microphone unavailable)"));
            }
        });
        mic.start();
    }

    name_ = name;
    vm_.write(Field::isRecording, vm_.isRecording_, true);
    vm_.setLastCaptureMessage(kRecordingPrefix + name);
}

}  // namespace lumbrix
