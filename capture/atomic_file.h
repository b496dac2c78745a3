#pragma once
// Replacing a file so that readers see either the old one or the whole new one.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/error.h"

namespace lumbrix {

// Why `path` cannot take a capture written there, or nothing: it exists and is not a
// regular file (a folder: EISDIR; a named pipe, a device, a socket: EINVAL, "Not a
// regular file (a named pipe)"), or its folder cannot be looked into. A symbolic link is
// judged by the file it leads to, which need not exist yet. Never opens `path`, so a
// pipe cannot block it; movie and screenshot targets are checked with it before writing.
std::optional<Error> checkCaptureTarget(const std::string& path);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path` (an existing file is replaced). A symbolic link at `path` is followed: the file it
// leads to is replaced and the link stays. A target refused by checkCaptureTarget is left
// alone with that error. On failure the temporary file is removed and `path` is untouched;
// the error is the POSIX error that stopped the write, naming `path`. The new file gets
// the permissions a freshly created one would (0666 less the umask), not the owner-only
// ones of the temporary file.
std::optional<Error> writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace lumbrix
