#include "model/obj_validation.h"

#include <algorithm>
#include <string_view>

#include "model/obj_fast_scan.h"
#include "model/obj_text.h"

namespace lumbrix {

void OBJValidationSummary::merge(const OBJValidationSummary& later) {
    objectCount += later.objectCount;
    ngonCount += later.ngonCount;
    largestNgonCorners = std::max(largestNgonCorners, later.largestNgonCorners);
    for (const int64_t example : later.ngonExamples) {
        if (ngonExamples.size() < 3) ngonExamples.push_back(example);
    }
    positionLines += later.positionLines;
    texCoordLines += later.texCoordLines;
    normalLines += later.normalLines;
    faceCorners += later.faceCorners;
    triangleIndices += later.triangleIndices;
}

std::vector<std::string> OBJValidationSummary::messages() const {
    std::vector<std::string> result;
    if (objectCount >= 2) {
        result.push_back("File contains multiple objects (" + std::to_string(objectCount) +
                         "). Please export as single object.");
    }
    if (ngonCount > 0) {
        std::string text = "N-gons found: " + std::to_string(ngonCount) + " (max " +
                           std::to_string(largestNgonCorners) +
                           " vertices). Export triangulated/quads. Examples: ";
        for (size_t i = 0; i < ngonExamples.size(); ++i) {
            if (i > 0) text += ", ";
            text += std::to_string(ngonExamples[i]) + " vertices";
        }
        result.push_back(std::move(text));
    }
    return result;
}

namespace {

void countFace(OBJValidationSummary& summary, size_t tokens) {
    if (tokens >= 6) {
        const auto corners = static_cast<int64_t>(tokens - 1);
        ++summary.ngonCount;
        summary.largestNgonCorners = std::max(summary.largestNgonCorners, corners);
        if (summary.ngonExamples.size() < 3) summary.ngonExamples.push_back(corners);
    } else if (tokens >= 4) {
        summary.faceCorners += tokens - 1;
        summary.triangleIndices += (tokens - 3) * 3;
    }
}

}  // namespace

OBJValidationSummary validateOBJText(const char* data, size_t size, bool fastPaths) {
    OBJValidationSummary summary;
    const char* const end = data + size;
    const char* p = data;
    while (p < end) {
        const char* next = nullptr;
        const unsigned char first = fastPaths ? static_cast<unsigned char>(*p) : 0;
        if (first == 'f') {
            if (p[1] == ' ') {
                size_t tokens = 0;
                next = objfast::countTokens(p + 2, end, true, tokens);
                if (next) countFace(summary, tokens + 1);
            }
        } else if (first == 'v') {
            // Only reservation sizes depend on these, so an upper bound will do.
            if (p[1] == ' ') ++summary.positionLines;
            else if (p[1] == 't') ++summary.texCoordLines;
            else if (p[1] == 'n') ++summary.normalLines;
            objtext::findLineBreak(p, end, next);
        } else if (first == '\n') {
            next = p + 1;
        } else if (first > ' ' && first < 0x7F && first != 'o') {
            objtext::findLineBreak(p, end, next);
        }
        if (next) {
            p = next;
            continue;
        }
        // Leading white space, object lines and unusual bytes: the general rules.
        const char* lineEnd = objtext::findLineBreak(p, end, next);
        const std::string_view line = objtext::trim(std::string_view(p, static_cast<size_t>(lineEnd - p)));
        p = next;
        if (line.size() < 2) continue;
        if (line[0] == 'f' && line[1] == ' ') {
            countFace(summary, objtext::countTokens(line));
        } else if (line[0] == 'o' && line[1] == ' ') {
            ++summary.objectCount;
        } else if (line[0] == 'v') {
            summary.positionLines += line[1] == ' ';
            summary.texCoordLines += line[1] == 't';
            summary.normalLines += line[1] == 'n';
        }
    }
    return summary;
}

}  // namespace lumbrix
