#include "ui/panel_capture_section.h"

#include <algorithm>
#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/level_meter.h"
#include "ui/panel_elided_label.h"
#include "ui/panel_icons.h"
#include "ui/panel_style.h"
#include "viewer/path_name.h"
#include "viewer/source_kinds.h"

namespace lumbrix {

namespace {

constexpr int kMicGainMinDB = -6;
constexpr int kMicGainMaxDB = 12;
constexpr int kVideoGainMinDB = -24;
constexpr int kVideoGainMaxDB = 6;

struct AudioRow {
    LevelMeter* meter;
    QSlider* slider;
    QLabel* value;
};

AudioRow addAudioRow(QVBoxLayout* into, QWidget* parent, const QString& title, const QString& prefix, int minimumDB,
                     int maximumDB) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* label = new QLabel(title, parent);
    label->setFixedWidth(40);
    auto* meter = new LevelMeter(parent);
    meter->setObjectName(prefix + QStringLiteral("Meter"));
    meter->setFixedWidth(60);
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(prefix + QStringLiteral("GainSlider"));
    slider->setRange(minimumDB, maximumDB);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    auto* value = new QLabel(parent);
    value->setObjectName(prefix + QStringLiteral("GainValue"));
    value->setFixedWidth(48);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(label);
    row->addWidget(meter);
    row->addWidget(slider, 1);
    row->addWidget(value);
    into->addLayout(row);
    return {meter, slider, value};
}

int sliderStep(double value, int minimum, int maximum) {
    if (!std::isfinite(value)) return minimum;
    return static_cast<int>(std::lround(std::clamp(value, double(minimum), double(maximum))));
}

}  // namespace

QString gainText(double gainDB) { return wholeNumberText(gainDB) + QStringLiteral(" dB"); }

PanelCaptureSection::PanelCaptureSection(ViewerViewModel& viewModel, FolderPicker folderPicker, QWidget* parent)
    : QWidget(parent), vm_(viewModel), folderPicker_(std::move(folderPicker)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);

    auto* folderRow = new QHBoxLayout;
    folderRow->setSpacing(8);
    auto* folder = new QPushButton(QStringLiteral("Folder…"), this);
    folder->setObjectName(QStringLiteral("folderButton"));
    folderLabel_ = new ElidedLabel(this);
    folderLabel_->setObjectName(QStringLiteral("folderLabel"));
    folderRow->addWidget(folder);
    folderRow->addWidget(folderLabel_, 1);
    layout->addLayout(folderRow);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(8);
    auto* screenshot = new QPushButton(QStringLiteral("Screenshot"), this);
    screenshot->setObjectName(QStringLiteral("screenshotButton"));
    recordButton_ = new QPushButton(this);
    recordButton_->setObjectName(QStringLiteral("recordButton"));
    micButton_ = new QToolButton(this);
    micButton_->setObjectName(QStringLiteral("micButton"));
    micButton_->setToolTip(QStringLiteral("Microphone on/off"));
    micButton_->setAccessibleName(QStringLiteral("Microphone"));
    micButton_->setIconSize(QSize(16, 16));
    buttonRow->addWidget(screenshot);
    buttonRow->addWidget(recordButton_);
    buttonRow->addWidget(micButton_);
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);

    auto* audio = new QVBoxLayout;
    audio->setSpacing(4);
    const AudioRow mic = addAudioRow(audio, this, QStringLiteral("Mic"), QStringLiteral("mic"), kMicGainMinDB,
                                     kMicGainMaxDB);
    micMeter_ = mic.meter;
    micGainSlider_ = mic.slider;
    micGainValue_ = mic.value;
    const AudioRow video = addAudioRow(audio, this, QStringLiteral("Video"), QStringLiteral("video"), kVideoGainMinDB,
                                       kVideoGainMaxDB);
    videoMeter_ = video.meter;
    videoGainSlider_ = video.slider;
    videoGainValue_ = video.value;
    layout->addLayout(audio);

    message_ = makeCaptionLabel(QString(), false, this);
    message_->setObjectName(QStringLiteral("captureMessage"));
    message_->setWordWrap(true);
    layout->addWidget(message_);

    connect(folder, &QPushButton::clicked, this, &PanelCaptureSection::chooseFolder);
    connect(screenshot, &QPushButton::clicked, this, [this] { vm_.takeScreenshot(); });
    connect(recordButton_, &QPushButton::clicked, this, [this] { vm_.toggleRecording(); });
    connect(micButton_, &QToolButton::clicked, this, [this] { vm_.setIsMicEnabled(!vm_.isMicEnabled()); });
    connect(micGainSlider_, &QSlider::valueChanged, this,
            [this](int gainDB) { vm_.setMicGainDB(static_cast<float>(gainDB)); });
    connect(videoGainSlider_, &QSlider::valueChanged, this,
            [this](int gainDB) { vm_.setVideoGainDB(static_cast<float>(gainDB)); });
    connect(&vm_, &ViewerViewModel::changed, this, &PanelCaptureSection::refresh);

    refreshFolder();
    refreshRecording();
    refreshMicrophone();
    refreshGains();
    micMeter_->setLevel(vm_.micLevel());
    videoMeter_->setLevel(vm_.videoLevel());
    message_->setText(vm_.lastCaptureMessage());
    letButtonsShrink(this);
}

