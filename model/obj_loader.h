#pragma once
// Wavefront OBJ reader for venue models: one object of triangles and quads.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/mesh.h"
#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

enum class OBJErrorCase {
    parseFailed,       // no geometry (or more vertices than 32-bit indices can address)
    validationFailed,  // several objects or n-gons; one message per problem
    invalidUTF8,       // the bytes are not UTF-8
};

struct OBJError {
    OBJErrorCase errorCase = OBJErrorCase::parseFailed;
    std::vector<std::string> messages;

    static OBJError parseFailed(std::string message) { return {OBJErrorCase::parseFailed, {std::move(message)}}; }
    static OBJError validationFailed(std::vector<std::string> list) {
        return {OBJErrorCase::validationFailed, std::move(list)};
    }
    static OBJError invalidUTF8(size_t byteOffset);

    // One line for logs and alerts.
    std::string description() const;
};

// A read error from the system, passed on unchanged, or the loader's own error.
using OBJLoadError = std::variant<Error, OBJError>;
using OBJLoadResult = Expected<Mesh, OBJLoadError>;

class OBJLoader {
public:
    static constexpr const char* kNoGeometryMessage = "No geometry found";

    static OBJLoadResult load(const std::string& path);

    // The same rules on text already in memory.
    static OBJLoadResult loadFromMemory(std::string_view bytes);

    // Ceiling on distinct vertices: every index must fit in 32 bits.
    static constexpr uint64_t kMaxVertices = uint64_t(1) << 32;
};

// The description of either kind of load error.
std::string describe(const OBJLoadError& error);

}  // namespace lumbrix
