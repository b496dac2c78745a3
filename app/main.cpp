// Lumbrix: the venue previsualisation viewer.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/viewer_app.h"
#include "lumbrix_version.h"

namespace {

constexpr const char* kUsage =
    "Usage: Lumbrix [OPTION]... [FILE]...\n"
    "Shows video content mapped onto a venue model in 3D, to preview projection and LED\n"
    "shows before they are built.\n"
    "Each FILE opens as if chosen from the File menu: a venue model (.obj, .fbx), a movie\n"
    "(.mp4, .mov, .mkv, ...) or a picture (.png, .jpg). Name a FILE that starts with - as ./FILE.\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "Qt's own options are accepted too, for example -platform NAME, -style NAME, -reverse.\n"
    "Exit status: 0 after a normal quit, 1 when the display has no OpenGL 3.3, 2 for a usage error.\n";

// The options QApplication takes out of the arguments itself (the X11 ones included);
// those in the first list take a value, in the next argument or after '='.
constexpr std::string_view kQtValueOptions[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "style", "stylesheet", "display", "geometry", "name", "title", "visual",
    "qmljsdebugger"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

enum class Request { run, help, version, usageError };

template <size_t N>
bool contains(const std::string_view (&names)[N], std::string_view name) {
    for (std::string_view n : names) {
        if (n == name) return true;
    }
    return false;
}

// Decided before QApplication exists, which needs a display: --help and --version
// answer on a server, and a mistyped option is not opened as a file.
Request readArguments(int argc, char** argv, std::string& problem) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return Request::help;
        if (arg == "--version") return Request::version;
        if (arg.size() < 2 || arg[0] != '-') continue;
        // Qt accepts its options with one dash or two.
        std::string_view name = arg.substr(arg[1] == '-' ? 2 : 1);
        const size_t equals = name.find('=');
        const bool valueAttached = equals != std::string_view::npos;
        if (valueAttached) name = name.substr(0, equals);
        if (contains(kQtValueOptions, name)) {
            if (valueAttached) continue;
            if (i + 1 >= argc) {
                problem = std::string(arg) + " needs a value";
                return Request::usageError;
            }
            ++i;
        } else if (!contains(kQtFlags, name) || valueAttached) {
            problem = "unknown option " + std::string(arg);
            return Request::usageError;
        }
    }
    return Request::run;
}

}  // namespace

int main(int argc, char** argv) {
    std::string problem;
    switch (readArguments(argc, argv, problem)) {
    case Request::help:
        std::fputs(kUsage, stdout);
        return 0;
    case Request::version:
        std::printf("Lumbrix %s\n", LUMBRIX_VERSION);
        return 0;
    case Request::usageError:
        std::fprintf(stderr, "Lumbrix: %s\n%s", problem.c_str(), kUsage);
        return 2;
    case Request::run:
        break;
    }
    lumbrix::ViewerApp app(argc, argv);
    return app.run();
}
