#pragma once
// Scratch files for loader tests, removed with the fixture.
#include <string>
#include <string_view>

namespace lumbrix::testing {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes `bytes` to `name` inside the folder and returns the full path.
    std::string write(const std::string& name, std::string_view bytes) const;

private:
    std::string path_;
};

}  // namespace lumbrix::testing
