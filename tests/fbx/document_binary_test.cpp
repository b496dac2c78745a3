// Binary FBX documents built with the test writer: every property type, both
// record layouts, child lists with and without null records, raw and zlib
// arrays, and decoding into each element type.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_document.h"
#include "tests/support/fbx_binary_writer.h"

namespace lumbrix::fbx {
namespace {

using testing::FbxArrayEncoding;
using testing::FbxBinaryWriter;

// A document with the bytes it views.
struct Parsed {
    std::vector<uint8_t> bytes;
    std::unique_ptr<Document> document;
    std::string error;
};

Parsed parse(std::vector<uint8_t> bytes) {
    Parsed parsed{std::move(bytes), nullptr, {}};
    parsed.document = Document::parse(parsed.bytes.data(), parsed.bytes.size(), parsed.error);
    return parsed;
}

template <class T>
std::vector<T> decoded(const Property& property) {
    std::vector<T> values;
    std::string error;
    EXPECT_TRUE(property.decode(values, error)) << error;
    return values;
}

std::vector<std::string> childNames(const Node& node) {
    std::vector<std::string> names;
    for (const Node* child = node.firstChild(); child != nullptr; child = child->nextSibling()) {
        names.emplace_back(child->name());
    }
    return names;
}

struct Layout {
    uint32_t version;
    bool nullRecords;
};
const Layout kLayouts[] = {{7100, true}, {7400, true}, {7400, false}, {7500, true}, {7500, false}, {7700, true}};

std::string describe(const Layout& layout) {
    return std::to_string(layout.version) + (layout.nullRecords ? " with null records" : " without null records");
}

TEST(FbxDocumentBinary, ReadsEveryScalarTypeInBothLayouts) {
    const std::string name("Cube\0\x01Model", 11);  // binary names carry their class after a NUL
    const std::vector<uint8_t> raw = {0, 1, 2, 255};
    for (const uint32_t version : {7400u, 7500u}) {
        FbxBinaryWriter writer(version);
        writer.beginNode("Values")
            .addInt16(-12345)
            .addBool('T')
            .addInt32(-2000000000)
            .addFloat(1.5f)
            .addDouble(-2.25)
            .addInt64((int64_t(1) << 40) + 7)
            .addString(name)
            .addRaw(raw)
            .endNode();
        const Parsed parsed = parse(writer.finish());
        ASSERT_NE(parsed.document, nullptr) << parsed.error;
        const Document* document = parsed.document.get();
        EXPECT_EQ(document->version(), version);
        EXPECT_TRUE(document->isBinary());
        const Node* node = document->root().child("Values");
        ASSERT_NE(node, nullptr);
        ASSERT_EQ(node->propertyCount(), 8u);

        const PropertyType types[] = {PropertyType::int16,   PropertyType::boolean, PropertyType::int32,
                                      PropertyType::float32, PropertyType::float64, PropertyType::int64,
                                      PropertyType::string,  PropertyType::raw};
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(node->property(i).type(), types[i]) << i;
            EXPECT_FALSE(node->property(i).isArray()) << i;
        }
        EXPECT_EQ(node->property(0).toInt64(), -12345);
        EXPECT_EQ(node->property(1).toInt64(), 'T');
        EXPECT_EQ(node->property(2).toInt64(), -2000000000);
        EXPECT_EQ(node->property(3).toDouble(), 1.5);
        EXPECT_EQ(node->property(3).toInt64(), 1);
        EXPECT_EQ(node->property(4).toDouble(), -2.25);
        EXPECT_EQ(node->property(4).toInt64(), -2);
        EXPECT_EQ(node->property(5).toInt64(), (int64_t(1) << 40) + 7);
        EXPECT_EQ(node->property(5).toDouble(), double((int64_t(1) << 40) + 7));
        EXPECT_EQ(node->property(6).toStringView(), name);
        const std::string_view bytes = node->property(7).toStringView();
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), raw);
        // Numbers have no text and strings no value.
        EXPECT_EQ(node->property(2).toStringView(), "");
        EXPECT_EQ(node->property(6).toInt64(), 0);
        EXPECT_EQ(node->property(6).toDouble(), 0.0);
    }
}

