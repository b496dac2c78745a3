#include "tools/render/partial_movie.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <system_error>

#include "platform/regular_file.h"

namespace lumbrix::render_tool {
namespace {

std::atomic<int> requestedStop{0};

void requestStop(int signal) { requestedStop.store(signal); }

}  // namespace

std::optional<MovieTarget> movieTargetFor(const std::string& out, std::string* problem) {
    namespace fs = std::filesystem;
    fs::path target(out);
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        const fs::path link = fs::read_symlink(target, error);
        if (error) {
            *problem = out + ": " + error.message();
            return std::nullopt;
        }
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (auto reason = regularFileReason(info)) {
            *problem = out + ": " + *reason;
            return std::nullopt;
        }
    }
    const std::string extension = target.extension().string();
    fs::path partial = target;
    partial.replace_filename(target.stem().string() + ".partial" + (extension.empty() ? ".mp4" : extension));
    return MovieTarget{target.string(), partial.string()};
}

void installStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    // The first signal asks; the next one finds the default action back in place.
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

int stopSignal() { return requestedStop.load(); }

}  // namespace lumbrix::render_tool
