#include "ui/viewport.h"

#include <epoxy/gl.h>

#include <cmath>
#include <cstdio>
#include <utility>

#include <QHideEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QOpenGLContext>
#include <QScreen>
#include <QShowEvent>
#include <QWheelEvent>

#include "platform/system_log.h"
#include "render/renderer.h"
#include "ui/interaction_view.h"
#include "ui/viewport_coordinator.h"
#include "viewer/qt_main_queue.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {
constexpr double kFallbackRefreshHz = 60.0;
// A swap that returned this soon within the frame interval did not wait for the
// display (no vsync, as under Xvfb); the next frame then waits for a timer instead.
constexpr double kBlockingSwapFraction = 0.75;
}  // namespace

QSurfaceFormat Viewport::surfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    format.setSwapInterval(1);
    return format;
}

Viewport::Viewport(ViewerViewModel& viewModel, QWidget* parent)
    : QOpenGLWidget(parent),
      coordinator_(std::make_unique<ViewportCoordinator>(viewModel)),
      interaction_(std::make_unique<InteractionView>(*this)),
      mainQueue_(std::make_shared<QtMainQueue>()) {
    setFormat(surfaceFormat());
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(1, 1);
    coordinator_->setContextRunner([this](const std::function<void()>& work) { runWithContext(work); });
    interaction_->setDelegate(coordinator_.get());

    frameTimer_.setSingleShot(true);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    connect(this, &QOpenGLWidget::frameSwapped, this, &Viewport::scheduleNextFrame);
}

Viewport::~Viewport() {
    interaction_->setDelegate(nullptr);
    interaction_->removeKeyMonitor();
    if (context() != nullptr) disconnect(context(), nullptr, this, nullptr);
    releaseRenderer();
}

Renderer* Viewport::renderer() const { return coordinator_->renderer(); }

void Viewport::runWithContext(const std::function<void()>& work) {
    QOpenGLContext* own = context();
    if (own == nullptr || QOpenGLContext::currentContext() == own) {
        work();
        return;
    }
    makeCurrent();
    work();
    doneCurrent();
}

void Viewport::initializeGL() {
    QOpenGLContext* own = context();
    const QSurfaceFormat wanted = surfaceFormat();
    if (own == nullptr || !own->isValid() ||
        std::pair(own->format().majorVersion(), own->format().minorVersion()) <
            std::pair(wanted.majorVersion(), wanted.minorVersion())) {
        // The program checks for OpenGL before it shows a window; a view made anyway
        // stays empty, and the capture line keeps saying the renderer is not ready.
        SystemLog::info("3D view has no OpenGL %d.%d context", wanted.majorVersion(), wanted.minorVersion());
        return;
    }
    // Qt replaces the context when the widget moves to another top-level window; the
    // renderer's GL objects die with the old one.
    connect(own, &QOpenGLContext::aboutToBeDestroyed, this, &Viewport::releaseRenderer,
            Qt::UniqueConnection);
    auto created = Renderer::create(mainQueue_);
    if (!created) {
        // The programs are part of the installation: without them nothing can be shown.
        const Error& error = created.error();
        SystemLog::info("Renderer failed: %s (%s %d)", error.description.c_str(), error.domain.c_str(), error.code);
        qFatal("Renderer failed: %s", error.description.c_str());
    }
    drawableWidthPx_ = 0;
    drawableHeightPx_ = 0;
    coordinator_->attach(std::move(created.value()));
    emit rendererReady();
}

void Viewport::releaseRenderer() {
    if (coordinator_->renderer() == nullptr) return;
    runWithContext([this] { coordinator_->detach(); });
}

void Viewport::resizeGL(int, int) {
    // paintGL follows at once and takes the size in pixels from there.
}

void Viewport::paintGL() {
    frameClock_.start();
    Renderer* renderer = coordinator_->renderer();
    if (renderer == nullptr) return;
    const qreal scale = devicePixelRatioF();
    const int widthPx = static_cast<int>(std::lround(width() * scale));
    const int heightPx = static_cast<int>(std::lround(height() * scale));
    if (widthPx != drawableWidthPx_ || heightPx != drawableHeightPx_) {
        drawableWidthPx_ = widthPx;
        drawableHeightPx_ = heightPx;
        renderer->drawableSizeWillChange(widthPx, heightPx);
    }
    renderer->draw(defaultFramebufferObject(), widthPx, heightPx);
    ++framesDrawn_;
    emit frameDrawn();
}

void Viewport::scheduleNextFrame() {
    if (!isVisible() || frameTimer_.isActive()) return;
    const QScreen* display = screen();
    const double refreshHz = display != nullptr && display->refreshRate() > 1.0 ? display->refreshRate()
                                                                                 : kFallbackRefreshHz;
    const double intervalMs = 1000.0 / refreshHz;
    const double elapsedMs = frameClock_.isValid() ? static_cast<double>(frameClock_.nsecsElapsed()) / 1e6 : intervalMs;
    if (elapsedMs >= intervalMs * kBlockingSwapFraction) {
        update();
        return;
    }
    frameTimer_.start(static_cast<int>(std::ceil(intervalMs - elapsedMs)));
}

bool Viewport::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture && interaction_->nativeGesture(*static_cast<QNativeGestureEvent*>(event))) {
        event->accept();
        return true;
    }
    return QOpenGLWidget::event(event);
}

void Viewport::showEvent(QShowEvent* event) {
    QOpenGLWidget::showEvent(event);
    interaction_->installKeyMonitor();
    // Drawing stops while hidden (no frames are swapped); this starts it again.
    update();
}

void Viewport::hideEvent(QHideEvent* event) {
    QOpenGLWidget::hideEvent(event);
    // A minimised window keeps its shortcuts; a view taken away or closed does not.
    if (!event->spontaneous()) interaction_->removeKeyMonitor();
    frameTimer_.stop();
}

void Viewport::mousePressEvent(QMouseEvent* event) {
    interaction_->mousePress(*event);
    if (!event->isAccepted()) QOpenGLWidget::mousePressEvent(event);
}

void Viewport::mouseMoveEvent(QMouseEvent* event) {
    interaction_->mouseMove(*event);
    if (!event->isAccepted()) QOpenGLWidget::mouseMoveEvent(event);
}

void Viewport::mouseReleaseEvent(QMouseEvent* event) {
    interaction_->mouseRelease(*event);
    if (!event->isAccepted()) QOpenGLWidget::mouseReleaseEvent(event);
}

void Viewport::wheelEvent(QWheelEvent* event) { interaction_->wheel(*event); }

}  // namespace lumbrix
