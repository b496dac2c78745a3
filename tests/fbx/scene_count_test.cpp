// Scene::countMeshes, the check Varnel runs, against Scene::load: the same count or
// the same error on every file, and the first broken array in the load's order named
// whatever thread decoded it. Geometry big enough for the two-thread decode reads the
// same as small pieces of it.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_scene.h"
#include "tests/support/fbx_binary_writer.h"
#include "tests/support/test_corpus.h"

namespace lumbrix::fbx {
namespace {

using testing::FbxArrayEncoding;
using testing::FbxBinaryWriter;
using namespace std::string_view_literals;

constexpr uint64_t kVarnelFlags = 4676;

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The count or error countMeshes gives must be load()'s.
void expectCountAgrees(const std::vector<uint8_t>& bytes, const std::string& what) {
    std::string loadError, countError;
    const auto scene = Scene::load(bytes.data(), bytes.size(), kVarnelFlags, loadError);
    int meshes = -1;
    const bool counted = Scene::countMeshes(bytes.data(), bytes.size(), kVarnelFlags, meshes, countError);
    ASSERT_EQ(static_cast<bool>(scene), counted) << what << ": " << loadError << " / " << countError;
    if (scene) {
        EXPECT_EQ(scene->meshCount(), meshes) << what;
    } else {
        EXPECT_EQ(loadError, countError) << what;
        EXPECT_EQ(0, meshes) << what;
    }
}

void countEveryFbxUnder(const std::filesystem::path& root, int& files) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (!entry.is_regular_file() || extension != ".fbx") continue;
        expectCountAgrees(readBytes(entry.path()), entry.path().string());
        ++files;
    }
}

TEST(SceneCount, AgreesWithTheLoadOnOurExports) {
    int files = 0;
    countEveryFbxUnder(test::testData("generated"), files);
    EXPECT_GE(files, 25);
}

TEST(SceneCount, AgreesWithTheLoadOnTheSharedCorpus) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    int files = 0;
    countEveryFbxUnder(LUMBRIX_CORPUS_DIR, files);
    EXPECT_GE(files, 85);
}

TEST(SceneCount, AgreesWithTheLoadOnDamagedCopies) {
    for (const char* path : {"generated/blender/bl_e_mesh_3cams.fbx", "generated/blender/bl_b_cube_uv.fbx",
                             "generated/assimp/as_quad_ascii.fbx"}) {
        const std::vector<uint8_t> original = readBytes(test::testData(path));
        ASSERT_FALSE(original.empty()) << path;
        const size_t step = std::max<size_t>(1, original.size() / 300);
        for (size_t at = 0; at < original.size(); at += step) {
            for (const uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t('-'), uint8_t('9')}) {
                std::vector<uint8_t> bytes = original;
                bytes[at] = value;
                expectCountAgrees(bytes, std::string(path) + " byte " + std::to_string(at));
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
}

// A grid of quads with UVs by polygon vertex through an index, as Blender writes it,
// big enough (with `side` 600: 8 MB of arrays) for the two-thread decode.
struct Grid {
    std::vector<double> vertices, uv;
    std::vector<int32_t> polygonVertexIndex, uvIndex;
};

Grid makeGrid(int side) {
    Grid g;
    for (int j = 0; j <= side; ++j) {
        for (int i = 0; i <= side; ++i) {
            g.vertices.insert(g.vertices.end(), {double(i), double(j), double((i * 7 + j * 3) % 11) * 0.125});
            g.uv.insert(g.uv.end(), {double(i) / side, double(j) / side});
        }
    }
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const int32_t a = j * (side + 1) + i;
            const int32_t corners[4] = {a, a + 1, a + side + 2, a + side + 1};
            for (int k = 0; k < 4; ++k) {
                g.polygonVertexIndex.push_back(k == 3 ? ~corners[k] : corners[k]);
                g.uvIndex.push_back(corners[k]);
            }
        }
    }
    return g;
}

// What to break in the grid's file.
enum class Damage { none, vertices, polygonVertexIndex, uv, uvIndex, uvAndVertices };

