#pragma once
#if !defined(LUMBRIX_INSIDE_MODEL) && !defined(LUMBRIX_TESTS)
#error "model/obj_line_kind.h is internal to model/"
#endif
// Which of the OBJ reader's line kinds a line is.
#include <string_view>

namespace lumbrix {

enum class OBJLineKind { position, texCoord, normal, face, other };

// For a trimmed line.
inline OBJLineKind classifyTrimmedLine(std::string_view line) {
    if (line.size() < 2) return OBJLineKind::other;
    if (line[0] == 'v') {
        if (line[1] == ' ') return OBJLineKind::position;
        if (line.size() >= 3 && line[2] == ' ') {
            if (line[1] == 't') return OBJLineKind::texCoord;
            if (line[1] == 'n') return OBJLineKind::normal;
        }
        return OBJLineKind::other;
    }
    if (line[0] == 'f' && line[1] == ' ') return OBJLineKind::face;
    return OBJLineKind::other;
}

// For raw text at a line start whose first byte is printable ASCII, so trimming
// cannot change how the line begins. `keywordLength` is set for the four kinds.
inline OBJLineKind classifyPlainLineStart(const char* p, size_t& keywordLength) {
    if (p[0] == 'v') {
        if (p[1] == ' ') {
            keywordLength = 2;
            return OBJLineKind::position;
        }
        if ((p[1] == 't' || p[1] == 'n') && p[2] == ' ') {
            keywordLength = 3;
            return p[1] == 't' ? OBJLineKind::texCoord : OBJLineKind::normal;
        }
        return OBJLineKind::other;
    }
    if (p[0] == 'f' && p[1] == ' ') {
        keywordLength = 2;
        return OBJLineKind::face;
    }
    return OBJLineKind::other;
}

inline bool isPlainLineStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > ' ' && u < 0x7F;
}

}  // namespace lumbrix
