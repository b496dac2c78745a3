#include "ui/main_window_sidebar.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/source_panel.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

// The chevron stands as tall as a caption-size glyph; the backing adds the padding.
constexpr qreal kGlyphPx = 11.0;
constexpr int kPaddingPx = 6;

}  // namespace

ChevronButton::ChevronButton(Direction direction, QWidget* parent) : QAbstractButton(parent), direction_(direction) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    setToolTip(direction == Direction::left ? tr("Hide the side panel") : tr("Show the side panel"));
}

QSize ChevronButton::sizeHint() const {
    const int side = static_cast<int>(kGlyphPx) + 2 * kPaddingPx;
    return {side, side};
}

void ChevronButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Black at 0.45, then the whole backing at 0.5.
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.45 * 0.5));

    const QRectF glyph = QRectF(rect()).adjusted(kPaddingPx, kPaddingPx, -kPaddingPx, -kPaddingPx);
    const qreal halfWidth = glyph.height() * 0.28;
    const qreal centreX = glyph.center().x();
    const qreal tipX = direction_ == Direction::left ? centreX - halfWidth : centreX + halfWidth;
    const qreal backX = direction_ == Direction::left ? centreX + halfWidth : centreX - halfWidth;
    QPainterPath path;
    path.moveTo(backX, glyph.top() + 1);
    path.lineTo(tipX, glyph.center().y());
    path.lineTo(backX, glyph.bottom() - 1);

    QColor ink = QColor::fromRgbF(1, 1, 1, isDown() ? 0.9 : 0.65);
    QPen pen(ink, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.drawPath(path);
}

SidebarPane::SidebarPane(ViewerViewModel& viewModel, QWidget* parent) : QStackedWidget(parent), viewModel_(viewModel) {
    setObjectName(QStringLiteral("sidebar"));

    panelFrame_ = new QWidget(this);
    panelFrame_->setObjectName(QStringLiteral("sourcePanelFrame"));
    auto* frameLayout = new QVBoxLayout(panelFrame_);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(panelFrame_);
    scroll->setObjectName(QStringLiteral("sourcePanelScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sourcePanel_ = new SourcePanel(viewModel_);
    sourcePanel_->setObjectName(QStringLiteral("sourcePanel"));
    scroll->setWidget(sourcePanel_);
    frameLayout->addWidget(scroll);

    collapseButton_ = new ChevronButton(ChevronButton::Direction::left, panelFrame_);
    collapseButton_->setObjectName(QStringLiteral("sidebarCollapseButton"));
    panelFrame_->installEventFilter(this);

    strip_ = new QWidget(this);
    strip_->setObjectName(QStringLiteral("sidebarStrip"));
    expandButton_ = new ChevronButton(ChevronButton::Direction::right, strip_);
    expandButton_->setObjectName(QStringLiteral("sidebarExpandButton"));
    expandButton_->move(kButtonInsetPx, kButtonInsetPx);

    addWidget(panelFrame_);
    addWidget(strip_);

    connect(collapseButton_, &QAbstractButton::clicked, this, [this] { viewModel_.setIsSidebarCollapsed(true); });
    connect(expandButton_, &QAbstractButton::clicked, this, [this] { viewModel_.setIsSidebarCollapsed(false); });
    connect(&viewModel_, &ViewerViewModel::changed, this, [this](ViewerViewModel::Field field) {
        if (field == ViewerViewModel::Field::isSidebarCollapsed) showCollapsed(viewModel_.isSidebarCollapsed());
    });
    showCollapsed(viewModel_.isSidebarCollapsed());
}

bool SidebarPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panelFrame_ && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        placeCollapseButton();
    }
    return QStackedWidget::eventFilter(watched, event);
}

void SidebarPane::placeCollapseButton() {
    collapseButton_->move(panelFrame_->width() - kButtonInsetPx - collapseButton_->width(), kButtonInsetPx);
    // The scroll area is laid out after the button was made; keep the button above it.
    collapseButton_->raise();
}

void SidebarPane::showCollapsed(bool collapsed) {
    // Only the pane switches; the panel and its section flags stay as they are.
    setCurrentWidget(collapsed ? strip_ : panelFrame_);
    setFixedWidth(collapsed ? kCollapsedWidthPx : kExpandedWidthPx);
    placeCollapseButton();
}

}  // namespace lumbrix
