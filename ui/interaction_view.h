#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/interaction_view.h is internal to ui/"
#endif
// The input half of the 3D view: mouse drags, wheel, pinch and the camera shortcuts in,
// normalised commands to an InteractionDelegate out. It does no camera math.
//
// The keys the command table gives the view (Ctrl+L, Ctrl+digit, Alt+digit) work wherever
// the keyboard focus is, through an application-wide event filter that exists only while
// the view is shown.
#include <optional>

#include <QObject>
#include <QPointF>
#include <QPointer>

#include "ui/command_table.h"
#include "ui/scroll_normalizer.h"

class QKeyEvent;
class QMouseEvent;
class QNativeGestureEvent;
class QWheelEvent;
class QWidget;

namespace lumbrix {

class InteractionDelegate;

// A command a key press stands for.
struct KeyCommand {
    using Kind = Command;
    Kind kind = Kind::toggleCameraLock;
    int slot = 0;
    // Whether the view answers it; otherwise the key is left to the window's menu.
    bool ownedByView = false;
};

class InteractionView final : public QObject {
    Q_OBJECT

public:
    // `view` gives the coordinate space; it must outlive this object.
    explicit InteractionView(QWidget& view, QObject* parent = nullptr);
    ~InteractionView() override;

    // Not owned; the owner clears it before the delegate goes.
    void setDelegate(InteractionDelegate* delegate) { delegate_ = delegate; }

    // The view forwards its events here.
    void mousePress(QMouseEvent& event);
    void mouseMove(QMouseEvent& event);
    void mouseRelease(QMouseEvent& event);
    void wheel(QWheelEvent& event);
    // Whether the gesture was one of ours.
    bool nativeGesture(QNativeGestureEvent& event);

    // At most one filter is installed at a time.
    void installKeyMonitor();
    void removeKeyMonitor();
    bool hasKeyMonitor() const { return keyMonitorInstalled_; }

    // The command table's answer for a key; Ctrl+Alt+digit saves.
    static std::optional<KeyCommand> keyCommandFor(int key, Qt::KeyboardModifiers modifiers);

    Qt::KeyboardModifiers currentModifiers() const { return currentModifiers_; }
    ScrollNormalizer& scrollNormalizer() { return scrollNormalizer_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Widget position to view points, y flipped to grow upward.
    QPointF viewPoint(const QPointF& widgetPosition) const;
    static bool isDragButton(Qt::MouseButton button);
    bool handleKey(QKeyEvent& event);

    QWidget& view_;
    InteractionDelegate* delegate_ = nullptr;
    ScrollNormalizer scrollNormalizer_;
    Qt::KeyboardModifiers currentModifiers_;
    float pinchMagnification_ = 0.0f;
    bool keyMonitorInstalled_ = false;
};

}  // namespace lumbrix
