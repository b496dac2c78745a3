#include "model/obj_geometry.h"

#include <array>
#include <exception>
#include <string_view>
#include <thread>

#include "model/obj_corner_map.h"
#include "model/obj_fast_scan.h"
#include "model/obj_line_kind.h"
#include "model/obj_text.h"
#include "model/utf8.h"

// The geometry pass runs as two independent scans of the same text, on two
// threads when the text is large: one parses the numbers of v, vt and vn lines,
// the other resolves face corners and builds the indexed mesh. The face scan
// only needs to know how many attributes precede each face, which it counts
// itself, so the scans never wait for each other. Vertices carry the attribute
// indices they were made from until both scans end; a final pass fills them in.

namespace lumbrix {

namespace {

constexpr size_t kParallelBytes = size_t(1) << 20;
constexpr size_t kProgressStep = size_t(4) << 20;
constexpr size_t kReleaseChunk = size_t(8) << 20;
constexpr int64_t kAbsent = -1;

// Runs `handle(kind, keywordLength, p)` for each plain line start, which returns
// the next line's start or nullptr to have the line handled by `general(kind,
// trimmedLine)`. Other plain lines are skipped without trimming.
template <class FastHandler, class GeneralHandler>
void scanLines(const char* data, size_t size, bool fastPaths, FastHandler&& handle, GeneralHandler&& general,
               const std::function<void(size_t)>& progress = {}) {
    const char* const end = data + size;
    const char* p = data;
    size_t reported = 0;
    while (p < end) {
        const char* next = nullptr;
        OBJLineKind kind = OBJLineKind::other;
        if (fastPaths && isPlainLineStart(*p)) {
            size_t keywordLength = 0;
            kind = classifyPlainLineStart(p, keywordLength);
            if (kind == OBJLineKind::other) {
                objtext::findLineBreak(p, end, next);
            } else {
                next = handle(kind, keywordLength, p);
            }
        } else if (fastPaths && *p == '\n') {
            next = p + 1;
        }
        if (!next) {
            const char* lineEnd = objtext::findLineBreak(p, end, next);
            const std::string_view line = objtext::trim(std::string_view(p, static_cast<size_t>(lineEnd - p)));
            const OBJLineKind trimmedKind = classifyTrimmedLine(line);
            if (trimmedKind != OBJLineKind::other) general(trimmedKind, line);
        }
        p = next;
        if (progress) {
            const size_t done = static_cast<size_t>(p - data);
            if (done - reported >= kProgressStep) {
                progress(done);
                reported = done;
            }
        }
    }
}

// The first `n` tokens of a trimmed line; false when it has fewer.
bool splitTokens(std::string_view line, std::string_view* tokens, size_t n) {
    objtext::TokenReader reader(line);
    for (size_t i = 0; i < n; ++i) {
        if (!reader.next(tokens[i])) return false;
    }
    return true;
}

// Reads every v, vt and vn line into its list.
class AttributeReader {
public:
    explicit AttributeReader(const OBJValidationSummary& counts) {
        positions.reserve(counts.positionLines);
        texCoords.reserve(counts.texCoordLines);
        normals.reserve(counts.normalLines);
    }

