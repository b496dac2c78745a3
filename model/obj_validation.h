#pragma once
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

    // Adds the summary of the text that follows this one.
    void merge(const OBJValidationSummary& later);

    // The user-facing sentences, objects first; empty when the file may be loaded.
    std::vector<std::string> messages() const;
};

// `data[size]` must be readable (a NUL terminator).
OBJValidationSummary validateOBJText(const char* data, size_t size, bool fastPaths = true);

}  // namespace lumbrix
