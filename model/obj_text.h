#pragma once
#if !defined(LUMBRIX_INSIDE_MODEL) && !defined(LUMBRIX_TESTS)
#error "model/obj_text.h is internal to model/"
#endif
// Text primitives of the OBJ reader: line breaks, trimming, tokens and numbers.
//
// The text is already known to be valid UTF-8, so multi-byte sequences can be
// matched by their bytes. Everything works on raw pointers into the file buffer:
// no allocation per line or token.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace lumbrix::objtext {

// Finds the next line break at or after `p`: LF, VT, FF, CR (CR LF counts as one),
// U+0085, U+2028, U+2029. Returns the break's start (or `end`) and sets `next` to
// the first byte after it.
const char* findLineBreak(const char* p, const char* end, const char*& next);

// Trims leading and trailing Unicode white space and newlines (tab included).
std::string_view trim(std::string_view line);

// Iterates the non-empty lines of a text, trimmed; the caller skips comments.
class LineReader {
public:
    LineReader(const char* data, size_t size) : p_(data), end_(data + size) {}

    // The next trimmed, non-empty line, or false at the end of the text.
    bool next(std::string_view& line) {
        while (p_ < end_) {
            const char* after = nullptr;
            const char* lineEnd = findLineBreak(p_, end_, after);
            std::string_view raw(p_, static_cast<size_t>(lineEnd - p_));
            p_ = after;
            if (raw.empty()) continue;
            line = trim(raw);
            if (!line.empty()) return true;
        }
        return false;
    }

    // Bytes consumed so far, from the start of the text.
    const char* position() const { return p_; }

private:
    const char* p_;
    const char* end_;
};

// Pieces between U+0020 characters, empty pieces dropped.
class TokenReader {
public:
    explicit TokenReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    bool next(std::string_view& token) {
        while (p_ < end_ && *p_ == ' ') ++p_;
        if (p_ >= end_) return false;
        const char* start = p_;
        while (p_ < end_ && *p_ != ' ') ++p_;
        token = std::string_view(start, static_cast<size_t>(p_ - start));
        return true;
    }

private:
    const char* p_;
    const char* end_;
};

// Number of tokens in a line.
size_t countTokens(std::string_view line);

// A float32 read with C-locale syntax (sign, decimal or hexadecimal, exponent,
// inf, nan) that must cover the whole token; anything else reads 0.
float parseFloat(std::string_view token);

// A base-10 signed 64-bit integer: optional sign, then digits only. Anything else,
// overflow included, is absent.
std::optional<int64_t> parseIndex(std::string_view token);

}  // namespace lumbrix::objtext
