#include "tests/support/mp4_boxes.h"

#include <cstdint>
#include <fstream>

namespace lumbrix::test {

std::vector<std::string> topLevelBoxes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> boxes;
    uint64_t at = 0;
    for (;;) {
        unsigned char head[16];
        in.seekg(static_cast<std::streamoff>(at));
        if (!in.read(reinterpret_cast<char*>(head), 8)) break;
        uint64_t size = (uint64_t{head[0]} << 24) | (uint64_t{head[1]} << 16) | (uint64_t{head[2]} << 8) | head[3];
        if (size == 1) {
            if (!in.read(reinterpret_cast<char*>(head + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | head[i];
        }
        boxes.emplace_back(reinterpret_cast<char*>(head + 4), 4);
        if (size < 8) break;
        at += size;
    }
    return boxes;
}

}  // namespace lumbrix::test
