// Hostile input: files from anywhere must parse or fail with one line naming the
// problem and its byte, without reading outside the buffer, allocating for counts
// the file cannot back, or recursing on its nesting.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_document.h"
#include "tests/support/fbx_binary_writer.h"
#include "tests/support/test_corpus.h"

namespace lumbrix::fbx {
namespace {

using testing::FbxArrayEncoding;
using testing::FbxBinaryWriter;

struct Parsed {
    std::vector<uint8_t> bytes;  // the document views them
    std::unique_ptr<Document> document;
    std::string error;
};

Parsed parse(std::vector<uint8_t> bytes) {
    Parsed parsed{std::move(bytes), nullptr, {}};
    parsed.document = Document::parse(parsed.bytes.data(), parsed.bytes.size(), parsed.error);
    return parsed;
}

std::string errorOf(std::vector<uint8_t> bytes) {
    const Parsed parsed = parse(std::move(bytes));
    EXPECT_EQ(parsed.document, nullptr);
    return parsed.error;
}

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <class T>
void put(std::vector<uint8_t>& bytes, size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// Visits every node without recursion and decodes every array into every type;
// whatever a document holds must be safe to read.
void readEverything(const Document& document) {
    std::vector<const Node*> pending{&document.root()};
    std::vector<double> doubles;
    std::vector<float> floats;
    std::vector<int32_t> ints;
    std::vector<int64_t> longs;
    std::string error;
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        for (size_t i = 0; i < node->propertyCount(); ++i) {
            const Property& property = node->property(i);
            (void)property.toInt64();
            (void)property.toDouble();
            (void)property.toStringView();
            if (!property.isArray()) continue;
            if (property.decode(doubles, error)) {
                EXPECT_EQ(doubles.size(), property.arrayCount());
            }
            if (property.decode(floats, error)) {
                EXPECT_EQ(floats.size(), property.arrayCount());
            }
            if (property.decode(ints, error)) {
                EXPECT_EQ(ints.size(), property.arrayCount());
            }
            if (!property.decode(longs, error)) {
                EXPECT_FALSE(error.empty());
                EXPECT_EQ(error.find('\n'), std::string::npos) << error;
            }
        }
        for (const Node* child = node->firstChild(); child != nullptr; child = child->nextSibling()) {
            pending.push_back(child);
        }
    }
}

void expectCleanOutcome(const Parsed& parsed) {
    if (parsed.document) {
        readEverything(*parsed.document);
    } else {
        EXPECT_FALSE(parsed.error.empty());
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
    }
}

// A small file touching every record kind: nested children, each array encoding.
std::vector<uint8_t> sampleFile(uint32_t version, bool nullRecords, size_t* topLevelEnd = nullptr) {
    const std::vector<double> doubles = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<int32_t> ints = {0, 1, 2, -4};
    FbxBinaryWriter writer(version, nullRecords);
    writer.beginNode("Header").addInt32(1003).addString("text");
    writer.beginNode("Child").addArray(std::span<const double>(doubles), FbxArrayEncoding::zlib).endNode();
    writer.endNode();
    writer.beginNode("Objects");
    writer.beginNode("Geometry").addInt64(7).addArray(std::span<const int32_t>(ints)).endNode();
    writer.endNode();
    const size_t end = writer.position() + (version >= 7500 ? 25 : 13);
    if (topLevelEnd != nullptr) *topLevelEnd = end;
    return writer.finish();
}

TEST(FbxDocumentRobustness, InputWithoutMagicOrHeaderIsNotFbx) {
    EXPECT_EQ(errorOf({}), "Not an FBX file");
    EXPECT_EQ(errorOf(bytesOf("hello world")), "Not an FBX file");
    EXPECT_EQ(errorOf(bytesOf("v 1 2 3\nf 1 2 3\n")), "Not an FBX file");
    EXPECT_EQ(errorOf(bytesOf("Kaydara FBX Binary")), "Not an FBX file");
    // A binary whose zero bytes all became spaces (a real corrupted download).
    EXPECT_EQ(errorOf(bytesOf("Kaydara FBX Binary   \x1a \xe8\x1c  ")), "Not an FBX file");

    std::mt19937 random(1234);
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> bytes(random() % 300);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
        EXPECT_EQ(errorOf(bytes), "Not an FBX file");
    }
}

TEST(FbxDocumentRobustness, EveryPrefixOfABinaryFileFailsAsTruncated) {
    for (const uint32_t version : {7400u, 7500u}) {
        for (const bool nullRecords : {true, false}) {
            size_t topLevelEnd = 0;
            const std::vector<uint8_t> file = sampleFile(version, nullRecords, &topLevelEnd);
            for (size_t length = 0; length < file.size(); ++length) {
                const Parsed parsed = parse({file.begin(), file.begin() + static_cast<ptrdiff_t>(length)});
                if (length < 23) {
                    EXPECT_EQ(parsed.error, "Not an FBX file") << length;
                } else if (length < topLevelEnd) {
                    EXPECT_EQ(parsed.error, "Truncated file at byte " + std::to_string(length)) << length;
                } else {
                    // Only the footer is missing, and nothing is read from it.
                    ASSERT_NE(parsed.document, nullptr) << length << ": " << parsed.error;
                    readEverything(*parsed.document);
                }
            }
        }
    }
}

// A binary file cut anywhere before its footer says where it ends.
void expectBinaryPrefixesTruncated(const std::filesystem::path& path) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> file = readFile(path);
    ASSERT_GT(file.size(), 1000u);
    size_t firstSuccess = file.size();
    for (size_t length = 23; length < file.size(); ++length) {
        const Parsed parsed = parse({file.begin(), file.begin() + static_cast<ptrdiff_t>(length)});
        if (parsed.document) {
            firstSuccess = std::min(firstSuccess, length);
            continue;
        }
        EXPECT_EQ(parsed.error, "Truncated file at byte " + std::to_string(length));
        EXPECT_EQ(firstSuccess, file.size()) << "a shorter prefix parsed";
    }
    EXPECT_GT(firstSuccess + 200, file.size());  // only footer bytes may go missing
}

