#include "model/obj_geometry.h"

#include <array>
#include <string_view>

#include "model/obj_corner_map.h"
#include "model/obj_text.h"
#include "model/utf8.h"

namespace lumbrix {

namespace {

using objtext::parseFloat;
using objtext::parseIndex;

constexpr size_t kReleaseChunk = size_t(8) << 20;

struct Lists {
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 2>> texCoords;
    std::vector<std::array<float, 3>> normals;
};

// Resolves one index field against the `count` elements read so far.
inline int64_t resolve(std::string_view field, size_t count) {
    const auto value = parseIndex(field);
    if (!value || *value == 0) return 0;
    if (*value > 0) return *value - 1;
    return static_cast<int64_t>(count) + *value;
}

inline CornerKey cornerKey(std::string_view corner, const Lists& lists) {
    std::string_view fields[3];
    size_t field = 0;
    size_t start = 0;
    for (size_t i = 0; i <= corner.size() && field < 3; ++i) {
        if (i == corner.size() || corner[i] == '/') {
            fields[field++] = corner.substr(start, i - start);
            start = i + 1;
        }
    }
    return CornerKey{resolve(fields[0], lists.positions.size()), resolve(fields[1], lists.texCoords.size()),
                     resolve(fields[2], lists.normals.size())};
}

template <class List>
inline bool inRange(int64_t index, const List& list) {
    return index >= 0 && static_cast<uint64_t>(index) < list.size();
}

class GeometryBuilder {
public:
    GeometryBuilder(const OBJValidationSummary& counts, const OBJGeometryOptions& options)
        : options_(options), corners_(counts.positionLines, counts.faceCorners) {
        lists_.positions.reserve(counts.positionLines);
        lists_.texCoords.reserve(counts.texCoordLines);
        lists_.normals.reserve(counts.normalLines);
        mesh_.indices.reserve(counts.triangleIndices);
        // Capacity past what is used is never touched, so it costs address space only.
        mesh_.vertices.reserve(std::min<uint64_t>(counts.faceCorners, options.maxVertices));
    }

    void position(std::string_view line) {
        std::string_view tokens[4];
        if (!readTokens(line, tokens, 4)) return;
        lists_.positions.push_back({parseFloat(tokens[1]), parseFloat(tokens[2]), parseFloat(tokens[3])});
    }

    void texCoord(std::string_view line) {
        std::string_view tokens[3];
        if (!readTokens(line, tokens, 3)) return;
        lists_.texCoords.push_back({parseFloat(tokens[1]), 1.0f - parseFloat(tokens[2])});
    }

    void normal(std::string_view line) {
        std::string_view tokens[4];
        if (!readTokens(line, tokens, 4)) return;
        lists_.normals.push_back({parseFloat(tokens[1]), parseFloat(tokens[2]), parseFloat(tokens[3])});
    }

    // False when the mesh would need more vertices than 32-bit indices address.
    bool face(std::string_view line) {
        objtext::TokenReader reader(line);
        std::string_view token;
        reader.next(token);  // the keyword
        // Validation has refused longer faces; the vector only serves other callers.
        std::array<std::string_view, 8> inlineCorners;
        std::vector<std::string_view> manyCorners;
        size_t count = 0;
        while (reader.next(token)) {
            if (count < inlineCorners.size()) {
                inlineCorners[count] = token;
            } else {
                if (manyCorners.empty()) manyCorners.assign(inlineCorners.begin(), inlineCorners.end());
                manyCorners.push_back(token);
            }
            ++count;
        }
        if (count < 3) return true;
        const std::string_view* corners = manyCorners.empty() ? inlineCorners.data() : manyCorners.data();

        uint32_t first = 0;
        uint32_t previous = 0;
        for (size_t i = 0; i < count; ++i) {
            uint32_t index = 0;
            if (!vertexFor(corners[i], index)) return false;
            if (i == 0) {
                first = index;
            } else if (i >= 2) {
                mesh_.indices.push_back(first);
                mesh_.indices.push_back(previous);
                mesh_.indices.push_back(index);
            }
            previous = index;
        }
        return true;
    }

