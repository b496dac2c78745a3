#include "ui/viewport.h"

namespace lumbrix {

Viewport::Viewport(ViewerViewModel& viewModel, QWidget* parent) : QOpenGLWidget(parent) { (void)viewModel; }

Viewport::~Viewport() = default;

}  // namespace lumbrix
