// Our own exports and the shared corpus: every FBX 7.x file parses and every
// array in it decodes, older files are refused by version, and the ASCII and
// binary exports of one scene read as the same tree of values.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_document.h"
#include "tests/support/test_corpus.h"

namespace lumbrix::fbx {
namespace {

namespace fs = std::filesystem;

struct Loaded {
    std::vector<uint8_t> bytes;  // the document views them
    std::unique_ptr<Document> document;
    std::string error;
};

Loaded load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    Loaded loaded{{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}, nullptr, {}};
    loaded.document = Document::parse(loaded.bytes.data(), loaded.bytes.size(), loaded.error);
    return loaded;
}

using test::sharedCorpus;
using test::testData;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The error a file must give, from what its name says about it; empty: it parses.
std::string expectedError(const std::string& name) {
    if (name == "transparentTest.fbx") return "Not an FBX file";  // every zero byte became a space
    if (name.find("_6100_") != std::string::npos) return "Unsupported FBX version 6100";
    if (name.find("_5800_ascii") != std::string::npos) return "Unsupported FBX version 5800";
    // FBX 5.x binaries carry 3000 in the header whatever their real version.
    if (name.find("_5800_binary") != std::string::npos || name.find("_5000_binary") != std::string::npos) {
        return "Unsupported FBX version 3000";
    }
    return "";
}

struct ArrayValues {
    std::string node;
    std::vector<double> values;
};

// Every array under `node`, in file order, decoded to doubles (no recursion).
std::vector<ArrayValues> arraysUnder(const Node& node) {
    std::vector<ArrayValues> arrays;
    std::vector<const Node*> pending{&node};
    std::string error;
    while (!pending.empty()) {
        const Node* current = pending.back();
        pending.pop_back();
        for (size_t i = 0; i < current->propertyCount(); ++i) {
            if (!current->property(i).isArray()) continue;
            ArrayValues array{std::string(current->name()), {}};
            EXPECT_TRUE(current->property(i).decode(array.values, error)) << current->name() << ": " << error;
            EXPECT_EQ(array.values.size(), current->property(i).arrayCount());
            arrays.push_back(std::move(array));
        }
        std::vector<const Node*> children;
        for (const Node* child = current->firstChild(); child; child = child->nextSibling()) children.push_back(child);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return arrays;
}

struct Tally {
    size_t parsed = 0, refused = 0, ascii = 0, wide = 0;
};

Tally parseEveryFbxUnder(const fs::path& root) {
    Tally tally;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || lower(entry.path().extension().string()) != ".fbx") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(entry.path().string());
        const Loaded loaded = load(entry.path());
        const std::string expected = expectedError(name);
        if (!expected.empty()) {
            EXPECT_EQ(loaded.document, nullptr);
            EXPECT_EQ(loaded.error, expected);
            ++tally.refused;
            continue;
        }
        EXPECT_NE(loaded.document, nullptr) << loaded.error;
        if (!loaded.document) continue;
        const Document& document = *loaded.document;
        ++tally.parsed;
        EXPECT_GE(document.version(), 7100u);
        EXPECT_LE(document.version(), 7700u);
        const bool binaryBytes = loaded.bytes.size() > 18 && std::equal(loaded.bytes.begin(), loaded.bytes.begin() + 18,
                                                                        "Kaydara FBX Binary");
        EXPECT_EQ(document.isBinary(), binaryBytes);
        tally.ascii += !document.isBinary();
        tally.wide += document.isBinary() && document.version() >= 7500;
        // Names like maya_cube_7500_binary.fbx carry the version.
        for (const uint32_t version : {7100u, 7200u, 7300u, 7400u, 7500u, 7700u}) {
            if (name.find("_" + std::to_string(version) + "_") != std::string::npos) {
                EXPECT_EQ(document.version(), version);
            }
        }
        EXPECT_NE(document.root().child("Objects"), nullptr);
        EXPECT_NE(document.root().child("Connections"), nullptr);
        arraysUnder(document.root());
    }
    return tally;
}

