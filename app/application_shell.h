#pragma once
// What the program sets up around its window: the application's names and icon, the
// Fusion style with a dark palette (before any window shows, so nothing flashes
// light), and the window's menus that reach it through named notifications.
#include <QPalette>

class QApplication;
class QMainWindow;

namespace lumbrix {

class HelpPanelController;
class NotificationCenter;

QPalette darkPalette();

// Names (which also place the settings file), style, palette and icon.
void configureApplication(QApplication& application);

// The command table's menus: Camera → Toggle Camera Lock (Ctrl+L), View → Toggle Floor
// Grid (Ctrl+G), each posting its notification on `notifications`; Help → Keyboard
// Shortcuts… showing `help`.
void installMenus(QMainWindow& window, HelpPanelController& help, NotificationCenter& notifications);

}  // namespace lumbrix
