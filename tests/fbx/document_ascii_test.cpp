// ASCII FBX documents: the grammar writers use (comments, quoted strings with
// separators inside, wrapped lists, "*N { a: ... }" arrays), versions taken from
// the header, and error texts that point at the offending byte.
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_document.h"

namespace lumbrix::fbx {
namespace {

const std::string kHeader = "; FBX 7.4.0 project file\n";

struct Parsed {
    std::string text;  // the document views it
    std::unique_ptr<Document> document;
    std::string error;
};

Parsed parse(std::string text) {
    Parsed parsed{std::move(text), nullptr, {}};
    parsed.document = Document::parse(reinterpret_cast<const uint8_t*>(parsed.text.data()), parsed.text.size(),
                                      parsed.error);
    return parsed;
}

// The error for `body` after a 7.4 header, with byte offsets made relative to the body.
std::string bodyError(const std::string& body) {
    const Parsed parsed = parse(kHeader + body);
    EXPECT_EQ(parsed.document, nullptr);
    const std::string marker = " at byte ";
    const size_t at = parsed.error.rfind(marker);
    if (at == std::string::npos) return parsed.error;
    const uint64_t offset = std::stoull(parsed.error.substr(at + marker.size()));
    return parsed.error.substr(0, at + marker.size()) + std::to_string(offset - kHeader.size());
}

template <class T>
std::vector<T> decoded(const Property& property) {
    std::vector<T> values;
    std::string error;
    EXPECT_TRUE(property.decode(values, error)) << error;
    return values;
}

std::string decodeError(const Property& property) {
    std::vector<double> values;
    std::string error;
    EXPECT_FALSE(property.decode(values, error));
    EXPECT_TRUE(values.empty());
    return error;
}

TEST(FbxDocumentAscii, ParsesTheConstructsWritersUse) {
    const std::string text =
        "\xEF\xBB\xBF; FBX 7.5.0 project file\r\n"
        "; a comment line\r\n"
        "FBXHeaderExtension:  {\r\n"
        "\tFBXVersion: 7500 ; trailing comment\r\n"
        "\tCreator: \"Tool; with {braces}, commas and \xE2\x9C\x93\"\r\n"
        "}\r\n"
        "Objects:  {\r\n"
        "\tModel: 123456789, \"Model::Cube\", \"Mesh\" {\r\n"
        "\t\tVersion: 232\r\n"
        "\t\tShading: T\r\n"
        "\t\tP: \"Lcl Translation\", \"Lcl Translation\", \"\", \"A\",-1.5e-3,+2,.5\r\n"
        "\t\tEmpty:  { }\r\n"
        "\t\tNothing:\r\n"
        "\t}\r\n"
        "\tGeometry: -9, \"Geometry::\", \"Mesh\" {\r\n"
        "\t\tVertices: *6 {\r\n"
        "\t\t\ta: 0,1.5,-2,\r\n"
        "3e2,4,5\r\n"
        "\t\t} \r\n"
        "\t\tContent: ,\r\n"
        "\t\t\"aGVsbG8=\"\r\n"
        "\t\tWrapped: 1,2,\r\n"
        "\t\t\t3\r\n"
        "\t}\r\n"
        "}\r\n";
    const Parsed parsed = parse(text);
    ASSERT_NE(parsed.document, nullptr) << parsed.error;
    const Document& document = *parsed.document;
    EXPECT_FALSE(document.isBinary());
    EXPECT_EQ(document.version(), 7500u);

    const Node* header = document.root().child("FBXHeaderExtension");
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->offset(), text.find("FBXHeaderExtension"));
    EXPECT_EQ(header->child("FBXVersion")->property(0).type(), PropertyType::asciiNumber);
    EXPECT_EQ(header->child("FBXVersion")->property(0).toInt64(), 7500);
    EXPECT_EQ(header->child("Creator")->property(0).toStringView(), "Tool; with {braces}, commas and \xE2\x9C\x93");

