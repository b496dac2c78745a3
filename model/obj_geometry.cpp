#include "model/obj_geometry.h"

#include <array>
#include <cerrno>
#include <exception>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include <unistd.h>

#include "fbx/page_memory.h"
#include "model/obj_corner_map.h"
#include "model/obj_fast_scan.h"
#include "model/obj_line_kind.h"
#include "model/obj_text.h"
#include "model/obj_text_source.h"
#include "model/utf8.h"

// The geometry pass runs as two independent scans of the same text, on two
// threads when the text is large: one parses the numbers of v, vt and vn lines,
// the other resolves face corners and builds the indexed mesh. The face scan
// only needs to know how many attributes precede each face, which it counts
// itself, so the scans never wait for each other. Vertices carry the attribute
// indices they were made from until both scans end; a final pass fills them in.
//
// Faces are the larger share, so the attribute thread, once done, takes the far
// half of the faces the face thread has not reached yet: the face thread claims
// the text ahead of it in steps, and the attribute thread cuts the unclaimed rest
// at a line whose attribute counts it noted on its way. The far half gets its own
// vertex numbering, which is merged into the near half's afterwards: its vertices
// that the near half already has take the near half's numbers, the others follow
// the near half's in the order they first appeared. The mesh is the one a single
// scan from the start makes, byte for byte.
//
// Every scan reads the text through a reader of its own (OBJTextSource): a text in
// memory at once, a file piece by piece, so a file is never held whole.

