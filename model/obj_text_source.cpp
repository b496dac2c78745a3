#include "model/obj_text_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace lumbrix {

namespace {

// A piece fills at most this much (one huge page with its NUL), unless one line is longer.
constexpr size_t kPieceBytes = (size_t(2) << 20) - 1;
constexpr size_t kSearchBytes = size_t(64) << 10;

}  // namespace

bool OBJTextSource::read(char* out, size_t offset, size_t length) const {
    size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(start_ + offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            failed_.store(true, std::memory_order_release);
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

size_t OBJTextSource::lineStartAfter(size_t at) const {
    if (at >= size_) return size_;
    if (inMemory()) {
        const void* lf = std::memchr(data_ + at, '\n', size_ - at);
        return lf ? static_cast<size_t>(static_cast<const char*>(lf) - data_) + 1 : size_;
    }
    PodArray<char> window(kSearchBytes);
    for (size_t from = at; from < size_; from += kSearchBytes) {
        const size_t length = std::min(kSearchBytes, size_ - from);
        if (!read(window.data(), from, length)) return size_;
        if (const void* lf = std::memchr(window.data(), '\n', length)) {
            return from + static_cast<size_t>(static_cast<const char*>(lf) - window.data()) + 1;
        }
    }
    return size_;
}

OBJTextSource::Reader::Reader(const OBJTextSource& source, size_t begin, size_t end)
    : source_(source), position_(begin), end_(std::min(end, source.size())) {}

bool OBJTextSource::Reader::next(const char*& piece, size_t& offset, size_t& length) {
    if (position_ >= end_) return false;
    if (source_.inMemory()) {
        piece = source_.data_ + position_;
        offset = position_;
        length = end_ - position_;
        position_ = end_;
        return true;
    }
    if (source_.failed()) return false;
    if (buffer_.empty()) {
        const size_t pieceBytes = source_.pieceBytes_ != 0 ? source_.pieceBytes_ : kPieceBytes;
        buffer_.reset(std::min(pieceBytes, end_ - position_) + 1);
    }
    for (;;) {
        const size_t want = std::min(buffer_.size() - 1, end_ - position_);
        if (!source_.read(buffer_.data(), position_, want)) return false;
        size_t used = want;
        if (position_ + want < end_) {
            // Up to the last line feed; the rest is read again with the next piece.
            const char* last = static_cast<const char*>(memrchr(buffer_.data(), '\n', want));
            if (last == nullptr) {
                // A line longer than the buffer: a buffer twice the size, from the same place.
                buffer_.reset(std::min(2 * (buffer_.size() - 1), end_ - position_) + 1);
                continue;
            }
            used = static_cast<size_t>(last - buffer_.data()) + 1;
        }
        buffer_[used] = '\0';
        piece = buffer_.data();
        offset = position_;
        length = used;
        position_ += used;
        return true;
    }
}

}  // namespace lumbrix