    const Node* model = document.root().child("Objects")->child("Model");
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(model->propertyCount(), 3u);
    EXPECT_EQ(model->property(0).toInt64(), 123456789);
    EXPECT_EQ(model->property(1).type(), PropertyType::string);
    EXPECT_EQ(model->property(1).toStringView(), "Model::Cube");  // kept as written
    EXPECT_EQ(model->property(1).offset(), text.find("\"Model::Cube\""));
    const Node* shading = model->child("Shading");
    EXPECT_EQ(shading->property(0).type(), PropertyType::asciiWord);
    EXPECT_EQ(shading->property(0).toStringView(), "T");
    const Node* p = model->child("P");
    ASSERT_EQ(p->propertyCount(), 7u);
    EXPECT_EQ(p->property(3).toStringView(), "A");
    EXPECT_DOUBLE_EQ(p->property(4).toDouble(), -1.5e-3);
    EXPECT_EQ(p->property(5).toInt64(), 2);
    EXPECT_EQ(p->property(6).toDouble(), 0.5);
    EXPECT_EQ(model->child("Empty")->propertyCount(), 0u);
    EXPECT_EQ(model->child("Empty")->firstChild(), nullptr);
    EXPECT_EQ(model->child("Nothing")->propertyCount(), 0u);
    EXPECT_EQ(model->child("Nothing")->nextSibling(), nullptr);

