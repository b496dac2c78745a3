#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/viewport_coordinator.h is internal to ui/"
#endif
// The glue between the view model, the renderer and the camera: pushes the view model's
// state into the renderer on every change, turns fit requests into a one-shot fit,
// carries out the camera gestures and shortcuts of the 3D view, and saves the camera a
// short while after it stops moving.
//
// GUI thread only. Every operation first checks that the view model still exists.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QTimer>

#include "ui/interaction_delegate.h"
#include "ui/renderer_bridge.h"

namespace lumbrix {

class Renderer;
class ViewerViewModel;

class ViewportCoordinator final : public QObject, public InteractionDelegate {
    Q_OBJECT

public:
    // One save per burst of camera changes, this long after the last one.
    static constexpr std::chrono::milliseconds kCameraSaveDelay{350};
    static constexpr float kZoomRate = 0.01f;          // per scroll step
    static constexpr float kMinimumDistance = 0.001f;
    static constexpr float kLockedZoomDegreesPerStep = 0.05f;
    static constexpr float kPinchLimit = 0.08f;
    static constexpr float kPinchRate = 0.35f;
    static constexpr float kPinchDegreesPerUnit = 18.0f;
    static constexpr float kMinimumFovDegrees = 5.0f;
    static constexpr float kMaximumFovDegrees = 120.0f;

    using ContextRunner = RendererBridge::ContextRunner;

    // Fit requests made before the renderer exists are carried out on its first frame.
    explicit ViewportCoordinator(ViewerViewModel& viewModel, QObject* parent = nullptr);
    ~ViewportCoordinator() override;

    // How renderer work gets its GL context current (the renderer uploads geometry when
    // state is pushed). Without one, work runs as is.
    void setContextRunner(ContextRunner runner) { runWithContext_ = std::move(runner); }

    // Takes the renderer, pushes the state, hands the view model a capture bridge and
    // says "Ready.". GL context current.
    void attach(std::unique_ptr<Renderer> renderer);
    // Detaches the bridge and destroys the renderer. GL context current.
    void detach();

    // Pushes the view model's state and acts on a new fit request (every view-model change).
    void update();

    Renderer* renderer() const { return renderer_.get(); }
    const std::shared_ptr<RendererBridge>& bridge() const { return bridge_; }
    const std::optional<QPointF>& lastDrag() const { return lastDrag_; }
    int64_t lastFitRequestID() const { return lastFitRequestID_; }
    bool isCameraSavePending() const { return persistTimer_.isActive(); }

    // InteractionDelegate.
    void beginDrag(QPointF point) override;
    void drag(int button, bool option, QPointF point) override;
    void endDrag() override;
    void zoomStep(float step) override;
    void magnify(float magnification) override;
    void toggleCameraLock() override;
    void savePreset(int slot) override;
    void recallPreset(int slot) override;

private:
    void pushState(ViewerViewModel& viewModel);
    void checkFitRequest(ViewerViewModel& viewModel);
    void scheduleCameraSave();
    void saveCamera();
    void changeFieldOfView(float deltaDegrees);
    void runWithContext(const std::function<void()>& work);

    QPointer<ViewerViewModel> viewModel_;
    std::unique_ptr<Renderer> renderer_;
    std::shared_ptr<RendererBridge> bridge_;
    std::optional<QPointF> lastDrag_;
    int64_t lastFitRequestID_ = 0;
    bool fitCarriedOver_ = false;  // a fit the last renderer did not get to draw
    QTimer persistTimer_;
    ContextRunner runWithContext_;
};

}  // namespace lumbrix