// Text has no length to check against: any prefix parses or fails with a message.
void expectTextPrefixesClean(const std::filesystem::path& path) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> text = readFile(path);
    ASSERT_GT(text.size(), 1000u);
    for (size_t length = 0; length < text.size(); ++length) {
        expectCleanOutcome(parse({text.begin(), text.begin() + static_cast<ptrdiff_t>(length)}));
    }
}

void expectMutationsClean(const std::filesystem::path& path, std::mt19937& random) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> file = readFile(path);
    ASSERT_FALSE(file.empty());
    for (int round = 0; round < 1500; ++round) {
        std::vector<uint8_t> bytes = file;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        expectCleanOutcome(parse(std::move(bytes)));
    }
}

TEST(FbxDocumentRobustness, EveryPrefixOfOurExportsFailsCleanly) {
    expectBinaryPrefixesTruncated(test::testData("generated/blender/bl_b_cube_uv.fbx"));
    expectBinaryPrefixesTruncated(test::testData("generated/assimp/as_quad_binary.fbx"));
    expectTextPrefixesClean(test::testData("generated/assimp/as_quad_ascii.fbx"));
}

TEST(FbxDocumentRobustness, EveryPrefixOfASharedTextFileFailsCleanly) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    expectTextPrefixesClean(test::sharedCorpus("third_party/ufbx/data/maya_cube_7400_ascii.fbx"));
}

TEST(FbxDocumentRobustness, MutatedSharedFilesParseOrFailCleanly) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    std::mt19937 random(98);
    expectMutationsClean(test::sharedCorpus("third_party/ufbx/data/maya_cube_7400_ascii.fbx"), random);
}

TEST(FbxDocumentRobustness, MutatedFilesParseOrFailCleanly) {
    std::mt19937 random(99);
    for (const char* name : {"generated/blender/bl_b_cube_uv.fbx", "generated/assimp/as_quad_binary.fbx",
                             "generated/assimp/as_quad_ascii.fbx"}) {
        expectMutationsClean(test::testData(name), random);
    }
    // Valid headers followed by noise.
    for (int round = 0; round < 3000; ++round) {
        FbxBinaryWriter writer(round % 2 ? 7400 : 7500);
        std::vector<uint8_t> bytes = writer.finish();
        bytes.resize(27);
        const size_t tail = random() % 400;
        for (size_t i = 0; i < tail; ++i) bytes.push_back(static_cast<uint8_t>(random() % 4 ? random() % 8 : random()));
        expectCleanOutcome(parse(std::move(bytes)));
    }
}

