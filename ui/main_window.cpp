#include "ui/main_window.h"

namespace lumbrix {

MainWindow::MainWindow(ViewerDependencies dependencies, QWidget* parent)
    : QMainWindow(parent), viewModel_(std::make_unique<ViewerViewModel>(std::move(dependencies))) {}

MainWindow::~MainWindow() = default;

}  // namespace lumbrix