TEST(FbxDocumentBinary, KeepsTheTreeWithOrWithoutNullRecords) {
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(describe(layout));
        FbxBinaryWriter writer(layout.version, layout.nullRecords);
        const size_t aOffset = writer.position();
        writer.beginNode("A").addInt32(1);
        writer.beginNode("A1").endNode();
        writer.beginNode("A2").addString("two");
        const size_t deepOffset = writer.position();
        writer.beginNode("Deep").addDouble(3.0).endNode();
        writer.endNode();  // A2
        writer.beginNode("A3").addInt64(4).endNode();
        writer.endNode();  // A
        writer.beginNode("B").addInt32(5).addInt32(6).endNode();
        writer.beginNode("").endNode();  // unnamed, no properties, no children
        const Parsed parsed = parse(writer.finish());
        ASSERT_NE(parsed.document, nullptr) << parsed.error;
        const Document* document = parsed.document.get();

        const Node& root = document->root();
        EXPECT_EQ(root.name(), "");
        EXPECT_EQ(root.propertyCount(), 0u);
        EXPECT_EQ(childNames(root), (std::vector<std::string>{"A", "B", ""}));
        const Node* a = root.child("A");
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->offset(), aOffset);
        EXPECT_EQ(childNames(*a), (std::vector<std::string>{"A1", "A2", "A3"}));
        const Node* deep = a->child("A2")->child("Deep");
        ASSERT_NE(deep, nullptr);
        EXPECT_EQ(deep->offset(), deepOffset);
        EXPECT_EQ(deep->property(0).toDouble(), 3.0);
        EXPECT_EQ(deep->firstChild(), nullptr);
        EXPECT_EQ(deep->nextSibling(), nullptr);
        EXPECT_EQ(a->child("A3")->property(0).toInt64(), 4);
        EXPECT_EQ(a->child("A1")->propertyCount(), 0u);
        const Node* b = root.child("B");
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->propertyCount(), 2u);
        EXPECT_EQ(b->property(1).toInt64(), 6);
        EXPECT_EQ(b->firstChild(), nullptr);
        EXPECT_EQ(root.child("Missing"), nullptr);
        // Past the last property: reads as nothing instead of the next node's.
        EXPECT_EQ(b->property(2).toInt64(), 0);
        EXPECT_EQ(b->property(2).toStringView(), "");
    }
}

TEST(FbxDocumentBinary, ArraysDecodeRawAndCompressedInEveryType) {
    const std::vector<float> floats = {1.5f, -2.25f, 0.0f, 3e30f};
    const std::vector<double> doubles = {1.0 / 3.0, -1e300, 0.0, 42.0, 5e-324};
    const std::vector<int32_t> ints = {0, -1, 2147483647, -2147483647 - 1, 7};
    const std::vector<int64_t> longs = {int64_t(1) << 62, -3, 0};
    const std::vector<uint8_t> bools = {1, 0, 0, 1};
    const std::vector<uint8_t> chars = {'a', 0, 255, 7};
    for (const Layout& layout : kLayouts) {
        for (const FbxArrayEncoding encoding : {FbxArrayEncoding::raw, FbxArrayEncoding::zlib}) {
            SCOPED_TRACE(describe(layout) + (encoding == FbxArrayEncoding::zlib ? ", zlib" : ", raw"));
            FbxBinaryWriter writer(layout.version, layout.nullRecords);
            writer.beginNode("Arrays")
                .addArray(std::span<const float>(floats), encoding)
                .addArray(std::span<const double>(doubles), encoding)
                .addArray(std::span<const int32_t>(ints), encoding)
                .addArray(std::span<const int64_t>(longs), encoding)
                .addBoolArray(bools, encoding)
                .addCharArray(chars, encoding);
            writer.beginNode("After").addInt32(9).endNode();
            writer.endNode();
            const Parsed parsed = parse(writer.finish());
            ASSERT_NE(parsed.document, nullptr) << parsed.error;
            const Document* document = parsed.document.get();
            const Node* node = document->root().child("Arrays");
            ASSERT_NE(node, nullptr);
            ASSERT_EQ(node->propertyCount(), 6u);
            const PropertyType types[] = {PropertyType::float32Array, PropertyType::float64Array,
                                          PropertyType::int32Array,   PropertyType::int64Array,
                                          PropertyType::boolArray,    PropertyType::charArray};
            for (size_t i = 0; i < 6; ++i) {
                EXPECT_EQ(node->property(i).type(), types[i]);
                EXPECT_TRUE(node->property(i).isArray());
            }
            EXPECT_EQ(node->property(0).arrayCount(), floats.size());
            EXPECT_EQ(node->property(4).arrayCount(), bools.size());
            EXPECT_EQ(decoded<float>(node->property(0)), floats);
            EXPECT_EQ(decoded<double>(node->property(1)), doubles);
            EXPECT_EQ(decoded<int32_t>(node->property(2)), ints);
            EXPECT_EQ(decoded<int64_t>(node->property(3)), longs);
            EXPECT_EQ(decoded<int32_t>(node->property(4)), (std::vector<int32_t>{1, 0, 0, 1}));
            EXPECT_EQ(decoded<int32_t>(node->property(5)), (std::vector<int32_t>{'a', 0, 255, 7}));
            EXPECT_EQ(node->child("After")->property(0).toInt64(), 9);
        }
    }
}

