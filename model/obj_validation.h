#pragma once
#if !defined(LUMBRIX_INSIDE_MODEL) && !defined(LUMBRIX_TESTS)
#error "model/obj_validation.h is internal to model/"
#endif
// The pass that runs over the whole OBJ text before any geometry is read: it
// refuses files with several objects or with n-gons, and counts what the
// geometry pass will need so that pass can reserve its arrays once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumbrix {

struct OBJValidationSummary {
    int64_t objectCount = 0;
    int64_t ngonCount = 0;
    int64_t largestNgonCorners = 0;
    std::vector<int64_t> ngonExamples;  // at most three corner counts, in file order

    // Sizes for reservation (upper bounds of what the geometry pass appends).
    size_t positionLines = 0;
    size_t texCoordLines = 0;
    size_t normalLines = 0;
    size_t faceCorners = 0;    // corners of faces with at least three corners
    size_t triangleIndices = 0;

    // Where the geometry pass has work, so its scans can skip the rest. Offsets are in
    // the whole text; the counts are those the geometry scans keep (v, vt and vn lines
    // with enough numbers, by their fast and general rules alike).
    struct AttributeCounts {
        size_t positions = 0;
        size_t texCoords = 0;
        size_t normals = 0;
    };
    static constexpr size_t kNoFace = SIZE_MAX;
    size_t firstFace = kNoFace;     // the first face line's start
    AttributeCounts beforeFirstFace;  // counted before it (all of them when there is none)
    AttributeCounts attributes;      // counted in all
    size_t attributesEnd = 0;        // just past the last v, vt or vn line (0: none)

    // Adds the summary of the text that follows this one.
    void merge(const OBJValidationSummary& later);

    // The user-facing sentences, objects first; empty when the file may be loaded.
    std::vector<std::string> messages() const;
};

// `data[size]` must be readable (a NUL terminator), or `data` must end right after a
// line feed. `offset`: where `data` starts in the whole text.
OBJValidationSummary validateOBJText(const char* data, size_t size, bool fastPaths = true, size_t offset = 0);

}  // namespace lumbrix
