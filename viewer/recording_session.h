#pragma once
// The view model's recording: start with the source's sound and the microphone, stop,
// and the finish a closing window waits for. The view model owns one and forwards its
// commands; the published fields it changes stay the view model's.
#include <chrono>
#include <memory>
#include <optional>

#include <QString>

namespace lumbrix {

class AudioCapture;
class CaptureBridge;
class SourceSound;
class ViewerViewModel;

class RecordingSession {
public:
    explicit RecordingSession(ViewerViewModel& viewModel);
    ~RecordingSession();

    // Record and Stop; ignored while a stop is finishing.
    void toggle(const std::shared_ptr<CaptureBridge>& bridge);
    bool isFinishing() const { return isFinishing_; }
    bool finish();
    std::chrono::milliseconds finishTimeLeft() const;
    bool waitForFinish();

    // The source was made again from a new version of its file: a running recording
    // takes its sound from the new one, as it did from the old.
    void sourceReplaced();

    AudioCapture& microphone();
    bool hasMicrophone() const { return microphone_ != nullptr; }

private:
    void start(const std::shared_ptr<CaptureBridge>& bridge);
    void stop(const std::weak_ptr<CaptureBridge>& bridge);
    void end(const QString& message);
    void tapSourceSound(SourceSound& sound, const std::shared_ptr<CaptureBridge>& bridge);

    ViewerViewModel& vm_;
    std::unique_ptr<AudioCapture> microphone_;
    // The name of the recording that is running, for the microphone's late refusal.
    QString name_;
    // Where the source's sound goes while a recording takes it.
    std::weak_ptr<CaptureBridge> soundBridge_;
    bool isFinishing_ = false;
    // Set by the first finish(): when a closing window stops waiting.
    std::optional<std::chrono::steady_clock::time_point> finishDeadline_;
};

}  // namespace lumbrix