    void consumed(size_t offset) {
        if (!options_.releaseConsumed || offset - released_ < kReleaseChunk) return;
        options_.releaseConsumed(released_, offset - released_);
        released_ = offset;
    }

    Mesh take() { return std::move(mesh_); }

private:
    // Splits the first `n` tokens; false when the line has fewer.
    static bool readTokens(std::string_view line, std::string_view* tokens, size_t n) {
        objtext::TokenReader reader(line);
        for (size_t i = 0; i < n; ++i) {
            if (!reader.next(tokens[i])) return false;
        }
        return true;
    }

    bool vertexFor(std::string_view corner, uint32_t& index) {
        const CornerKey key = cornerKey(corner, lists_);
        if (corners_.find(key, index)) return true;
        if (mesh_.vertices.size() >= options_.maxVertices) return false;
        Vertex vertex;
        if (inRange(key.v, lists_.positions)) vertex.position = lists_.positions[static_cast<size_t>(key.v)];
        if (inRange(key.vt, lists_.texCoords)) vertex.uv = lists_.texCoords[static_cast<size_t>(key.vt)];
        if (inRange(key.vn, lists_.normals)) vertex.normal = lists_.normals[static_cast<size_t>(key.vn)];
        index = static_cast<uint32_t>(mesh_.vertices.size());
        mesh_.vertices.push_back(vertex);
        corners_.insert(key, index);
        return true;
    }

    const OBJGeometryOptions& options_;
    Lists lists_;
    CornerMap corners_;
    Mesh mesh_;
    size_t released_ = 0;
};

}  // namespace

Expected<Mesh, OBJError> readOBJGeometry(const char* data, size_t size, const OBJValidationSummary& counts,
                                         const OBJGeometryOptions& options) {
    GeometryBuilder builder(counts, options);
    objtext::LineReader lines(data, size);
    std::string_view line;
    while (lines.next(line)) {
        if (line.size() < 2) continue;
        const char c0 = line[0];
        const char c1 = line[1];
        if (c0 == 'v') {
            if (c1 == ' ') {
                builder.position(line);
            } else if (line.size() >= 3 && line[2] == ' ') {
                if (c1 == 't') builder.texCoord(line);
                else if (c1 == 'n') builder.normal(line);
            }
        } else if (c0 == 'f' && c1 == ' ') {
            if (!builder.face(line)) {
                return unexpected(OBJError::parseFailed(
                    "Too many vertices: the mesh needs more than " + std::to_string(options.maxVertices) +
                    " distinct vertices"));
            }
            builder.consumed(static_cast<size_t>(lines.position() - data));
        }
    }
    Mesh mesh = builder.take();
    if (mesh.vertices.empty() || mesh.indices.empty()) {
        return unexpected(OBJError::parseFailed(OBJLoader::kNoGeometryMessage));
    }
    return mesh;
}

Expected<Mesh, OBJError> parseOBJText(const char* data, size_t size, const OBJGeometryOptions& options) {
    const size_t bad = findInvalidUTF8(data, size);
    if (bad != size) return unexpected(OBJError::invalidUTF8(bad));
    // A byte-order mark is an encoding detail, not part of the first line.
    if (size >= 3 && static_cast<unsigned char>(data[0]) == 0xEF && static_cast<unsigned char>(data[1]) == 0xBB &&
        static_cast<unsigned char>(data[2]) == 0xBF) {
        data += 3;
        size -= 3;
    }
    const OBJValidationSummary summary = validateOBJText(data, size);
    auto messages = summary.messages();
    if (!messages.empty()) return unexpected(OBJError::validationFailed(std::move(messages)));
    return readOBJGeometry(data, size, summary, options);
}

}  // namespace lumbrix
