#include "app/viewer_app.h"

extern "C" {
#include <libavutil/log.h>
}

#include "app/application_shell.h"
#include "app/termination_signals.h"
#include "ui/main_window.h"
#include "viewer/launch_files.h"

namespace lumbrix {

ViewerApp::ViewerApp(int& argc, char** argv) : application_(argc, argv) {
    // The encoders' banners and statistics are for FFmpeg's own command line; the
    // viewer keeps its console to its own lines and real errors.
    av_log_set_level(AV_LOG_ERROR);
    configureApplication(application_);
    closeWindowsOnTerminationSignals(application_);
    window_ = std::make_unique<MainWindow>();
    installMenus(*window_, helpPanel_, NotificationCenter::defaultCenter());
}

ViewerApp::~ViewerApp() = default;

int ViewerApp::run() {
    // Named files win over what start-up restores, so they open once it has run.
    QObject::connect(
        window_.get(), &MainWindow::started, window_.get(),
        [this] { openLaunchFiles(window_->viewModel(), QApplication::arguments().mid(1)); },
        Qt::SingleShotConnection);
    window_->show();
    return QApplication::exec();
}

}  // namespace lumbrix
