// Binary FBX 7.x: node records with end offsets, typed properties, arrays kept
// as they are stored (raw or zlib) until someone decodes them.
#include <cstring>
#include <string>

#include "fbx/document_parser.h"

namespace lumbrix::fbx {

namespace {

constexpr uint64_t kBinaryHeaderSize = 27;  // magic (23 bytes) + version

// Deflate cannot expand its input more than 1032 times, so a compressed array
// claiming more bytes than that is refused before anyone allocates for it.
constexpr uint64_t kMaxInflateRatio = 1032;

template <class T>
T load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

uint64_t scalarSize(uint8_t type) {
    switch (type) {
    case 'C': return 1;
    case 'Y': return 2;
    case 'I':
    case 'F': return 4;
    case 'D':
    case 'L': return 8;
    default: return 0;
    }
}

uint64_t arrayElementSize(uint8_t type) {
    switch (type) {
    case 'b':
    case 'c': return 1;
    case 'i':
    case 'f': return 4;
    case 'd':
    case 'l': return 8;
    default: return 0;
    }
}

struct RecordHeader {
    uint64_t end = 0;
    uint64_t propertyCount = 0;
    uint64_t propertyBytes = 0;
    uint8_t nameSize = 0;
};

}  // namespace

std::unique_ptr<Document> DocumentParser::parseBinary() {
    if (size_ < kBinaryHeaderSize) {
        return refuse("Truncated file", size_);
    }
    const uint32_t version = load<uint32_t>(data_ + 23);
    if (version < 7000 || version > 7999) {
        fail("Unsupported FBX version " + std::to_string(version));
        return nullptr;
    }
    // 7.5 widened the three record header fields to 64 bits.
    const bool wide = version >= 7500;
    const uint64_t headerSize = wide ? 25 : 13;

    // Node-dense files run at about a node per 64 bytes and a property per 16;
    // files made of big arrays reserve more than they touch, which costs nothing.
    start(version, true, size_ / 64, size_ / 16);
    stack_.push_back({0, Node::kNone, size_});
    uint64_t pos = kBinaryHeaderSize;
    for (;;) {
        const bool topLevel = stack_.size() == 1;
        const uint64_t listEnd = stack_.back().end;
        if (pos == listEnd) {
            // Every writer closes the top level with a null record before the
            // footer; without it the file was cut at a record boundary.
            if (topLevel) return refuse("Truncated file", size_);
            stack_.pop_back();
            continue;
        }
        if (listEnd - pos < headerSize) {
            if (topLevel) return refuse("Truncated file", size_);
            return refuse("Invalid node record", pos);
        }

        RecordHeader record;
        const uint8_t* h = data_ + pos;
        if (wide) {
            record = {load<uint64_t>(h), load<uint64_t>(h + 8), load<uint64_t>(h + 16), h[24]};
        } else {
            record = {load<uint32_t>(h), load<uint32_t>(h + 4), load<uint32_t>(h + 8), h[12]};
        }

        if (record.end == 0) {
            // The null record ending a list of children.
            if (record.propertyCount != 0 || record.propertyBytes != 0 || record.nameSize != 0) {
                return refuse("Invalid node record", pos);
            }
            if (topLevel) break;  // the footer that follows carries nothing we need
            // The parent's end offset is the authority, whatever follows the marker.
            pos = listEnd;
            stack_.pop_back();
            continue;
        }

        if (record.end > listEnd) {
            if (record.end > size_) return refuse("Truncated file", size_);
            return refuse("Invalid node record", pos);
        }
        const uint64_t propertiesBegin = pos + headerSize + record.nameSize;
        // Every property takes at least two bytes (a type and a one-byte value).
        if (record.end < propertiesBegin || record.propertyBytes > record.end - propertiesBegin ||
            record.propertyCount > record.propertyBytes / 2) {
            return refuse("Invalid node record", pos);
        }
        const std::string_view name(reinterpret_cast<const char*>(h + headerSize), record.nameSize);
        if (!addNode(stack_.back(), name, pos)) return nullptr;
        const uint32_t node = stack_.back().lastChild;
        const uint64_t propertiesEnd = propertiesBegin + record.propertyBytes;
        if (!binaryProperties(propertiesBegin, propertiesEnd, record.propertyCount)) return nullptr;
        document_->nodes_[node].propertyCount_ = static_cast<uint32_t>(record.propertyCount);

        pos = propertiesEnd;
        if (pos < record.end) {
            if (stack_.size() >= kMaxNestingDepth) {
                return refuse("Nodes nested deeper than " + std::to_string(kMaxNestingDepth) + " levels", pos);
            }
            stack_.push_back({node, Node::kNone, record.end});
        }
    }
    return std::move(document_);
}

bool DocumentParser::binaryProperties(uint64_t begin, uint64_t end, uint64_t count) {
    auto& properties = document_->properties_;
    if (count > Node::kNone - properties.size()) return failAt("Too many properties", begin);
    uint64_t pos = begin;
    for (uint64_t i = 0; i < count; ++i) {
        if (pos >= end) return failAt("Invalid property list", begin);
        const uint8_t type = data_[pos];
        Property property;
        property.offset_ = pos;
        property.type_ = static_cast<PropertyType>(type);
        ++pos;
        if (const uint64_t size = scalarSize(type); size != 0) {
            if (end - pos < size) return failAt("Invalid property", property.offset_);
            property.data_ = data_ + pos;
            property.size_ = static_cast<uint32_t>(size);
            pos += size;
        } else if (type == 'S' || type == 'R') {
            if (end - pos < 4) return failAt("Invalid property", property.offset_);
            const uint64_t length = load<uint32_t>(data_ + pos);
            pos += 4;
            if (end - pos < length) return failAt("Invalid property", property.offset_);
            property.data_ = data_ + pos;
            property.size_ = static_cast<uint32_t>(length);
            pos += length;
        } else if (const uint64_t elementSize = arrayElementSize(type); elementSize != 0) {
            if (end - pos < 12) return failAt("Invalid property", property.offset_);
            const uint64_t elements = load<uint32_t>(data_ + pos);
            const uint32_t encoding = load<uint32_t>(data_ + pos + 4);
            const uint64_t stored = load<uint32_t>(data_ + pos + 8);
            pos += 12;
            if (end - pos < stored) return failAt("Invalid property", property.offset_);
            const uint64_t bytes = elements * elementSize;  // < 2^35: no overflow
            if (encoding == 0) {
                if (bytes != stored) return failAt("Invalid array size", property.offset_);
            } else if (encoding == 1) {
                if (bytes > stored * kMaxInflateRatio) return failAt("Invalid array size", property.offset_);
            } else {
                return failAt("Unsupported array encoding " + std::to_string(encoding), property.offset_);
            }
            property.count_ = static_cast<uint32_t>(elements);
            property.encoding_ = static_cast<uint8_t>(encoding);
            property.data_ = data_ + pos;
            property.size_ = static_cast<uint32_t>(stored);
            pos += stored;
        } else {
            return failAt("Unknown property type " + describeByte(type), property.offset_);
        }
        properties.push_back(property);
    }
    if (pos != end) return failAt("Invalid property list", begin);
    return true;
}

}  // namespace lumbrix::fbx
