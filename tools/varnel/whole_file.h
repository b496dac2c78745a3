#pragma once
// Reading a whole file into memory with 64-bit sizes throughout.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace lumbrix::varnel {

// Gives a file's buffer back: big ones are mappings of their own.
struct WholeFileRelease {
    size_t bytes = 0;
    void operator()(uint8_t* p) const noexcept;
};

struct WholeFile {
    std::unique_ptr<uint8_t[], WholeFileRelease> bytes;
    uint64_t size = 0;
};

// Reads the regular file at `path` completely. Returns false when it cannot be
// opened, is not a regular file, cannot be read to its end, or does not fit in
// memory; `file` is left empty then.
bool readWholeFile(const char* path, WholeFile& file);

// The first min(`maxBytes`, file size) bytes of the regular file at `path` into `head`,
// and its size into `fileSize`, on the same terms as readWholeFile; the rest is not read.
bool readFileHead(const char* path, uint64_t maxBytes, std::vector<uint8_t>& head, uint64_t& fileSize);

// readFileHead and then readWholeFile in one opening: the first min(`headBytes`, file
// size) bytes go to `accept` (with the file's size) before anything else is read, and
// when it turns them down the rest is never read. The head is read straight into the
// whole file's buffer.
enum class HeadedRead { read, refused, failed };
HeadedRead readWholeFileAfterHead(const char* path, uint64_t headBytes,
                                  const std::function<bool(const uint8_t* head, uint64_t headSize,
                                                           uint64_t fileSize)>& accept,
                                  WholeFile& file);

}  // namespace lumbrix::varnel
