#pragma once
#if !defined(LUMBRIX_INSIDE_FBX) && !defined(LUMBRIX_TESTS)
#error "fbx/document_parser.h is internal to fbx/"
#endif
// Internal to fbx/: the node-table builder that the binary and ASCII readers fill.
//
// Both readers walk the file once with an explicit stack (never recursing on the
// file's nesting) and append to the document's flat node and property tables, so
// a node costs no allocation of its own.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fbx/fbx_document.h"

namespace lumbrix::fbx {

// Deepest nesting either reader accepts. Real files stay under ten levels; the cap
// keeps the parse stack (and anything that later walks the tree) small.
inline constexpr size_t kMaxNestingDepth = 1024;

// "what at byte N": the one-line error form every reader failure uses.
std::string errorAt(std::string_view what, uint64_t offset);

// A byte for an error text: 'x' when printable, else 0x1f.
std::string describeByte(uint8_t byte);

// The version an ASCII FBX file declares (7400 for "; FBX 7.4.0 project file", or
// its FBXVersion value); nothing when the text does not look like ASCII FBX at all.
// `reachedEnd` is set when the answer hung on bytes past `size`, which matters only
// when `data` is the start of a longer file.
std::optional<uint32_t> detectAsciiVersion(const uint8_t* data, uint64_t size, bool* reachedEnd = nullptr);

class DocumentParser {
public:
    DocumentParser(const uint8_t* data, uint64_t size, std::string& error);

    // The caller has checked the 23-byte magic.
    std::unique_ptr<Document> parseBinary();
    // The caller has read the version from the text's header and accepted it.
    std::unique_ptr<Document> parseAscii(uint32_t version);

private:
    // One open node list: whose children they are and the last child linked so far.
    struct Frame {
        uint32_t node;
        uint32_t lastChild;
        uint64_t end;  // binary: the parent's end offset; ASCII: the '{' offset
    };

    void start(uint32_t version, bool binary, uint64_t nodeEstimate, uint64_t propertyEstimate);
    // Appends a node under the frame's node; false when the table is full.
    bool addNode(Frame& frame, std::string_view name, uint64_t offset);
    bool fail(std::string text);
    bool failAt(std::string_view what, uint64_t offset) { return fail(errorAt(what, offset)); }
    std::unique_ptr<Document> refuse(std::string_view what, uint64_t offset) {
        failAt(what, offset);
        return nullptr;
    }

    bool binaryProperties(uint64_t begin, uint64_t end, uint64_t count);
    bool asciiProperties(uint64_t& pos, bool& opensBlock);
    bool asciiValue(uint64_t& pos);

    const uint8_t* data_;
    uint64_t size_;
    std::string& error_;
    std::unique_ptr<Document> document_;
    std::vector<Frame> stack_;
};

}  // namespace lumbrix::fbx
