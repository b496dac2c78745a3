#pragma once
#if !defined(LUMBRIX_INSIDE_MODEL) && !defined(LUMBRIX_TESTS)
#error "model/obj_geometry.h is internal to model/"
#endif
// The geometry pass of the OBJ reader, exposed for the loader and its tests.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstddef>
#include <functional>

#include "model/obj_loader.h"
#include "model/obj_validation.h"

namespace lumbrix {

enum class OBJThreading {
    automatic,  // a second thread for large texts
    single,
    parallel,   // a second thread whatever the size (for tests)
};

struct OBJGeometryOptions {
    uint64_t maxVertices = OBJLoader::kMaxVertices;
    OBJThreading threading = OBJThreading::automatic;
    // Off: every line goes through trimming and tokens (the reference the fast
    // paths are checked against).
    bool fastPaths = true;
    // Called with byte ranges no pass will read again, so a caller that owns the
    // buffer can give their pages back while the mesh grows.
    std::function<void(size_t offset, size_t length)> releaseConsumed;
    // For tests: the faces are read in two parts, split at the first line that starts
    // at or after this offset, and merged, whatever the threading. Without it large
    // texts on two threads split where the work halves.
    static constexpr size_t kNoFixedSplit = SIZE_MAX;
    size_t faceSplitAt = kNoFixedSplit;
    // For tests: the most a piece of a file read by parseOBJFile holds (0: the default).
    size_t filePieceBytes = 0;
};

// Both read `data[size]`, which must be a NUL terminator.
Expected<Mesh, OBJError> readOBJGeometry(const char* data, size_t size, const OBJValidationSummary& counts,
                                         const OBJGeometryOptions& options = {});

// UTF-8 check, validation and geometry on one text.
Expected<Mesh, OBJError> parseOBJText(const char* data, size_t size, const OBJGeometryOptions& options = {});

// The same on the first `size` bytes of the open regular file `fd`, read piece by piece
// by each pass instead of whole. When a read fails or comes short (the file changed),
// `readFailed` is set and the result means nothing: read the file whole instead.
Expected<Mesh, OBJError> parseOBJFile(int fd, size_t size, bool& readFailed, const OBJGeometryOptions& options = {});

}  // namespace lumbrix