TEST(FbxDocumentBinary, DecodeConvertsElementTypes) {
    const std::vector<int32_t> ints = {-5, 0, 123456789};
    const std::vector<double> doubles = {2.75, -2.75, 1e10, 0.1};
    const std::vector<float> floats = {2.5f, -1.0f};
    const std::vector<int64_t> longs = {-7, (int64_t(1) << 31) - 1, 5};
    for (const FbxArrayEncoding encoding : {FbxArrayEncoding::raw, FbxArrayEncoding::zlib}) {
        FbxBinaryWriter writer(7400);
        writer.beginNode("N")
            .addArray(std::span<const int32_t>(ints), encoding)
            .addArray(std::span<const double>(doubles), encoding)
            .addArray(std::span<const float>(floats), encoding)
            .addArray(std::span<const int64_t>(longs), encoding)
            .endNode();
        const Parsed parsed = parse(writer.finish());
        ASSERT_NE(parsed.document, nullptr) << parsed.error;
        const Document* document = parsed.document.get();
        const Node& node = *document->root().child("N");
        EXPECT_EQ(decoded<double>(node.property(0)), (std::vector<double>{-5, 0, 123456789}));
        EXPECT_EQ(decoded<float>(node.property(0)), (std::vector<float>{-5.0f, 0.0f, 123456792.0f}));
        EXPECT_EQ(decoded<int64_t>(node.property(0)), (std::vector<int64_t>{-5, 0, 123456789}));
        EXPECT_EQ(decoded<float>(node.property(1)), (std::vector<float>{2.75f, -2.75f, 1e10f, 0.1f}));
        EXPECT_EQ(decoded<int64_t>(node.property(1)), (std::vector<int64_t>{2, -2, 10000000000, 0}));
        EXPECT_EQ(decoded<double>(node.property(2)), (std::vector<double>{2.5, -1.0}));
        EXPECT_EQ(decoded<int32_t>(node.property(2)), (std::vector<int32_t>{2, -1}));
        EXPECT_EQ(decoded<int32_t>(node.property(3)), (std::vector<int32_t>{-7, 2147483647, 5}));
        EXPECT_EQ(decoded<double>(node.property(3)), (std::vector<double>{-7, 2147483647, 5}));
    }
}

