// ASCII FBX 7.x: "Name: value, value, ... { children }" lines, ';' comments,
// quoted strings, numbers and bare words kept as text, "*N { a: ... }" arrays kept
// as text until decoded.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "fbx/document_parser.h"

namespace lumbrix::fbx {

namespace {

// Bytes that end a bare token (a node name, a number or a word): separators,
// white space and the other control characters, which no writer puts in a token.
struct TokenEnds {
    bool at[256] = {};
    constexpr TokenEnds() {
        for (int c = 0; c < 0x20; ++c) at[c] = true;
        at[0x7f] = true;
        for (const unsigned char c : {' ', ',', ':', '{', '}', ';', '"'}) at[c] = true;
    }
};
constexpr TokenEnds kTokenEnds;

bool isSpace(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool isLineEnd(uint8_t c) { return c == '\n' || c == '\r'; }
bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

uint64_t skipBom(const uint8_t* data, uint64_t size) {
    return size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF ? 3 : 0;
}

uint64_t skipToLineEnd(const uint8_t* data, uint64_t size, uint64_t pos) {
    while (pos < size && !isLineEnd(data[pos])) ++pos;
    return pos;
}

// Skips white space, line ends and comments.
uint64_t skipSpaceAndComments(const uint8_t* data, uint64_t size, uint64_t pos) {
    while (pos < size) {
        if (isSpace(data[pos])) {
            ++pos;
        } else if (data[pos] == ';') {
            pos = skipToLineEnd(data, size, pos);
        } else {
            break;
        }
    }
    return pos;
}

// "; FBX 7.4.0 project file" -> 7400.
std::optional<uint32_t> versionComment(const uint8_t* data, uint64_t size, uint64_t pos) {
    const uint64_t lineEnd = skipToLineEnd(data, size, pos);
    ++pos;  // ';'
    while (pos < lineEnd && isBlank(data[pos])) ++pos;
    if (lineEnd - pos < 9 || std::memcmp(data + pos, "FBX", 3) != 0) return std::nullopt;
    pos += 3;
    while (pos < lineEnd && isBlank(data[pos])) ++pos;
    if (lineEnd - pos < 5) return std::nullopt;
    const uint8_t* v = data + pos;
    if (!isDigit(v[0]) || v[1] != '.' || !isDigit(v[2]) || v[3] != '.' || !isDigit(v[4])) return std::nullopt;
    return (v[0] - '0') * 1000u + (v[2] - '0') * 100u + (v[4] - '0') * 10u;
}

}  // namespace

std::optional<uint32_t> detectAsciiVersion(const uint8_t* data, uint64_t size, bool* reachedEnd) {
    bool ranOut = false;
    const auto answer = [&](std::optional<uint32_t> version) {
        if (reachedEnd != nullptr) *reachedEnd = ranOut;
        return version;
    };
    uint64_t pos = skipBom(data, size);
    while (pos < size && isSpace(data[pos])) ++pos;
    if (pos < size && data[pos] == ';') {
        if (const auto version = versionComment(data, size, pos)) return answer(version);
    }
    // Without the comment the text must open with a node, and its header names the version.
    pos = skipSpaceAndComments(data, size, pos);
    const uint64_t nameBegin = pos;
    while (pos < size && !kTokenEnds.at[data[pos]]) ++pos;
    while (pos < size && isBlank(data[pos])) ++pos;
    ranOut = pos == size;
    if (pos == nameBegin || pos == size || data[pos] != ':') return answer(std::nullopt);

    // The header extension comes first in every writer's output.
    constexpr std::string_view kKey = "FBXVersion:";
    constexpr uint64_t kHeaderWindow = uint64_t(1) << 20;
    const std::string_view head(reinterpret_cast<const char*>(data), static_cast<size_t>(std::min(size, kHeaderWindow)));
    const size_t key = head.find(kKey);
    if (key == std::string_view::npos) {
        ranOut = size < kHeaderWindow;
        return answer(std::nullopt);
    }
    size_t at = key + kKey.size();
    while (at < head.size() && isBlank(static_cast<uint8_t>(head[at]))) ++at;
    uint64_t version = 0;
    size_t digits = 0;
    for (; at < head.size() && isDigit(static_cast<uint8_t>(head[at])) && digits < 10; ++at, ++digits) {
        version = version * 10 + static_cast<uint64_t>(head[at] - '0');
    }
    ranOut = at == head.size();
    if (digits == 0 || version > UINT32_MAX) return answer(std::nullopt);
    return answer(static_cast<uint32_t>(version));
}

std::unique_ptr<Document> DocumentParser::parseAscii(uint32_t version) {
    // A node per line and four values per line at most in the node-dense files
    // (property lists); counting lines costs a memchr pass, growing the tables
    // past a low guess costs copies of hundreds of megabytes.
    uint64_t lines = 1;
    for (const uint8_t* p = data_; (p = static_cast<const uint8_t*>(std::memchr(p, '\n', data_ + size_ - p)));) {
        ++lines;
        ++p;
    }
    start(version, false, lines, lines * 4);
    stack_.push_back({0, Node::kNone, 0});
    auto& nodes = document_->nodes_;
    auto& properties = document_->properties_;
    uint64_t pos = skipBom(data_, size_);
    for (;;) {
        pos = skipSpaceAndComments(data_, size_, pos);
        if (pos == size_) {
            if (stack_.size() > 1) return refuse("Truncated file", size_);
            break;
        }
        if (data_[pos] == '}') {
            if (stack_.size() == 1) return refuse("Unexpected '}'", pos);
            stack_.pop_back();
            ++pos;
            continue;
        }
        const uint64_t nameBegin = pos;
        while (pos < size_ && !kTokenEnds.at[data_[pos]]) ++pos;
        if (pos == nameBegin) return refuse("Unexpected character " + describeByte(data_[pos]), pos);
        const std::string_view name(reinterpret_cast<const char*>(data_ + nameBegin), pos - nameBegin);
        while (pos < size_ && isBlank(data_[pos])) ++pos;
        if (pos == size_ || data_[pos] != ':') return refuse("Expected ':' after a node name", pos);
        ++pos;

        if (!addNode(stack_.back(), name, nameBegin)) return nullptr;
        const uint32_t node = stack_.back().lastChild;
        const size_t firstProperty = properties.size();
        bool opensBlock = false;
        if (!asciiProperties(pos, opensBlock)) return nullptr;
        nodes[node].propertyCount_ = static_cast<uint32_t>(properties.size() - firstProperty);
        if (opensBlock) {
            if (stack_.size() >= kMaxNestingDepth) {
                return refuse("Nodes nested deeper than " + std::to_string(kMaxNestingDepth) + " levels", pos - 1);
            }
            stack_.push_back({node, Node::kNone, pos - 1});
        }
    }
    return std::move(document_);
}

// Reads a node's values up to the end of its line, a '{' (consumed: the node has
// children) or a '}'. A line ending in a comma goes on: writers wrap long lists
// and put embedded data on the line after "Content: ,".
bool DocumentParser::asciiProperties(uint64_t& pos, bool& opensBlock) {
    bool continued = false;  // after a comma
    bool valueRead = false;  // a value since the last comma
    while (pos < size_) {
        const uint8_t c = data_[pos];
        if (isBlank(c)) {
            ++pos;
        } else if (isLineEnd(c)) {
            if (!continued) return true;
            ++pos;
        } else if (c == ';') {
            pos = skipToLineEnd(data_, size_, pos);
        } else if (c == ',') {
            continued = true;
            valueRead = false;
            ++pos;
        } else if (c == '{') {
            opensBlock = true;
            ++pos;
            return true;
        } else if (c == '}') {
            return true;
        } else {
            if (valueRead) return failAt("Expected ',' between values", pos);
            if (!asciiValue(pos)) return false;
            valueRead = true;
            continued = false;
        }
    }
    return true;
}

bool DocumentParser::asciiValue(uint64_t& pos) {
    auto& properties = document_->properties_;
    if (properties.size() >= Node::kNone) return failAt("Too many properties", pos);
    Property property;
    property.offset_ = pos;
    const uint8_t c = data_[pos];
    if (c == '"') {
        // No escapes: writers replace a quote inside a string with &quot;.
        const void* close = std::memchr(data_ + pos + 1, '"', size_ - pos - 1);
        if (close == nullptr) return failAt("Unterminated string", pos);
        const uint64_t closeAt = static_cast<uint64_t>(static_cast<const uint8_t*>(close) - data_);
        if (closeAt - pos - 1 > UINT32_MAX) return failAt("String longer than 4 GiB", pos);
        property.type_ = PropertyType::string;
        property.data_ = data_ + pos + 1;
        property.size_ = static_cast<uint32_t>(closeAt - pos - 1);
        pos = closeAt + 1;
    } else if (c == '*') {
        // "*N { a: v,v,... }": kept as text (from the '*' to the '}') until decoded.
        uint64_t at = pos + 1;
        uint64_t count = 0;
        const uint64_t digitsBegin = at;
        for (; at < size_ && isDigit(data_[at]); ++at) {
            if (at - digitsBegin >= 18) return failAt("Invalid array count", pos);
            count = count * 10 + (data_[at] - '0');
        }
        if (at == digitsBegin) return failAt("Invalid array", pos);
        while (at < size_ && isSpace(data_[at])) ++at;
        if (at == size_ || data_[at] != '{') return failAt("Invalid array", pos);
        const uint64_t open = at;
        const void* close = std::memchr(data_ + open, '}', size_ - open);
        if (close == nullptr) return failAt("Unterminated array", pos);
        const uint64_t closeAt = static_cast<uint64_t>(static_cast<const uint8_t*>(close) - data_);
        // Every value takes a character and every separator one more, so a count
        // past that is refused before a decoder would allocate for it.
        const uint64_t textSize = closeAt - open - 1;
        if (count > (textSize + 1) / 2 || count > UINT32_MAX) return failAt("Invalid array count", pos);
        if (closeAt + 1 - pos > UINT32_MAX) return failAt("Array longer than 4 GiB", pos);
        property.type_ = PropertyType::asciiArray;
        property.count_ = static_cast<uint32_t>(count);
        property.data_ = data_ + pos;
        property.size_ = static_cast<uint32_t>(closeAt + 1 - pos);
        pos = closeAt + 1;
    } else {
        const uint64_t begin = pos;
        while (pos < size_ && !kTokenEnds.at[data_[pos]]) ++pos;
        if (pos == begin) return failAt("Unexpected character " + describeByte(c), pos);
        if (pos - begin > UINT32_MAX) return failAt("Value longer than 4 GiB", begin);
        const bool numeric = isDigit(c) || c == '-' || c == '+' || c == '.';
        property.type_ = numeric ? PropertyType::asciiNumber : PropertyType::asciiWord;
        property.data_ = data_ + begin;
        property.size_ = pos - begin;
    }
    properties.push_back(property);
    return true;
}

}  // namespace lumbrix::fbx
