#pragma once
// What the program sets up around its window: the application's names and icon, the
// Fusion style with a dark palette (before any window shows, so nothing flashes
// light), and the window's menus that reach it through named notifications.
#include <QPalette>

class QApplication;

namespace lumbrix {

class HelpPanelController;
class MainWindow;
class NotificationCenter;

QPalette darkPalette();

// Names (which also place the settings file), style, palette and icon.
void configureApplication(QApplication& application);

// The command table's menus: File (open, recent files, capture, quit) acting on the
// window's view model; Camera → Toggle Camera Lock (Ctrl+L) and View → Toggle Floor
// Grid (Ctrl+G), each posting its notification on `notifications`; View → Full Screen
// 3D View (F11); Help → Keyboard Shortcuts… showing `help`.
void installMenus(MainWindow& window, HelpPanelController& help, NotificationCenter& notifications);

}  // namespace lumbrix
