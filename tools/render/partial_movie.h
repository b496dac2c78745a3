#pragma once
// Where lumbrix-render writes its movie until every frame is in, and the signals that
// end a render early. The movie named by --out is replaced only by a finished render,
// in one rename; a render that stops early leaves what it made beside it.
#include <csignal>
#include <optional>
#include <string>

namespace lumbrix::render_tool {

struct MovieTarget {
    std::string finalPath;    // what the rename replaces: a link's target, not the link
    std::string partialPath;  // NAME.partial.EXT beside it
};

// Fails with the reason when `out` exists and is not a regular file (a folder, a
// device, a pipe), directly or through a symbolic link.
std::optional<MovieTarget> movieTargetFor(const std::string& out, std::string* problem);

// SIGINT, SIGTERM and SIGHUP ask the render to stop; a second one ends the program
// at once. SIGXFSZ is ignored, so a file size limit is an ordinary write error.
void installStopSignals();
// The signal that asked for a stop, or 0.
int stopSignal();

}  // namespace lumbrix::render_tool
