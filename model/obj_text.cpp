#include "model/obj_text.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <locale.h>

namespace lumbrix::objtext {

namespace {

// Bytes that may start a line break: VT..CR and LF, and the lead bytes of the
// two-byte NEL (C2 85) and the three-byte LS/PS (E2 80 A8/A9).
struct BreakTable {
    bool maybe[256] = {};
    constexpr BreakTable() {
        for (int c = 0x0A; c <= 0x0D; ++c) maybe[c] = true;
        maybe[0xC2] = true;
        maybe[0xE2] = true;
    }
};
constexpr BreakTable kBreaks;

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHigh = 0x8080808080808080ull;

// True when any byte of `w` is below 0x0E or has its high bit set: the only
// bytes that can begin a break.
[[maybe_unused]] inline bool mayHoldBreak(uint64_t w) {  // the portable path only
    const uint64_t below = (w - kOnes * 0x0E) & ~w & kHigh;
    return (below | (w & kHigh)) != 0;
}

inline bool isAsciiSpace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Length of a multi-byte white space or newline sequence starting at p, else 0.
size_t unicodeSpaceAt(const unsigned char* p, size_t left) {
    if (left >= 2 && p[0] == 0xC2 && (p[1] == 0x85 || p[1] == 0xA0)) return 2;
    if (left >= 3) {
        if (p[0] == 0xE1 && p[1] == 0x9A && p[2] == 0x80) return 3;  // U+1680
        if (p[0] == 0xE2 && p[1] == 0x80 &&
            ((p[2] >= 0x80 && p[2] <= 0x8A) || p[2] == 0xA8 || p[2] == 0xA9 || p[2] == 0xAF)) {
            return 3;  // U+2000..200A, U+2028, U+2029, U+202F
        }
        if (p[0] == 0xE2 && p[1] == 0x81 && p[2] == 0x9F) return 3;  // U+205F
        if (p[0] == 0xE3 && p[1] == 0x80 && p[2] == 0x80) return 3;  // U+3000
    }
    return 0;
}

// Length of a white space sequence that ends just before `end`, else 0.
size_t unicodeSpaceBefore(const unsigned char* begin, const unsigned char* end) {
    const size_t avail = static_cast<size_t>(end - begin);
    if (avail >= 3 && unicodeSpaceAt(end - 3, 3) == 3) return 3;
    if (avail >= 2 && unicodeSpaceAt(end - 2, 2) == 2) return 2;
    return 0;
}

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

// strtof in the C locale whatever the process locale is; the token must be consumed whole.
float parseFloatSlow(std::string_view token) {
    char small[64];
    std::string large;
    const char* text;
    if (token.size() < sizeof small) {
        std::memcpy(small, token.data(), token.size());
        small[token.size()] = '\0';
        text = small;
    } else {
        large.assign(token);
        text = large.c_str();
    }
    char* stop = nullptr;
    const float value = strtof_l(text, &stop, cLocale());
    if (stop != text + token.size()) return 0.0f;  // trailing junk or an embedded NUL
    return value;
}

}  // namespace

namespace {

// Checks a candidate byte found by the scans below.
inline const unsigned char* breakAt(const unsigned char* s, const unsigned char* e, const char*& next) {
    const unsigned char c = *s;
    if (c >= 0x0A && c <= 0x0D) {
        next = reinterpret_cast<const char*>(s + ((c == '\r' && s + 1 < e && s[1] == '\n') ? 2 : 1));
        return s;
    }
    if (c == 0xC2 && s + 1 < e && s[1] == 0x85) {
        next = reinterpret_cast<const char*>(s + 2);
        return s;
    }
    if (c == 0xE2 && e - s >= 3 && s[1] == 0x80 && (s[2] == 0xA8 || s[2] == 0xA9)) {
        next = reinterpret_cast<const char*>(s + 3);
        return s;
    }
    return nullptr;
}

}  // namespace

const char* findLineBreak(const char* p, const char* end, const char*& next) {
    const auto* s = reinterpret_cast<const unsigned char*>(p);
    const auto* e = reinterpret_cast<const unsigned char*>(end);
#if defined(__SSE2__)
    const __m128i lowest = _mm_set1_epi8(0x0A);
    const __m128i highest = _mm_set1_epi8(0x0D);
    const __m128i nelLead = _mm_set1_epi8(static_cast<char>(0xC2));
    const __m128i separatorLead = _mm_set1_epi8(static_cast<char>(0xE2));
    while (e - s >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i inRange = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(bytes, lowest), bytes),
                                              _mm_cmpeq_epi8(_mm_min_epu8(bytes, highest), bytes));
        const __m128i leads = _mm_or_si128(_mm_cmpeq_epi8(bytes, nelLead), _mm_cmpeq_epi8(bytes, separatorLead));
        auto candidates = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(inRange, leads)));
        while (candidates) {
            if (const auto* found = breakAt(s + std::countr_zero(candidates), e, next)) {
                return reinterpret_cast<const char*>(found);
            }
            candidates &= candidates - 1;
        }
        s += 16;
    }
