#pragma once
// The 3D view of the main window: an OpenGL 3.3 core widget that draws the renderer at
// the display's refresh rate, turns mouse, wheel, pinch and keys into camera moves, and
// pushes the view model's state into the renderer on every update.
//
// The renderer is made when the widget first gets its GL context (the first show) and
// destroyed with that context current: when the widget goes, or when Qt replaces the
// context (a move to another top-level window), after which a new one is made.
#include <epoxy/gl.h>

#include <cstdint>
#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QOpenGLWidget>
#include <QSurfaceFormat>
#include <QTimer>

namespace lumbrix {

class InteractionView;
class QtMainQueue;
class Renderer;
class ViewerViewModel;
class ViewportCoordinator;

class Viewport : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit Viewport(ViewerViewModel& viewModel, QWidget* parent = nullptr);
    ~Viewport() override;

    // OpenGL 3.3 core, 24-bit depth, swaps synchronised with the display.
    static QSurfaceFormat surfaceFormat();

    // None until the widget has been shown once; for diagnostics and tests.
    Renderer* renderer() const;
    ViewportCoordinator& coordinator() { return *coordinator_; }
    InteractionView& interaction() { return *interaction_; }
    // Frames drawn since the widget was made.
    uint64_t framesDrawn() const { return framesDrawn_; }

signals:
    // The renderer exists and the view model has its capture bridge.
    void rendererReady();
    // After each frame handed to the renderer.
    void frameDrawn();

protected:
    void initializeGL() override;
    void resizeGL(int widthPoints, int heightPoints) override;
    void paintGL() override;

    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void releaseRenderer();
    void scheduleNextFrame();
    void runWithContext(const std::function<void()>& work);

    std::unique_ptr<ViewportCoordinator> coordinator_;
    std::unique_ptr<InteractionView> interaction_;
    std::shared_ptr<QtMainQueue> mainQueue_;
    QTimer frameTimer_;
    QElapsedTimer frameClock_;
    int drawableWidthPx_ = 0;
    int drawableHeightPx_ = 0;
    uint64_t framesDrawn_ = 0;
};

}  // namespace lumbrix
