#include "fbx/fbx_document.h"

#include <algorithm>
#include <bit>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <locale.h>

#include "fbx/document_number.h"
#include "fbx/document_parser.h"

namespace lumbrix::fbx {

static_assert(std::endian::native == std::endian::little, "binary FBX values are read in place as little-endian");
static_assert(sizeof(Property) == 32, "the property table dominates memory on text files");

namespace {

constexpr char kBinaryMagic[] = "Kaydara FBX Binary  \0\x1a";  // + the terminating NUL: 23 bytes
constexpr size_t kBinaryMagicSize = sizeof kBinaryMagic;
static_assert(kBinaryMagicSize == 23);

template <class T>
T load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// The property a caller gets for an index past the end: reads as 0 and "".
const Property kMissingProperty{};

}  // namespace

std::string errorAt(std::string_view what, uint64_t offset) {
    std::string text(what);
    text += " at byte ";
    text += std::to_string(offset);
    return text;
}

std::string describeByte(uint8_t byte) {
    static const char kHex[] = "0123456789abcdef";
    if (byte >= 0x20 && byte < 0x7f) return std::string{'\'', static_cast<char>(byte), '\''};
    return std::string{'0', 'x', kHex[byte >> 4], kHex[byte & 15]};
}

double number::parseOutOfRange(const char* first, const char* last) {
    // Only reached for values past double's range, which real files do not hold.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    std::string copy(first, last);
    return strtod_l(copy.c_str(), nullptr, cLocale);
}

std::unique_ptr<Document> Document::parse(const uint8_t* data, uint64_t size, std::string& error) {
    try {
        return parseBuffer(data, size, error);
    } catch (const std::bad_alloc&) {
        error = "Out of memory reading the FBX file";
        return nullptr;
    }
}

std::unique_ptr<Document> Document::parseBuffer(const uint8_t* data, uint64_t size, std::string& error) {
    error.clear();
    DocumentParser parser(data, size, error);
    if (size >= kBinaryMagicSize && std::memcmp(data, kBinaryMagic, kBinaryMagicSize) == 0) {
        return parser.parseBinary();
    }
    const std::optional<uint32_t> version = detectAsciiVersion(data, size);
    if (!version) {
        error = kNotAnFBXFile;
        return nullptr;
    }
    if (*version < 7000 || *version > 7999) {
        error = "Unsupported FBX version " + std::to_string(*version);
        return nullptr;
    }
    return parser.parseAscii(*version);
}

bool couldBeFBX(const uint8_t* head, uint64_t headSize, uint64_t fileSize) {
    headSize = std::min(headSize, fileSize);
    // Too few bytes to tell: only the whole file can say.
    if (headSize < std::min(fileSize, kFBXHeadBytes)) return true;
    if (headSize >= kBinaryMagicSize && std::memcmp(head, kBinaryMagic, kBinaryMagicSize) == 0) return true;
    bool reachedEnd = false;
    if (detectAsciiVersion(head, headSize, &reachedEnd)) return true;
    return headSize < fileSize && reachedEnd;
}

// ---- Node -------------------------------------------------------------------

const Property& Node::property(size_t i) const {
    if (i >= propertyCount_) return kMissingProperty;
    return document_->properties_[firstProperty_ + i];
}

const Node* Node::firstChild() const {
    return firstChild_ == kNone ? nullptr : &document_->nodes_[firstChild_];
}

const Node* Node::nextSibling() const {
    return nextSibling_ == kNone ? nullptr : &document_->nodes_[nextSibling_];
}

const Node* Node::child(std::string_view name) const {
    for (const Node* node = firstChild(); node != nullptr; node = node->nextSibling()) {
        if (node->name_ == name) return node;
    }
    return nullptr;
}

// ---- Property scalars ---------------------------------------------------------

bool Property::isArray() const {
    switch (type_) {
    case PropertyType::float32Array:
    case PropertyType::float64Array:
    case PropertyType::int64Array:
    case PropertyType::int32Array:
    case PropertyType::boolArray:
    case PropertyType::charArray:
    case PropertyType::asciiArray:
        return true;
    default:
        return false;
    }
}

int64_t Property::toInt64() const {
    int64_t value = 0;
    switch (type_) {
    case PropertyType::int16:
        return load<int16_t>(data_);
    case PropertyType::boolean:
        return data_[0];
    case PropertyType::int32:
        return size_ == 4 ? load<int32_t>(data_) : 0;
    case PropertyType::int64:
        return load<int64_t>(data_);
    case PropertyType::float32:
        number::fromFloating(static_cast<double>(load<float>(data_)), value);
        return value;
    case PropertyType::float64:
        number::fromFloating(load<double>(data_), value);
        return value;
    case PropertyType::asciiNumber: {
        const char* text = reinterpret_cast<const char*>(data_);
        const char* end = text + size_;
        return number::parse(text, end, value) == end ? value : 0;
    }
    default:
        return 0;
    }
}

double Property::toDouble() const {
    switch (type_) {
    case PropertyType::int16:
        return load<int16_t>(data_);
    case PropertyType::boolean:
        return data_[0];
    case PropertyType::int32:
        return size_ == 4 ? load<int32_t>(data_) : 0;
    case PropertyType::int64:
        return static_cast<double>(load<int64_t>(data_));
    case PropertyType::float32:
        return load<float>(data_);
    case PropertyType::float64:
        return load<double>(data_);
    case PropertyType::asciiNumber: {
        const char* text = reinterpret_cast<const char*>(data_);
        const char* end = text + size_;
        double value = 0;
        return number::parse(text, end, value) == end ? value : 0;
    }
    default:
        return 0;
    }
}

std::string_view Property::toStringView() const {
    switch (type_) {
    case PropertyType::string:
    case PropertyType::raw:
    case PropertyType::asciiWord:
        return {reinterpret_cast<const char*>(data_), static_cast<size_t>(size_)};
    default:
        return {};
    }
}

// ---- Builder ------------------------------------------------------------------

DocumentParser::DocumentParser(const uint8_t* data, uint64_t size, std::string& error)
    : data_(data), size_(size), error_(error) {}

void DocumentParser::start(uint32_t version, bool binary, uint64_t nodeEstimate, uint64_t propertyEstimate) {
    document_ = std::make_unique<Document>();
    document_->version_ = version;
    document_->binary_ = binary;
    // Estimates only: a low guess costs vector growths (copies of the tables), a
    // high one address space that is never touched. The caps keep a multi-gigabyte
    // file of big arrays from asking for more address space than the machine has.
    constexpr uint64_t kMaxNodeReserve = uint64_t(1) << 23;       // 384 MiB of nodes
    constexpr uint64_t kMaxPropertyReserve = uint64_t(1) << 24;   // 512 MiB of properties
    document_->nodes_.reserve(static_cast<size_t>(std::min(nodeEstimate, kMaxNodeReserve)) + 1);
    document_->properties_.reserve(static_cast<size_t>(std::min(propertyEstimate, kMaxPropertyReserve)));
    Node root;
    root.document_ = document_.get();
    document_->nodes_.push_back(root);
    stack_.clear();
}

bool DocumentParser::addNode(Frame& frame, std::string_view name, uint64_t offset) {
    auto& nodes = document_->nodes_;
    if (nodes.size() >= Node::kNone) return failAt("Too many nodes", offset);
    const auto index = static_cast<uint32_t>(nodes.size());
    Node node;
    node.document_ = document_.get();
    node.name_ = name;
    node.offset_ = offset;
    node.firstProperty_ = static_cast<uint32_t>(document_->properties_.size());
    nodes.push_back(node);
    if (frame.lastChild == Node::kNone) {
        nodes[frame.node].firstChild_ = index;
    } else {
        nodes[frame.lastChild].nextSibling_ = index;
    }
    frame.lastChild = index;
    return true;
}

bool DocumentParser::fail(std::string text) {
    error_ = std::move(text);
    document_.reset();
    return false;
}

}  // namespace lumbrix::fbx
