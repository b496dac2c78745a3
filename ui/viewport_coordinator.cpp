#include "ui/viewport_coordinator.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "render/renderer.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {
constexpr float kMinimumGridDensity = 1.0f;
constexpr float kMaximumGridDensity = 200.0f;
// Pinch zoom slows down within this distance of the target, to no less than kPinchMinimumGain.
constexpr float kPinchSlowDistance = 6.0f;
constexpr float kPinchMinimumGain = 0.15f;
}  // namespace

ViewportCoordinator::ViewportCoordinator(ViewerViewModel& viewModel, QObject* parent)
    : QObject(parent), viewModel_(&viewModel), lastFitRequestID_(viewModel.fitRequestID()) {
    persistTimer_.setSingleShot(true);
    persistTimer_.setTimerType(Qt::PreciseTimer);
    persistTimer_.setInterval(kCameraSaveDelay);
    connect(&persistTimer_, &QTimer::timeout, this, &ViewportCoordinator::saveCamera);
    connect(&viewModel, &ViewerViewModel::changed, this, [this] { update(); });
}

ViewportCoordinator::~ViewportCoordinator() {
    // The camera's last move is not lost with the view: the pending save runs now.
    if (persistTimer_.isActive()) {
        persistTimer_.stop();
        saveCamera();
    }
    // Normally detached already, with the GL context current.
    if (bridge_) bridge_->detach();
}

void ViewportCoordinator::runWithContext(const std::function<void()>& work) {
    if (runWithContext_) {
        runWithContext_(work);
    } else {
        work();
    }
}

void ViewportCoordinator::attach(std::unique_ptr<Renderer> renderer) {
    renderer_ = std::move(renderer);
    ViewerViewModel* viewModel = viewModel_.data();
    if (!renderer_ || !viewModel) return;
    pushState(*viewModel);
    // A fit asked for while the window was being made waits for the first real frame.
    renderer_->pendingFit = std::exchange(fitCarriedOver_, false);
    checkFitRequest(*viewModel);
    bridge_ = std::make_shared<RendererBridge>(*renderer_, runWithContext_);
    viewModel->setCaptureBridge(bridge_);
    viewModel->announceRendererReady();
}

void ViewportCoordinator::detach() {
    // A view taken away while it records (not through a window close, which finishes
    // the recording first) gives the writer its time before the renderer goes.
    if (bridge_ && bridge_->isCaptureBusy()) {
        if (ViewerViewModel* viewModel = viewModel_.data()) viewModel->waitForRecordingFinish();
    }
    if (bridge_) {
        bridge_->detach();
        bridge_.reset();
    }
    if (renderer_) {
        // A fit still waiting goes to the next renderer, should the view get one.
        fitCarriedOver_ = renderer_->pendingFit;
        renderer_.reset();
    }
}

void ViewportCoordinator::update() {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!renderer_ || !viewModel) return;
    runWithContext([&] {
        pushState(*viewModel);
        checkFitRequest(*viewModel);
    });
}

void ViewportCoordinator::pushState(ViewerViewModel& viewModel) {
    Renderer& renderer = *renderer_;
    const std::shared_ptr<OrbitCamera>& camera = viewModel.camera();
    renderer.cameraRef = camera;
    renderer.fovDegrees = viewModel.fovDegrees();
    if (camera) camera->fovDegrees = viewModel.fovDegrees();
    renderer.setMesh(viewModel.mesh());
    renderer.textureSource = viewModel.activeSource();
    std::vector<VenueDraw> venues;
    for (const VenueEntry& entry : viewModel.venues()) {
        if (entry.visible && entry.mesh) {
            venues.push_back({entry.mesh, entry.content.kind, entry.content.region, entry.source});
        }
    }
    renderer.setVenueDraws(std::move(venues));
    renderer.showUVGrid = viewModel.showUVGrid();
    renderer.uvGridDensity =
        std::clamp(static_cast<float>(viewModel.uvGridDensity()), kMinimumGridDensity, kMaximumGridDensity);
    renderer.faceMode = viewModel.faceMode();
    renderer.inactiveSideMode = viewModel.inactiveSideMode();
    renderer.showFloorGrid = viewModel.showFloorGrid();
}

