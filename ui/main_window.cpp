#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QShortcut>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/file_drop.h"
#include "ui/main_window_sidebar.h"
#include "ui/qt_file_picker.h"
#include "ui/transport_bar.h"
#include "ui/viewport.h"
#include "viewer/path_name.h"

namespace lumbrix {

namespace {

ViewerDependencies withWindowDefaults(ViewerDependencies dependencies) {
    if (!dependencies.isShiftHeld) {
        dependencies.isShiftHeld = [] {
            return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
        };
    }
    if (dependencies.notifications == nullptr) dependencies.notifications = &NotificationCenter::defaultCenter();
    return dependencies;
}

QLabel* makeBadge(QWidget* parent) {
    auto* badge = new QLabel(QStringLiteral("Camera Locked"), parent);
    badge->setObjectName(QStringLiteral("cameraLockBadge"));
    QFont font = badge->font();
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    badge->setFont(font);
    // Black at 0.45, then the whole badge at 0.85.
    badge->setStyleSheet(QStringLiteral("QLabel#cameraLockBadge { color: white; background: rgba(0, 0, 0, %1);"
                                        " border-radius: 8px; padding: 6px 10px; }")
                             .arg(0.45 * 0.85, 0, 'f', 4));
    badge->setAttribute(Qt::WA_TransparentForMouseEvents);
    badge->adjustSize();
    badge->move(MainWindow::kBadgeInsetPx, MainWindow::kBadgeInsetPx);
    badge->hide();
    return badge;
}

}  // namespace

MainWindow::MainWindow(ViewerDependencies dependencies, QWidget* parent) : QMainWindow(parent) {
    dependencies = withWindowDefaults(std::move(dependencies));
    // The program's file panels open over this window.
    if (!dependencies.filePicker) dependencies.filePicker = std::make_shared<QtFilePicker>(this);
    notifications_ = dependencies.notifications;
    viewModel_ = std::make_unique<ViewerViewModel>(std::move(dependencies));

    setMinimumSize(900, 560);
    resize(1440, 900);
    if (const auto geometry = viewModel_->persistence().loadWindowGeometry()) restoreGeometry(*geometry);

    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("mainContent"));
    auto* columns = new QHBoxLayout(content);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    sidebar_ = new SidebarPane(*viewModel_, content);
    columns->addWidget(sidebar_);

    auto* rightPane = new QWidget(content);
    rightPane->setObjectName(QStringLiteral("viewPane"));
    auto* rows = new QVBoxLayout(rightPane);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    // The 3D view sits in a host of its own so the badge can float over its corner
    // without being a child of the GL widget.
    viewHost_ = new QWidget(rightPane);
    viewHost_->setObjectName(QStringLiteral("viewportHost"));
    auto* hostLayout = new QVBoxLayout(viewHost_);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    viewport_ = new Viewport(*viewModel_, viewHost_);
    viewport_->setObjectName(QStringLiteral("viewport"));
    viewport_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    hostLayout->addWidget(viewport_);
    badge_ = makeBadge(viewHost_);
    viewHost_->installEventFilter(this);
    rows->addWidget(viewHost_, 1);
    transportBar_ = new TransportBar(*viewModel_, rightPane);
    transportBar_->setObjectName(QStringLiteral("transportBar"));
    rows->addWidget(transportBar_, 0);
    columns->addWidget(rightPane, 1);
    setCentralWidget(content);

    connect(viewModel_.get(), &ViewerViewModel::changed, this, &MainWindow::onFieldChanged);
    lockObserver_ = notifications_->addObserver(kToggleCameraLockNotification, [weak = QPointer<MainWindow>(this)] {
        if (weak) weak->viewModel_->setIsCameraLocked(!weak->viewModel_->isCameraLocked());
    });
    updateBadge();
    updateAlert();
    updateTitle();

    setAcceptDrops(true);
    leaveFullScreen_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    leaveFullScreen_->setEnabled(false);
    connect(leaveFullScreen_, &QShortcut::activated, this, [this] { setFullScreenView(false); });
}

MainWindow::~MainWindow() {
    notifications_->removeObserver(lockObserver_);
    // A window torn down without a close still stops what it started.
    stop();
    if (alert_) delete alert_;
    // The views go before the view model they show: the 3D view still saves a pending
    // camera move into it, and releases its renderer with its own context current.
    delete takeCentralWidget();
}

QMessageBox* MainWindow::validationAlert() const { return alert_; }

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // Start-up runs once the 3D view has attached its renderer and said "Ready.", so a
    // safe-mode or capture-folder notice from start-up is what the capture line keeps.
    // A view that never gets drawn (a window shown off screen) still starts it.
    if (viewport_->renderer() != nullptr) {
        start();
        return;
    }
    connect(viewport_, &Viewport::rendererReady, this, &MainWindow::start, Qt::SingleShotConnection);
    QTimer::singleShot(kStartWithoutRendererDelay, this, &MainWindow::start);
}