TEST(FbxDocumentRobustness, CorruptCompressedArraysFailWhenDecoded) {
    std::vector<double> values(500);
    for (size_t i = 0; i < values.size(); ++i) values[i] = double(i) * 0.25;
    const std::span<const uint8_t> raw(reinterpret_cast<const uint8_t*>(values.data()), values.size() * 8);
    const std::vector<uint8_t> packed = FbxBinaryWriter::zlibCompress(raw);
    const auto count = static_cast<uint32_t>(values.size());

    std::vector<uint8_t> flipped = packed;
    flipped[flipped.size() / 2] ^= 0x55;
    std::vector<uint8_t> badChecksum = packed;
    badChecksum.back() ^= 1;
    const std::vector<uint8_t> cut(packed.begin(), packed.end() - 4);
    const std::vector<uint8_t> noise(64, 0xA7);

    FbxBinaryWriter writer(7500);
    writer.beginNode("N");
    std::vector<size_t> offsets;
    const auto add = [&](uint32_t declared, std::span<const uint8_t> payload) {
        offsets.push_back(writer.position());
        writer.addArrayRecord('d', declared, 1, payload);
    };
    add(count, packed);      // intact
    add(count, flipped);     // damaged deflate data
    add(count, badChecksum); // damaged adler32
    add(count, cut);         // stream cut short
    add(count + 1, packed);  // inflates to less than declared
    add(count - 1, packed);  // inflates to more than declared
    add(8, noise);           // not zlib at all
    writer.endNode();
    const Parsed parsed = parse(writer.finish());
    ASSERT_NE(parsed.document, nullptr) << parsed.error;
    const Node& node = *parsed.document->root().child("N");

    std::vector<double> doubles;
    std::vector<int32_t> ints;
    std::string error;
    ASSERT_TRUE(node.property(0).decode(doubles, error)) << error;
    EXPECT_EQ(doubles, values);
    for (size_t i = 1; i < offsets.size(); ++i) {
        const std::string expected = "Corrupt compressed array at byte " + std::to_string(offsets[i]);
        EXPECT_FALSE(node.property(i).decode(doubles, error)) << i;
        EXPECT_EQ(error, expected) << i;
        EXPECT_TRUE(doubles.empty());
        // Same through the path that inflates into a scratch buffer and converts.
        EXPECT_FALSE(node.property(i).decode(ints, error)) << i;
        EXPECT_EQ(error, expected) << i;
    }
}

TEST(FbxDocumentRobustness, ArrayHeadersMustMatchTheirData) {
    const std::vector<uint8_t> sixteen(16, 0);
    const std::vector<uint8_t> small = FbxBinaryWriter::zlibCompress(sixteen);
    struct Case {
        char type;
        uint32_t count;
        uint32_t encoding;
        std::vector<uint8_t> payload;
        std::string error;  // before " at byte <property offset>"
    };
    const Case cases[] = {
        {'d', 5, 0, sixteen, "Invalid array size"},               // 40 bytes declared, 16 stored
        {'i', 3, 0, sixteen, "Invalid array size"},
        {'d', 0xFFFFFFFFu, 0, sixteen, "Invalid array size"},     // count bomb, raw
        {'d', 0xFFFFFFFFu, 1, small, "Invalid array size"},       // count bomb, deflate cannot expand that far
        {'l', 2, 2, sixteen, "Unsupported array encoding 2"},
        {'x', 2, 0, sixteen, "Unknown property type 'x'"},
    };
    for (const Case& c : cases) {
        FbxBinaryWriter writer(7400);
        writer.beginNode("N").addInt32(1);
        const size_t offset = writer.position();
        writer.addArrayRecord(c.type, c.count, c.encoding, c.payload).endNode();
        EXPECT_EQ(errorOf(writer.finish()), c.error + " at byte " + std::to_string(offset)) << c.type << c.count;
    }
    // A stored size running past the node.
    FbxBinaryWriter writer(7400);
    writer.beginNode("N");
    const size_t offset = writer.position();
    writer.addArrayRecord('b', 16, 0, sixteen).endNode();
    std::vector<uint8_t> bytes = writer.finish();
    put<uint32_t>(bytes, offset + 9, 0xFFFFFFF0u);
    EXPECT_EQ(errorOf(bytes), "Invalid property at byte " + std::to_string(offset));
}