TEST(FbxDocumentBinary, DecodeRefusesValuesTheTargetCannotHold) {
    const std::vector<int64_t> big = {1, int64_t(1) << 40};
    const std::vector<double> notANumber = {std::nan("")};
    const std::vector<double> huge = {1e300, -1e300};
    FbxBinaryWriter writer(7400);
    writer.beginNode("N");
    const size_t bigOffset = writer.position();
    writer.addArray(std::span<const int64_t>(big));
    const size_t nanOffset = writer.position();
    writer.addArray(std::span<const double>(notANumber), FbxArrayEncoding::zlib);
    writer.addArray(std::span<const double>(huge));
    const size_t scalarOffset = writer.position();
    writer.addInt32(3).endNode();
    const Parsed parsed = parse(writer.finish());
    ASSERT_NE(parsed.document, nullptr) << parsed.error;
    const Document* document = parsed.document.get();
    const Node& node = *document->root().child("N");

    std::vector<int32_t> ints = {99};
    std::string error;
    EXPECT_FALSE(node.property(0).decode(ints, error));
    EXPECT_EQ(error, "Array value out of range at byte " + std::to_string(bigOffset));
    EXPECT_TRUE(ints.empty());
    EXPECT_EQ(decoded<int64_t>(node.property(0)), big);  // the array itself is fine

    std::vector<int64_t> longs;
    EXPECT_FALSE(node.property(1).decode(longs, error));
    EXPECT_EQ(error, "Array value out of range at byte " + std::to_string(nanOffset));
    EXPECT_TRUE(std::isnan(decoded<float>(node.property(1)).at(0)));

    // Too large for float is still a float: infinity, as a cast on hardware gives.
    EXPECT_EQ(decoded<float>(node.property(2)),
              (std::vector<float>{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}));

    std::vector<double> doubles;
    EXPECT_FALSE(node.property(3).decode(doubles, error));
    EXPECT_EQ(error, "Not an array property at byte " + std::to_string(scalarOffset));
}

TEST(FbxDocumentBinary, EmptyAndLargeArraysRoundTrip) {
    std::vector<double> large(200000);
    for (size_t i = 0; i < large.size(); ++i) large[i] = std::sin(double(i)) * 1000.0;
    std::vector<int32_t> indices(300000);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = (i % 4 == 3) ? -int32_t(i) - 1 : int32_t(i);
    FbxBinaryWriter writer(7500);
    writer.beginNode("N")
        .addArray(std::span<const double>(), FbxArrayEncoding::raw)
        .addArray(std::span<const double>(), FbxArrayEncoding::zlib)
        .addArray(std::span<const double>(large), FbxArrayEncoding::zlib)
        .addArray(std::span<const int32_t>(indices), FbxArrayEncoding::zlib)
        .endNode();
    const Parsed parsed = parse(writer.finish());
    ASSERT_NE(parsed.document, nullptr) << parsed.error;
    const Document* document = parsed.document.get();
    const Node& node = *document->root().child("N");
    EXPECT_EQ(node.property(0).arrayCount(), 0u);
    EXPECT_TRUE(decoded<double>(node.property(0)).empty());
    EXPECT_TRUE(decoded<int32_t>(node.property(1)).empty());
    EXPECT_EQ(decoded<double>(node.property(2)), large);
    EXPECT_EQ(decoded<int32_t>(node.property(3)), indices);
    const std::vector<double> widened = decoded<double>(node.property(3));
    ASSERT_EQ(widened.size(), indices.size());
    EXPECT_EQ(widened.back(), double(indices.back()));
}

TEST(FbxDocumentBinary, AcceptsEveryVersion7AndNothingElse) {
    for (const uint32_t version : {7000u, 7100u, 7200u, 7300u, 7400u, 7500u, 7600u, 7700u, 7999u}) {
        FbxBinaryWriter writer(version);
        writer.beginNode("Node").addInt32(1).endNode();
        const Parsed parsed = parse(writer.finish());
        ASSERT_NE(parsed.document, nullptr) << parsed.error << version;
        const Document* document = parsed.document.get();
        EXPECT_EQ(document->version(), version);
        EXPECT_EQ(document->root().child("Node")->property(0).toInt64(), 1);
    }
    for (const uint32_t version : {0u, 3000u, 5800u, 6100u, 6999u, 8000u, 4294967295u}) {
        FbxBinaryWriter writer(version);
        const Parsed parsed = parse(writer.finish());
        EXPECT_EQ(parsed.document, nullptr);
        EXPECT_EQ(parsed.error, "Unsupported FBX version " + std::to_string(version));
    }
}

}  // namespace
}  // namespace lumbrix::fbx
