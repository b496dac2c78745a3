#pragma once
// The text the OBJ reader's scans read: in memory, or an open file read piece by piece.
//
// A file is never held whole: each scan reads it in pieces of whole lines into a small
// buffer of its own, so a load touches a few megabytes of fresh memory for the text
// instead of its whole size, and the pieces it parses are still in the cache. Pieces
// end right after a line feed (or at the end of the range), which is a line start for
// every rule of the reader, so a scan over the pieces sees the lines a scan over the
// whole text would.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "fbx/page_memory.h"

namespace lumbrix {

class OBJTextSource {
public:
    // Text in memory; `data[size]` must be readable (a NUL).
    OBJTextSource(const char* data, size_t size) : data_(data), size_(size) {}
    // `size` bytes of the open file `fd` from byte `start`. The file must stay open
    // and must not change while the source is read; a read that comes short marks the
    // source failed().
    // `pieceBytes`: how much a piece holds at most, unless one line is longer (0: the
    // default, 2 MiB less the NUL; tests use a few bytes).
    OBJTextSource(int fd, uint64_t start, size_t size, size_t pieceBytes = 0)
        : fd_(fd), start_(start), size_(size), pieceBytes_(pieceBytes) {}
    OBJTextSource(const OBJTextSource&) = delete;
    OBJTextSource& operator=(const OBJTextSource&) = delete;

    size_t size() const { return size_; }
    bool inMemory() const { return data_ != nullptr || fd_ < 0; }
    // Whether a read of the file failed or came short: the scans' results then mean nothing.
    bool failed() const { return failed_.load(std::memory_order_acquire); }

    // The offset just past the first line feed at or after `at`, or size() when there is none.
    size_t lineStartAfter(size_t at) const;

    // One scan's way through [begin, end), which must start at a line start.
    class Reader {
    public:
        Reader(const OBJTextSource& source, size_t begin, size_t end);
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;

        // The next piece: text from `offset` that ends right after a line feed or at the
        // range's end, with a NUL after it. False at the end of the range, or when the
        // file cannot be read (the source is then failed()).
        bool next(const char*& piece, size_t& offset, size_t& length);

    private:
        const OBJTextSource& source_;
        size_t position_;
        size_t end_;
        PodArray<char> buffer_;
    };

private:
    // `length` bytes at `offset` of the text into `out`; false when the file gives fewer.
    bool read(char* out, size_t offset, size_t length) const;

    const char* data_ = nullptr;
    int fd_ = -1;
    uint64_t start_ = 0;
    size_t size_ = 0;
    size_t pieceBytes_ = 0;
    mutable std::atomic<bool> failed_{false};
};

}  // namespace lumbrix