    void run(const char* data, size_t size, bool fastPaths, std::atomic<size_t>& progress) {
        const auto fast = [this](OBJLineKind kind, size_t keywordLength, const char* p) -> const char* {
            const char* end = end_;
            switch (kind) {
                case OBJLineKind::position: return fastVector<3>(p + keywordLength, end, positions);
                case OBJLineKind::normal: return fastVector<3>(p + keywordLength, end, normals);
                case OBJLineKind::texCoord: {
                    const size_t before = texCoords.size();
                    const char* next = fastVector<2>(p + keywordLength, end, texCoords);
                    if (next && texCoords.size() != before) texCoords.back()[1] = 1.0f - texCoords.back()[1];
                    return next;
                }
                default: {
                    const char* next = nullptr;
                    objtext::findLineBreak(p, end, next);
                    return next;
                }
            }
        };
        const auto general = [this](OBJLineKind kind, std::string_view line) {
            std::string_view t[4];
            if (kind == OBJLineKind::position && splitTokens(line, t, 4)) {
                positions.push_back({objtext::parseFloat(t[1]), objtext::parseFloat(t[2]), objtext::parseFloat(t[3])});
            } else if (kind == OBJLineKind::texCoord && splitTokens(line, t, 3)) {
                texCoords.push_back({objtext::parseFloat(t[1]), 1.0f - objtext::parseFloat(t[2])});
            } else if (kind == OBJLineKind::normal && splitTokens(line, t, 4)) {
                normals.push_back({objtext::parseFloat(t[1]), objtext::parseFloat(t[2]), objtext::parseFloat(t[3])});
            }
        };
        end_ = data + size;
        scanLines(data, size, fastPaths, fast, general,
                  [&progress](size_t done) { progress.store(done, std::memory_order_release); });
        progress.store(size, std::memory_order_release);
    }

    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 2>> texCoords;
    std::vector<std::array<float, 3>> normals;

private:
    // N numbers, then anything up to the line end; fewer numbers: the line is ignored.
    template <size_t N, class List>
    static const char* fastVector(const char* p, const char* end, List& list) {
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

    const char* end_ = nullptr;
};

// A vertex carries the attribute indices it was made from in its three 16-byte
// lanes until the attributes are filled in.
void stashIndices(Vertex& vertex, int64_t position, int64_t texCoord, int64_t normal) {
    auto* bytes = reinterpret_cast<unsigned char*>(&vertex);
    std::memcpy(bytes + offsetof(Vertex, position), &position, sizeof position);
    std::memcpy(bytes + offsetof(Vertex, uv), &texCoord, sizeof texCoord);
    std::memcpy(bytes + offsetof(Vertex, normal), &normal, sizeof normal);
}

void fillAttributes(Vertex* vertices, size_t count, const AttributeReader& attributes) {
    for (size_t i = 0; i < count; ++i) {
        Vertex& vertex = vertices[i];
        int64_t position, texCoord, normal;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&vertex);
        std::memcpy(&position, bytes + offsetof(Vertex, position), sizeof position);
        std::memcpy(&texCoord, bytes + offsetof(Vertex, uv), sizeof texCoord);
        std::memcpy(&normal, bytes + offsetof(Vertex, normal), sizeof normal);
        Vertex filled;
        if (position != kAbsent) filled.position = attributes.positions[static_cast<size_t>(position)];
        if (texCoord != kAbsent) filled.uv = attributes.texCoords[static_cast<size_t>(texCoord)];
        if (normal != kAbsent) filled.normal = attributes.normals[static_cast<size_t>(normal)];
        vertex = filled;
    }
}

// Counts the attributes that precede each face and turns faces into indices.
class FaceBuilder {
public:
    FaceBuilder(const OBJValidationSummary& counts, const OBJGeometryOptions& options)
        : options_(options), corners_(counts.positionLines, counts.faceCorners) {
        mesh.indices.reserve(counts.triangleIndices);
        // Capacity past what is used is never touched, so it costs address space only.
        mesh.vertices.reserve(std::min<uint64_t>(counts.faceCorners, options.maxVertices));
    }

    // False when the mesh would need more vertices than allowed.
    bool run(const char* data, size_t size, const std::atomic<size_t>& attributeProgress) {
        const char* const end = data + size;
        const auto fast = [&](OBJLineKind kind, size_t keywordLength, const char* p) -> const char* {
            size_t tokens = 0;
            const char* next;
            switch (kind) {
                case OBJLineKind::face:
                    next = fastFace(p + keywordLength, end);
                    if (next) release(data, next, attributeProgress);
                    return next;
                case OBJLineKind::position:
                    next = objfast::countTokens(p + keywordLength, end, true, tokens);
                    if (next && tokens >= 3) ++positionCount_;
                    return next;
                case OBJLineKind::normal:
                    next = objfast::countTokens(p + keywordLength, end, true, tokens);
                    if (next && tokens >= 3) ++normalCount_;
                    return next;
                case OBJLineKind::texCoord:
                    next = objfast::countTokens(p + keywordLength, end, true, tokens);
                    if (next && tokens >= 2) ++texCoordCount_;
                    return next;
                default:
                    return nullptr;
            }
        };
        const auto general = [&](OBJLineKind kind, std::string_view line) {
            if (failed_) return;
            switch (kind) {
                case OBJLineKind::face: generalFace(line); break;
                case OBJLineKind::position: positionCount_ += objtext::countTokens(line) >= 4; break;
                case OBJLineKind::normal: normalCount_ += objtext::countTokens(line) >= 4; break;
                case OBJLineKind::texCoord: texCoordCount_ += objtext::countTokens(line) >= 3; break;
                default: break;
            }
        };
        scanLines(data, size, options_.fastPaths, fast, general);
        return !failed_;
    }

