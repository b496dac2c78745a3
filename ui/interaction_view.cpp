#include "ui/interaction_view.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QWheelEvent>
#include <QWidget>

#include "ui/interaction_delegate.h"

namespace lumbrix {

InteractionView::InteractionView(QWidget& view, QObject* parent) : QObject(parent), view_(view) {}

InteractionView::~InteractionView() { removeKeyMonitor(); }

QPointF InteractionView::viewPoint(const QPointF& widgetPosition) const {
    return {widgetPosition.x(), static_cast<double>(view_.height()) - widgetPosition.y()};
}

bool InteractionView::isDragButton(Qt::MouseButton button) {
    // The right button is left to context menus; every other button drags.
    return button != Qt::NoButton && button != Qt::RightButton;
}

void InteractionView::mousePress(QMouseEvent& event) {
    currentModifiers_ = event.modifiers();
    if (!isDragButton(event.button())) {
        event.ignore();  // left to the parent, a context menu for one
        return;
    }
    event.accept();
    if (delegate_) delegate_->beginDrag(viewPoint(event.position()));
}

void InteractionView::mouseMove(QMouseEvent& event) {
    currentModifiers_ = event.modifiers();
    const Qt::MouseButtons held = event.buttons();
    int button = -1;
    if (held & Qt::LeftButton) {
        button = InteractionDelegate::kPrimaryButton;
    } else if (held & ~Qt::MouseButtons(Qt::RightButton)) {
        button = InteractionDelegate::kOtherButton;
    }
    if (button < 0) {
        event.ignore();
        return;
    }
    event.accept();
    if (delegate_) {
        delegate_->drag(button, currentModifiers_.testFlag(Qt::AltModifier), viewPoint(event.position()));
    }
}

void InteractionView::mouseRelease(QMouseEvent& event) {
    currentModifiers_ = event.modifiers();
    if (!isDragButton(event.button())) {
        event.ignore();
        return;
    }
    event.accept();
    if (delegate_) delegate_->endDrag();
}

void InteractionView::wheel(QWheelEvent& event) {
    currentModifiers_ = event.modifiers();
    event.accept();
    const std::optional<float> step = scrollNormalizer_.step(event);
    if (step && delegate_) delegate_->zoomStep(*step);
}

bool InteractionView::nativeGesture(QNativeGestureEvent& event) {
    switch (event.gestureType()) {
    case Qt::BeginNativeGesture:
    case Qt::EndNativeGesture:
        pinchMagnification_ = 0.0f;
        return true;
    case Qt::ZoomNativeGesture:
        // Qt reports each event's increment; the camera rule wants the total since the
        // gesture began, as trackpad recognisers report it elsewhere.
        pinchMagnification_ += static_cast<float>(event.value());
        if (delegate_) delegate_->magnify(pinchMagnification_);
        return true;
    default:
        return false;
    }
}

void InteractionView::installKeyMonitor() {
    if (keyMonitorInstalled_ || QCoreApplication::instance() == nullptr) return;
    QCoreApplication::instance()->installEventFilter(this);
    keyMonitorInstalled_ = true;
}

void InteractionView::removeKeyMonitor() {
    if (!keyMonitorInstalled_) return;
    if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(this);
    keyMonitorInstalled_ = false;
}

std::optional<KeyCommand> InteractionView::keyCommandFor(int key, Qt::KeyboardModifiers modifiers) {
    const std::optional<CommandKey> found = commandForKey(key, modifiers);
    if (!found) return std::nullopt;
    return KeyCommand{found->spec->command, found->slot, found->spec->owner == KeyOwner::view};
}

bool InteractionView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        return handleKey(*static_cast<QKeyEvent*>(event));
    }
    return QObject::eventFilter(watched, event);
}

bool InteractionView::handleKey(QKeyEvent& event) {
    currentModifiers_ = event.modifiers();
    const std::optional<KeyCommand> command = keyCommandFor(event.key(), event.modifiers());
    if (!command || !command->ownedByView) return false;
    // Qt offers a key to the shortcut map before delivering it. Claiming the override
    // keeps a menu action with the same shortcut from firing; the command itself runs
    // once, on the key press that follows. Consumed even when the delegate is gone.
    event.accept();
    if (event.type() == QEvent::ShortcutOverride) return true;
    if (delegate_) {
        switch (command->kind) {
        case KeyCommand::Kind::toggleCameraLock:
            delegate_->toggleCameraLock();
            break;
        case KeyCommand::Kind::savePreset:
            delegate_->savePreset(command->slot);
            break;
        case KeyCommand::Kind::recallPreset:
            delegate_->recallPreset(command->slot);
            break;
        case KeyCommand::Kind::toggleFloorGrid:
        case KeyCommand::Kind::keyboardShortcuts:
        case KeyCommand::Kind::openModel:
        case KeyCommand::Kind::addVenue:
        case KeyCommand::Kind::openVideoFile:
        case KeyCommand::Kind::openImage:
        case KeyCommand::Kind::openRecent:
        case KeyCommand::Kind::screenshot:
        case KeyCommand::Kind::toggleRecording:
        case KeyCommand::Kind::showCaptureFolder:
        case KeyCommand::Kind::quit:
        case KeyCommand::Kind::fullScreenView:
            break;  // the menu's keys, never owned by the view
        }
    }
    return true;
}

}  // namespace lumbrix
