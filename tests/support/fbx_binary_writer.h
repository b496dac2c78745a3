#pragma once
// Binary FBX files built in memory for tests and benchmarks: nested nodes with
// typed properties, raw or zlib-compressed arrays, the 32-bit (before 7500) or
// 64-bit record layout, with or without the null records closing child lists.
//
//   FbxBinaryWriter writer(7500);
//   writer.beginNode("Geometry").addInt64(1).addString("Cube\0\x01Geometry");
//   writer.beginNode("Vertices").addArray(std::span<const double>(v), FbxArrayEncoding::zlib).endNode();
//   writer.endNode();
//   std::vector<uint8_t> file = writer.finish();
//
// Misuse (a property after a child, finish() with nodes open) throws std::logic_error.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace lumbrix::testing {

enum class FbxArrayEncoding { raw, zlib };

class FbxBinaryWriter {
public:
    // Versions from 7500 on use 64-bit record headers and 25-byte null records.
    // Without null records the child lists end at their end offsets only, as some
    // writers leave them; the top-level list keeps its null record either way.
    explicit FbxBinaryWriter(uint32_t version = 7400, bool nullRecords = true);

    FbxBinaryWriter& beginNode(std::string_view name);
    FbxBinaryWriter& endNode();

    FbxBinaryWriter& addInt16(int16_t value);      // 'Y'
    FbxBinaryWriter& addBool(uint8_t value);       // 'C': writers store 0/1 or 'T'/'Y'
    FbxBinaryWriter& addInt32(int32_t value);      // 'I'
    FbxBinaryWriter& addFloat(float value);        // 'F'
    FbxBinaryWriter& addDouble(double value);      // 'D'
    FbxBinaryWriter& addInt64(int64_t value);      // 'L'
    FbxBinaryWriter& addString(std::string_view value);            // 'S'
    FbxBinaryWriter& addRaw(std::span<const uint8_t> value);       // 'R'

    FbxBinaryWriter& addArray(std::span<const float> values, FbxArrayEncoding encoding = FbxArrayEncoding::raw);
    FbxBinaryWriter& addArray(std::span<const double> values, FbxArrayEncoding encoding = FbxArrayEncoding::raw);
    FbxBinaryWriter& addArray(std::span<const int32_t> values, FbxArrayEncoding encoding = FbxArrayEncoding::raw);
    FbxBinaryWriter& addArray(std::span<const int64_t> values, FbxArrayEncoding encoding = FbxArrayEncoding::raw);
    FbxBinaryWriter& addBoolArray(std::span<const uint8_t> values, FbxArrayEncoding encoding = FbxArrayEncoding::raw);
    FbxBinaryWriter& addCharArray(std::span<const uint8_t> values, FbxArrayEncoding encoding = FbxArrayEncoding::raw);

    // For malformed files: an array property whose header says whatever the test
    // wants (type, element count, encoding) followed by `payload` as its data.
    FbxBinaryWriter& addArrayRecord(char type, uint32_t count, uint32_t encoding, std::span<const uint8_t> payload);
    // A property of any type byte followed by `bytes` as is.
    FbxBinaryWriter& addPropertyBytes(char type, std::span<const uint8_t> bytes);

    // Bytes written so far: where the next node or property will start.
    size_t position() const { return bytes_.size(); }

    // Closes the top level (null record and footer) and returns the file.
    std::vector<uint8_t> finish();

    // zlib stream of `bytes` as FBX stores compressed arrays.
    static std::vector<uint8_t> zlibCompress(std::span<const uint8_t> bytes);

private:
    struct Open {
        size_t header;           // offset of the record
        size_t properties;       // offset of the first property
        uint64_t propertyCount;
        bool propertiesClosed;
        bool hasChildren;
    };

    void put(const void* data, size_t size);
    void putHeaderField(uint64_t value);
    void patchHeaderField(size_t offset, uint64_t value);
    void beginProperty(char type);
    void closeProperties(Open& node);
    void putNullRecord();
    template <class T>
    FbxBinaryWriter& addScalar(char type, T value);
    FbxBinaryWriter& addArrayBytes(char type, size_t count, const void* data, size_t size, FbxArrayEncoding encoding);

    uint32_t version_;
    bool nullRecords_;
    bool wide_;
    std::vector<uint8_t> bytes_;
    std::vector<Open> open_;
};

}  // namespace lumbrix::testing