    Mesh mesh;

private:
    static int64_t resolve(int64_t value, bool present, size_t count) {
        if (!present || value == 0) return 0;
        if (value > 0) return value - 1;
        return static_cast<int64_t>(count) + value;
    }

    CornerKey keyFor(const int64_t* fields, const bool* present) const {
        return CornerKey{resolve(fields[0], present[0], positionCount_),
                         resolve(fields[1], present[1], texCoordCount_),
                         resolve(fields[2], present[2], normalCount_)};
    }

    // A plain face line: up to four corners of at most three plain index fields.
    const char* fastFace(const char* p, const char* end) {
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
                if (f == 2) return nullptr;  // a fourth field is ignored by the general path
                ++p;
            }
            if (!objfast::isTokenEnd(p, end)) return nullptr;
            keys[count++] = keyFor(fields, present);
        }
        addFace(keys, count);
        return objfast::afterLineEnd(p, end);
    }

    void generalFace(std::string_view line) {
        objtext::TokenReader reader(line);
        std::string_view token;
        reader.next(token);  // the keyword
        std::vector<CornerKey> keys;
        while (reader.next(token)) {
            std::string_view fields[3];
            size_t field = 0;
            size_t start = 0;
            for (size_t i = 0; i <= token.size() && field < 3; ++i) {
                if (i == token.size() || token[i] == '/') {
                    fields[field++] = token.substr(start, i - start);
                    start = i + 1;
                }
            }
            int64_t values[3] = {0, 0, 0};
            bool present[3] = {false, false, false};
            for (int f = 0; f < 3; ++f) {
                if (const auto parsed = objtext::parseIndex(fields[f])) {
                    values[f] = *parsed;
                    present[f] = true;
                }
            }
            keys.push_back(keyFor(values, present));
        }
        addFace(keys.data(), keys.size());
    }

    // Fans the corners from the first one, keeping the file's winding.
    void addFace(const CornerKey* keys, size_t count) {
        if (count < 3 || failed_) return;
        uint32_t first = 0, previous = 0;
        for (size_t i = 0; i < count; ++i) {
            uint32_t index = 0;
            if (!vertexFor(keys[i], index)) {
                failed_ = true;
                return;
            }
            if (i == 0) {
                first = index;
            } else if (i >= 2) {
                mesh.indices.push_back(first);
                mesh.indices.push_back(previous);
                mesh.indices.push_back(index);
            }
            previous = index;
        }
    }

    bool vertexFor(const CornerKey& key, uint32_t& index) {
        if (corners_.find(key, index)) return true;
        if (mesh.vertices.size() >= options_.maxVertices) return false;
        // Whether an attribute exists is decided now: one read later does not count.
        const auto inRange = [](int64_t i, size_t count) { return i >= 0 && static_cast<uint64_t>(i) < count; };
        Vertex vertex;
        stashIndices(vertex, inRange(key.v, positionCount_) ? key.v : kAbsent,
                     inRange(key.vt, texCoordCount_) ? key.vt : kAbsent,
                     inRange(key.vn, normalCount_) ? key.vn : kAbsent);
        index = static_cast<uint32_t>(mesh.vertices.size());
        mesh.vertices.push_back(vertex);
        corners_.insert(key, index);
        return true;
    }

    // Hands back text that both scans have passed.
    void release(const char* data, const char* position, const std::atomic<size_t>& attributeProgress) {
        if (!options_.releaseConsumed) return;
        const size_t done = std::min(static_cast<size_t>(position - data),
                                     attributeProgress.load(std::memory_order_acquire));
        if (done < released_ + kReleaseChunk) return;
        options_.releaseConsumed(released_, done - released_);
        released_ = done;
    }

