#pragma once
// The program object: the application with its style and palette, the one main window
// with its menus, and the help panel kept for the program's lifetime.
#include <memory>

#include <QApplication>

#include "app/help_panel.h"

namespace lumbrix {

class MainWindow;

class ViewerApp {
public:
    // Sets up the application before any window exists.
    ViewerApp(int& argc, char** argv);
    ~ViewerApp();

    // Shows the window, opens the files named on the command line once start-up has
    // run, and runs the event loop; the exit code. Where the display has no OpenGL
    // for the 3D view it says so (standard error, and a dialog where one can be seen)
    // and returns 1 without showing the window.
    int run();

    MainWindow& window() { return *window_; }
    HelpPanelController& helpPanel() { return helpPanel_; }

private:
    bool checkOpenGL();

    // Declared first so it goes last: the window and the panel need it to the end.
    QApplication application_;
    HelpPanelController helpPanel_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace lumbrix