#else
    while (e - s >= 8) {
        uint64_t w;
        std::memcpy(&w, s, 8);
        if (mayHoldBreak(w)) break;
        s += 8;
    }
#endif
    for (; s < e; ++s) {
        if (!kBreaks.maybe[*s]) continue;
        if (const auto* found = breakAt(s, e, next)) return reinterpret_cast<const char*>(found);
    }
    next = end;
    return end;
}

std::string_view trim(std::string_view line) {
    const auto* b = reinterpret_cast<const unsigned char*>(line.data());
    const auto* e = b + line.size();
    while (b < e) {
        if (isAsciiSpace(*b)) {
            ++b;
        } else if (*b >= 0x80) {
            const size_t n = unicodeSpaceAt(b, static_cast<size_t>(e - b));
            if (n == 0) break;
            b += n;
        } else {
            break;
        }
    }
    while (e > b) {
        if (isAsciiSpace(e[-1])) {
            --e;
        } else if (e[-1] >= 0x80) {
            const size_t n = unicodeSpaceBefore(b, e);
            if (n == 0) break;
            e -= n;
        } else {
            break;
        }
    }
    return {reinterpret_cast<const char*>(b), static_cast<size_t>(e - b)};
}

size_t countTokens(std::string_view line) {
    size_t count = 0;
    bool inToken = false;
    for (const char c : line) {
        const bool isSpace = c == ' ';
        count += (!isSpace && !inToken);
        inToken = !isSpace;
    }
    return count;
}

float parseFloat(std::string_view token) {
    if (token.empty()) return 0.0f;
    const char* first = token.data();
    const char* last = first + token.size();
    // strtof would skip leading white space; a token that starts with it is not a number.
    if (isAsciiSpace(static_cast<unsigned char>(*first))) return 0.0f;
    const char* digits = first;
    if (*digits == '+') {
        ++digits;
        if (digits == last || *digits == '+' || *digits == '-') return 0.0f;
    }
    float value = 0.0f;
    const auto result = std::from_chars(digits, last, value);
    if (result.ec == std::errc() && result.ptr == last) return value;
    // Hexadecimal forms, out-of-range values (strtof gives inf or a denormal) and junk.
    return parseFloatSlow(token);
}

std::optional<int64_t> parseIndex(std::string_view token) {
    if (token.empty()) return std::nullopt;
    size_t i = 0;
    bool negative = false;
    if (token[0] == '+' || token[0] == '-') {
        negative = token[0] == '-';
        i = 1;
    }
    if (i == token.size()) return std::nullopt;
    uint64_t magnitude = 0;
    for (; i < token.size(); ++i) {
        const unsigned digit = static_cast<unsigned char>(token[i]) - unsigned('0');
        if (digit > 9) return std::nullopt;
        if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (magnitude > kMaxPositive + 1) return std::nullopt;
        return magnitude == kMaxPositive + 1 ? std::numeric_limits<int64_t>::min()
                                              : -static_cast<int64_t>(magnitude);
    }
    if (magnitude > kMaxPositive) return std::nullopt;
    return static_cast<int64_t>(magnitude);
}

}  // namespace lumbrix::objtext
