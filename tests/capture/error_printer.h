#pragma once
// Failed comparisons of errors show domain, code and text instead of raw bytes.
#include <ostream>

#include "platform/error.h"

namespace lumbrix {

inline void PrintTo(const Error& error, std::ostream* out) {
    *out << error.domain << " " << error.code << " \"" << error.description << "\"";
}

}  // namespace lumbrix
