#pragma once
// The application's one window: the collapsible side panel, the 3D view with the
// transport bar under it, the camera-lock badge and the model-import alert. It makes
// the window's view model, starts it when first shown and stops it when closed.
#include <memory>

#include <QMainWindow>

#include "viewer/viewer_view_model.h"

namespace lumbrix {

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(ViewerDependencies dependencies = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    ViewerViewModel& viewModel() { return *viewModel_; }

private:
    std::unique_ptr<ViewerViewModel> viewModel_;
};

}  // namespace lumbrix
