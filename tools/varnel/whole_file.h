#pragma once
// Reading a whole file into memory with 64-bit sizes throughout.
#include <cstdint>
#include <memory>
#include <vector>

namespace lumbrix::varnel {

struct WholeFile {
    std::unique_ptr<uint8_t[]> bytes;
    uint64_t size = 0;
};

// Reads the regular file at `path` completely. Returns false when it cannot be
// opened, is not a regular file, cannot be read to its end, or does not fit in
// memory; `file` is left empty then.
bool readWholeFile(const char* path, WholeFile& file);

// The first min(`maxBytes`, file size) bytes of the regular file at `path` into `head`,
// and its size into `fileSize`, on the same terms as readWholeFile; the rest is not read.
bool readFileHead(const char* path, uint64_t maxBytes, std::vector<uint8_t>& head, uint64_t& fileSize);

}  // namespace lumbrix::varnel
