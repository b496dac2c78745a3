#pragma once
// The 3D view of the main window: an OpenGL 3.3 core widget that draws the renderer at
// the display's refresh rate, turns mouse, wheel, pinch and keys into camera moves, and
// pushes the view model's state into the renderer on every update.
#include <QOpenGLWidget>

namespace lumbrix {

class ViewerViewModel;

class Viewport : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit Viewport(ViewerViewModel& viewModel, QWidget* parent = nullptr);
    ~Viewport() override;
};

}  // namespace lumbrix
