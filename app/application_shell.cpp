#include "app/application_shell.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QStyleFactory>

#include "app/app_icon.h"
#include "app/help_panel.h"
#include "viewer/notification_center.h"

namespace lumbrix {

QPalette darkPalette() {
    const QColor window(0x2b, 0x2b, 0x2e);
    const QColor base(0x1e, 0x1e, 0x21);
    const QColor text(0xe8, 0xe8, 0xea);
    const QColor disabledText(0x7a, 0x7a, 0x80);
    const QColor accent(0x3d, 0x8b, 0xf2);

    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, QColor(0xff, 0x5a, 0x5a));
    palette.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x50));
    palette.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x45));
    palette.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x34));
    palette.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Link, accent);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, disabledText);
    }
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x50, 0x55));
    return palette;
}

void configureApplication(QApplication& application) {
    QApplication::setOrganizationName(QStringLiteral("Lumbrix"));
    QApplication::setApplicationName(QStringLiteral("Lumbrix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumbrix"));
    // Matches the installed desktop entry, so the desktop groups the window under it.
    QGuiApplication::setDesktopFileName(QStringLiteral("lumbrix"));
    application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
    QApplication::setWindowIcon(lumbrixIcon());
}

void installMenus(QMainWindow& window, HelpPanelController& help, NotificationCenter& notifications) {
    QMenuBar* bar = window.menuBar();

    QMenu* camera = bar->addMenu(QObject::tr("Camera"));
    camera->setObjectName(QStringLiteral("cameraMenu"));
    QAction* lock = camera->addAction(QObject::tr("Toggle Camera Lock"));
    lock->setObjectName(QStringLiteral("toggleCameraLockAction"));
    lock->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    QObject::connect(lock, &QAction::triggered, &window,
                     [&notifications] { notifications.post(kToggleCameraLockNotification); });

    QMenu* view = bar->addMenu(QObject::tr("View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    QAction* grid = view->addAction(QObject::tr("Toggle Floor Grid"));
    grid->setObjectName(QStringLiteral("toggleFloorGridAction"));
    grid->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    QObject::connect(grid, &QAction::triggered, &window,
                     [&notifications] { notifications.post(kToggleFloorGridNotification); });

    QMenu* helpMenu = bar->addMenu(QObject::tr("Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    QAction* shortcuts = helpMenu->addAction(QObject::tr("Keyboard Shortcuts\u2026"));
    shortcuts->setObjectName(QStringLiteral("keyboardShortcutsAction"));
    shortcuts->setMenuRole(QAction::NoRole);
    QObject::connect(shortcuts, &QAction::triggered, &help, [&help] { help.show(); });
}

}  // namespace lumbrix
