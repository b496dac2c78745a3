#pragma once
// The fixed diagnostic lines users and scripts read on standard output. Flushed at once
// so they interleave sensibly with other output and survive a crash right after.
#include <string_view>

namespace lumbrix {

void printConsoleLine(std::string_view line);

}  // namespace lumbrix
