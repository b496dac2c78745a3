#pragma once
// FBX document: the node tree of a binary (7.x) or ASCII FBX file.
//
// A Document indexes the caller's buffer without copying it: node names,
// strings and arrays are views into that buffer, which must outlive the
// Document. Arrays stay undecoded (still compressed, or still text) until
// someone asks for them, so a reader that needs a few arrays pays for those only.
// Parsing never recurses on the file's nesting and never reads outside the buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fbx/page_memory.h"

namespace lumbrix::fbx {

enum class PropertyType : char {
    int16 = 'Y',
    boolean = 'C',
    int32 = 'I',
    float32 = 'F',
    float64 = 'D',
    int64 = 'L',
    string = 'S',
    raw = 'R',
    float32Array = 'f',
    float64Array = 'd',
    int64Array = 'l',
    int32Array = 'i',
    boolArray = 'b',
    charArray = 'c',
    asciiNumber = '#',  // ASCII files: a number kept as its text
    asciiArray = '*',   // ASCII files: "*N { a: ... }" kept as its text
    asciiWord = 'W',    // ASCII files: a bare word such as T, Y or a letter
};

class Document;

class Property {
public:
    PropertyType type() const { return type_; }
    bool isArray() const;
    // Elements of an array property (as declared by the file); 0 for scalars.
    uint64_t arrayCount() const { return count_; }

    // Scalars converted to the asked type; 0 (or empty) when the property is not
    // of a numeric (or string) kind.
    int64_t toInt64() const;
    double toDouble() const;
    // S and R values: the bytes as stored; ASCII strings without their quotes.
    std::string_view toStringView() const;

    // Decodes an array into `out` (resized to arrayCount()), converting element
    // types as needed. Compressed data must inflate to exactly the declared size.
    // On failure returns false and sets `error` to a one-line text naming the
    // byte offset ("Corrupt compressed array at byte 1234").
    bool decode(std::vector<double>& out, std::string& error) const;
    bool decode(std::vector<float>& out, std::string& error) const;
    bool decode(std::vector<int32_t>& out, std::string& error) const;
    bool decode(std::vector<int64_t>& out, std::string& error) const;
    // The same into memory the caller owns, with room for arrayCount() elements
    // (which need no initialising); on failure its contents are unspecified.
    bool decodeTo(double* out, std::string& error) const;
    bool decodeTo(float* out, std::string& error) const;
    bool decodeTo(int32_t* out, std::string& error) const;
    bool decodeTo(int64_t* out, std::string& error) const;
    // Whether decode into doubles (or 32-bit ints) would succeed, with its error
    // when not, keeping nothing: what needs decoding goes to `scratch`, which
    // grows as needed and may be reused.
    bool checkDecodeAsDouble(PodArray<uint8_t>& scratch, std::string& error) const;
    bool checkDecodeAsInt32(PodArray<uint8_t>& scratch, std::string& error) const;

    // Offset of this property's first byte in the buffer (for error texts).
    uint64_t offset() const { return offset_; }

private:
    friend class DocumentParser;
    template <class T>
    bool decodeAs(std::vector<T>& out, std::string& error) const;
    template <class T>
    bool decodeToAs(T* out, std::string& error) const;
    template <class T>
    bool decodeInto(T* out, std::string& error) const;
    template <class T>
    bool checkDecodeAs(PodArray<uint8_t>& scratch, std::string& error) const;

    // 32 bytes: text files hold a property per dozen bytes, so this table is
    // the reader's largest. Binary counts and sizes are 32-bit in the file; the
    // text reader refuses anything larger.
    PropertyType type_ = PropertyType::int32;
    uint8_t encoding_ = 0;         // binary arrays: 0 raw, 1 deflate
    uint32_t count_ = 0;           // array element count
    uint32_t size_ = 0;            // bytes at data_
    const uint8_t* data_ = nullptr;
    uint64_t offset_ = 0;
};

class Node {
public:
    std::string_view name() const { return name_; }
    size_t propertyCount() const { return propertyCount_; }
    const Property& property(size_t i) const;  // i < propertyCount()

    const Node* firstChild() const;
    const Node* nextSibling() const;
    // First child with this name, or nullptr.
    const Node* child(std::string_view name) const;

    uint64_t offset() const { return offset_; }

private:
    friend class DocumentParser;
    const Document* document_ = nullptr;
    std::string_view name_;
    uint32_t firstProperty_ = 0;
    uint32_t propertyCount_ = 0;
    uint32_t firstChild_ = kNone;
    uint32_t nextSibling_ = kNone;
    uint64_t offset_ = 0;
    static constexpr uint32_t kNone = UINT32_MAX;
};

class Document {
public:
    Document() = default;
    // Nodes point back at their document, so a copy would read the original's tables.
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Parses `size` bytes at `data`. On failure returns nullptr and sets `error`
    // to one line saying what is wrong and where: "Not an FBX file",
    // "Unsupported FBX version 6100", "Truncated file at byte 1234", ...
    static std::unique_ptr<Document> parse(const uint8_t* data, uint64_t size, std::string& error);

    // The unnamed root whose children are the file's top-level nodes.
    const Node& root() const { return nodes_[0]; }
    uint32_t version() const { return version_; }  // 7100 ... 7700
    bool isBinary() const { return binary_; }

private:
    friend class DocumentParser;
    friend class Node;
    static std::unique_ptr<Document> parseBuffer(const uint8_t* data, uint64_t size, std::string& error);
    std::vector<Node> nodes_;
    std::vector<Property> properties_;
    uint32_t version_ = 0;
    bool binary_ = true;
};

// The error `Document::parse` gives for bytes that are neither binary nor ASCII FBX.
inline constexpr const char* kNotAnFBXFile = "Not an FBX file";

// Leading bytes that let `couldBeFBX` decide about any file a writer makes.
inline constexpr uint64_t kFBXHeadBytes = uint64_t(1) << 20;

// Whether a file that starts with `head` (its first `headSize` of `fileSize` bytes) may
// be FBX. False only when parsing the whole file would fail with kNotAnFBXFile, so a
// caller can turn any other file away after reading min(kFBXHeadBytes, fileSize) bytes.
bool couldBeFBX(const uint8_t* head, uint64_t headSize, uint64_t fileSize);

}  // namespace lumbrix::fbx
