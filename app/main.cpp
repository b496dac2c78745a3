#include <QApplication>

#include "ui/main_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    lumbrix::MainWindow window;
    window.show();
    return application.exec();
}