TEST(FbxDocumentRobustness, RecordsMustStayInsideTheirParent) {
    // 7400 layout: end offset at +0, property count at +4, property bytes at +8.
    size_t parent = 0, child = 0, string = 0, sibling = 0;
    FbxBinaryWriter writer(7400);
    parent = writer.position();
    writer.beginNode("Parent").addInt32(1);
    child = writer.position();
    writer.beginNode("Child");
    string = writer.position();
    writer.addString("abc").endNode();
    writer.endNode();
    sibling = writer.position();
    writer.beginNode("Sibling").addInt16(2).endNode();
    const std::vector<uint8_t> file = writer.finish();
    ASSERT_NE(parse(file).document, nullptr);
    const auto endOf = [&](size_t record) {
        uint32_t end;
        std::memcpy(&end, file.data() + record, 4);
        return end;
    };
    const auto patched = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> bytes = file;
        put(bytes, offset, value);
        return errorOf(bytes);
    };
    const std::string size = std::to_string(file.size());
    EXPECT_EQ(patched(parent, uint32_t(file.size() + 1)), "Truncated file at byte " + size);
    EXPECT_EQ(patched(child, endOf(parent) + 1), "Invalid node record at byte " + std::to_string(child));
    EXPECT_EQ(patched(child, uint32_t(child + 5)), "Invalid node record at byte " + std::to_string(child));
    EXPECT_EQ(patched(child + 4, 1000), "Invalid node record at byte " + std::to_string(child));  // count vs bytes
    EXPECT_EQ(patched(child + 8, 3), "Invalid property at byte " + std::to_string(string));
    EXPECT_EQ(patched(child + 8, 9), "Invalid node record at byte " + std::to_string(child));
    EXPECT_EQ(patched(parent + 8, 6), "Invalid property list at byte " + std::to_string(parent + 13 + 6));
    EXPECT_EQ(patched(child + 4, 0), "Invalid property list at byte " + std::to_string(string));
    EXPECT_EQ(patched(child + 4, 2), "Invalid property list at byte " + std::to_string(string));
    EXPECT_EQ(patched(string + 1, 0x7FFFFFFF), "Invalid property at byte " + std::to_string(string));
    EXPECT_EQ(patched(string, 0), "Unknown property type 0x00 at byte " + std::to_string(string));
    // A null record that is not all zeros.
    EXPECT_EQ(patched(sibling, 0) , "Invalid node record at byte " + std::to_string(sibling));
    // The top-level null record is missing: the end of the last record is the end of the file.
    std::vector<uint8_t> cut(file.begin(), file.begin() + endOf(sibling));
    EXPECT_EQ(errorOf(cut), "Truncated file at byte " + std::to_string(cut.size()));
}

TEST(FbxDocumentRobustness, NestingIsCappedWithoutRecursion) {
    const auto chain = [](size_t depth, uint32_t version) {
        FbxBinaryWriter writer(version);
        for (size_t i = 0; i < depth; ++i) writer.beginNode("N");
        for (size_t i = 0; i < depth; ++i) writer.endNode();
        return writer.finish();
    };
    for (const uint32_t version : {7400u, 7500u}) {
        const Parsed deepest = parse(chain(1024, version));
        ASSERT_NE(deepest.document, nullptr) << deepest.error;
        size_t depth = 0;
        for (const Node* node = deepest.document->root().firstChild(); node; node = node->firstChild()) ++depth;
        EXPECT_EQ(depth, 1024u);
        for (const size_t levels : {size_t(1025), size_t(100000)}) {
            const std::string error = errorOf(chain(levels, version));
            EXPECT_EQ(error.rfind("Nodes nested deeper than 1024 levels at byte ", 0), 0u) << error;
        }
    }
    const auto text = [](size_t depth) {
        std::string body = "; FBX 7.4.0 project file\n";
        for (size_t i = 1; i < depth; ++i) body += "N: {\n";
        body += "N: 1\n";
        body.append(depth - 1, '}');
        return bytesOf(body);
    };
    EXPECT_NE(parse(text(1024)).document, nullptr);
    // The 1024th node's '{' would open level 1025.
    const std::string expected = "Nodes nested deeper than 1024 levels at byte " + std::to_string(25 + 1023 * 5 + 3);
    EXPECT_EQ(errorOf(text(1025)), expected);
    EXPECT_EQ(errorOf(text(100000)), expected);
}

TEST(FbxDocumentRobustness, TextCountsAreCheckedBeforeAnyAllocation) {
    const std::string header = "; FBX 7.4.0 project file\n";
    EXPECT_EQ(errorOf(bytesOf(header + "A: *1000000000 { a: 1 }\n")),
              "Invalid array count at byte " + std::to_string(header.size() + 3));
    // The shortest text for N values is N digits and N - 1 commas.
    const Parsed tight = parse(bytesOf(header + "A: *3 {1,2,3}\n"));
    EXPECT_NE(tight.document, nullptr) << tight.error;
    EXPECT_EQ(errorOf(bytesOf(header + "A: *4 {1,2,3}\n")), "Invalid array count at byte " + std::to_string(header.size() + 3));
}

}  // namespace
}  // namespace lumbrix::fbx
