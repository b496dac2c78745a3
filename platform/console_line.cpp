#include "platform/console_line.h"

#include <cstdio>

namespace lumbrix {

void printConsoleLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace lumbrix
