#include "app/termination_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

namespace lumbrix {
namespace {

// Written by the handler, read on the GUI thread: a handler may only do
// async-signal-safe things, and write(2) is one.
int g_signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const char byte = static_cast<char>(number);
    const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

bool anyWindowOpen() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](const QWidget* window) { return window->isVisible(); });
}

}  // namespace

void closeWindowsOnTerminationSignals(QApplication& application) {
    if (g_signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] {
        char byte = 0;
        const ssize_t ignored = ::read(g_signalPipe[0], &byte, 1);
        (void)ignored;
        QApplication::closeAllWindows();
        // A window that refused to close (it is finishing a recording) closes by itself
        // once done, and the last window closed ends the program.
        if (!anyWindowOpen()) QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
}

}  // namespace lumbrix
