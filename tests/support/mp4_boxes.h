#pragma once
// The top-level box types of an MP4 file, read by tests and benchmarks that check how a
// movie is laid out (fragments or one index) without trusting our own writer's code.
#include <string>
#include <vector>

namespace lumbrix::test {

// In file order; stops at the end or at a box whose size cannot be right.
std::vector<std::string> topLevelBoxes(const std::string& path);

}  // namespace lumbrix::test
