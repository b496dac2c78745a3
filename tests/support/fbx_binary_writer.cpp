#include "tests/support/fbx_binary_writer.h"

#include <libdeflate.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace lumbrix::testing {

namespace {

constexpr char kMagic[] = "Kaydara FBX Binary  \0\x1a";  // 23 bytes with the final NUL

struct CompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

}  // namespace

FbxBinaryWriter::FbxBinaryWriter(uint32_t version, bool nullRecords)
    : version_(version), nullRecords_(nullRecords), wide_(version >= 7500) {
    put(kMagic, sizeof kMagic);
    put(&version_, sizeof version_);
}

void FbxBinaryWriter::put(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
}

void FbxBinaryWriter::putHeaderField(uint64_t value) {
    if (wide_) {
        put(&value, 8);
    } else {
        const auto narrow = static_cast<uint32_t>(value);
        put(&narrow, 4);
    }
}

void FbxBinaryWriter::patchHeaderField(size_t offset, uint64_t value) {
    if (wide_) {
        std::memcpy(bytes_.data() + offset, &value, 8);
    } else {
        const auto narrow = static_cast<uint32_t>(value);
        std::memcpy(bytes_.data() + offset, &narrow, 4);
    }
}

void FbxBinaryWriter::putNullRecord() { bytes_.insert(bytes_.end(), wide_ ? 25 : 13, 0); }

void FbxBinaryWriter::closeProperties(Open& node) {
    if (node.propertiesClosed) return;
    const size_t field = wide_ ? 8 : 4;
    patchHeaderField(node.header + field, node.propertyCount);
    patchHeaderField(node.header + 2 * field, bytes_.size() - node.properties);
    node.propertiesClosed = true;
}

FbxBinaryWriter& FbxBinaryWriter::beginNode(std::string_view name) {
    if (name.size() > 255) throw std::logic_error("FBX node names hold at most 255 bytes");
    if (!open_.empty()) {
        closeProperties(open_.back());
        open_.back().hasChildren = true;
    }
    Open node{bytes_.size(), 0, 0, false, false};
    putHeaderField(0);  // end offset, patched by endNode
    putHeaderField(0);  // property count, patched when the properties end
    putHeaderField(0);  // property bytes, likewise
    const auto nameSize = static_cast<uint8_t>(name.size());
    put(&nameSize, 1);
    put(name.data(), name.size());
    node.properties = bytes_.size();
    open_.push_back(node);
    return *this;
}

FbxBinaryWriter& FbxBinaryWriter::endNode() {
    if (open_.empty()) throw std::logic_error("endNode without beginNode");
    Open& node = open_.back();
    closeProperties(node);
    if (node.hasChildren && nullRecords_) putNullRecord();
    patchHeaderField(node.header, bytes_.size());
    open_.pop_back();
    return *this;
}

void FbxBinaryWriter::beginProperty(char type) {
    if (open_.empty()) throw std::logic_error("a property needs an open node");
    Open& node = open_.back();
    if (node.propertiesClosed) throw std::logic_error("properties must come before a node's children");
    ++node.propertyCount;
    put(&type, 1);
}

template <class T>
FbxBinaryWriter& FbxBinaryWriter::addScalar(char type, T value) {
    beginProperty(type);
    put(&value, sizeof value);
    return *this;
}

FbxBinaryWriter& FbxBinaryWriter::addInt16(int16_t value) { return addScalar('Y', value); }
FbxBinaryWriter& FbxBinaryWriter::addBool(uint8_t value) { return addScalar('C', value); }
FbxBinaryWriter& FbxBinaryWriter::addInt32(int32_t value) { return addScalar('I', value); }
FbxBinaryWriter& FbxBinaryWriter::addFloat(float value) { return addScalar('F', value); }
FbxBinaryWriter& FbxBinaryWriter::addDouble(double value) { return addScalar('D', value); }
FbxBinaryWriter& FbxBinaryWriter::addInt64(int64_t value) { return addScalar('L', value); }

