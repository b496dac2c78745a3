#include "model/obj_validation.h"

#include <algorithm>
#include <string_view>

#include "model/obj_fast_scan.h"
#include "model/obj_line_kind.h"
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
    if (firstFace == kNoFace) {
        firstFace = later.firstFace;
        beforeFirstFace.positions = attributes.positions + later.beforeFirstFace.positions;
        beforeFirstFace.texCoords = attributes.texCoords + later.beforeFirstFace.texCoords;
        beforeFirstFace.normals = attributes.normals + later.beforeFirstFace.normals;
    }
    attributes.positions += later.attributes.positions;
    attributes.texCoords += later.attributes.texCoords;
    attributes.normals += later.attributes.normals;
    attributesEnd = std::max(attributesEnd, later.attributesEnd);
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

namespace {

// The counts the geometry scans keep, line by line, and where their work lies.
class AttributeTally {
public:
    AttributeTally(OBJValidationSummary& summary, const char* data, size_t offset)
        : summary_(summary), data_(data), offset_(offset) {}

    // A face line starting at `line`.
    void face(const char* line) {
        if (summary_.firstFace != OBJValidationSummary::kNoFace) return;
        summary_.firstFace = offset_ + static_cast<size_t>(line - data_);
        summary_.beforeFirstFace = summary_.attributes;
    }
    // A v, vt or vn line that ends before `next`, kept when `kept`.
    void attribute(OBJLineKind kind, bool kept, const char* next) {
        summary_.attributesEnd = offset_ + static_cast<size_t>(next - data_);
        if (!kept) return;
        switch (kind) {
            case OBJLineKind::position: ++summary_.attributes.positions; break;
            case OBJLineKind::texCoord: ++summary_.attributes.texCoords; break;
            case OBJLineKind::normal: ++summary_.attributes.normals; break;
            default: break;
        }
    }
    void finish() {
        if (summary_.firstFace == OBJValidationSummary::kNoFace) summary_.beforeFirstFace = summary_.attributes;
    }

private:
    OBJValidationSummary& summary_;
    const char* data_;
    size_t offset_;
};

bool isAttribute(OBJLineKind kind) {
    return kind == OBJLineKind::position || kind == OBJLineKind::texCoord || kind == OBJLineKind::normal;
}

// Numbers (after the keyword) a kept attribute line needs.
size_t numbersNeeded(OBJLineKind kind) { return kind == OBJLineKind::texCoord ? 2 : 3; }

}  // namespace

OBJValidationSummary validateOBJText(const char* data, size_t size, bool fastPaths, size_t offset) {
    OBJValidationSummary summary;
    AttributeTally tally(summary, data, offset);
    const char* const end = data + size;
    const char* p = data;
    while (p < end) {
        const char* next = nullptr;
        const unsigned char first = fastPaths ? static_cast<unsigned char>(*p) : 0;
        if (first == 'f') {
            if (p[1] == ' ') {
                size_t tokens = 0;
                next = objfast::countTokens(p + 2, end, true, tokens);
                if (next) {
                    countFace(summary, tokens + 1);
                    tally.face(p);
                }
            }
        } else if (first == 'v') {
            // The geometry scans' own rules: the keyword, then the numbers counted the
            // way they count them; a line they would take the general way goes that way.
            size_t keywordLength = 0;
            const OBJLineKind kind = classifyPlainLineStart(p, keywordLength);
            if (isAttribute(kind)) {
                size_t tokens = 0;
                next = objfast::countTokens(p + keywordLength, end, true, tokens);
                if (next) tally.attribute(kind, tokens >= numbersNeeded(kind), next);
            } else {
                objtext::findLineBreak(p, end, next);
            }
            if (next) {
                // Only reservation sizes depend on these, so an upper bound will do.
                if (p[1] == ' ') ++summary.positionLines;
                else if (p[1] == 't') ++summary.texCoordLines;
                else if (p[1] == 'n') ++summary.normalLines;
            }
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
        const char* lineStart = p;
        const char* lineEnd = objtext::findLineBreak(p, end, next);
        const std::string_view line = objtext::trim(std::string_view(p, static_cast<size_t>(lineEnd - p)));
        p = next;
        if (line.size() < 2) continue;
        if (line[0] == 'f' && line[1] == ' ') {
            countFace(summary, objtext::countTokens(line));
            tally.face(lineStart);
        } else if (line[0] == 'o' && line[1] == ' ') {
            ++summary.objectCount;
        } else if (line[0] == 'v') {
            summary.positionLines += line[1] == ' ';
            summary.texCoordLines += line[1] == 't';
            summary.normalLines += line[1] == 'n';
            const OBJLineKind kind = classifyTrimmedLine(line);
            if (isAttribute(kind)) tally.attribute(kind, objtext::countTokens(line) >= numbersNeeded(kind) + 1, next);
        }
    }
    tally.finish();
    return summary;
}

}  // namespace lumbrix
