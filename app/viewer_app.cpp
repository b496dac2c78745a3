#include "app/viewer_app.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>

#include <QMessageBox>

#include "app/application_shell.h"
#include "app/opengl_check.h"
#include "app/termination_signals.h"
#include "ui/main_window.h"
#include "ui/viewport.h"
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

namespace {

// Platforms that show nothing to anyone: a dialog there would wait for ever.
bool canShowDialogs() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

}  // namespace

bool ViewerApp::checkOpenGL() {
    const QSurfaceFormat format = Viewport::surfaceFormat();
    const std::optional<QString> reason = openGLUnavailableReason(format);
    if (!reason) return true;
    const QString message = openGLRequirementMessage(format);
    std::fprintf(stderr, "%s\n%s\n", message.toLocal8Bit().constData(), reason->toLocal8Bit().constData());
    std::fflush(stderr);
    if (canShowDialogs()) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Lumbrix"), message, QMessageBox::Ok);
        box.setInformativeText(*reason);
        box.exec();
    }
    return false;
}

int ViewerApp::run() {
    if (!checkOpenGL()) return 1;
    // A quit that does not go through the window's close (a session ending, a quit
    // asked for elsewhere) still waits for the recording's file.
    const auto finishRecording = [this] { window_->viewModel().waitForRecordingFinish(); };
    QObject::connect(&application_, &QCoreApplication::aboutToQuit, window_.get(), finishRecording);
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(&application_, &QGuiApplication::commitDataRequest, window_.get(), finishRecording);
#endif
    // Named files win over what start-up restores, so they open once it has run.
    QObject::connect(
        window_.get(), &MainWindow::started, window_.get(),
        [this] { openLaunchFiles(window_->viewModel(), QApplication::arguments().mid(1)); },
        Qt::SingleShotConnection);
    window_->show();
    return QApplication::exec();
}

}  // namespace lumbrix
