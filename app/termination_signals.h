#pragma once
// SIGTERM, SIGINT and SIGHUP close the windows the normal way before the program ends,
// so a logout or a Ctrl+C in the terminal still stops the sources, finishes the launch
// and leaves the settings as a closed window leaves them. A window that is finishing a
// recording closes, and the program ends, once the movie is written.
class QApplication;

namespace lumbrix {

// Call once, after the application object exists.
void closeWindowsOnTerminationSignals(QApplication& application);

}  // namespace lumbrix