void PanelCaptureSection::refresh(ViewerViewModel::Field field) {
    using Field = ViewerViewModel::Field;
    switch (field) {
    case Field::captureFolderURL:
        refreshFolder();
        break;
    case Field::isRecording:
        refreshRecording();
        break;
    case Field::isMicEnabled:
        refreshMicrophone();
        break;
    case Field::micGainDB:
    case Field::videoGainDB:
    case Field::sourceMode:
        refreshGains();
        break;
    case Field::micLevel:
        micMeter_->setLevel(vm_.micLevel());
        break;
    case Field::videoLevel:
        videoMeter_->setLevel(vm_.videoLevel());
        break;
    case Field::lastCaptureMessage:
        message_->setText(vm_.lastCaptureMessage());
        break;
    default:
        break;
    }
}

void PanelCaptureSection::refreshFolder() {
    const auto& url = vm_.captureFolderURL();
    folderLabel_->setFullText(url ? lastPathComponent(*url) : QStringLiteral("No folder"));
    folderLabel_->setToolTip(url ? *url : QString());
}

void PanelCaptureSection::refreshRecording() {
    const bool finishing = vm_.isFinishingRecording();
    const bool rolling = vm_.isRecording() && !finishing;
    // While the file is being finished a click could only be a second Stop; the button
    // says why it does not answer.
    recordButton_->setText(finishing ? QStringLiteral("Finishing\u2026")
                                     : rolling ? QStringLiteral("Stop") : QStringLiteral("Record H.264"));
    recordButton_->setEnabled(!finishing);
    // A red tint says at a glance that the camera is rolling.
    QPalette tint = palette();
    if (rolling) {
        tint.setColor(QPalette::Button, QColor(190, 40, 40));
        tint.setColor(QPalette::ButtonText, Qt::white);
    }
    recordButton_->setPalette(tint);
    recordButton_->setProperty("recording", vm_.isRecording());
}

void PanelCaptureSection::refreshMicrophone() {
    const bool on = vm_.isMicEnabled();
    micButton_->setIcon(microphoneIcon(on, palette().color(QPalette::ButtonText)));
    micButton_->setProperty("symbol", on ? QStringLiteral("mic.fill") : QStringLiteral("mic.slash"));
    micGainSlider_->setEnabled(on);
}

void PanelCaptureSection::refreshGains() {
    {
        const QSignalBlocker blocker(micGainSlider_);
        micGainSlider_->setValue(sliderStep(vm_.micGainDB(), kMicGainMinDB, kMicGainMaxDB));
    }
    micGainValue_->setText(gainText(vm_.micGainDB()));
    {
        const QSignalBlocker blocker(videoGainSlider_);
        videoGainSlider_->setValue(sliderStep(vm_.videoGainDB(), kVideoGainMinDB, kVideoGainMaxDB));
    }
    videoGainValue_->setText(gainText(vm_.videoGainDB()));
    // The gain scales the source's own sound, which only some kinds have.
    videoGainSlider_->setEnabled(sourceKind(vm_.sourceMode()).hasSound);
}

void PanelCaptureSection::chooseFolder() {
    if (!folderPicker_) return;
    // The answer may come after the panel is gone (the window closed over the dialog).
    folderPicker_([weak = QPointer<PanelCaptureSection>(this)](const QString& path) {
        if (weak && !path.isEmpty()) weak->vm_.setCaptureFolder(path);
    });
}

}  // namespace lumbrix
