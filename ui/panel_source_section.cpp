#include "ui/panel_source_section.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "sources/ndi_receiver.h"
#include "ui/panel_elided_label.h"
#include "ui/panel_segmented_picker.h"
#include "ui/panel_style.h"
#include "viewer/path_name.h"
#include "viewer/source_kinds.h"

namespace lumbrix {

namespace {

QWidget* makePage(const QString& name, QWidget* parent) {
    auto* page = new QWidget(parent);
    page->setObjectName(name);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    return page;
}

// A "Choose…" button beside the chosen file's name, on `page`.
ElidedLabel* addChooseRow(QWidget* page, const QString& buttonName, const QString& labelName,
                     std::function<void()> choose) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* button = new QPushButton(QStringLiteral("Choose…"), page);
    button->setObjectName(buttonName);
    auto* label = new ElidedLabel(page);
    label->setObjectName(labelName);
    row->addWidget(button);
    row->addWidget(label, 1);
    static_cast<QVBoxLayout*>(page->layout())->addLayout(row);
    QObject::connect(button, &QPushButton::clicked, page, std::move(choose));
    return label;
}

}  // namespace

QString frameSizeText(double width, double height) {
    if (!(width > 0.0) || !(height > 0.0)) return QStringLiteral("—");
    return wholeNumberText(width) + QChar(0x00D7) + wholeNumberText(height);
}

PanelSourceSection::PanelSourceSection(ViewerViewModel& viewModel, QWidget* parent) : QWidget(parent), vm_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(8);

    auto* modeRow = new QHBoxLayout;
    modeRow->setSpacing(8);
    modeRow->addWidget(new QLabel(QStringLiteral("Mode"), this));
    QStringList modeLabels;
    for (const SourceKind& kind : sourceKinds()) modeLabels.append(kind.label);
    modePicker_ = new SegmentedPicker(modeLabels, this);
    modePicker_->setObjectName(QStringLiteral("sourceModePicker"));
    modeRow->addWidget(modePicker_, 1);
    layout->addLayout(modeRow);

    ndiPage_ = makePage(QStringLiteral("ndiPage"), this);
    auto* ndiLayout = static_cast<QVBoxLayout*>(ndiPage_->layout());
    ndiLayout->addWidget(makeSubheading(QStringLiteral("NDI SOURCES"), ndiPage_));
    senderPicker_ = new QComboBox(ndiPage_);
    senderPicker_->setObjectName(QStringLiteral("ndiSenderPicker"));
    ndiLayout->addWidget(senderPicker_);
    auto* refreshRow = new QHBoxLayout;
    refreshRow->setSpacing(8);
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), ndiPage_);
    refresh->setObjectName(QStringLiteral("refreshButton"));
    frameSize_ = new QLabel(ndiPage_);
    frameSize_->setObjectName(QStringLiteral("frameSizeLabel"));
    refreshRow->addWidget(refresh);
    refreshRow->addWidget(frameSize_, 1);
    ndiLayout->addLayout(refreshRow);
    layout->addWidget(ndiPage_);

    filePage_ = makePage(QStringLiteral("videoFilePage"), this);
    filePage_->layout()->addWidget(makeSubheading(QStringLiteral("VIDEO FILE"), filePage_));
    videoFileLabel_ = addChooseRow(filePage_, QStringLiteral("chooseVideoButton"), QStringLiteral("videoFileLabel"),
                                   [this] { vm_.chooseVideoFile(); });
    layout->addWidget(filePage_);

    imagePage_ = makePage(QStringLiteral("imagePage"), this);
    imagePage_->layout()->addWidget(makeSubheading(QStringLiteral("IMAGE"), imagePage_));
    imageFileLabel_ = addChooseRow(imagePage_, QStringLiteral("chooseImageButton"), QStringLiteral("imageFileLabel"),
                                   [this] { vm_.chooseImageFile(); });
    layout->addWidget(imagePage_);

    connect(modePicker_, &SegmentedPicker::activated, this,
            [this](int index) { vm_.selectSourceMode(sourceKinds()[static_cast<size_t>(index)].mode); });
    connect(senderPicker_, &QComboBox::activated, this, &PanelSourceSection::chooseSender);
    // The asynchronous refresh: refreshSources waits up to half a second for the network,
    // which would freeze the window.
    connect(refresh, &QPushButton::clicked, this, [this] { vm_.receiver()->requestRefresh(); });
    letButtonsShrink(this);
    connect(&vm_, &ViewerViewModel::changed, this, &PanelSourceSection::refresh);

    refreshMode();
    refreshReceiver();
    refreshFiles();
}

void PanelSourceSection::refresh(ViewerViewModel::Field field) {
    using Field = ViewerViewModel::Field;
    switch (field) {
    case Field::sourceMode:
        refreshMode();
        break;
    case Field::receiver:
        refreshReceiver();
        break;
    case Field::fileURL:
    case Field::imageURL:
        refreshFiles();
        break;
    default:
        break;
    }
}

void PanelSourceSection::refreshMode() {
    const SourceMode mode = vm_.sourceMode();
    modePicker_->setCurrentIndex(indexOfCase(kAllSourceModes, mode));
    ndiPage_->setVisible(mode == SourceMode::ndi);
    filePage_->setVisible(mode == SourceMode::file);
    imagePage_->setVisible(mode == SourceMode::image);
}

void PanelSourceSection::refreshReceiver() {
    const NDIReceiver& receiver = *vm_.receiver();
    QStringList entries{QStringLiteral("—")};
    for (const std::string& name : receiver.sources()) entries.push_back(QString::fromStdString(name));
    const QSignalBlocker blocker(senderPicker_);
    QStringList shown;
    for (int i = 0; i < senderPicker_->count(); ++i) shown.push_back(senderPicker_->itemText(i));
    // Discovery republishes the list every second; rebuilding an unchanged list would
    // close the popup under the user's pointer.
    if (shown != entries) {
        senderPicker_->clear();
        senderPicker_->addItems(entries);
    }
    const int selected = receiver.selectedIndex();
    const bool valid = selected >= 0 && static_cast<size_t>(selected) < receiver.sources().size();
    senderPicker_->setCurrentIndex(valid ? selected + 1 : 0);

    const FrameSize size = receiver.lastFrameSize();
    frameSize_->setText(frameSizeText(size.width, size.height));
}

void PanelSourceSection::chooseSender(int entry) {
    // "—" is no sender; the receiver has no call to drop a connection, so it keeps the
    // current one and the picker goes back to showing it.
    if (entry > 0) {
        vm_.receiver()->connect(entry - 1);
        vm_.applySource();
    }
    refreshReceiver();
}

void PanelSourceSection::refreshFiles() {
    const auto& video = vm_.fileURL();
    videoFileLabel_->setFullText(video ? lastPathComponent(*video) : QStringLiteral("No file selected"));
    const auto& image = vm_.imageURL();
    imageFileLabel_->setFullText(image ? lastPathComponent(*image) : QStringLiteral("No image selected"));
}

}  // namespace lumbrix
