#include "capture/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "platform/expected.h"
#include "platform/regular_file.h"

namespace lumbrix {
namespace {

// umask(2) can only be read by changing it, which races with threads creating files at
// the same moment; Linux reports it in /proc instead.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            try {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
            } catch (...) {
                break;
            }
        }
    }
    return 022;
}

// The temporary file: closed and removed on every early return, kept once renamed.
class TemporaryFile {
public:
    TemporaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Linux closes the descriptor even when close reports an error, so it is never retried.
    int close() { return ::close(std::exchange(fd_, -1)); }
    void keep() { path_.clear(); }

private:
    int fd_;
    std::string path_;
};

// Linux's own limit on links followed in one lookup.
constexpr int kMaxLinkHops = 40;

// The file a write to `path` reaches once symbolic links are followed, and what lstat
// says about it (nothing when it does not exist yet). The rename must land there: over
// the link it would replace the link with a regular file.
struct CaptureTarget {
    std::string path;
    std::optional<struct stat> info;
};

Expected<CaptureTarget, Error> resolveTarget(const std::string& path, const std::string& what) {
    namespace fs = std::filesystem;
    CaptureTarget target{path, std::nullopt};
    for (int hops = 0;; ++hops) {
        struct stat info {};
        if (::lstat(target.path.c_str(), &info) != 0) {
            // A missing file is made; a missing folder is the write's own ENOENT later.
            if (errno == ENOENT) return target;
            return unexpected(posixError(errno, what));
        }
        if (!S_ISLNK(info.st_mode)) {
            target.info = info;
            return target;
        }
        if (hops == kMaxLinkHops) return unexpected(posixError(ELOOP, what));
        std::error_code error;
        const fs::path link = fs::read_symlink(target.path, error);
        if (error) return unexpected(posixError(error.value(), what));
        target.path = link.is_absolute() ? link.string() : (fs::path(target.path).parent_path() / link).string();
    }
}

Expected<CaptureTarget, Error> checkedTarget(const std::string& path) {
    const std::string what = "Cannot write " + path;
    auto target = resolveTarget(path, what);
    if (!target) return target;
    if (target->info) {
        if (auto problem = regularFileProblem(*target->info, path, "Cannot write")) return unexpected(*problem);
    }
    return target;
}

}  // namespace

std::optional<Error> checkCaptureTarget(const std::string& path) {
    auto target = checkedTarget(path);
    if (!target) return target.error();
    return std::nullopt;
}

std::optional<Error> writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
    namespace fs = std::filesystem;
    const std::string what = "Cannot write " + path;
    // Only a regular file is replaced: renaming over a device node or a pipe would swap
    // it for a picture, and the rename goes to what a link leads to, keeping the link.
    auto resolved = checkedTarget(path);
    if (!resolved) return resolved.error();
    const fs::path target(resolved->path);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";

    // Same folder, so the rename stays on one file system and is atomic. Hidden, so file
    // browsers do not show a half-written picture.
    // The name is shortened so that a target name near the length limit still leaves room
    // for the dot and the random suffix.
    const std::string pattern =
        (folder / ("." + target.filename().string().substr(0, 200) + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // Close-on-exec: child processes started meanwhile must not inherit the descriptor.
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return posixError(errno, what);
    TemporaryFile temporary(fd, name.data());

    if (::fchmod(fd, 0666 & ~currentUmask()) != 0) return posixError(errno, what);
    const uint8_t* next = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return posixError(errno, what);
        }
        next += written;
        left -= static_cast<size_t>(written);
    }
    // Without the flush a crash after the rename could leave an empty file at `path`.
    if (::fsync(fd) != 0) return posixError(errno, what);
    // Network file systems report some write errors only when the file is closed.
    if (temporary.close() != 0) return posixError(errno, what);
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) return posixError(errno, what);
    temporary.keep();

    // Makes the rename itself durable; the file is already complete and in place, so a
    // failure here is not worth reporting.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return std::nullopt;
}

}  // namespace lumbrix
