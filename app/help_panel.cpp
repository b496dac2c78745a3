#include "app/help_panel.h"

#include <xcb/xcb.h>

#include <QGraphicsDropShadowEffect>
#include <QPainterPath>
#include <QRegion>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "app/help_panel_card.h"

namespace lumbrix {

namespace {

// Whether see-through windows really are see-through. Wayland always composites; on X11
// it takes a compositing manager, which owns the _NET_WM_CM_S0 selection while it runs.
bool windowSystemComposites() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) return true;
    xcb_connection_t* connection = x11->connection();
    static constexpr char kSelection[] = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof kSelection - 1, kSelection), nullptr);
    if (atom == nullptr) return true;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (owner == nullptr) return true;
    const bool composited = owner->owner != XCB_NONE;
    free(owner);
    return composited;
}

}  // namespace

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
    // Without a compositor the transparent corners and the shadow come out black; the
    // card alone, cut to its rounded shape, is what such a desktop can show cleanly.
    if (!windowSystemComposites()) {
        QPainterPath shape;
        const QRectF card((kWidthPx - KeyboardShortcutsCard::kWidthPx) / 2.0,
                          (kHeightPx - KeyboardShortcutsCard::kHeightPx) / 2.0, KeyboardShortcutsCard::kWidthPx,
                          KeyboardShortcutsCard::kHeightPx);
        shape.addRoundedRect(card, 26, 26);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
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
