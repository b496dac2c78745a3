#include "tools/varnel/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "fbx/page_memory.h"

namespace lumbrix::varnel {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// One read() moves at most ~2 GiB on Linux; smaller chunks keep every call well
// inside that and inside ssize_t on any platform.
constexpr uint64_t kChunkBytes = uint64_t(1) << 30;

}  // namespace

namespace {

// Opens `path` when it is a non-empty regular file; -1 otherwise.
int openRegularFile(const char* path, uint64_t& size) {
    struct stat info {};
    // Only regular files, and judged before opening: opening a FIFO waits for a writer
    // (and the viewer waits for us), opening a device can have effects of its own, and
    // one such as /dev/zero never ends.
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    // O_NONBLOCK in case the path was swapped for a FIFO meanwhile; it changes nothing
    // for the regular files we go on to read.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        close(fd);
        return -1;
    }
    static_assert(sizeof(info.st_size) == 8, "file sizes must not be cut to 32 bits");
    size = static_cast<uint64_t>(info.st_size);
    return fd;
}

// Reads `size` bytes at `offset`; false on an error or an early end.
bool readFully(int fd, uint8_t* into, uint64_t size, uint64_t offset) {
    uint64_t done = 0;
    while (done < size) {
        const uint64_t want = size - done < kChunkBytes ? size - done : kChunkBytes;
        const ssize_t got = pread(fd, into + done, static_cast<size_t>(want), static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        // A file that shrank while we read it is judged unreadable rather than
        // checked in a state nobody asked about.
        if (got <= 0) return false;
        done += static_cast<uint64_t>(got);
    }
    return true;
}

}  // namespace

namespace {

// Room for `size` bytes, uninitialised: not a vector, since zero-filling gigabytes that
// read() overwrites at once is waste, and big buffers on huge pages, since a fresh
// process pays a fault for every page it touches. Empty when there is no memory.
std::unique_ptr<uint8_t[], WholeFileRelease> allocateFile(uint64_t size) {
    if (size > SIZE_MAX) return {};
    try {
        const auto bytes = static_cast<size_t>(size);
        return std::unique_ptr<uint8_t[], WholeFileRelease>(static_cast<uint8_t*>(pagememory::allocate(bytes)),
                                                            WholeFileRelease{bytes});
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace

void WholeFileRelease::operator()(uint8_t* p) const noexcept { pagememory::release(p, bytes); }

bool readWholeFile(const char* path, WholeFile& file) {
    file = WholeFile{};
    uint64_t size = 0;
    const FileDescriptor fd(openRegularFile(path, size));
    if (fd.get() < 0) return false;
    auto bytes = allocateFile(size);
    if (!bytes) return false;
    if (!readFully(fd.get(), bytes.get(), size, 0)) return false;
    file.bytes = std::move(bytes);
    file.size = size;
    return true;
}

HeadedRead readWholeFileAfterHead(const char* path, uint64_t headBytes,
                                  const std::function<bool(const uint8_t*, uint64_t, uint64_t)>& accept,
                                  WholeFile& file) {
    file = WholeFile{};
    uint64_t size = 0;
    const FileDescriptor fd(openRegularFile(path, size));
    if (fd.get() < 0) return HeadedRead::failed;
    const uint64_t head = size < headBytes ? size : headBytes;
    auto bytes = allocateFile(size);
    if (!bytes) {
        // No room for the whole file, which is a failure only once the head is accepted.
        std::vector<uint8_t> first;
        try {
            first.resize(static_cast<size_t>(head));
        } catch (const std::bad_alloc&) {
            return HeadedRead::failed;
        }
        if (!readFully(fd.get(), first.data(), head, 0)) return HeadedRead::failed;
        return accept(first.data(), head, size) ? HeadedRead::failed : HeadedRead::refused;
    }
    if (!readFully(fd.get(), bytes.get(), head, 0)) return HeadedRead::failed;
    if (!accept(bytes.get(), head, size)) return HeadedRead::refused;
    if (!readFully(fd.get(), bytes.get() + head, size - head, head)) return HeadedRead::failed;
    file.bytes = std::move(bytes);
    file.size = size;
    return HeadedRead::read;
}

bool readFileHead(const char* path, uint64_t maxBytes, std::vector<uint8_t>& head, uint64_t& fileSize) {
    head.clear();
    fileSize = 0;
    uint64_t size = 0;
    const FileDescriptor fd(openRegularFile(path, size));
    if (fd.get() < 0) return false;
    const uint64_t want = size < maxBytes ? size : maxBytes;
    head.resize(static_cast<size_t>(want));
    if (!readFully(fd.get(), head.data(), want, 0)) {
        head.clear();
        return false;
    }
    fileSize = size;
    return true;
}

}  // namespace lumbrix::varnel
