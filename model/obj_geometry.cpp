#include "model/obj_geometry.h"

#include <array>
#include <string_view>

#include "model/obj_corner_map.h"
#include "model/obj_fast_scan.h"
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

    // Fast forms of the four line kinds. Each returns the first byte of the next
    // line, or nullptr when the line needs the general path (nothing was added).
    const char* fastPosition(const char* p, const char* end) { return fastVector<3>(p, end, lists_.positions); }
    const char* fastNormal(const char* p, const char* end) { return fastVector<3>(p, end, lists_.normals); }
    const char* fastTexCoord(const char* p, const char* end) {
        const size_t before = lists_.texCoords.size();
        const char* next = fastVector<2>(p, end, lists_.texCoords);
        if (next && lists_.texCoords.size() != before) lists_.texCoords.back()[1] = 1.0f - lists_.texCoords.back()[1];
        return next;
    }

    // `ok` turns false when the mesh would need more vertices than allowed.
    const char* fastFace(const char* p, const char* end, bool& ok) {
        CornerKey keys[4];
        size_t count = 0;
        for (;;) {
            p = objfast::skipSpaces(p);
            if (objfast::isLineEnd(p, end)) break;
            if (count == 4) return nullptr;
            int64_t fields[3] = {0, 0, 0};
            bool present[3] = {false, false, false};
            for (int f = 0;; ++f) {
                p = objfast::parseIndexField(p, fields[f], present[f]);
                if (!p) return nullptr;
                if (*p != '/') break;
                if (f == 2) return nullptr;  // a fourth field: the general path ignores it
                ++p;
            }
            if (!objfast::isTokenEnd(p, end)) return nullptr;
            keys[count++] = CornerKey{resolveValue(fields[0], present[0], lists_.positions.size()),
                                      resolveValue(fields[1], present[1], lists_.texCoords.size()),
                                      resolveValue(fields[2], present[2], lists_.normals.size())};
        }
        const char* next = objfast::afterLineEnd(p, end);
        if (count < 3) return next;
        uint32_t first = 0, previous = 0;
        for (size_t i = 0; i < count; ++i) {
            uint32_t index = 0;
            if (!vertexForKey(keys[i], index)) {
                ok = false;
                return next;
            }
            if (i == 0) {
                first = index;
            } else if (i >= 2) {
                mesh_.indices.push_back(first);
                mesh_.indices.push_back(previous);
                mesh_.indices.push_back(index);
            }
            previous = index;
        }
        return next;
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

    static int64_t resolveValue(int64_t value, bool present, size_t count) {
        if (!present || value == 0) return 0;
        if (value > 0) return value - 1;
        return static_cast<int64_t>(count) + value;
    }

    // N numbers then anything up to the line end; fewer numbers: the line is ignored.
    template <size_t N, class List>
    const char* fastVector(const char* p, const char* end, List& list) {
        typename List::value_type values{};
        for (size_t i = 0; i < N; ++i) {
            p = objfast::skipSpaces(p);
            if (objfast::isLineEnd(p, end)) return objfast::afterLineEnd(p, end);
            p = objfast::parseFloat(p, values[i]);
            if (!p || !objfast::isTokenEnd(p, end)) return nullptr;
        }
        list.push_back(values);
        if (*p == ' ') {
            const char* next = nullptr;
            objtext::findLineBreak(p, end, next);
            return next;
        }
        return objfast::afterLineEnd(p, end);
    }

    bool vertexFor(std::string_view corner, uint32_t& index) { return vertexForKey(cornerKey(corner, lists_), index); }

    bool vertexForKey(const CornerKey& key, uint32_t& index) {
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
    const char* const end = data + size;
    const char* p = data;
    bool ok = true;
    while (p < end && ok) {
        // Lines that start with a plain keyword take the fast path; anything the
        // fast path cannot vouch for goes through trimming and tokens.
        const char* next = nullptr;
        switch (*p) {
            case 'v':
                if (p[1] == ' ') next = builder.fastPosition(p + 2, end);
                else if (p[1] == 't' && p[2] == ' ') next = builder.fastTexCoord(p + 3, end);
                else if (p[1] == 'n' && p[2] == ' ') next = builder.fastNormal(p + 3, end);
                break;
            case 'f':
                if (p[1] == ' ') {
                    next = builder.fastFace(p + 2, end, ok);
                    if (next) builder.consumed(static_cast<size_t>(next - data));
                }
                break;
            case '\n':
                next = p + 1;
                break;
            default: {
                const unsigned char c = static_cast<unsigned char>(*p);
                if (c > ' ' && c < 0x7F && c != 'v' && c != 'f') {
                    // Lines of other keywords and comments are ignored whatever follows.
                    objtext::findLineBreak(p, end, next);
                }
                break;
            }
        }
        if (next) {
            p = next;
            continue;
        }
        const char* lineEnd = objtext::findLineBreak(p, end, next);
        const std::string_view line = objtext::trim(std::string_view(p, static_cast<size_t>(lineEnd - p)));
        p = next;
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
            ok = builder.face(line);
            builder.consumed(static_cast<size_t>(p - data));
        }
    }
    if (!ok) {
        return unexpected(OBJError::parseFailed("Too many vertices: the mesh needs more than " +
                                                std::to_string(options.maxVertices) + " distinct vertices"));
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
