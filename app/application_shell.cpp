#include "app/application_shell.h"

#include <functional>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHash>
#include <QMenuBar>
#include <QPointer>
#include <QStyleFactory>
#include <QUrl>

#include "app/app_icon.h"
#include "app/help_panel.h"
#include "ui/command_table.h"
#include "ui/main_window.h"
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

namespace {

// What a menu item does. No default case, so -Wswitch names a command that joins the
// table without a handler here. The window outlives its menus' actions, which are its
// children.
std::function<void()> menuHandler(Command command, MainWindow& window, HelpPanelController& help,
                                  NotificationCenter& notifications) {
    ViewerViewModel& vm = window.viewModel();
    switch (command) {
    case Command::openModel:
        return [&vm] { vm.chooseFileToOpen(FilePickKind::model); };
    case Command::addVenue:
        return [&vm] { vm.chooseVenues(); };
    case Command::openVideoFile:
        return [&vm] { vm.chooseFileToOpen(FilePickKind::videoFile); };
    case Command::openImage:
        return [&vm] { vm.chooseFileToOpen(FilePickKind::imageFile); };
    case Command::screenshot:
        return [&vm] { vm.takeScreenshot(); };
    case Command::toggleRecording:
        return [&vm] { vm.toggleRecording(); };
    case Command::showCaptureFolder:
        return [&vm] {
            if (const auto folder = vm.openableCaptureFolder()) QDesktopServices::openUrl(QUrl::fromLocalFile(*folder));
        };
    case Command::quit:
        return [&window] { window.closeAndQuit(); };
    case Command::toggleCameraLock:
        return [&notifications] { notifications.post(kToggleCameraLockNotification); };
    case Command::toggleFloorGrid:
        return [&notifications] { notifications.post(kToggleFloorGridNotification); };
    case Command::fullScreenView:
        return [&window] { window.setFullScreenView(!window.isFullScreenView()); };
    case Command::reloadFiles:
        return [&vm] { vm.reloadFiles(); };
    case Command::reloadWhenChanged:
        return [&vm] { vm.setReloadFilesWhenChanged(!vm.reloadFilesWhenChanged()); };
    case Command::keyboardShortcuts:
        // The controller may go before the window that holds the menu.
        return [controller = QPointer<HelpPanelController>(&help)] {
            if (controller) controller->show();
        };
    case Command::openRecent:  // a submenu, filled as it opens
    case Command::savePreset:
    case Command::recallPreset:
        break;  // keys of the 3D view only
    }
    return {};
}

// Refilled each time it opens, so it shows what is on disk now: a file that has gone
// stays listed, greyed out, in case its drive comes back.
void fillRecentMenu(QMenu& menu, ViewerViewModel& vm) {
    menu.clear();
    const QStringList files = vm.recentFiles();
    for (const QString& path : files) {
        QAction* item = menu.addAction(QFileInfo(path).fileName());
        item->setToolTip(path);
        item->setData(path);
        item->setEnabled(QFileInfo(path).isFile());
        QObject::connect(item, &QAction::triggered, &menu, [&vm, path] { vm.openFile(path); });
    }
    if (files.isEmpty()) menu.addAction(QObject::tr("No Recent Files"))->setEnabled(false);
}

}  // namespace

void installMenus(MainWindow& window, HelpPanelController& help, NotificationCenter& notifications) {
    QMenuBar* bar = window.menuBar();
    QHash<QString, QMenu*> menus;
    for (const CommandSpec& spec : kCommands) {
        if (spec.menu == nullptr) continue;
        const QString title = QString::fromUtf8(spec.menu);
        QMenu*& menu = menus[title];
        if (menu == nullptr) {
            menu = bar->addMenu(QObject::tr(spec.menu));
            menu->setObjectName(title.toLower() + QStringLiteral("Menu"));
        }
        const QString name = QString::fromUtf8(spec.name);
        if (spec.command == Command::openRecent) {
            QMenu* recent = menu->addMenu(QObject::tr(spec.label));
            recent->setObjectName(name + QStringLiteral("Menu"));
            recent->menuAction()->setObjectName(name + QStringLiteral("Action"));
            ViewerViewModel& vm = window.viewModel();
            QObject::connect(recent, &QMenu::aboutToShow, recent, [recent, &vm] { fillRecentMenu(*recent, vm); });
            continue;
        }
        QAction* action = menu->addAction(QObject::tr(spec.label));
        action->setObjectName(name + QStringLiteral("Action"));
        if (spec.hasKeys()) action->setShortcut(QKeySequence(spec.keys));
        // Off the platform's own application menu, whatever the label says.
        action->setMenuRole(QAction::NoRole);
        // The window holds the keys too, so they act while full screen hides the menu bar.
        window.addAction(action);
        QObject::connect(action, &QAction::triggered, &window, menuHandler(spec.command, window, help, notifications));
        if (spec.command == Command::reloadWhenChanged) {
            ViewerViewModel& vm = window.viewModel();
            action->setCheckable(true);
            action->setChecked(vm.reloadFilesWhenChanged());
            QObject::connect(&vm, &ViewerViewModel::changed, action, [action, &vm](ViewerViewModel::Field field) {
                if (field == ViewerViewModel::Field::reloadFilesWhenChanged) action->setChecked(vm.reloadFilesWhenChanged());
            });
        }
    }
}

}  // namespace lumbrix
