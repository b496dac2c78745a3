#pragma once
// Reading a whole file into memory with 64-bit sizes throughout.
#include <cstdint>
#include <memory>

namespace lumbrix::varnel {

struct WholeFile {
    std::unique_ptr<uint8_t[]> bytes;
    uint64_t size = 0;
};

// Reads the regular file at `path` completely. Returns false when it cannot be
// opened, is not a regular file, cannot be read to its end, or does not fit in
// memory; `file` is left empty then.
bool readWholeFile(const char* path, WholeFile& file);

}  // namespace lumbrix::varnel
