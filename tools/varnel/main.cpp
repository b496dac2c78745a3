// Varnel: tells the viewer, from a separate process, whether an FBX file holds
// exactly one mesh. A file that crashes the reader takes down only this process.
#include <cstdio>
#include <cstring>

#include "lumbrix_version.h"
#include "tools/varnel/varnel.h"

namespace {

constexpr const char* kUsageLine = "Usage: Varnel <path-to-fbx>\n";

constexpr const char* kHelp =
    "Usage: Varnel <path-to-fbx>\n"
    "       Varnel --help | --version\n"
    "Checks whether an FBX file holds exactly one mesh, as Lumbrix does before importing it.\n"
    "Prints one JSON line on standard output:\n"
    "  {\"ok\":true,\"meshCount\":1}            the file holds exactly one mesh\n"
    "  {\"ok\":false,\"error\":\"MESSAGE\"}       anything else, with the reason\n"
    "Only the first argument is read; later ones are ignored.\n"
    "Exit status: 0 for exactly one mesh, 1 for any other file, 2 when no file is named.\n";

}  // namespace

int main(int argc, char** argv) {
    // The viewer passes one path and reads one line: only these exact words are
    // options, so any other first argument, whatever it starts with, is a file.
    if (argc < 2 || argv[1] == nullptr) {
        std::fputs(kUsageLine, stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("Varnel %s\n", LUMBRIX_VERSION);
        return 0;
    }
    return lumbrix::varnel::runVarnel(argc, argv, stdout, stderr);
}