FbxBinaryWriter& FbxBinaryWriter::addString(std::string_view value) {
    return addPropertyBytes('S', {reinterpret_cast<const uint8_t*>(value.data()), value.size()});
}

FbxBinaryWriter& FbxBinaryWriter::addRaw(std::span<const uint8_t> value) { return addPropertyBytes('R', value); }

FbxBinaryWriter& FbxBinaryWriter::addPropertyBytes(char type, std::span<const uint8_t> bytes) {
    beginProperty(type);
    if (type == 'S' || type == 'R') {
        const auto size = static_cast<uint32_t>(bytes.size());
        put(&size, 4);
    }
    put(bytes.data(), bytes.size());
    return *this;
}

std::vector<uint8_t> FbxBinaryWriter::zlibCompress(std::span<const uint8_t> bytes) {
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(libdeflate_alloc_compressor(6));
    if (!compressor) throw std::bad_alloc();
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), bytes.size()));
    const size_t size = libdeflate_zlib_compress(compressor.get(), bytes.data(), bytes.size(), out.data(), out.size());
    if (size == 0) throw std::logic_error("zlib compression did not fit its bound");
    out.resize(size);
    return out;
}

FbxBinaryWriter& FbxBinaryWriter::addArrayBytes(char type, size_t count, const void* data, size_t size,
                                                FbxArrayEncoding encoding) {
    const std::span<const uint8_t> raw(static_cast<const uint8_t*>(data), size);
    if (encoding == FbxArrayEncoding::raw) return addArrayRecord(type, static_cast<uint32_t>(count), 0, raw);
    const std::vector<uint8_t> packed = zlibCompress(raw);
    return addArrayRecord(type, static_cast<uint32_t>(count), 1, packed);
}

FbxBinaryWriter& FbxBinaryWriter::addArrayRecord(char type, uint32_t count, uint32_t encoding,
                                                 std::span<const uint8_t> payload) {
    beginProperty(type);
    const auto stored = static_cast<uint32_t>(payload.size());
    put(&count, 4);
    put(&encoding, 4);
    put(&stored, 4);
    put(payload.data(), payload.size());
    return *this;
}

FbxBinaryWriter& FbxBinaryWriter::addArray(std::span<const float> values, FbxArrayEncoding encoding) {
    return addArrayBytes('f', values.size(), values.data(), values.size_bytes(), encoding);
}
FbxBinaryWriter& FbxBinaryWriter::addArray(std::span<const double> values, FbxArrayEncoding encoding) {
    return addArrayBytes('d', values.size(), values.data(), values.size_bytes(), encoding);
}
FbxBinaryWriter& FbxBinaryWriter::addArray(std::span<const int32_t> values, FbxArrayEncoding encoding) {
    return addArrayBytes('i', values.size(), values.data(), values.size_bytes(), encoding);
}
FbxBinaryWriter& FbxBinaryWriter::addArray(std::span<const int64_t> values, FbxArrayEncoding encoding) {
    return addArrayBytes('l', values.size(), values.data(), values.size_bytes(), encoding);
}
FbxBinaryWriter& FbxBinaryWriter::addBoolArray(std::span<const uint8_t> values, FbxArrayEncoding encoding) {
    return addArrayBytes('b', values.size(), values.data(), values.size_bytes(), encoding);
}
FbxBinaryWriter& FbxBinaryWriter::addCharArray(std::span<const uint8_t> values, FbxArrayEncoding encoding) {
    return addArrayBytes('c', values.size(), values.data(), values.size_bytes(), encoding);
}

std::vector<uint8_t> FbxBinaryWriter::finish() {
    if (!open_.empty()) throw std::logic_error("finish with nodes still open");
    putNullRecord();
    // A footer shaped like real writers' (padding to 16 bytes, the version, zeros);
    // readers take nothing from it.
    bytes_.insert(bytes_.end(), 16 - bytes_.size() % 16, 0);
    put(&version_, sizeof version_);
    bytes_.insert(bytes_.end(), 120, 0);
    return std::move(bytes_);
}

}  // namespace lumbrix::testing
