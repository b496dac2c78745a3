#include "tools/varnel/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

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

bool readWholeFile(const char* path, WholeFile& file) {
    file = WholeFile{};
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer, and the viewer
    // waits for us. It changes nothing for the regular files we go on to read.
    const FileDescriptor fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return false;
    struct stat info {};
    // Only regular files: a FIFO or a terminal may never deliver all its bytes, and
    // a device such as /dev/zero never ends.
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return false;
    static_assert(sizeof(info.st_size) == 8, "file sizes must not be cut to 32 bits");
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > SIZE_MAX) return false;

    // Not a vector: zero-filling gigabytes that read() overwrites at once is waste.
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
    if (!bytes) return false;
    uint64_t done = 0;
    while (done < size) {
        const uint64_t want = size - done < kChunkBytes ? size - done : kChunkBytes;
        const ssize_t got = read(fd.get(), bytes.get() + done, static_cast<size_t>(want));
        if (got < 0 && errno == EINTR) continue;
        // A file that shrank while we read it is judged unreadable rather than
        // checked in a state nobody asked about.
        if (got <= 0) return false;
        done += static_cast<uint64_t>(got);
    }
    file.bytes = std::move(bytes);
    file.size = size;
    return true;
}

}  // namespace lumbrix::varnel
