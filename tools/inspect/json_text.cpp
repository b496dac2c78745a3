#include "tools/inspect/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "model/utf8.h"

namespace lumbrix::inspect {

std::string jsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // Copy the longest valid run; one invalid byte becomes one replacement character.
            const size_t valid = findInvalidUTF8(text.data() + i, text.size() - i);
            if (valid == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            size_t run = i;
            while (run < i + valid && static_cast<unsigned char>(text[run]) >= 0x20 && text[run] != '"' &&
                   text[run] != '\\') {
                ++run;
            }
            if (run == i) run = i + 1;
            out.append(text.data() + i, run - i);
            i = run;
            continue;
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string jsonFloat(float value) {
    if (!std::isfinite(value)) return "null";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string jsonStringArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        out += jsonString(items[i]);
    }
    out += ']';
    return out;
}

}  // namespace lumbrix::inspect
