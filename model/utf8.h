#pragma once
// Strict UTF-8 validation: no overlong forms, no surrogates, nothing past U+10FFFF.
#include <cstddef>

namespace lumbrix {

// Returns `size` when the bytes are valid UTF-8, else the offset of the first
// byte of the first invalid sequence.
size_t findInvalidUTF8(const char* data, size_t size);

inline bool isValidUTF8(const char* data, size_t size) { return findInvalidUTF8(data, size) == size; }

}  // namespace lumbrix