void MainWindow::start() {
    if (active_ || stopped_) return;
    active_ = true;
    viewModel_->activate();
    emit started();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (holdCloseForRecording()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (!event->isAccepted()) return;
    // The geometry of the window as the user arranged it, not of the full-screen view.
    setFullScreenView(false);
    viewModel_->persistence().saveWindowGeometry(saveGeometry());
    stop();
    if (quitOnClose_) QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

void MainWindow::closeAndQuit() {
    // A close held for a recording comes back through closeEvent once the file is done,
    // and the quit follows it there.
    quitOnClose_ = true;
    close();
}

void MainWindow::setFullScreenView(bool on) {
    if (on == fullScreenView_) return;
    fullScreenView_ = on;
    leaveFullScreen_->setEnabled(on);
    menuBar()->setVisible(!on);
    sidebar_->setVisible(!on);
    transportBar_->setVisible(!on);
    if (on) {
        maximizedBeforeFullScreen_ = isMaximized();
        geometryBeforeFullScreen_ = geometry();
        geometryForced_ = false;
        showFullScreen();
        // Without a window manager (a bare X server driving a projector) nobody answers
        // the request, so the window takes its screen's size itself.
        QTimer::singleShot(kFullScreenSettleDelay, this, [this] {
            if (!fullScreenView_ || screen() == nullptr || geometry() == screen()->geometry()) return;
            geometryForced_ = true;
            setGeometry(screen()->geometry());
            // Placing the window drops the full-screen state; it is still what the window is.
            setWindowState(windowState() | Qt::WindowFullScreen);
        });
        return;
    }
    if (maximizedBeforeFullScreen_) {
        showMaximized();
    } else {
        showNormal();
    }
    if (geometryForced_) setGeometry(geometryBeforeFullScreen_);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasUrls()) return;
    // Models dropped on the VENUE section, or with Shift held, join the venues.
    const auto* venues = findChild<QWidget*>(QStringLiteral("venueSection"));
    const QWidget* target = childAt(event->position().toPoint());
    const bool onVenues = venues != nullptr && target != nullptr && (target == venues || venues->isAncestorOf(target));
    const bool asVenues = onVenues || event->modifiers().testFlag(Qt::ShiftModifier);
    event->acceptProposedAction();
    openDroppedUrls(*viewModel_, event->mimeData()->urls(), asVenues);
}

bool MainWindow::holdCloseForRecording() {
    // The window stays up, with the event loop running, while the writer finishes the
    // file; an application quit waits with it, since a refused close cancels the quit.
    if (!active_ || !viewModel_->finishRecording()) return false;
    if (closeHeld_) return true;
    closeHeld_ = true;
    const auto closeAgain = [weak = QPointer<MainWindow>(this)] {
        if (weak) weak->close();
    };
    connect(viewModel_.get(), &ViewerViewModel::changed, this, [this, closeAgain](ViewerViewModel::Field field) {
        if (field == ViewerViewModel::Field::isRecording && !viewModel_->isRecording()) {
            QTimer::singleShot(0, this, closeAgain);
        }
    });
    // Past the limit finishRecording() says no more, and the close goes through.
    QTimer::singleShot(viewModel_->recordingFinishTimeLeft(), this, closeAgain);
    return true;
}

void MainWindow::stop() {
    stopped_ = true;
    if (!active_) return;
    active_ = false;
    // The sources' textures live in the 3D view's context: they go with it current.
    const bool hasContext = viewport_->context() != nullptr;
    if (hasContext) viewport_->makeCurrent();
    viewModel_->deactivate();
    viewModel_->releaseSource();
    if (hasContext) viewport_->doneCurrent();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Layouts may stack the view above the badge again; keep the badge on top.
    if (watched == viewHost_ && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) {
        badge_->raise();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::onFieldChanged(ViewerViewModel::Field field) {
    switch (field) {
    case ViewerViewModel::Field::isCameraLocked:
        updateBadge();
        break;
    case ViewerViewModel::Field::showValidationAlert:
    case ViewerViewModel::Field::validationErrors:
        updateAlert();
        break;
    case ViewerViewModel::Field::mesh:
    case ViewerViewModel::Field::modelKind:
    case ViewerViewModel::Field::objURL:
    case ViewerViewModel::Field::fbxURL:
        updateTitle();
        break;
    default:
        break;
    }
}

void MainWindow::updateBadge() {
    badge_->setVisible(viewModel_->isCameraLocked());
    badge_->raise();
}

void MainWindow::updateTitle() {
    // Named after the model on show, not one that failed to load.
    const auto& path = viewModel_->modelKind() == ModelKind::fbx ? viewModel_->fbxURL() : viewModel_->objURL();
    const QString program = QStringLiteral("Lumbrix");
    setWindowTitle(viewModel_->mesh() && path ? lastPathComponent(*path) + QStringLiteral(" \u2014 ") + program
                                              : program);
}

void MainWindow::updateAlert() {
    const QString message = viewModel_->validationErrors().join(QStringLiteral("\n\n"));
    if (!viewModel_->showValidationAlert()) {
        // Lowered from elsewhere: take the alert down without writing the flag again.
        if (QMessageBox* box = alert_) {
            alert_ = nullptr;
            box->disconnect(this);
            box->close();
            box->deleteLater();
        }
        return;
    }
    if (alert_) {
        alert_->setText(message);
        return;
    }
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("validationAlert"));
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(kAlertTitle);
    box->setText(message);
    box->setTextFormat(Qt::PlainText);
    QPushButton* ok = box->addButton(tr("OK"), QMessageBox::AcceptRole);
    ok->setObjectName(QStringLiteral("validationAlertOkButton"));
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    alert_ = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (alert_ != box) return;
        alert_ = nullptr;
        box->deleteLater();
        viewModel_->setShowValidationAlert(false);
    });
    box->open();
}

}  // namespace lumbrix
