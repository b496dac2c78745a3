#pragma once
// Standard output of a shell command, for tests and benchmarks that check what we wrote
// with other programs (ffprobe, ffmpeg) rather than with our own code.
#include <string>

namespace lumbrix::test {

// Empty when the command cannot be started.
std::string commandOutput(const std::string& command);

}  // namespace lumbrix::test
