#pragma once
// Replacing a file so that readers see either the old one or the whole new one.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/error.h"

namespace lumbrix {

// Writes `bytes` to a temporary file in `path`'s folder, flushes it to disk and renames
// it over `path` (an existing file is replaced). On failure the temporary file is removed
// and `path` is untouched; the error is the POSIX error that stopped the write, naming
// `path`. The new file gets the permissions a freshly created one would (0666 less the
// umask), not the owner-only ones of the temporary file.
std::optional<Error> writeFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace lumbrix