    const OBJGeometryOptions& options_;
    CornerMap corners_;
    size_t positionCount_ = 0;
    size_t texCoordCount_ = 0;
    size_t normalCount_ = 0;
    size_t released_ = 0;
    bool failed_ = false;
};

bool useSecondThread(const OBJGeometryOptions& options, size_t size) {
    switch (options.threading) {
        case OBJThreading::single: return false;
        case OBJThreading::parallel: return true;
        case OBJThreading::automatic: return size >= kParallelBytes && std::thread::hardware_concurrency() > 1;
    }
    return false;
}

// Runs `first` on a new thread and `second` here; exceptions of either reach the caller.
template <class A, class B>
void runBoth(bool parallel, A&& first, B&& second) {
    if (!parallel) {
        first();
        second();
        return;
    }
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            first();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        second();
    } catch (...) {
        worker.join();
        throw;
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

OBJError tooManyVertices(uint64_t limit) {
    return OBJError::parseFailed("Too many vertices: the mesh needs more than " + std::to_string(limit) +
                                 " distinct vertices");
}

}  // namespace

Expected<Mesh, OBJError> readOBJGeometry(const char* data, size_t size, const OBJValidationSummary& counts,
                                         const OBJGeometryOptions& options) {
    const bool parallel = useSecondThread(options, size);
    AttributeReader attributes(counts);
    FaceBuilder faces(counts, options);
    std::atomic<size_t> attributeProgress{0};
    bool ok = true;
    runBoth(
        parallel, [&] { attributes.run(data, size, options.fastPaths, attributeProgress); },
        [&] { ok = faces.run(data, size, attributeProgress); });
    if (!ok) return unexpected(tooManyVertices(options.maxVertices));

    Mesh mesh = std::move(faces.mesh);
    if (mesh.vertices.empty() || mesh.indices.empty()) {
        return unexpected(OBJError::parseFailed(OBJLoader::kNoGeometryMessage));
    }
    const size_t half = parallel ? mesh.vertices.size() / 2 : 0;
    runBoth(
        parallel, [&] { fillAttributes(mesh.vertices.data(), half, attributes); },
        [&] { fillAttributes(mesh.vertices.data() + half, mesh.vertices.size() - half, attributes); });
    return mesh;
}

Expected<Mesh, OBJError> parseOBJText(const char* data, size_t size, const OBJGeometryOptions& options) {
    // A byte-order mark is an encoding detail, not part of the first line.
    size_t skipped = 0;
    if (size >= 3 && static_cast<unsigned char>(data[0]) == 0xEF && static_cast<unsigned char>(data[1]) == 0xBB &&
        static_cast<unsigned char>(data[2]) == 0xBF) {
        skipped = 3;
    }
    const char* text = data + skipped;
    const size_t length = size - skipped;

    // UTF-8 and validation over two halves of the text at once; the halves meet
    // right after a line feed, so no line or character spans them.
    const bool parallel = useSecondThread(options, length);
    size_t split = length;
    if (parallel) {
        const void* lf = std::memchr(text + length / 2, '\n', length - length / 2);
        split = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text) + 1 : length;
    }
    struct Half {
        size_t invalidAt = 0;
        OBJValidationSummary summary;
    };
    Half front, back;
    const bool fastPaths = options.fastPaths;
    const auto check = [text, fastPaths](Half& half, size_t begin, size_t end) {
        half.invalidAt = begin + findInvalidUTF8(text + begin, end - begin);
        if (half.invalidAt == end) half.summary = validateOBJText(text + begin, end - begin, fastPaths);
    };
    runBoth(
        parallel, [&] { check(back, split, length); }, [&] { check(front, 0, split); });
    if (front.invalidAt != split) return unexpected(OBJError::invalidUTF8(skipped + front.invalidAt));
    if (back.invalidAt != length) return unexpected(OBJError::invalidUTF8(skipped + back.invalidAt));

    OBJValidationSummary summary = front.summary;
    summary.merge(back.summary);
    auto messages = summary.messages();
    if (!messages.empty()) return unexpected(OBJError::validationFailed(std::move(messages)));
    return readOBJGeometry(text, length, summary, options);
}

}  // namespace lumbrix
