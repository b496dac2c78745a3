// Array decoding: raw or zlib binary arrays and ASCII "*N { a: ... }" text, into
// the element type the caller asks for.
#include <libdeflate.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "fbx/document_number.h"
#include "fbx/document_parser.h"

namespace lumbrix::fbx {

namespace {

struct DecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

// One per thread: allocating a decompressor costs more than inflating a small
// array, and scene readers may decode on several threads.
libdeflate_decompressor* threadDecompressor() {
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

size_t elementSize(PropertyType type) {
    switch (type) {
    case PropertyType::boolArray:
    case PropertyType::charArray: return 1;
    case PropertyType::int32Array:
    case PropertyType::float32Array: return 4;
    case PropertyType::int64Array:
    case PropertyType::float64Array: return 8;
    default: return 0;
    }
}

// True when the file's elements already are T's bytes.
template <class T>
bool storedAs(PropertyType type) {
    if constexpr (std::is_same_v<T, double>) return type == PropertyType::float64Array;
    if constexpr (std::is_same_v<T, float>) return type == PropertyType::float32Array;
    if constexpr (std::is_same_v<T, int32_t>) return type == PropertyType::int32Array;
    if constexpr (std::is_same_v<T, int64_t>) return type == PropertyType::int64Array;
    return false;
}

template <class S, class T>
bool convertElements(const uint8_t* source, size_t count, T* out) {
    for (size_t i = 0; i < count; ++i) {
        S value;
        std::memcpy(&value, source + i * sizeof(S), sizeof(S));
        bool fits;
        if constexpr (std::is_floating_point_v<S>) {
            fits = number::fromDouble(static_cast<double>(value), out[i]);
        } else {
            fits = number::fromInteger(static_cast<int64_t>(value), out[i]);
        }
        if (!fits) return false;
    }
    return true;
}

template <class T>
bool convertFrom(PropertyType type, const uint8_t* source, size_t count, T* out) {
    switch (type) {
    case PropertyType::boolArray:
    case PropertyType::charArray: return convertElements<uint8_t>(source, count, out);
    case PropertyType::int32Array: return convertElements<int32_t>(source, count, out);
    case PropertyType::int64Array: return convertElements<int64_t>(source, count, out);
    case PropertyType::float32Array: return convertElements<float>(source, count, out);
    case PropertyType::float64Array: return convertElements<double>(source, count, out);
    default: return false;
    }
}

const uint8_t* skipSpace(const uint8_t* p, const uint8_t* end) {
    while (p != end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    return p;
}

// `text` runs from the '*' to the '}' of "*N { a: v,v,... }"; the parser checked
// the frame, so only the values can be wrong. `offset` is the '*''s file offset.
template <class T>
bool decodeText(const uint8_t* text, uint64_t size, uint64_t count, uint64_t offset, T* out, std::string& error) {
    const uint8_t* const end = text + size - 1;  // the '}'
    const auto at = [&](const uint8_t* p) { return offset + static_cast<uint64_t>(p - text); };
    const uint8_t* p = static_cast<const uint8_t*>(std::memchr(text, '{', size)) + 1;
    p = skipSpace(p, end);
    uint64_t found = 0;
    if (p != end) {
        if (*p != 'a') {
            error = errorAt("Invalid array", at(p));
            return false;
        }
        p = skipSpace(p + 1, end);
        if (p == end || *p != ':') {
            error = errorAt("Invalid array", at(p));
            return false;
        }
        p = skipSpace(p + 1, end);
        while (p != end) {
            if (found == count) {
                // Report how many there really are.
                uint64_t more = 1;
                for (const uint8_t* q = p; q != end; ++q) more += *q == ',';
                error = errorAt("Array declares " + std::to_string(count) + " values but holds " +
                                    std::to_string(found + more),
                                offset);
                return false;
            }
            const char* next = number::parse(reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(end),
                                             out[found]);
            if (next == nullptr) {
                error = errorAt("Invalid array value", at(p));
                return false;
            }
            ++found;
            p = skipSpace(reinterpret_cast<const uint8_t*>(next), end);
            if (p == end) break;
            if (*p != ',') {
                error = errorAt("Invalid array value", at(p));
                return false;
            }
            p = skipSpace(p + 1, end);
            if (p == end) {
                error = errorAt("Invalid array value", at(p));
                return false;
            }
        }
    }
    if (found != count) {
        error = errorAt("Array declares " + std::to_string(count) + " values but holds " + std::to_string(found),
                        offset);
        return false;
    }
    return true;
}

}  // namespace

template <class T>
bool Property::decodeAs(std::vector<T>& out, std::string& error) const {
    out.clear();
    try {
        // A compressed array may claim up to 1032 times its stored size.
        if (isArray()) out.resize(static_cast<size_t>(count_));
    } catch (const std::bad_alloc&) {
        out.clear();
        out.shrink_to_fit();
        error = errorAt("Out of memory decoding the array", offset_);
        return false;
    }
    if (decodeToAs(out.data(), error)) return true;
    out.clear();
    return false;
}

template <class T>
bool Property::decodeToAs(T* out, std::string& error) const {
    try {
        return decodeInto(out, error);
    } catch (const std::bad_alloc&) {
        error = errorAt("Out of memory decoding the array", offset_);
        return false;
    }
}

template <class T>
bool Property::decodeInto(T* out, std::string& error) const {
    if (type_ == PropertyType::asciiArray) return decodeText(data_, size_, count_, offset_, out, error);
    const size_t size = elementSize(type_);
    if (size == 0) {
        error = errorAt("Not an array property", offset_);
        return false;
    }
    const size_t count = static_cast<size_t>(count_);
    const size_t bytes = count * size;
    const uint8_t* source = data_;
    std::unique_ptr<uint8_t[]> inflated;
    if (encoding_ == 1) {
        libdeflate_decompressor* decompressor = threadDecompressor();
        if (decompressor == nullptr) throw std::bad_alloc();
        uint8_t empty = 0;
        uint8_t* destination = &empty;  // libdeflate wants a buffer even for nothing
        if (bytes != 0) {
            if (storedAs<T>(type_)) {
                destination = reinterpret_cast<uint8_t*>(out);
            } else {
                inflated.reset(new uint8_t[bytes]);
                destination = inflated.get();
            }
        }
        // Without an actual-size pointer libdeflate insists on exactly `bytes`.
        if (libdeflate_zlib_decompress(decompressor, data_, size_, destination, bytes, nullptr) !=
            LIBDEFLATE_SUCCESS) {
            error = errorAt("Corrupt compressed array", offset_);
            return false;
        }
        source = destination;
    }
    if (storedAs<T>(type_)) {
        if (source != reinterpret_cast<const uint8_t*>(out) && bytes != 0) std::memcpy(out, source, bytes);
        return true;
    }
    if (!convertFrom(type_, source, count, out)) {
        error = errorAt("Array value out of range", offset_);
        return false;
    }
    return true;
}

template <class T>
bool Property::checkDecodeAs(PodArray<uint8_t>& scratch, std::string& error) const {
    // Stored bytes that are already T's cannot fail to decode.
    if (type_ != PropertyType::asciiArray && encoding_ == 0 && storedAs<T>(type_)) return true;
    try {
        const size_t bytes = static_cast<size_t>(count_) * sizeof(T);
        if (scratch.size() < bytes) scratch.reset(bytes);
        return decodeInto(reinterpret_cast<T*>(scratch.data()), error);
    } catch (const std::bad_alloc&) {
        error = errorAt("Out of memory decoding the array", offset_);
        return false;
    }
}

bool Property::checkDecodeAsDouble(PodArray<uint8_t>& scratch, std::string& error) const {
    return checkDecodeAs<double>(scratch, error);
}
bool Property::checkDecodeAsInt32(PodArray<uint8_t>& scratch, std::string& error) const {
    return checkDecodeAs<int32_t>(scratch, error);
}

bool Property::decode(std::vector<double>& out, std::string& error) const { return decodeAs(out, error); }
bool Property::decode(std::vector<float>& out, std::string& error) const { return decodeAs(out, error); }
bool Property::decode(std::vector<int32_t>& out, std::string& error) const { return decodeAs(out, error); }
bool Property::decode(std::vector<int64_t>& out, std::string& error) const { return decodeAs(out, error); }
bool Property::decodeTo(double* out, std::string& error) const { return decodeToAs(out, error); }
bool Property::decodeTo(float* out, std::string& error) const { return decodeToAs(out, error); }
bool Property::decodeTo(int32_t* out, std::string& error) const { return decodeToAs(out, error); }
bool Property::decodeTo(int64_t* out, std::string& error) const { return decodeToAs(out, error); }

}  // namespace lumbrix::fbx
