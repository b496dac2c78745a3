#include "platform/regular_file.h"

#include <cerrno>
#include <cstring>

namespace lumbrix {

std::string fileKindName(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a file";
}

std::optional<Error> regularFileProblem(const struct stat& info, const std::string& path, const std::string& verb) {
    auto reason = regularFileReason(info);
    if (!reason) return std::nullopt;
    // No errno says "named pipe"; the kind in words is what the user needs to see.
    return Error(kPosixErrorDomain, S_ISDIR(info.st_mode) ? EISDIR : EINVAL, verb + " " + path + ": " + *reason);
}

std::optional<Error> checkRegularFile(const std::string& path, const std::string& verb) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return posixError(errno, verb + " " + path);
    return regularFileProblem(info, path, verb);
}

std::optional<std::string> regularFileReason(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::string(std::strerror(errno));
    return regularFileReason(info);
}

std::optional<std::string> regularFileReason(const struct stat& info) {
    if (S_ISREG(info.st_mode)) return std::nullopt;
    if (S_ISDIR(info.st_mode)) return std::string(std::strerror(EISDIR));
    return "Not a regular file (" + fileKindName(info.st_mode) + ")";
}

namespace {

int64_t nanoseconds(const timespec& time) { return int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec; }

}  // namespace

FileVersion FileVersion::of(const struct stat& info) {
    return {uint64_t(info.st_dev), uint64_t(info.st_ino), int64_t(info.st_size), nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim)};
}

std::optional<FileVersion> FileVersion::of(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return of(info);
}

}  // namespace lumbrix
