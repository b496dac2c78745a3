#pragma once
// JSON string escaping for texts that come from untrusted files.
#include <string>
#include <string_view>

namespace lumbrix::varnel {

// Appends `text` to `out` as the inside of a JSON string: quote, backslash and
// control characters are escaped, bytes that are not well-formed UTF-8 become
// \ufffd, and everything else (including valid multi-byte UTF-8) is copied as is.
void appendJsonEscaped(std::string& out, std::string_view text);

}  // namespace lumbrix::varnel
