#pragma once
#if !defined(LUMBRIX_INSIDE_MODEL) && !defined(LUMBRIX_TESTS)
#error "model/obj_fast_scan.h is internal to model/"
#endif
// Fast paths for the common shape of OBJ lines: ASCII, single spaces, plain
// decimal numbers, LF or CR LF ends. Each function either handles its input
// exactly as the general rules would, or reports that it cannot, and the caller
// runs the general path on that line instead. They may read one byte past the
// text: callers guarantee a NUL there.
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumbrix::objfast {

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Where a token may end on a fast line: a space, LF, CR or the end of the text.
inline bool isTokenEnd(const char* p, const char* end) {
    const char c = *p;
    return c == ' ' || c == '\n' || c == '\r' || p == end;
}

inline bool isLineEnd(const char* p, const char* end) { return *p == '\n' || *p == '\r' || p == end; }

// The first byte of the next line, given a line end from isLineEnd.
inline const char* afterLineEnd(const char* p, const char* end) {
    if (p == end) return end;
    if (*p == '\r' && p + 1 < end && p[1] == '\n') return p + 2;
    return p + 1;
}

inline const char* skipSpaces(const char* p) {
    while (*p == ' ') ++p;
    return p;
}

// Plain decimal float ([sign] digits [. digits] [e [sign] digits]) rounded once to
// float32. Returns the end of the number, or nullptr when the text needs the
// general parser (other syntax, too many digits, exponents outside the exact range,
// results near float limits, or a value that lands exactly between two floats).
inline const char* parseFloat(const char* p, float& out) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    } else if (*p == '+') {
        ++p;
    }
    uint64_t mantissa = 0;
    int digits = 0;
    int exponent = 0;
    while (isDigit(*p)) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        ++digits;
        ++p;
    }
    if (*p == '.') {
        ++p;
        while (isDigit(*p)) {
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
            ++digits;
            --exponent;
            ++p;
        }
    }
    if (digits == 0 || digits > 19) return nullptr;
    if (*p == 'e' || *p == 'E') {
        ++p;
        bool negativeExponent = false;
        if (*p == '-' || *p == '+') {
            negativeExponent = *p == '-';
            ++p;
        }
        if (!isDigit(*p)) return nullptr;
        int value = 0;
        int count = 0;
        while (isDigit(*p)) {
            value = value * 10 + (*p - '0');
            ++p;
            if (++count > 3) return nullptr;
        }
        exponent += negativeExponent ? -value : value;
    }
    if (mantissa == 0) {
        out = negative ? -0.0f : 0.0f;
        return p;
    }
    if (mantissa > (uint64_t(1) << 53) || exponent < -22 || exponent > 22) return nullptr;
    // Exact operands, one correctly rounded operation.
    double value = static_cast<double>(mantissa);
    value = exponent < 0 ? value / kPow10[-exponent] : value * kPow10[exponent];
    // Rounding to double then to float is a correct single rounding unless the
    // double sits exactly halfway between two floats, or near the float limits.
    if (value < 1.2e-38 || value > 3.4e38) return nullptr;
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    if ((bits & ((uint64_t(1) << 29) - 1)) == (uint64_t(1) << 28)) return nullptr;
    const float rounded = static_cast<float>(value);
    out = negative ? -rounded : rounded;
    return p;
}

// One index field: [sign] 1..18 digits, or an empty field. `present` is false for
// an empty field. Returns nullptr when the field needs the general parser.
inline const char* parseIndexField(const char* p, int64_t& value, bool& present) {
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
        if (!isDigit(*p)) return nullptr;
    }
    if (!isDigit(*p)) {
        present = false;
        value = 0;
        return p;
    }
    int64_t magnitude = 0;
    int count = 0;
    while (isDigit(*p)) {
        if (++count > 18) return nullptr;  // longer ones may overflow: the general parser decides
        magnitude = magnitude * 10 + (*p - '0');
        ++p;
    }
    present = true;
    value = negative ? -magnitude : magnitude;
    return p;
}

// Set bits of a 16-bit mask. std::popcount compiles to a library call on the
// baseline x86-64 target, which costs more than these few operations.
inline unsigned popcount16(unsigned x) {
    x = x - ((x >> 1) & 0x5555u);
    x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
    x = (x + (x >> 4)) & 0x0F0Fu;
    return (x + (x >> 8)) & 0x1Fu;
}

// Counts the space-separated tokens from `p` to the end of a plain line (ASCII
// 0x21..0x7E and spaces, ended by LF, CR or the end of the text). `afterSpace`
// says whether the byte before `p` was a space. Returns the next line's start, or
// nullptr when the line holds any other byte and needs the general rules.
inline const char* countTokens(const char* p, const char* end, bool afterSpace, size_t& tokens) {
    size_t count = 0;
#if defined(__SSE2__)
    const __m128i spaceByte = _mm_set1_epi8(' ');
    const __m128i firstPrintable = _mm_set1_epi8(0x21);
    const __m128i deleteByte = _mm_set1_epi8(0x7F);
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned space = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, spaceByte)));
        // Signed compare: bytes of 0x80 and above count as below 0x21 too.
        const unsigned low = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(bytes, firstPrintable)));
        const unsigned del = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, deleteByte)));
        const unsigned special = (low & ~space) | del;
        const unsigned before = special ? (special & (0u - special)) - 1 : 0xFFFFu;
        const unsigned tokenByte = ~space & before;
        const unsigned previousSpace = ((space << 1) | (afterSpace ? 1u : 0u)) & 0xFFFFu;
        count += popcount16(tokenByte & previousSpace);
        if (special) {
            const char* stop = p + std::countr_zero(special);
            if (*stop != '\n' && *stop != '\r') return nullptr;
            tokens = count;
            return afterLineEnd(stop, end);
        }
        afterSpace = (space >> 15) & 1u;
        p += 16;
    }
#endif
    for (;; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == ' ') {
            afterSpace = true;
        } else if (c > ' ' && c < 0x7F) {
            count += afterSpace;
            afterSpace = false;
        } else if (isLineEnd(p, end)) {
            tokens = count;
            return afterLineEnd(p, end);
        } else {
            return nullptr;
        }
    }
}

}  // namespace lumbrix::objfast
