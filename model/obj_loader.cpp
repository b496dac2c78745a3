#include "model/obj_loader.h"

#include <cerrno>
#include <algorithm>
#include <new>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/obj_geometry.h"
#include "platform/file_buffer.h"
#include "platform/file_descriptor.h"
#include "platform/regular_file.h"

namespace lumbrix {

OBJError OBJError::invalidUTF8(size_t byteOffset) {
    return {OBJErrorCase::invalidUTF8,
            {"The file is not valid UTF-8 text (first invalid byte at offset " + std::to_string(byteOffset) + ")."}};
}

std::string OBJError::description() const {
    std::string text;
    for (const auto& message : messages) {
        if (!text.empty()) text += ' ';
        text += message;
    }
    return text;
}

std::string describe(const OBJLoadError& error) {
    if (const auto* system = std::get_if<Error>(&error)) return system->description;
    return std::get<OBJError>(error).description();
}

namespace {

// readWholeFile's own limit: larger files go its way and get its error.
constexpr uint64_t kMaxPieceFileBytes = uint64_t(1) << 40;

OBJLoadResult fromParse(Expected<Mesh, OBJError>&& parsed) {
    if (!parsed) return unexpected(OBJLoadError(std::move(parsed.error())));
    return std::move(parsed).value();
}

}  // namespace

namespace {

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// The load with each pass reading the file piece by piece, for a regular file that
// holds still while it is read; nothing when anything else is the case (a path that is
// no regular file, an empty or growing file, a read error, a change during the load),
// and the whole-file read then gives the answer, with its own errors.
std::optional<OBJLoadResult> loadInPieces(const std::string& path) {
    if (checkRegularFile(path)) return std::nullopt;
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0 || !S_ISREG(before.st_mode) || before.st_size <= 0 ||
        static_cast<uint64_t>(before.st_size) > kMaxPieceFileBytes) {
        return std::nullopt;
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const auto size = static_cast<size_t>(before.st_size);
    try {
        bool readFailed = false;
        auto parsed = parseOBJFile(fd.get(), size, readFailed);
        if (readFailed) return std::nullopt;
        // The same bytes all along: same size and times, and nothing past the end.
        struct stat after {};
        char beyond = 0;
        if (::fstat(fd.get(), &after) != 0 || after.st_size != before.st_size ||
            !sameTime(after.st_mtim, before.st_mtim) || !sameTime(after.st_ctim, before.st_ctim) ||
            ::pread(fd.get(), &beyond, 1, static_cast<off_t>(size)) != 0) {
            return std::nullopt;
        }
        return fromParse(std::move(parsed));
    } catch (const std::bad_alloc&) {
        return OBJLoadResult(unexpected(OBJLoadError(posixError(ENOMEM, "Cannot load " + path))));
    }
}

}  // namespace

OBJLoadResult OBJLoader::load(const std::string& path) {
    // Read piece by piece: a load then touches a few megabytes of fresh memory for the
    // text instead of all of it.
    if (auto loaded = loadInPieces(path)) return std::move(*loaded);
    auto file = readWholeFile(path);
    if (!file) return unexpected(OBJLoadError(file.error()));
    try {
        FileBuffer& buffer = file.value();
        OBJGeometryOptions options;
        // The text is read front to back once the validation pass is over, so the
        // part already turned into geometry can go back to the system.
        options.releaseConsumed = [&buffer](size_t offset, size_t length) {
            buffer.releaseConsumed(offset, length);
        };
        return fromParse(parseOBJText(buffer.data(), buffer.size(), options));
    } catch (const std::bad_alloc&) {
        return unexpected(OBJLoadError(posixError(ENOMEM, "Cannot load " + path)));
    }
}

OBJLoadResult OBJLoader::loadFromMemory(std::string_view bytes) {
    try {
        // The parser reads one byte past the text, so give it a terminated copy.
        FileBuffer copy(bytes.size());
        std::copy(bytes.begin(), bytes.end(), copy.data());
        copy.data()[bytes.size()] = '\0';
        return fromParse(parseOBJText(copy.data(), bytes.size()));
    } catch (const std::bad_alloc&) {
        return unexpected(OBJLoadError(posixError(ENOMEM, "Cannot load model text")));
    }
}

}  // namespace lumbrix
