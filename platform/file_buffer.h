#pragma once
// Whole-file reads into one page-aligned buffer.
//
// Model files run to hundreds of megabytes and a cold load is dominated by page
// faults, so large buffers are anonymous mappings advised to use transparent huge
// pages, filled by read(2) in a few large calls.
#include <cstddef>
#include <string>

#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

class FileBuffer {
public:
    FileBuffer() = default;
    explicit FileBuffer(size_t capacityBytes);  // throws std::bad_alloc
    ~FileBuffer();
    FileBuffer(FileBuffer&& other) noexcept;
    FileBuffer& operator=(FileBuffer&& other) noexcept;
    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

    const char* data() const { return data_; }
    char* data() { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    void setSize(size_t n) { size_ = n; }

    // Gives the pages of [offset, offset + length) back to the system once they
    // have been consumed; only whole pages inside the range are released and later
    // reads of them see zeros.
    void releaseConsumed(size_t offset, size_t length);

private:
    void reset() noexcept;
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool mapped_ = false;
};

// Reads the file at `path` completely. A directory, a missing or unreadable file
// give a POSIX error naming the path. Regular files larger than `maxBytes` and
// other files (pipes, devices) that run past `maxStreamBytes` are refused with
// EFBIG, so a device that never ends cannot eat all memory.
Expected<FileBuffer, Error> readWholeFile(const std::string& path, size_t maxBytes = size_t(1) << 40,
                                          size_t maxStreamBytes = size_t(1) << 30);

}  // namespace lumbrix
