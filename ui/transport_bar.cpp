#include "ui/transport_bar.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include <QCheckBox>
#include <QFontMetrics>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "ui/panel_style.h"
#include "viewer/source_kinds.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

constexpr double kMinimumTimelineSeconds = 0.01;
constexpr int kStatusWidthPx = 360;

int sliderUnits(double seconds) {
    if (!std::isfinite(seconds)) return 0;
    const double units = std::round(seconds * TransportBar::kSliderUnitsPerSecond);
    return static_cast<int>(std::clamp(units, 0.0, static_cast<double>(INT_MAX)));
}

}  // namespace

QString transportTimeText(double seconds) {
    if (!std::isfinite(seconds)) return QStringLiteral("--:--");
    // std::round rounds halves away from zero.
    const double rounded = std::max(0.0, std::round(seconds));
    const long long total = static_cast<long long>(std::min(rounded, 9.0e18));
    return QString::asprintf("%02lld:%02lld", total / 60, total % 60);
}

bool transportCanScrub(SourceMode mode, double durationSeconds) {
    return sourceKind(mode).hasTimeline && durationSeconds > kMinimumTimelineSeconds;
}

TransportBar::TransportBar(ViewerViewModel& viewModel, QWidget* parent) : QWidget(parent), vm_(viewModel) {
    setObjectName(QStringLiteral("transportBar"));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->setContentsMargins(14, 6, 14, 8);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(10);
    auto* title = makeCaptionLabel(QStringLiteral("TRANSPORT"), true, this);
    title->setFixedWidth(110);
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto* group = new QWidget(this);
    group->setObjectName(QStringLiteral("transportGroup"));
    group->setFixedWidth(220);
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->setContentsMargins(0, 0, 0, 0);
    groupLayout->setSpacing(10);
    playButton_ = new QPushButton(group);
    playButton_->setObjectName(QStringLiteral("playPauseButton"));
    playButton_->setFixedWidth(86);
    playButton_->setAutoDefault(false);
    // The prominent button: drawn in the accent colour.
    QPalette prominent = playButton_->palette();
    prominent.setColor(QPalette::Button, prominent.color(QPalette::Highlight));
    prominent.setColor(QPalette::ButtonText, prominent.color(QPalette::HighlightedText));
    playButton_->setPalette(prominent);
    loopSwitch_ = new QCheckBox(QStringLiteral("Loop"), group);
    loopSwitch_->setObjectName(QStringLiteral("loopSwitch"));
    groupLayout->addStretch(1);
    groupLayout->addWidget(playButton_);
    groupLayout->addWidget(loopSwitch_);
    groupLayout->addStretch(1);

    status_ = makeCaptionLabel(QString(), false, this);
    status_->setObjectName(QStringLiteral("sourceStatusLabel"));
    status_->setFixedWidth(kStatusWidthPx);
    status_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    controls->addStretch(1);
    controls->addWidget(title, 0, Qt::AlignVCenter);
    controls->addWidget(group, 0, Qt::AlignVCenter);
    controls->addWidget(status_, 0, Qt::AlignVCenter);
    controls->addStretch(1);
    layout->addLayout(controls);

    scrubRow_ = new QWidget(this);
    scrubRow_->setObjectName(QStringLiteral("scrubRow"));
    auto* scrub = new QHBoxLayout(scrubRow_);
    scrub->setContentsMargins(0, 0, 0, 0);
    elapsed_ = makeCaptionLabel(QString(), false, scrubRow_);
    elapsed_->setObjectName(QStringLiteral("elapsedLabel"));
    elapsed_->setFixedWidth(60);
    elapsed_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    slider_ = new QSlider(Qt::Horizontal, scrubRow_);
    slider_->setObjectName(QStringLiteral("scrubSlider"));
    remaining_ = makeCaptionLabel(QString(), false, scrubRow_);
    remaining_->setObjectName(QStringLiteral("remainingLabel"));
    remaining_->setFixedWidth(72);
    remaining_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    scrub->addWidget(elapsed_);
    scrub->addWidget(slider_, 1);
    scrub->addWidget(remaining_);
    scrubOpacity_ = new QGraphicsOpacityEffect(scrubRow_);
    scrubRow_->setGraphicsEffect(scrubOpacity_);
    layout->addWidget(scrubRow_);

    connect(playButton_, &QPushButton::clicked, this, [this] {
        vm_.setIsPlaying(!vm_.isPlaying());
        vm_.applyPlaying();
    });
    connect(loopSwitch_, &QCheckBox::toggled, this, [this](bool on) {
        vm_.setIsLooping(on);
        vm_.applyLooping();
    });
    connect(slider_, &QSlider::sliderPressed, this, &TransportBar::sliderPressed);
    connect(slider_, &QSlider::valueChanged, this, &TransportBar::sliderValueChanged);
    connect(slider_, &QSlider::sliderReleased, this, &TransportBar::sliderReleased);
    connect(&vm_, &ViewerViewModel::changed, this, [this](ViewerViewModel::Field field) {
        using Field = ViewerViewModel::Field;
        switch (field) {
        case Field::sourceMode:
        case Field::isPlaying:
        case Field::isLooping:
        case Field::scrubSeconds:
        case Field::durationSeconds:
        case Field::isScrubbing:
        case Field::fileURL:
        case Field::imageURL:
        case Field::receiver:
            refresh();
            break;
        default:
            break;
        }
    });
    refresh();
}

