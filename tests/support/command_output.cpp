#include "tests/support/command_output.h"

#include <cstdio>

namespace lumbrix::test {

std::string commandOutput(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char chunk[4096];
    while (size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, got);
    ::pclose(pipe);
    return text;
}

}  // namespace lumbrix::test
