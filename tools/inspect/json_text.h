#pragma once
// Minimal JSON text building for the one-line reports of lumbrix-inspect.
#include <string>
#include <string_view>
#include <vector>

namespace lumbrix::inspect {

// A JSON string literal. Control characters are escaped and bytes that are not
// UTF-8 (file names are bytes) become U+FFFD, so every report parses.
std::string jsonString(std::string_view text);

// The shortest decimal that reads back as the same float32; null when not finite.
std::string jsonFloat(float value);

std::string jsonStringArray(const std::vector<std::string>& items);

}  // namespace lumbrix::inspect
