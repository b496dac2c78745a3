#pragma once
// The application's one window: the collapsible side panel, the 3D view with the
// transport bar under it, the camera-lock badge and the model-import alert. It makes
// the window's view model, starts it when first shown and stops it when closed.
#include <chrono>
#include <memory>

#include <QMainWindow>
#include <QPointer>

#include "viewer/viewer_view_model.h"

class QLabel;
class QMessageBox;
class QShortcut;

namespace lumbrix {

class SidebarPane;
class TransportBar;
class Viewport;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kBadgeInsetPx = 10;
    // How long start-up waits for the 3D view to attach before it runs anyway.
    static constexpr std::chrono::milliseconds kStartWithoutRendererDelay{1500};
    // How long a full-screen request may take before the window sizes itself.
    static constexpr std::chrono::milliseconds kFullScreenSettleDelay{300};
    static inline const QString kAlertTitle = QStringLiteral("Model import failed");

    // Empty dependencies take the program's defaults: Qt's file dialogs over this
    // window, and the keyboard for isShiftHeld, so holding Shift at start-up skips the
    // last model.
    explicit MainWindow(ViewerDependencies dependencies = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    ViewerViewModel& viewModel() { return *viewModel_; }

    SidebarPane* sidebar() const { return sidebar_; }
    Viewport* viewport() const { return viewport_; }
    TransportBar* transportBar() const { return transportBar_; }
    QLabel* cameraLockBadge() const { return badge_; }
    // The alert while it is up.
    QMessageBox* validationAlert() const;

    // Closes the window as a close does, a running recording's file finished first,
    // then ends the application.
    void closeAndQuit();

    // The 3D view alone filling the screen, for a projector or a second screen: the
    // side panel, transport bar and menu bar hide. Escape leaves it.
    void setFullScreenView(bool on);
    bool isFullScreenView() const { return fullScreenView_; }

signals:
    // The view model's start-up has run (once, after the first show).
    void started();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void onFieldChanged(ViewerViewModel::Field field);
    void updateBadge();
    void updateAlert();
    void updateTitle();
    void start();
    void stop();
    bool holdCloseForRecording();

    std::unique_ptr<ViewerViewModel> viewModel_;
    NotificationCenter* notifications_ = nullptr;
    NotificationCenter::Token lockObserver_ = 0;
    bool shown_ = false;
    bool active_ = false;
    bool stopped_ = false;
    bool closeHeld_ = false;  // a close waits for the recording's file
    bool quitOnClose_ = false;
    bool fullScreenView_ = false;
    bool maximizedBeforeFullScreen_ = false;
    bool geometryForced_ = false;
    QRect geometryBeforeFullScreen_;

    SidebarPane* sidebar_ = nullptr;
    QWidget* viewHost_ = nullptr;
    Viewport* viewport_ = nullptr;
    TransportBar* transportBar_ = nullptr;
    QLabel* badge_ = nullptr;
    QPointer<QMessageBox> alert_;
    QShortcut* leaveFullScreen_ = nullptr;
};

}  // namespace lumbrix