void ViewportCoordinator::checkFitRequest(ViewerViewModel& viewModel) {
    if (viewModel.fitRequestID() == lastFitRequestID_) return;
    lastFitRequestID_ = viewModel.fitRequestID();
    renderer_->pendingFit = true;
    // Runs after the fitted frame, so it stores the fitted camera.
    scheduleCameraSave();
}

void ViewportCoordinator::scheduleCameraSave() {
    if (!viewModel_) return;
    persistTimer_.start();
}

void ViewportCoordinator::saveCamera() {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel || !viewModel->camera()) return;
    viewModel->persistence().saveCameraState(viewModel->camera()->snapshot());
}

void ViewportCoordinator::beginDrag(QPointF point) { lastDrag_ = point; }

void ViewportCoordinator::endDrag() { lastDrag_.reset(); }

void ViewportCoordinator::drag(int button, bool option, QPointF point) {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel) return;
    if (lastDrag_) {
        OrbitCamera& camera = *viewModel->camera();
        const auto dx = static_cast<float>(point.x() - lastDrag_->x());
        const auto dy = static_cast<float>(point.y() - lastDrag_->y());
        if (viewModel->isCameraLocked()) {
            camera.lookAround(dx, dy);
        } else if (button == kOtherButton) {
            camera.pan(dx, -dy);
        } else if (option) {
            camera.pan(dx, dy);
        } else {
            camera.orbit(dx, dy);
        }
        scheduleCameraSave();
    }
    lastDrag_ = point;
}

void ViewportCoordinator::zoomStep(float step) {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel) return;
    if (viewModel->isCameraLocked()) {
        changeFieldOfView(-kLockedZoomDegreesPerStep * step);
        return;
    }
    OrbitCamera& camera = *viewModel->camera();
    camera.distance = std::max(camera.distance * std::exp(-kZoomRate * step), kMinimumDistance);
    scheduleCameraSave();
}

void ViewportCoordinator::magnify(float magnification) {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel || magnification == 0.0f) return;
    const float m = std::clamp(magnification, -kPinchLimit, kPinchLimit);
    if (viewModel->isCameraLocked()) {
        changeFieldOfView(-kPinchDegreesPerUnit * m);
        return;
    }
    OrbitCamera& camera = *viewModel->camera();
    const float d = camera.distance;
    const float k = d / kPinchSlowDistance;
    const float gain = k < 1.0f ? std::max(k, kPinchMinimumGain) : 1.0f;
    camera.distance = std::max(d * std::exp(m * kPinchRate * gain), kMinimumDistance);
    scheduleCameraSave();
}

void ViewportCoordinator::changeFieldOfView(float deltaDegrees) {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel) return;
    viewModel->setFieldOfView(
        std::clamp(viewModel->fovDegrees() + deltaDegrees, kMinimumFovDegrees, kMaximumFovDegrees));
    scheduleCameraSave();
}

void ViewportCoordinator::toggleCameraLock() {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel) return;
    viewModel->setIsCameraLocked(!viewModel->isCameraLocked());
}

void ViewportCoordinator::savePreset(int slot) {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel) return;
    viewModel->persistence().saveCameraPreset(slot, viewModel->camera()->snapshot());
    scheduleCameraSave();
}

void ViewportCoordinator::recallPreset(int slot) {
    ViewerViewModel* viewModel = viewModel_.data();
    if (!viewModel) return;
    const std::optional<CameraState> state = viewModel->persistence().loadCameraPreset(slot);
    if (!state) return;
    OrbitCamera& camera = *viewModel->camera();
    camera.apply(*state);
    // The view model's field of view follows the preset; the camera takes it back
    // in case the view model adjusts it.
    viewModel->setFieldOfView(camera.fovDegrees);
    camera.fovDegrees = viewModel->fovDegrees();
    scheduleCameraSave();
}

}  // namespace lumbrix
