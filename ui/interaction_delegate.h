#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/interaction_delegate.h is internal to ui/"
#endif
// The camera commands the 3D view's input turns into. The view only normalises input;
// whoever implements this (the viewport's coordinator) does the camera work.
#include <QPointF>

namespace lumbrix {

class InteractionDelegate {
public:
    // Drag buttons: the primary (left) button, and any other button but the right one.
    static constexpr int kPrimaryButton = 0;
    static constexpr int kOtherButton = 2;

    virtual ~InteractionDelegate() = default;

    // Points are in view coordinates with y growing upward.
    virtual void beginDrag(QPointF point) = 0;
    virtual void drag(int button, bool option, QPointF point) = 0;
    virtual void endDrag() = 0;
    // Already bounded by the scroll normalizer.
    virtual void zoomStep(float step) = 0;
    // Pinch: the magnification since the gesture began.
    virtual void magnify(float magnification) = 0;
    virtual void toggleCameraLock() = 0;
    virtual void savePreset(int slot) = 0;
    virtual void recallPreset(int slot) = 0;
};

}  // namespace lumbrix
