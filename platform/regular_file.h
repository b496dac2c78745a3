#pragma once
// Telling a file apart from the other things a path can name, before anything opens it.
//
// Opening a named pipe waits for a writer, opening some devices has effects of its own
// (a serial line raises its control lines) and /dev/zero never ends, so every place that
// reads a file the user named refuses those at once instead of hanging the program.
#include <cstdint>
#include <optional>
#include <string>

#include <sys/stat.h>

#include "platform/error.h"

namespace lumbrix {

// What `mode` names, for people: "a folder", "a named pipe", "a character device", ...;
// "a regular file" for one.
std::string fileKindName(mode_t mode);

// Why `info` (from stat or fstat of `path`) is not a regular file that can be read, or
// nothing. A folder is EISDIR; a pipe, device or socket is EINVAL with "Not a regular
// file (a named pipe)" and the like. The description reads "`verb` `path`: reason".
std::optional<Error> regularFileProblem(const struct stat& info, const std::string& path,
                                        const std::string& verb = "Cannot open");

// The same, with stat(2) of `path` (symbolic links followed); a missing file or one
// behind an unreadable folder gives that POSIX error. Never opens `path`.
std::optional<Error> checkRegularFile(const std::string& path, const std::string& verb = "Cannot open");

// Only the reason of checkRegularFile, for messages that name the path themselves:
// "No such file or directory", "Is a directory", "Not a regular file (a named pipe)".
std::optional<std::string> regularFileReason(const std::string& path);
std::optional<std::string> regularFileReason(const struct stat& info);

// Enough of what stat(2) says to notice a rewrite, a replacement (new inode) or a write
// still in progress (size, nanosecond times).
struct FileVersion {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t sizeBytes = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileVersion&) const = default;

    static FileVersion of(const struct stat& info);
    // None for a path that is missing or not a regular file.
    static std::optional<FileVersion> of(const std::string& path);
};

}  // namespace lumbrix
