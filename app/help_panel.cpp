#include "app/help_panel.h"

#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "app/help_panel_card.h"

namespace lumbrix {

HelpPanel::HelpPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("helpPanel"));
    setWindowTitle(QStringLiteral("Keyboard Shortcuts"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(kWidthPx, kHeightPx);
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The card's OK and the panel's Escape end the same way.
    card_ = new KeyboardShortcutsCard(
        [this] {
            if (onClose) onClose();
        },
        this);
    auto* shadow = new QGraphicsDropShadowEffect(card_);
    shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.65));
    shadow->setBlurRadius(26);
    shadow->setOffset(0, 14);
    card_->setGraphicsEffect(shadow);
    layout->addWidget(card_, 0, Qt::AlignCenter);
}

void HelpPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (onClose) onClose();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

HelpPanelController::HelpPanelController(QObject* parent) : QObject(parent) {}

HelpPanelController::~HelpPanelController() { delete panel_.data(); }

void HelpPanelController::show() {
    if (panel_) {
        panel_->show();
        panel_->raise();
        panel_->activateWindow();
        return;
    }
    auto* panel = new HelpPanel;
    // The panel may outlive a call into the controller; reach it weakly.
    panel->onClose = [weak = QPointer<HelpPanelController>(this)] {
        if (weak) weak->hide();
    };
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = panel->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        panel->move(frame.topLeft());
    }
    panel_ = panel;
    panel->show();
    panel->raise();
    panel->activateWindow();
    panel->setFocus(Qt::ActiveWindowFocusReason);
}

void HelpPanelController::hide() {
    if (!panel_) return;
    HelpPanel* panel = panel_;
    panel_ = nullptr;
    panel->hide();
    // Later: hide() is reached from the panel's own key and button handlers.
    panel->deleteLater();
}

}  // namespace lumbrix
