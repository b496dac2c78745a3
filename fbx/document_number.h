#pragma once
#if !defined(LUMBRIX_INSIDE_FBX) && !defined(LUMBRIX_TESTS)
#error "fbx/document_number.h is internal to fbx/"
#endif
// Internal to fbx/: numbers as ASCII FBX writes them, and range-checked
// conversions between the element types a file may hold and the ones asked for.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace lumbrix::fbx::number {

// Truncates a floating value into integer type I; false when it does not fit
// (NaN included), where a plain cast would be undefined.
template <class I>
bool fromFloating(double value, I& out) {
    // 2^31 and 2^63 are exact doubles, so the bounds themselves are exact.
    constexpr double limit = static_cast<double>(uint64_t(1) << std::numeric_limits<I>::digits);
    if (!(value >= -limit && value < limit)) return false;
    out = static_cast<I>(value);
    return true;
}

// Stores integer `value` into T (integer or floating); false when T cannot hold it.
template <class T>
bool fromInteger(int64_t value, T& out) {
    if constexpr (std::is_floating_point_v<T>) {
        out = static_cast<T>(value);
    } else {
        if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) return false;
        out = static_cast<T>(value);
    }
    return true;
}

// Stores floating `value` into T; floating targets take it as is (double to float
// rounds, overflowing to infinity), integer targets must hold its whole part.
template <class T>
bool fromDouble(double value, T& out) {
    if constexpr (std::is_floating_point_v<T>) {
        if (std::is_same_v<T, float> && value != value) {
            out = std::numeric_limits<float>::quiet_NaN();
        } else if (std::is_same_v<T, float> && value > std::numeric_limits<float>::max()) {
            out = std::numeric_limits<T>::infinity();  // the cast itself would be undefined
        } else if (std::is_same_v<T, float> && value < -std::numeric_limits<float>::max()) {
            out = -std::numeric_limits<T>::infinity();
        } else {
            out = static_cast<T>(value);
        }
        return true;
    } else {
        return fromFloating(value, out);
    }
}

// Out-of-range text such as "1e-400" or "1e400": the nearest value (zero or an
// infinity), which from_chars declines to give.
double parseOutOfRange(const char* first, const char* last);

// Parses one number at [first, last) into T: an optional sign, digits, fraction and
// exponent (from_chars' general form, plus a leading '+' and the Windows spellings
// of infinity and NaN). Integer targets also take
// fractions and exponents ("1e3", "2.0") when the value fits. Returns the end of the
// number, or nullptr when there is none or it does not fit T.
template <class T>
const char* parse(const char* first, const char* last, T& out) {
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-') return nullptr;
    }
    if constexpr (std::is_floating_point_v<T>) {
        double value = 0;
        const auto result = std::from_chars(first, last, value);
        const char* end = result.ptr;
        if (result.ec == std::errc::result_out_of_range) {
            value = parseOutOfRange(first, end);
        } else if (result.ec != std::errc()) {
            return nullptr;
        }
        if (end != last && *end == '#') {
            // Windows runtimes print infinities and NaNs as 1.#INF, -1.#IND, 1.#QNAN.
            const char* tag = ++end;
            while (end != last && ((*end >= 'A' && *end <= 'Z') || (*end >= 'a' && *end <= 'z'))) ++end;
            const std::string_view name(tag, static_cast<size_t>(end - tag));
            if (name == "INF") {
                value = std::copysign(std::numeric_limits<double>::infinity(), value);
            } else if (name == "IND" || name == "QNAN" || name == "SNAN") {
                value = std::numeric_limits<double>::quiet_NaN();
            } else {
                return nullptr;
            }
        }
        fromDouble(value, out);
        return end;
    } else {
        int64_t value = 0;
        const auto [ptr, ec] = std::from_chars(first, last, value);
        const bool fraction = ptr != last && (*ptr == '.' || *ptr == 'e' || *ptr == 'E');
        if (ec == std::errc() && !fraction) return fromInteger(value, out) ? ptr : nullptr;
        if (ec == std::errc::result_out_of_range && !fraction && std::is_same_v<T, int64_t>) {
            // Object ids past INT64_MAX written unsigned: keep their bits.
            uint64_t bits = 0;
            const auto [end, ec2] = std::from_chars(first, last, bits);
            if (ec2 != std::errc() || end != ptr) return nullptr;
            out = static_cast<T>(bits);
            return end;
        }
        double real = 0;
        const char* end = parse(first, last, real);
        if (end == nullptr || !fromFloating(real, out)) return nullptr;
        return end;
    }
}

}  // namespace lumbrix::fbx::number