namespace lumbrix {

namespace {

constexpr size_t kParallelBytes = size_t(1) << 20;
constexpr size_t kProgressStep = size_t(4) << 20;
constexpr size_t kReleaseChunk = size_t(8) << 20;
constexpr int64_t kAbsent = -1;
// The face scan claims the text ahead of it in steps of this size; the attribute scan
// notes its counts about this often.
constexpr size_t kClaimStep = size_t(1) << 20;
constexpr size_t kCheckpointStep = size_t(256) << 10;
// Less unclaimed text than this is not worth a second face scan.
constexpr size_t kMinSplitBytes = size_t(4) << 20;

// Reserves room for `count` elements in a vector about to be filled, on huge pages
// where it is big: a fresh process pays a fault per page it touches.
template <class Vector>
void reserveFresh(Vector& list, size_t count) {
    list.reserve(count);
    adviseHugePages(list.data(), list.capacity() * sizeof(typename Vector::value_type));
}

// A scan's view of each line start: `at` is the next offset it wants to hear about,
// and onLine(offset) returns false to end the scan before that line.
struct NoLineHook {
    size_t at = SIZE_MAX;
    bool onLine(size_t) { return true; }
};

// Runs `handle(kind, keywordLength, p, end)` for each plain line start of the reader's
// pieces, which returns the next line's start or nullptr to have the line handled by
// `general(kind, trimmedLine)`. Other plain lines are skipped without trimming. The
// hook hears of line starts by their offsets in the whole text; false when it ended
// the scan.
template <class FastHandler, class GeneralHandler, class LineHook = NoLineHook>
bool scanLines(OBJTextSource::Reader& reader, bool fastPaths, FastHandler&& handle, GeneralHandler&& general,
               LineHook&& hook = NoLineHook{}) {
    const char* piece = nullptr;
    size_t offset = 0, length = 0;
    while (reader.next(piece, offset, length)) {
        const char* const end = piece + length;
        const char* p = piece;
        while (p < end) {
            const size_t at = offset + static_cast<size_t>(p - piece);
            if (at >= hook.at && !hook.onLine(at)) return false;
            const char* next = nullptr;
            OBJLineKind kind = OBJLineKind::other;
            if (fastPaths && isPlainLineStart(*p)) {
                size_t keywordLength = 0;
                kind = classifyPlainLineStart(p, keywordLength);
                if (kind == OBJLineKind::other) {
                    objtext::findLineBreak(p, end, next);
                } else {
                    next = handle(kind, keywordLength, p, end);
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
        }
    }
    return true;
}

// Attribute counts as both scans count them, at a line start.
struct Checkpoint {
    size_t offset = 0;
    size_t positions = 0;
    size_t texCoords = 0;
    size_t normals = 0;
};

// Where the face scan may go: it claims the text ahead in steps, until the attribute
// scan sets a limit beyond the last claim; the face scan then stops at the first line
// start at or past the limit, and the attribute scan's second face scan starts there.
class FaceSplit {
public:
    static constexpr uint64_t kLimit = uint64_t(1) << 63;

    // A split fixed in advance at the first line start at or after `offset` (for tests).
    void fixAt(size_t offset) { word_.store(kLimit | offset, std::memory_order_relaxed); }

    // The face scan at line start `offset`, past its claim: true and a new claim end
    // when it may go on, false when it must stop here.
    bool extend(size_t offset, size_t& claimEnd) {
        uint64_t word = word_.load(std::memory_order_acquire);
        for (;;) {
            if (word & kLimit) {
                const size_t limit = static_cast<size_t>(word & ~kLimit);
                if (offset >= limit) return false;
                claimEnd = limit;
                return true;
            }
            const uint64_t claim = offset + kClaimStep;
            if (word_.compare_exchange_weak(word, claim, std::memory_order_acq_rel)) {
                claimEnd = static_cast<size_t>(claim);
                return true;
            }
        }
    }

    // Where the face scan starts, before it runs: its first claim is counted from there.
    void startAt(size_t offset) {
        if (!(word_.load(std::memory_order_relaxed) & kLimit)) word_.store(offset, std::memory_order_relaxed);
    }

    // The attribute scan, done: picks a line halfway through the unclaimed text and
    // sets it as the limit. Lines before `attributesEnd` take their counts from the
    // attribute scan's checkpoints; past it no attribute line follows, so any line
    // start there has the final counts, `totals`. Returns where the far part starts,
    // or nothing when there is too little left (or a fixed split has no line after it).
    std::optional<Checkpoint> cut(const std::vector<Checkpoint>& checkpoints, const OBJTextSource& text,
                                  size_t attributesEnd, const Checkpoint& totals) {
        const size_t size = text.size();
        uint64_t word = word_.load(std::memory_order_acquire);
        for (;;) {
            if (word & kLimit) {
                // Fixed in advance: the first checkpoint at or after it is the first line there.
                const size_t limit = static_cast<size_t>(word & ~kLimit);
                for (const Checkpoint& c : checkpoints) {
                    if (c.offset >= limit) return c;
                }
                return std::nullopt;
            }
            const size_t claimed = static_cast<size_t>(word);
            if (claimed >= size || size - claimed < 2 * kMinSplitBytes) return std::nullopt;
            const size_t middle = claimed + (size - claimed) / 2;
            std::optional<Checkpoint> chosen;
            if (middle < attributesEnd) {
                for (const Checkpoint& c : checkpoints) {
                    if (c.offset >= middle && c.offset < attributesEnd) {
                        chosen = c;
                        break;
                    }
                }
            }
            if (!chosen) {
                chosen = totals;
                chosen->offset = text.lineStartAfter(std::max(middle, attributesEnd));
            }
            if (chosen->offset >= size || size - chosen->offset < kMinSplitBytes) return std::nullopt;
            if (word_.compare_exchange_weak(word, kLimit | chosen->offset, std::memory_order_acq_rel)) return chosen;
        }
    }

private:
    std::atomic<uint64_t> word_{0};  // the claim's end, or kLimit | the limit
};

// The first `n` tokens of a trimmed line; false when it has fewer.
bool splitTokens(std::string_view line, std::string_view* tokens, size_t n) {
    objtext::TokenReader reader(line);
    for (size_t i = 0; i < n; ++i) {
        if (!reader.next(tokens[i])) return false;
    }
    return true;
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

// Reads every v, vt and vn line into its list.
class AttributeReader {
public:
    explicit AttributeReader(const OBJValidationSummary& counts) {
        reserveFresh(positions, counts.positionLines);
        reserveFresh(texCoords, counts.texCoordLines);
        reserveFresh(normals, counts.normalLines);
    }

    // `checkpointStep`: how often to note the counts (0: never, 1: at every line);
    // `firstCheckpoint`: the offset of the first one.
    // Lines from the start to `end` (past the last line of interest).
    void run(const OBJTextSource& text, size_t end, bool fastPaths, std::atomic<size_t>& progress,
             size_t checkpointStep = 0, size_t firstCheckpoint = 0) {
        const auto fast = [this](OBJLineKind kind, size_t keywordLength, const char* p, const char* end) -> const char* {
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
        struct Hook {
            AttributeReader& reader;
            std::atomic<size_t>& progress;
            size_t step;
            size_t at;
            size_t nextProgress = kProgressStep;
            size_t nextCheckpoint;
            bool onLine(size_t offset) {
                if (offset >= nextProgress) {
                    progress.store(offset, std::memory_order_release);
                    nextProgress = offset + kProgressStep;
                }
                if (offset >= nextCheckpoint) {
                    reader.checkpoints.push_back(
                        {offset, reader.positions.size(), reader.texCoords.size(), reader.normals.size()});
                    nextCheckpoint = step == 0 ? SIZE_MAX : offset + step;
                }
                at = std::min(nextProgress, nextCheckpoint);
                return true;
            }
        };
        const size_t first = checkpointStep == 0 ? SIZE_MAX : firstCheckpoint;
        OBJTextSource::Reader reader(text, 0, end);
        scanLines(reader, fastPaths, fast, general,
                  Hook{*this, progress, checkpointStep, std::min(kProgressStep, first), kProgressStep, first});
        progress.store(text.size(), std::memory_order_release);
    }

    // Counts at line starts, in order, when run() was asked for them.
    std::vector<Checkpoint> checkpoints;

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
        // The scans count alike, so a stashed index is always in its list; the checks
        // keep a file that changed between two scans' reads from leading outside.
        Vertex filled;
        if (position != kAbsent && static_cast<uint64_t>(position) < attributes.positions.size()) {
            filled.position = attributes.positions[static_cast<size_t>(position)];
        }
        if (texCoord != kAbsent && static_cast<uint64_t>(texCoord) < attributes.texCoords.size()) {
            filled.uv = attributes.texCoords[static_cast<size_t>(texCoord)];
        }
        if (normal != kAbsent && static_cast<uint64_t>(normal) < attributes.normals.size()) {
            filled.normal = attributes.normals[static_cast<size_t>(normal)];
        }
        vertex = filled;
    }
}

// Counts the attributes that precede each face and turns faces into indices.
class FaceBuilder {
public:
    FaceBuilder(const OBJValidationSummary& counts, const OBJGeometryOptions& options)
        : options_(options), corners_(counts.positionLines, counts.faceCorners) {
        reserveFresh(mesh.indices, counts.triangleIndices);
        // Capacity past what is used is never touched, so it costs address space only.
        reserveFresh(mesh.vertices, std::min<uint64_t>(counts.faceCorners, options.maxVertices));
    }

    // The counts of the attribute lines before the line the scan starts at.
    void startWith(const OBJValidationSummary::AttributeCounts& counts) {
        positionCount_ = counts.positions;
        texCoordCount_ = counts.texCoords;
        normalCount_ = counts.normals;
    }

    // The far part of a split: starts at a line with the attribute counts there, and
    // keeps each vertex's corner key for the merge.
    FaceBuilder(const OBJValidationSummary& counts, const OBJGeometryOptions& options, const Checkpoint& start)
        : FaceBuilder(counts, options) {
        positionCount_ = start.positions;
        texCoordCount_ = start.texCoords;
        normalCount_ = start.normals;
        keepKeys_ = true;
        reserveFresh(keys_, std::min<uint64_t>(counts.faceCorners, options.maxVertices));
        // The near part may still be reading the text before the start.
        released_ = start.offset;
    }

    // Faces from line start `begin` to the end (or to where `split` stops the scan).
    // False when the mesh would need more vertices than allowed.
    bool run(const OBJTextSource& text, size_t begin, const std::atomic<size_t>& attributeProgress,
             FaceSplit* split = nullptr) {
        const auto fast = [&](OBJLineKind kind, size_t keywordLength, const char* p, const char* end) -> const char* {
            size_t tokens = 0;
            const char* next;
            switch (kind) {
                case OBJLineKind::face:
                    return fastFace(p + keywordLength, end);
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
        // At line starts: the claims of a split scan, and the text both scans have passed
        // handed back when the caller holds it in a buffer of its own.
        struct Hook {
            FaceBuilder& builder;
            FaceSplit* split;
            const std::atomic<size_t>& attributeProgress;
            bool releases;
            size_t at = 0;
            size_t claimEnd = 0;
            bool onLine(size_t offset) {
                if (split && offset >= claimEnd && !split->extend(offset, claimEnd)) return false;
                if (releases) builder.release(offset, attributeProgress);
                at = std::min(split ? claimEnd : SIZE_MAX,
                              releases ? builder.released_ + kReleaseChunk : SIZE_MAX);
                return true;
            }
        };
        const bool releases = static_cast<bool>(options_.releaseConsumed) && text.inMemory();
        OBJTextSource::Reader reader(text, begin, text.size());
        if (split || releases) {
            scanLines(reader, options_.fastPaths, fast, general, Hook{*this, split, attributeProgress, releases});
        } else {
            scanLines(reader, options_.fastPaths, fast, general);
        }
        return !failed_;
    }

    // Appends the far part of a split: its vertices this part already has map to
    // them, the others follow in the order they first appeared; its indices follow
    // renumbered. False when the merged mesh needs more vertices than allowed.
    bool absorb(const FaceBuilder& later, bool parallel) {
        const size_t count = later.mesh.vertices.size();
        // kNone marks a vertex this part lacks, so every number must stay below it.
        if (uint64_t(mesh.vertices.size()) + count >= CornerMap::kNone) parallel = false;
        PodArray<uint32_t> numbers(count);
        // The look-ups only read this part's map: both halves at once.
        const auto lookUp = [&](size_t from, size_t to) {
            for (size_t j = from; j < to; ++j) {
                uint32_t index = 0;
                numbers[j] = corners_.find(later.keys_[j], index) ? index : CornerMap::kNone;
            }
        };
        if (parallel) {
            runBoth(true, [&] { lookUp(count / 2, count); }, [&] { lookUp(0, count / 2); });
            for (size_t j = 0; j < count; ++j) {
                if (numbers[j] != CornerMap::kNone) continue;
                if (mesh.vertices.size() >= options_.maxVertices) return false;
                numbers[j] = static_cast<uint32_t>(mesh.vertices.size());
                mesh.vertices.push_back(later.mesh.vertices[j]);
            }
        } else {
            for (size_t j = 0; j < count; ++j) {
                uint32_t index = 0;
                if (!corners_.find(later.keys_[j], index)) {
                    if (mesh.vertices.size() >= options_.maxVertices) return false;
                    index = static_cast<uint32_t>(mesh.vertices.size());
                    mesh.vertices.push_back(later.mesh.vertices[j]);
                }
                numbers[j] = index;
            }
        }
        const size_t first = mesh.indices.size();
        const size_t added = later.mesh.indices.size();
        mesh.indices.resize(first + added);
        uint32_t* const out = mesh.indices.data() + first;
        const uint32_t* const in = later.mesh.indices.data();
        const auto renumber = [&](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i) out[i] = numbers[in[i]];
        };
        runBoth(parallel, [&] { renumber(added / 2, added); }, [&] { renumber(0, added / 2); });
        return true;
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
        if (keepKeys_) keys_.push_back(key);
        corners_.insert(key, index);
        return true;
    }

    // Hands back text that both scans have passed.
    void release(size_t position, const std::atomic<size_t>& attributeProgress) {
        const size_t done = std::min(position, attributeProgress.load(std::memory_order_acquire));
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
    bool keepKeys_ = false;
    std::vector<CornerKey> keys_;  // per vertex, when keepKeys_
};

bool useSecondThread(const OBJGeometryOptions& options, size_t size) {
    switch (options.threading) {
        case OBJThreading::single: return false;
        case OBJThreading::parallel: return true;
        case OBJThreading::automatic: return size >= kParallelBytes && std::thread::hardware_concurrency() > 1;
    }
    return false;
}

OBJError tooManyVertices(uint64_t limit) {
    return OBJError::parseFailed("Too many vertices: the mesh needs more than " + std::to_string(limit) +
                                 " distinct vertices");
}

}  // namespace

Expected<Mesh, OBJError> readOBJGeometry(const OBJTextSource& text, const OBJValidationSummary& counts,
                                         const OBJGeometryOptions& options) {
    const size_t size = text.size();
    const bool parallel = useSecondThread(options, size);
    const bool fixedSplit = options.faceSplitAt != OBJGeometryOptions::kNoFixedSplit;
    // Validation said where the work is: the face scan starts at the first face line
    // with the counts before it, and the attribute scan ends after the last v, vt or vn
    // line (a fixed split reads on, to find its line).
    const size_t facesBegin = std::min(counts.firstFace, size);
    const size_t attributesEnd = fixedSplit ? size : std::min(counts.attributesEnd, size);
    AttributeReader attributes(counts);
    FaceBuilder faces(counts, options);
    faces.startWith(counts.beforeFirstFace);
    std::atomic<size_t> attributeProgress{0};
    // The far part of the faces, when the attribute thread takes one.
    FaceSplit split;
    if (fixedSplit) split.fixAt(options.faceSplitAt);
    split.startAt(facesBegin);
    const bool splits = fixedSplit || (parallel && options.threading == OBJThreading::automatic);
    std::optional<FaceBuilder> later;
    bool ok = true, laterOk = true;
    runBoth(
        parallel,
        [&] {
            // Fixed splits note the counts at the first line there only; the others every step.
            const size_t step = !splits ? 0 : fixedSplit ? SIZE_MAX / 2 : kCheckpointStep;
            attributes.run(text, attributesEnd, options.fastPaths, attributeProgress, step,
                           fixedSplit ? options.faceSplitAt : 0);
            if (!splits) return;
            const Checkpoint totals{0, attributes.positions.size(), attributes.texCoords.size(),
                                    attributes.normals.size()};
            if (const auto start = split.cut(attributes.checkpoints, text, attributesEnd, totals)) {
                later.emplace(counts, options, *start);
                laterOk = later->run(text, start->offset, attributeProgress);
            }
        },
        [&] { ok = faces.run(text, facesBegin, attributeProgress, splits ? &split : nullptr); });
    if (!ok || !laterOk || (later && !faces.absorb(*later, parallel))) {
        return unexpected(tooManyVertices(options.maxVertices));
    }
    later.reset();

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

Expected<Mesh, OBJError> readOBJGeometry(const char* data, size_t size, const OBJValidationSummary& counts,
                                         const OBJGeometryOptions& options) {
    const OBJTextSource text(data, size);
    return readOBJGeometry(text, counts, options);
}

Expected<Mesh, OBJError> parseOBJText(const OBJTextSource& text, size_t skipped, const OBJGeometryOptions& options) {
    const size_t length = text.size();
    // UTF-8 and validation over two halves of the text at once; the halves meet
    // right after a line feed, so no line or character spans them.
    const bool parallel = useSecondThread(options, length);
    const size_t split = parallel ? text.lineStartAfter(length / 2) : length;
    struct Half {
        size_t invalidAt = 0;
        OBJValidationSummary summary;
    };
    Half front, back;
    const bool fastPaths = options.fastPaths;
    const auto check = [&text, fastPaths](Half& half, size_t begin, size_t end) {
        // Piece by piece, each ending at a line feed: the same as the whole half at once.
        OBJTextSource::Reader reader(text, begin, end);
        const char* piece = nullptr;
        size_t offset = 0, pieceLength = 0;
        half.invalidAt = end;
        while (reader.next(piece, offset, pieceLength)) {
            const size_t invalid = findInvalidUTF8(piece, pieceLength);
            if (invalid != pieceLength) {
                half.invalidAt = offset + invalid;
                return;
            }
            half.summary.merge(validateOBJText(piece, pieceLength, fastPaths, offset));
        }
    };
    runBoth(
        parallel, [&] { check(back, split, length); }, [&] { check(front, 0, split); });
    if (front.invalidAt != split) return unexpected(OBJError::invalidUTF8(skipped + front.invalidAt));
    if (back.invalidAt != length) return unexpected(OBJError::invalidUTF8(skipped + back.invalidAt));

    OBJValidationSummary summary = front.summary;
    summary.merge(back.summary);
    auto messages = summary.messages();
    if (!messages.empty()) return unexpected(OBJError::validationFailed(std::move(messages)));
    return readOBJGeometry(text, summary, options);
}

namespace {

bool startsWithByteOrderMark(const char* bytes, size_t size) {
    return size >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF && static_cast<unsigned char>(bytes[1]) == 0xBB &&
           static_cast<unsigned char>(bytes[2]) == 0xBF;
}

}  // namespace

Expected<Mesh, OBJError> parseOBJText(const char* data, size_t size, const OBJGeometryOptions& options) {
    // A byte-order mark is an encoding detail, not part of the first line.
    const size_t skipped = startsWithByteOrderMark(data, size) ? 3 : 0;
    const OBJTextSource text(data + skipped, size - skipped);
    return parseOBJText(text, skipped, options);
}

Expected<Mesh, OBJError> parseOBJFile(int fd, size_t size, bool& readFailed, const OBJGeometryOptions& options) {
    readFailed = false;
    char head[3] = {0, 0, 0};
    const size_t headBytes = std::min<size_t>(size, 3);
    for (size_t done = 0; done < headBytes;) {
        const ssize_t got = ::pread(fd, head + done, headBytes - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            readFailed = true;
            return unexpected(OBJError::parseFailed(OBJLoader::kNoGeometryMessage));
        }
        done += static_cast<size_t>(got);
    }
    const size_t skipped = startsWithByteOrderMark(head, headBytes) ? 3 : 0;
    const OBJTextSource text(fd, skipped, size - skipped, options.filePieceBytes);
    auto result = parseOBJText(text, skipped, options);
    readFailed = text.failed();
    return result;
}

}  // namespace lumbrix