std::vector<uint8_t> gridFile(const Grid& g, Damage damage, std::vector<uint64_t>& arrayOffsets) {
    const auto write = [&](FbxBinaryWriter& writer, const char* name, std::span<const uint8_t> bytes, char type,
                           uint32_t count, bool broken) {
        std::vector<uint8_t> packed = FbxBinaryWriter::zlibCompress(bytes);
        if (broken) packed[packed.size() / 2] ^= 0x5A;
        writer.beginNode(name);
        arrayOffsets.push_back(writer.position());
        writer.addArrayRecord(type, count, 1, packed).endNode();
    };
    const auto bytesOf = [](const auto& values) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(values.data()),
                                        values.size() * sizeof(values[0]));
    };
    arrayOffsets.clear();
    FbxBinaryWriter writer(7400);
    writer.beginNode("Objects");
    writer.beginNode("Model").addInt64(1).addString("Grid\0\x01Model"sv).addString("Mesh").endNode();
    writer.beginNode("Geometry").addInt64(2).addString("\0\x01Geometry"sv).addString("Mesh");
    write(writer, "Vertices", bytesOf(g.vertices), 'd', static_cast<uint32_t>(g.vertices.size()),
          damage == Damage::vertices || damage == Damage::uvAndVertices);
    write(writer, "PolygonVertexIndex", bytesOf(g.polygonVertexIndex), 'i',
          static_cast<uint32_t>(g.polygonVertexIndex.size()), damage == Damage::polygonVertexIndex);
    writer.beginNode("LayerElementUV").addInt32(0);
    writer.beginNode("MappingInformationType").addString("ByPolygonVertex").endNode();
    writer.beginNode("ReferenceInformationType").addString("IndexToDirect").endNode();
    write(writer, "UV", bytesOf(g.uv), 'd', static_cast<uint32_t>(g.uv.size()),
          damage == Damage::uv || damage == Damage::uvAndVertices);
    write(writer, "UVIndex", bytesOf(g.uvIndex), 'i', static_cast<uint32_t>(g.uvIndex.size()),
          damage == Damage::uvIndex);
    writer.endNode();
    writer.endNode();  // Geometry
    writer.endNode();  // Objects
    writer.beginNode("Connections");
    writer.beginNode("C").addString("OO").addInt64(1).addInt64(0).endNode();
    writer.beginNode("C").addString("OO").addInt64(2).addInt64(1).endNode();
    writer.endNode();
    return writer.finish();
}

TEST(SceneCount, TheFirstBrokenArrayInTheLoadsOrderIsNamedWhicheverThreadDecodedIt) {
    const Grid grid = makeGrid(600);
    std::vector<uint64_t> at;  // Vertices, PolygonVertexIndex, UV, UVIndex
    const struct {
        Damage damage;
        size_t array;
    } cases[] = {{Damage::vertices, 0}, {Damage::polygonVertexIndex, 1}, {Damage::uv, 2}, {Damage::uvIndex, 3},
                 {Damage::uvAndVertices, 0}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> bytes = gridFile(grid, c.damage, at);
        ASSERT_EQ(at.size(), 4u);
        std::string error;
        EXPECT_FALSE(Scene::load(bytes.data(), bytes.size(), 0, error));
        EXPECT_EQ("Corrupt compressed array at byte " + std::to_string(at[c.array]), error);
        expectCountAgrees(bytes, "damaged array " + std::to_string(c.array));
    }
}

TEST(SceneCount, BigGeometryDecodedOnTwoThreadsReadsAsWritten) {
    const Grid grid = makeGrid(600);
    std::vector<uint64_t> at;
    const std::vector<uint8_t> bytes = gridFile(grid, Damage::none, at);
    expectCountAgrees(bytes, "intact grid");
    std::string error;
    const auto scene = Scene::load(bytes.data(), bytes.size(), 0, error);
    ASSERT_TRUE(scene) << error;
    ASSERT_EQ(1, scene->meshCount());
    const GeometryData& data = scene->mesh(0)->geometryData();
    const Attributes<Vec3> positions = data.positions();
    ASSERT_EQ(positions.valueCount * size_t(3), grid.vertices.size());
    EXPECT_EQ(0, std::memcmp(positions.values, grid.vertices.data(), grid.vertices.size() * sizeof(double)));
    ASSERT_EQ(static_cast<size_t>(positions.count), grid.polygonVertexIndex.size());
    for (size_t c = 0; c < grid.polygonVertexIndex.size(); ++c) {
        const int32_t stored = grid.polygonVertexIndex[c];
        ASSERT_EQ(positions.indices[c], stored < 0 ? ~stored : stored) << c;
    }
    const Attributes<Vec2> uvs = data.uvs(0);
    ASSERT_EQ(uvs.count, positions.count);
    ASSERT_TRUE(uvs.indices);
    EXPECT_EQ(0, std::memcmp(uvs.indices, grid.uvIndex.data(), grid.uvIndex.size() * sizeof(int32_t)));
    ASSERT_EQ(uvs.valueCount * size_t(2), grid.uv.size());
    EXPECT_EQ(0, std::memcmp(uvs.values, grid.uv.data(), grid.uv.size() * sizeof(double)));
    ASSERT_EQ(1, data.partitionCount());
    EXPECT_EQ(data.partition(0).polygons.size(), grid.polygonVertexIndex.size() / 4);
}

}  // namespace
}  // namespace lumbrix::fbx