TEST(FbxDocumentCorpus, OurExportsAllParse) {
    const Tally tally = parseEveryFbxUnder(testData("generated"));
    // Exact: a clone that lost a file (an ignore rule, a partial checkout) shows here.
    EXPECT_EQ(tally.parsed, 25u);
    EXPECT_EQ(tally.refused, 0u);
    EXPECT_EQ(tally.ascii, 7u);
    EXPECT_EQ(tally.wide, 5u);
}

TEST(FbxDocumentCorpus, SharedVersion7FilesParseAndOlderOnesAreRefused) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    const Tally tally = parseEveryFbxUnder(LUMBRIX_CORPUS_DIR);
    EXPECT_GE(tally.parsed, 75u);
    EXPECT_GE(tally.refused, 12u);
    EXPECT_GE(tally.ascii, 25u);
    EXPECT_GE(tally.wide, 10u);
}

// The geometry of the two exports, array for array.
void expectSameGeometry(const fs::path& asciiPath, const fs::path& binaryPath) {
    SCOPED_TRACE(asciiPath.string());
    const Loaded ascii = load(asciiPath);
    const Loaded binary = load(binaryPath);
    ASSERT_NE(ascii.document, nullptr) << ascii.error;
    ASSERT_NE(binary.document, nullptr) << binary.error;
    const Node* asciiObjects = ascii.document->root().child("Objects");
    const Node* binaryObjects = binary.document->root().child("Objects");
    ASSERT_TRUE(asciiObjects && binaryObjects);
    const Node* asciiGeometry = asciiObjects->child("Geometry");
    const Node* binaryGeometry = binaryObjects->child("Geometry");
    size_t geometries = 0;
    for (; asciiGeometry && binaryGeometry; ++geometries) {
        ASSERT_GE(asciiGeometry->propertyCount(), 2u);
        ASSERT_GE(binaryGeometry->propertyCount(), 2u);
        // Ids are the writer's pointers, different in every export: only their kind agrees.
        EXPECT_EQ(asciiGeometry->property(0).type(), PropertyType::asciiNumber);
        EXPECT_EQ(binaryGeometry->property(0).type(), PropertyType::int64);
        EXPECT_NE(asciiGeometry->property(0).toInt64(), 0);
        // "Geometry::Name" in text is "Name\0\x01Geometry" in binary.
        const std::string_view textName = asciiGeometry->property(1).toStringView();
        const std::string_view binaryName = binaryGeometry->property(1).toStringView();
        ASSERT_EQ(textName.substr(0, 10), "Geometry::");
        EXPECT_EQ(std::string(textName.substr(10)) + std::string("\0\x01Geometry", 10), binaryName);

        const std::vector<ArrayValues> textArrays = arraysUnder(*asciiGeometry);
        const std::vector<ArrayValues> binaryArrays = arraysUnder(*binaryGeometry);
        ASSERT_EQ(textArrays.size(), binaryArrays.size());
        ASSERT_FALSE(textArrays.empty());
        for (size_t i = 0; i < textArrays.size(); ++i) {
            EXPECT_EQ(textArrays[i].node, binaryArrays[i].node);
            ASSERT_EQ(textArrays[i].values.size(), binaryArrays[i].values.size()) << textArrays[i].node;
            for (size_t k = 0; k < textArrays[i].values.size(); ++k) {
                const double a = textArrays[i].values[k], b = binaryArrays[i].values[k];
                // Text keeps fewer digits than the binary doubles.
                ASSERT_NEAR(a, b, 1e-6 * std::max(1.0, std::fabs(b))) << textArrays[i].node << "[" << k << "]";
            }
        }
        do asciiGeometry = asciiGeometry->nextSibling(); while (asciiGeometry && asciiGeometry->name() != "Geometry");
        do binaryGeometry = binaryGeometry->nextSibling(); while (binaryGeometry && binaryGeometry->name() != "Geometry");
    }
    EXPECT_GT(geometries, 0u);
    EXPECT_EQ(asciiGeometry, nullptr);
    EXPECT_EQ(binaryGeometry, nullptr);
}