    const Node* geometry = model->nextSibling();
    ASSERT_NE(geometry, nullptr);
    EXPECT_EQ(geometry->name(), "Geometry");
    EXPECT_EQ(geometry->property(0).toInt64(), -9);
    const Property& vertices = geometry->child("Vertices")->property(0);
    EXPECT_EQ(vertices.type(), PropertyType::asciiArray);
    EXPECT_TRUE(vertices.isArray());
    EXPECT_EQ(vertices.arrayCount(), 6u);
    EXPECT_EQ(decoded<double>(vertices), (std::vector<double>{0, 1.5, -2, 300, 4, 5}));
    EXPECT_EQ(geometry->child("Vertices")->firstChild(), nullptr);  // the braces hold values, not nodes
    const Node* content = geometry->child("Content");
    ASSERT_EQ(content->propertyCount(), 1u);  // the empty value before the comma is no value
    EXPECT_EQ(content->property(0).toStringView(), "aGVsbG8=");
    const Node* wrapped = geometry->child("Wrapped");
    ASSERT_EQ(wrapped->propertyCount(), 3u);
    EXPECT_EQ(wrapped->property(2).toInt64(), 3);
}

TEST(FbxDocumentAscii, ArraysDecodeIntoEveryType) {
    const Parsed parsed = parse(kHeader +
                                "I: *5 { a: 0,-1,2147483647,-2147483648,7 }\n"
                                "D: *4 {\n a: 0.5,-1e2,  3 ,\n\t1.0e-300\n}\n"
                                "R: *3 { a: 2.0,-3.75,1e3 }\n"
                                "E: *0 {\n}\n"
                                "Ea: *0 {\n a: \n}\n"
                                "L: *2 { a: 9007199254740993,-4 }\n"
                                "W: *4 { a: 1.#INF,-1.#INF,-1.#IND,1.#QNAN }\n"
                                "X: *1 { a: 1.#XYZ }\n");
    ASSERT_NE(parsed.document, nullptr) << parsed.error;
    const Node& root = parsed.document->root();
    std::vector<int32_t> ints;
    std::string error;
    const Property& intArray = root.child("I")->property(0);
    EXPECT_EQ(decoded<int32_t>(intArray), (std::vector<int32_t>{0, -1, 2147483647, -2147483647 - 1, 7}));
    EXPECT_EQ(decoded<float>(intArray), (std::vector<float>{0, -1, 2147483648.0f, -2147483648.0f, 7}));
    const Property& doubles = root.child("D")->property(0);
    EXPECT_EQ(decoded<double>(doubles), (std::vector<double>{0.5, -100, 3, 1e-300}));
    // Past float's range: the nearest float, as a cast would give.
    EXPECT_EQ(decoded<float>(doubles), (std::vector<float>{0.5f, -100.0f, 3.0f, 0.0f}));
    // Whole numbers written with a fraction or exponent still read as integers.
    const Property& reals = root.child("R")->property(0);
    EXPECT_EQ(decoded<int64_t>(reals), (std::vector<int64_t>{2, -3, 1000}));
    EXPECT_TRUE(decoded<double>(root.child("E")->property(0)).empty());
    EXPECT_TRUE(decoded<int32_t>(root.child("Ea")->property(0)).empty());
    // Integers beyond double's 53 bits stay exact when asked for as integers.
    EXPECT_EQ(decoded<int64_t>(root.child("L")->property(0)), (std::vector<int64_t>{9007199254740993, -4}));
    // Windows runtimes' spellings of infinity and NaN.
    const std::vector<double> special = decoded<double>(root.child("W")->property(0));
    ASSERT_EQ(special.size(), 4u);
    EXPECT_EQ(special[0], std::numeric_limits<double>::infinity());
    EXPECT_EQ(special[1], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(special[2]) && std::isnan(special[3]));
    EXPECT_FALSE(root.child("X")->property(0).decode(ints, error));
    EXPECT_EQ(error.rfind("Invalid array value at byte ", 0), 0u) << error;
}

TEST(FbxDocumentAscii, ArrayTextMustHoldItsCountOfNumbers) {
    const std::string body =
        "Short: *4 { a: 1,2,3 }\n"
        "Long: *2 { a: 1,2,3,4 }\n"
        "Word: *3 { a: 1,x,3 }\n"
        "Trailing: *2 { a: 1,2, }\n"
        "NoKey: *2 { 1,2 }\n"
        "TooBig: *2 { a: 1,3000000000 }\n";
    const Parsed parsed = parse(kHeader + body);
    ASSERT_NE(parsed.document, nullptr) << parsed.error;
    const Node& root = parsed.document->root();
    const auto at = [&](std::string_view what) { return std::to_string(kHeader.size() + body.find(what)); };
    EXPECT_EQ(decodeError(root.child("Short")->property(0)), "Array declares 4 values but holds 3 at byte " + at("*4"));
    EXPECT_EQ(decodeError(root.child("Long")->property(0)), "Array declares 2 values but holds 4 at byte " + at("*2 { a: 1,2,3,4"));
    EXPECT_EQ(decodeError(root.child("Word")->property(0)), "Invalid array value at byte " + at("x,3"));
    EXPECT_EQ(decodeError(root.child("Trailing")->property(0)), "Invalid array value at byte " + at("}\nNoKey"));
    EXPECT_EQ(decodeError(root.child("NoKey")->property(0)), "Invalid array at byte " + at("1,2 }"));
    std::vector<int32_t> ints;
    std::string error;
    EXPECT_FALSE(root.child("TooBig")->property(0).decode(ints, error));
    EXPECT_EQ(error, "Invalid array value at byte " + at("3000000000"));
    EXPECT_EQ(decoded<int64_t>(root.child("TooBig")->property(0)), (std::vector<int64_t>{1, 3000000000}));
}

TEST(FbxDocumentAscii, TextScalarsConvertLikeBinaryOnes) {
    const Parsed parsed = parse(kHeader + "N: 12, 1.5e3, -7.9, 18446744073709551615, abc, -, 1e999, \"42\"\n");
    ASSERT_NE(parsed.document, nullptr) << parsed.error;
    const Node& n = *parsed.document->root().child("N");
    ASSERT_EQ(n.propertyCount(), 8u);
    EXPECT_EQ(n.property(0).toDouble(), 12.0);
    EXPECT_EQ(n.property(1).toInt64(), 1500);
    EXPECT_EQ(n.property(2).toInt64(), -7);
    EXPECT_EQ(n.property(2).toDouble(), -7.9);
    EXPECT_EQ(n.property(3).toInt64(), -1);  // ids written unsigned keep their bits
    EXPECT_EQ(n.property(4).type(), PropertyType::asciiWord);
    EXPECT_EQ(n.property(4).toInt64(), 0);
    EXPECT_EQ(n.property(5).type(), PropertyType::asciiNumber);  // looks like one, is not
    EXPECT_EQ(n.property(5).toDouble(), 0.0);
    EXPECT_EQ(n.property(6).toDouble(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(n.property(6).toInt64(), 0);
    EXPECT_EQ(n.property(7).toInt64(), 0);  // strings are not numbers
    EXPECT_EQ(n.property(0).toStringView(), "");
}

TEST(FbxDocumentAscii, SyntaxErrorsSayWhatAndWhere) {
    EXPECT_EQ(bodyError("A: \"open\n"), "Unterminated string at byte 3");
    EXPECT_EQ(bodyError("A: 1 2\n"), "Expected ',' between values at byte 5");
    EXPECT_EQ(bodyError("A: 1\n}\n"), "Unexpected '}' at byte 5");
    EXPECT_EQ(bodyError("A: {\n B: 1\n"), "Truncated file at byte 11");
    EXPECT_EQ(bodyError("A B: 1\n"), "Expected ':' after a node name at byte 2");
    EXPECT_EQ(bodyError("A: *3 {1,2,3\n"), "Unterminated array at byte 3");
    EXPECT_EQ(bodyError("A: *3 a: 1,2,3 }\n"), "Invalid array at byte 3");
    EXPECT_EQ(bodyError("A: * { }\n"), "Invalid array at byte 3");
    EXPECT_EQ(bodyError("A: *99999999999999999999 { }\n"), "Invalid array count at byte 3");
    EXPECT_EQ(bodyError("A: 1, :\n"), "Unexpected character ':' at byte 6");
    EXPECT_EQ(bodyError(",\n"), "Unexpected character ',' at byte 0");
    EXPECT_EQ(bodyError("A: \x01\n"), "Unexpected character 0x01 at byte 3");
}

TEST(FbxDocumentAscii, VersionComesFromTheHeaderCommentOrFBXVersion) {
    struct Case {
        std::string text;
        std::string error;  // empty: parses
        uint32_t version;
    };
    const Case cases[] = {
        {"; FBX 7.3.0 project file\nA: 1\n", "", 7300},
        {"\n\n;FBX 7.7.0 project file\nA: 1\n", "", 7700},
        {"; FBX 6.1.0 project file\nA: 1\n", "Unsupported FBX version 6100", 0},
        {"; FBX 5.8.0 project file\nA: 1\n", "Unsupported FBX version 5800", 0},
        {"; FBX 8.0.0 project file\nA: 1\n", "Unsupported FBX version 8000", 0},
        // No version comment: the header's FBXVersion decides.
        {"FBXHeaderExtension:  {\n\tFBXVersion: 7200\n}\n", "", 7200},
        {"; exported by hand\nFBXHeaderExtension:  {\n\tFBXVersion: 7100\n}\n", "", 7100},
        {"FBXHeaderExtension:  {\n\tFBXVersion: 6100\n}\nObjects: {\n Model: \"a\" {\n Vertices: 1,2,\n3 }}\n",
         "Unsupported FBX version 6100", 0},
        {"FBXHeaderExtension:  {\n\tFBXVersion: 99999999999\n}\n", "Not an FBX file", 0},
        {"Objects:  {\n}\n", "Not an FBX file", 0},
        {"; just a comment\n", "Not an FBX file", 0},
        {"FBXVersion 7400\n", "Not an FBX file", 0},
        {"{ FBXVersion: 7400 }", "Not an FBX file", 0},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parse(c.text);
        if (c.error.empty()) {
            ASSERT_NE(parsed.document, nullptr) << c.text << parsed.error;
            EXPECT_EQ(parsed.document->version(), c.version) << c.text;
        } else {
            EXPECT_EQ(parsed.document, nullptr) << c.text;
            EXPECT_EQ(parsed.error, c.error) << c.text;
        }
    }
}

}  // namespace
}  // namespace lumbrix::fbx
