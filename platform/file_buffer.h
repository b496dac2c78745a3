#pragma once
// Whole-file reads into one page-aligned buffer.
//
// Model files run to hundreds of megabytes and a cold load is dominated by page
// faults, so large buffers are anonymous mappings advised to use transparent huge
// pages, filled by read(2) in a few large calls.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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

// A look at a file's first bytes before the rest is read, so that a file of the wrong
// kind is turned away without reading gigabytes of it. `check` gets the first
// min(`bytes`, file size) bytes and the file's size; an error it returns is returned
// by readWholeFile as it is.
struct HeadCheck {
    size_t bytes = 0;
    std::function<std::optional<Error>(const char* head, size_t headBytes, uint64_t fileBytes)> check;
};

// Reads the regular file at `path` completely. A missing or unreadable file, a folder,
// and anything else that is not a regular file (a named pipe, a device, a socket) give a
// POSIX error naming the path, at once: those are refused before they are opened, so a
// pipe without a writer cannot block and a device that never ends is never read. Files
// larger than `maxBytes` are refused with EFBIG.
Expected<FileBuffer, Error> readWholeFile(const std::string& path, size_t maxBytes = size_t(1) << 40,
                                          const HeadCheck& head = {});

}  // namespace lumbrix