TransportBar::~TransportBar() = default;

bool TransportBar::canScrub() const { return transportCanScrub(vm_.sourceMode(), vm_.durationSeconds()); }

void TransportBar::refresh() {
    playButton_->setText(vm_.isPlaying() ? QStringLiteral("Pause") : QStringLiteral("Play"));
    {
        const QSignalBlocker blocker(loopSwitch_);
        loopSwitch_->setChecked(vm_.isLooping());
    }
    refreshStatus();

    const bool scrubbable = canScrub();
    const double duration = vm_.durationSeconds();
    const double position = vm_.scrubSeconds();
    {
        const QSignalBlocker blocker(slider_);
        const double span = std::isfinite(duration) ? std::max(duration, kMinimumTimelineSeconds)
                                                    : kMinimumTimelineSeconds;
        slider_->setRange(0, std::max(1, sliderUnits(span)));
        // The knob under the user's finger is where the user put it.
        if (!slider_->isSliderDown()) slider_->setValue(sliderUnits(position));
    }
    elapsed_->setText(transportTimeText(scrubbable ? position : 0.0));
    remaining_->setText(QStringLiteral("-") +
                        transportTimeText(scrubbable ? std::max(duration - position, 0.0) : 0.0));
    scrubRow_->setEnabled(scrubbable);
    scrubOpacity_->setOpacity(scrubbable ? 1.0 : 0.45);
}

void TransportBar::refreshStatus() {
    const QString text = vm_.sourceStatusText();
    status_->setToolTip(text);
    status_->setText(QFontMetrics(status_->font()).elidedText(text, Qt::ElideMiddle, status_->width()));
}

void TransportBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refreshStatus();
}

void TransportBar::sliderPressed() {
    if (canScrub()) vm_.setIsScrubbing(true);
}

void TransportBar::sliderValueChanged(int position) {
    if (!canScrub()) return;
    const double seconds = position / kSliderUnitsPerSecond;
    if (slider_->isSliderDown()) {
        vm_.setScrubSeconds(seconds);
        return;
    }
    // A step from the keyboard or a click on the groove: a drag that starts and ends at
    // once, so it seeks like one.
    vm_.setIsScrubbing(true);
    vm_.setScrubSeconds(seconds);
    vm_.setIsScrubbing(false);
    vm_.commitScrub();
}

void TransportBar::sliderReleased() {
    if (!canScrub()) return;
    vm_.setIsScrubbing(false);
    vm_.commitScrub();
}

}  // namespace lumbrix
