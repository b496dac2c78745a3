#include "model/utf8.h"

#include <cstdint>
#include <cstring>

namespace lumbrix {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

inline bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Validates one multi-byte sequence starting at p[0] (a non-ASCII lead byte).
// Returns its length, or 0 when it is invalid or truncated.
size_t sequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    const size_t left = static_cast<size_t>(end - p);
    if (lead >= 0xC2 && lead <= 0xDF) {
        return (left >= 2 && isContinuation(p[1])) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || !isContinuation(p[1]) || !isContinuation(p[2])) return 0;
        if (lead == 0xE0 && p[1] < 0xA0) return 0;  // overlong
        if (lead == 0xED && p[1] >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || !isContinuation(p[1]) || !isContinuation(p[2]) || !isContinuation(p[3])) return 0;
        if (lead == 0xF0 && p[1] < 0x90) return 0;  // overlong
        if (lead == 0xF4 && p[1] >= 0x90) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;  // stray continuation byte, C0/C1 overlong lead, or F5..FF
}

}  // namespace

size_t findInvalidUTF8(const char* data, size_t size) {
    const auto* begin = reinterpret_cast<const unsigned char*>(data);
    const auto* p = begin;
    const auto* end = begin + size;
    while (p < end) {
        // Model files are nearly all ASCII: skip 32 bytes at a time while no high bit is set.
        while (end - p >= 32) {
            uint64_t a, b, c, d;
            std::memcpy(&a, p, 8);
            std::memcpy(&b, p + 8, 8);
            std::memcpy(&c, p + 16, 8);
            std::memcpy(&d, p + 24, 8);
            if (((a | b | c | d) & kHighBits) != 0) break;
            p += 32;
        }
        if (p >= end) break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const size_t n = sequenceLength(p, end);
        if (n == 0) return static_cast<size_t>(p - begin);
        p += n;
    }
    return size;
}

}  // namespace lumbrix
