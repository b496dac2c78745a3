#include "platform/file_buffer.h"

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_descriptor.h"
#include "platform/regular_file.h"

namespace lumbrix {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMapThreshold = size_t(1) << 20;

size_t pageSize() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

}  // namespace

FileBuffer::FileBuffer(size_t capacityBytes) : capacity_(capacityBytes) {
    // One spare byte so parsers may read a terminating NUL past the end.
    const size_t bytes = capacityBytes + 1;
    if (bytes >= kMapThreshold) {
        const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        ::madvise(p, rounded, MADV_HUGEPAGE);
        data_ = static_cast<char*>(p);
        capacity_ = rounded - 1;
        mapped_ = true;
    } else {
        data_ = static_cast<char*>(std::malloc(bytes));
        if (!data_) throw std::bad_alloc();
    }
    data_[0] = '\0';
}

FileBuffer::~FileBuffer() { reset(); }

FileBuffer::FileBuffer(FileBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
    if (this != &other) {
        reset();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void FileBuffer::reset() noexcept {
    if (!data_) return;
    if (mapped_) {
        ::munmap(data_, capacity_ + 1);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
    mapped_ = false;
}

void FileBuffer::releaseConsumed(size_t offset, size_t length) {
    if (!mapped_ || length == 0) return;
    const size_t page = pageSize();
    const size_t begin = (offset + page - 1) / page * page;
    const size_t end = (offset + length) / page * page;
    if (end > begin) ::madvise(data_ + begin, end - begin, MADV_DONTNEED);
}

Expected<FileBuffer, Error> readWholeFile(const std::string& path, size_t maxBytes, const HeadCheck& head) {
    if (auto problem = checkRegularFile(path)) return unexpected(std::move(*problem));
    // Non-blocking all the same: the path may have been swapped for a pipe since the
    // check, and for a regular file the flag changes nothing.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return unexpected(posixError(errno, "Cannot open " + path));

    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return unexpected(posixError(errno, "Cannot read " + path));
    if (auto problem = regularFileProblem(info, path)) return unexpected(std::move(*problem));
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        return unexpected(posixError(EFBIG, "Cannot read " + path));
    }
    const auto fileBytes = static_cast<uint64_t>(info.st_size);

    try {
        if (head.check) {
            std::vector<char> bytes(static_cast<size_t>(std::min<uint64_t>(head.bytes, fileBytes)));
            size_t filled = 0;
            while (filled < bytes.size()) {
                const ssize_t got = ::pread(fd.get(), bytes.data() + filled, bytes.size() - filled,
                                            static_cast<off_t>(filled));
                if (got < 0 && errno == EINTR) continue;
                if (got < 0) return unexpected(posixError(errno, "Cannot read " + path));
                if (got == 0) break;
                filled += static_cast<size_t>(got);
            }
            if (auto refused = head.check(bytes.data(), filled, fileBytes)) return unexpected(std::move(*refused));
        }
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

        FileBuffer buffer(static_cast<size_t>(fileBytes));
        size_t filled = 0;
        for (;;) {
            if (filled == buffer.capacity()) {
                // The file grew while being read: continue in a larger buffer.
                if (buffer.capacity() >= maxBytes) return unexpected(posixError(EFBIG, "Cannot read " + path));
                FileBuffer larger(std::min(maxBytes, buffer.capacity() * 2 + 1));
                std::copy(buffer.data(), buffer.data() + filled, larger.data());
                buffer = std::move(larger);
            }
            const size_t want = std::min<size_t>(buffer.capacity() - filled, size_t(1) << 30);
            const ssize_t got = ::read(fd.get(), buffer.data() + filled, want);
            if (got < 0) {
                if (errno == EINTR) continue;
                return unexpected(posixError(errno, "Cannot read " + path));
            }
            if (got == 0) break;
            filled += static_cast<size_t>(got);
        }
        buffer.setSize(filled);
        buffer.data()[filled] = '\0';
        return buffer;
    } catch (const std::bad_alloc&) {
        return unexpected(posixError(ENOMEM, "Cannot read " + path));
    }
}

}  // namespace lumbrix
