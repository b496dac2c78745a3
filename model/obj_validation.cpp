#include "model/obj_validation.h"

#include <algorithm>
#include <string_view>

#include "model/obj_text.h"

namespace lumbrix {

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

OBJValidationSummary validateOBJText(const char* data, size_t size) {
    OBJValidationSummary summary;
    objtext::LineReader lines(data, size);
    std::string_view line;
    while (lines.next(line)) {
        if (line.size() < 2) continue;
        const char c0 = line[0];
        const char c1 = line[1];
        if (c0 == 'v') {
            if (c1 == ' ') {
                ++summary.positionLines;
            } else if (line.size() >= 3 && line[2] == ' ') {
                summary.texCoordLines += (c1 == 't');
                summary.normalLines += (c1 == 'n');
            }
        } else if (c0 == 'f' && c1 == ' ') {
            const size_t tokens = objtext::countTokens(line);
            if (tokens >= 6) {
                const auto corners = static_cast<int64_t>(tokens - 1);
                ++summary.ngonCount;
                summary.largestNgonCorners = std::max(summary.largestNgonCorners, corners);
                if (summary.ngonExamples.size() < 3) summary.ngonExamples.push_back(corners);
            } else if (tokens >= 4) {
                summary.faceCorners += tokens - 1;
                summary.triangleIndices += (tokens - 3) * 3;
            }
        } else if (c0 == 'o' && c1 == ' ') {
            ++summary.objectCount;
        }
    }
    return summary;
}

}  // namespace lumbrix