TEST(FbxDocumentCorpus, OurAsciiAndBinaryExportsOfASceneAgree) {
    for (const char* name : {"quad", "cube_vt", "fan", "ngons", "two_objects"}) {
        const std::string base = std::string("generated/assimp/as_") + name;
        expectSameGeometry(testData(base + "_ascii.fbx"), testData(base + "_binary.fbx"));
    }
}

TEST(FbxDocumentCorpus, SharedAsciiAndBinaryExportsOfASceneAgree) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    const std::pair<const char*, const char*> pairs[] = {
        {"maya_cube_7400_ascii.fbx", "maya_cube_7400_binary.fbx"},
        {"maya_cube_7500_ascii.fbx", "maya_cube_7500_binary.fbx"},
        {"max_geometry_transform_7700_ascii.fbx", "max_geometry_transform_7700_binary.fbx"},
        {"marvelous_quad_7200_ascii.fbx", "marvelous_quad_7200_binary.fbx"},
        {"max_unicode_7500_ascii.fbx", "max_unicode_7500_binary.fbx"},
    };
    for (const auto& [ascii, binary] : pairs) {
        expectSameGeometry(sharedCorpus(std::string("third_party/ufbx/data/") + ascii),
                           sharedCorpus(std::string("third_party/ufbx/data/") + binary));
    }
    expectSameGeometry(sharedCorpus("third_party/assimp/test/models-nonbsd/FBX/2013_ASCII/COLLADA.fbx"),
                       sharedCorpus("third_party/assimp/test/models-nonbsd/FBX/2013_BINARY/COLLADA.fbx"));
}

TEST(FbxDocumentCorpus, BigCompressedGridDecodes) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();  // 6 MB: kept out of the repository
    const Loaded loaded = load(sharedCorpus("generated/blender/bl_g_big_grid.fbx"));
    ASSERT_NE(loaded.document, nullptr) << loaded.error;
    const Node* objects = loaded.document->root().child("Objects");
    ASSERT_NE(objects, nullptr);
    const Node* geometry = objects->child("Geometry");
    ASSERT_NE(geometry, nullptr);
    ASSERT_TRUE(geometry->child("Vertices") && geometry->child("PolygonVertexIndex"));
    ASSERT_EQ(geometry->child("Vertices")->propertyCount(), 1u);
    ASSERT_EQ(geometry->child("PolygonVertexIndex")->propertyCount(), 1u);
    const Property& vertices = geometry->child("Vertices")->property(0);
    const Property& polygons = geometry->child("PolygonVertexIndex")->property(0);
    EXPECT_EQ(vertices.type(), PropertyType::float64Array);
    EXPECT_EQ(vertices.arrayCount(), 251001u * 3);
    EXPECT_EQ(polygons.arrayCount(), 1000000u);

    std::vector<double> positions;
    std::vector<float> narrow;
    std::vector<int32_t> indices;
    std::string error;
    ASSERT_TRUE(vertices.decode(positions, error)) << error;
    ASSERT_TRUE(vertices.decode(narrow, error)) << error;
    ASSERT_TRUE(polygons.decode(indices, error)) << error;
    ASSERT_EQ(narrow.size(), positions.size());
    for (size_t i = 0; i < positions.size(); ++i) ASSERT_EQ(narrow[i], static_cast<float>(positions[i])) << i;
    // A 50 m grid: every coordinate within +-25.
    const auto [low, high] = std::minmax_element(positions.begin(), positions.end());
    EXPECT_NEAR(*low, -25.0, 1e-9);
    EXPECT_NEAR(*high, 25.0, 1e-9);
    // 250,000 quads: every fourth index is a polygon end, stored as -(index + 1).
    size_t ends = 0;
    for (size_t i = 0; i < indices.size(); ++i) {
        const int32_t index = indices[i] < 0 ? -indices[i] - 1 : indices[i];
        ASSERT_LT(index, 251001) << i;
        ends += indices[i] < 0;
        ASSERT_EQ(indices[i] < 0, i % 4 == 3) << i;
    }
    EXPECT_EQ(ends, 250000u);
}

}  // namespace
}  // namespace lumbrix::fbx
