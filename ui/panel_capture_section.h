#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_capture_section.h is internal to ui/"
#endif
// The CAPTURE section's content: capture folder, screenshot, recording, microphone,
// audio levels and gains, and the capture status line.
#include <functional>

#include <QWidget>

#include "viewer/viewer_view_model.h"

class QLabel;
class QPushButton;
class QSlider;
class QToolButton;

namespace lumbrix {

class ElidedLabel;
class LevelMeter;

class PanelCaptureSection : public QWidget {
    Q_OBJECT

public:
    // Asks the user for a folder; the answer is the chosen path, or empty for Cancel.
    using FolderPicker = std::function<void(std::function<void(QString)>)>;

    PanelCaptureSection(ViewerViewModel& viewModel, FolderPicker folderPicker, QWidget* parent = nullptr);

    void setFolderPicker(FolderPicker picker) { folderPicker_ = std::move(picker); }

private:
    void refresh(ViewerViewModel::Field field);
    void refreshFolder();
    void refreshRecording();
    void refreshMicrophone();
    void refreshGains();
    void chooseFolder();

    ViewerViewModel& vm_;
    FolderPicker folderPicker_;
    ElidedLabel* folderLabel_;
    QPushButton* recordButton_;
    QToolButton* micButton_;
    LevelMeter* micMeter_;
    QSlider* micGainSlider_;
    QLabel* micGainValue_;
    LevelMeter* videoMeter_;
    QSlider* videoGainSlider_;
    QLabel* videoGainValue_;
    QLabel* message_;
};

// A gain as a whole number of decibels, "-8 dB".
QString gainText(double gainDB);

}  // namespace lumbrix
