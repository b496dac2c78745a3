#include "ui/panel_source_section.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "sources/ndi_receiver.h"
#include "ui/panel_elided_label.h"
#include "ui/panel_extra_ips_dialog.h"
#include "ui/panel_segmented_picker.h"
#include "ui/panel_style.h"
#include "viewer/ndi_choices.h"
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

QString receiveStatsText(const NDIReceiveStats& stats) {
    return QStringLiteral("%1 fps received · %2 dropped · %3 queued")
        .arg(stats.framesPerSecond, 0, 'f', 1)
        .arg(stats.droppedFrames)
        .arg(stats.queuedFrames);
}

QString noSendersHintText(NDINoSendersHint hint) {
    switch (hint) {
    case NDINoSendersHint::none:
        break;
    case NDINoSendersHint::mdnsRunning:
        return QStringLiteral(
            "No senders found. Senders on another subnet, or behind a firewall, can be added by address with "
            "Extra IPs.");
    case NDINoSendersHint::mdnsMissing:
        return QStringLiteral(
            "No senders found. mDNS (avahi-daemon) is not running, so senders are found only through Extra IPs.");
    }
    return {};
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
    auto* extraIPs = new QPushButton(QStringLiteral("Extra IPs…"), ndiPage_);
    extraIPs->setObjectName(QStringLiteral("extraIPsButton"));
    extraIPs->setToolTip(QStringLiteral("Addresses of machines whose senders discovery does not find"));
    frameSize_ = new QLabel(ndiPage_);
    frameSize_->setObjectName(QStringLiteral("frameSizeLabel"));
    refreshRow->addWidget(refresh);
    refreshRow->addWidget(extraIPs);
    refreshRow->addWidget(frameSize_, 1);
    ndiLayout->addLayout(refreshRow);
    auto* bandwidthRow = new QHBoxLayout;
    bandwidthRow->setSpacing(8);
    bandwidthRow->addWidget(new QLabel(QStringLiteral("Bandwidth"), ndiPage_));
    bandwidthPicker_ = new SegmentedPicker({QStringLiteral("Highest"), QStringLiteral("Lowest")}, ndiPage_);
    bandwidthPicker_->setObjectName(QStringLiteral("ndiBandwidthPicker"));
    bandwidthPicker_->setToolTip(
        QStringLiteral("Lowest asks the sender for its small preview stream, for slow links or many receivers"));
    bandwidthRow->addWidget(bandwidthPicker_, 1);
    ndiLayout->addLayout(bandwidthRow);
    receiveStats_ = makeCaptionLabel(QString(), false, ndiPage_);
    receiveStats_->setObjectName(QStringLiteral("ndiStatsLabel"));
    receiveStats_->setToolTip(
        QStringLiteral("Video frames received per second, frames lost since connecting, and frames waiting "
                       "in the NDI runtime's queue"));
    ndiLayout->addWidget(receiveStats_);
    noSendersHint_ = makeCaptionLabel(QString(), false, ndiPage_);
    noSendersHint_->setObjectName(QStringLiteral("ndiHintLabel"));
    noSendersHint_->setWordWrap(true);
    ndiLayout->addWidget(noSendersHint_);
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
    connect(extraIPs, &QPushButton::clicked, this, &PanelSourceSection::editExtraIPs);
    connect(bandwidthPicker_, &SegmentedPicker::activated, this, [this](int index) {
        chooseNDIBandwidth(vm_, index == 1 ? NDIBandwidth::lowest : NDIBandwidth::highest);
    });
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

    bandwidthPicker_->setCurrentIndex(receiver.bandwidth() == NDIBandwidth::lowest ? 1 : 0);
    // A runtime without counters shows nothing rather than zeros that look measured.
    const auto& stats = receiver.receiveStats();
    receiveStats_->setText(stats ? receiveStatsText(*stats) : QString());
    receiveStats_->setVisible(stats.has_value());
    const QString hint = noSendersHintText(receiver.noSendersHint());
    noSendersHint_->setText(hint);
    noSendersHint_->setVisible(!hint.isEmpty());
}

void PanelSourceSection::editExtraIPs() {
    // Without a nested event loop, like the file panels: discovery and the picture go
    // on while the user types.
    auto* dialog = new ExtraIPsDialog(
        QString::fromStdString(vm_.receiver()->extraIPs()).replace(QLatin1Char(','), QStringLiteral(", ")),
        [this](const QString& typed) { return chooseNDIExtraIPs(vm_, typed); }, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
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
