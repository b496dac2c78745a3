// lumbrix-inspect: says what the viewer would load from a model file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lumbrix_version.h"
#include "tools/inspect/inspect_report.h"

namespace {

constexpr const char* kUsage =
    "Usage: lumbrix-inspect [--json] [--] FILE\n"
    "       lumbrix-inspect --help | --version\n"
    "Reads an OBJ or FBX model (.obj, .fbx) through the viewer's own loader and summarises\n"
    "the mesh: counts, bounds, and why the viewer would refuse it.\n"
    "  --json      print exactly one JSON line on standard output\n"
    "  --          end of options: a FILE that starts with - follows\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "Exit status: 0 when the file loads, 1 when it does not, 2 for a usage error.\n";

int usageError(bool json, const std::string& problem) {
    if (json) {
        lumbrix::inspect::Report report;
        report.kind = "usage";
        report.messages = {problem};
        std::printf("%s\n", lumbrix::inspect::toJson(report).c_str());
    }
    std::fprintf(stderr, "lumbrix-inspect: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    bool optionsEnded = false;
    std::vector<std::string> files;
    std::string badOption;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && arg == "--json") {
            json = true;
        } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!optionsEnded && arg == "--version") {
            std::printf("lumbrix-inspect %s\n", LUMBRIX_VERSION);
            return 0;
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            if (badOption.empty()) badOption = arg;
        } else {
            files.push_back(arg);
        }
    }
    if (!badOption.empty()) return usageError(json, "unknown option " + badOption);
    if (files.size() != 1) {
        return usageError(json, files.empty() ? "no model file given" : "exactly one model file expected");
    }

    const lumbrix::inspect::Report report = lumbrix::inspect::inspectFile(files[0]);
    if (json) {
        std::printf("%s\n", lumbrix::inspect::toJson(report).c_str());
    } else {
        std::fputs(lumbrix::inspect::toText(files[0], report).c_str(), report.ok ? stdout : stderr);
    }
    return report.ok ? 0 : 1;
}
