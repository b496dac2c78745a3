// Scenes written as binary FBX: names with the binary class separator, typed
// and compressed arrays, and geometry whose arrays only fail once decoded.
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_scene.h"
#include "tests/support/fbx_binary_writer.h"

namespace lumbrix::fbx {
namespace {

using testing::FbxArrayEncoding;
using testing::FbxBinaryWriter;

using namespace std::string_view_literals;

void addObject(FbxBinaryWriter& writer, const char* type, int64_t id, std::string_view name, const char* objectClass) {
    writer.beginNode(type).addInt64(id).addString(name).addString(objectClass);
}

void addVector(FbxBinaryWriter& writer, const char* name, double x, double y, double z) {
    writer.beginNode("P").addString(name).addString(name).addString("").addString("A");
    writer.addDouble(x).addDouble(y).addDouble(z).endNode();
}

void addConnection(FbxBinaryWriter& writer, int64_t child, int64_t parent) {
    writer.beginNode("C").addString("OO").addInt64(child).addInt64(parent).endNode();
}

std::unique_ptr<Scene> load(const std::vector<uint8_t>& bytes, std::string& error) {
    return Scene::load(bytes.data(), bytes.size(), 0, error);
}

TEST(SceneBinary, NamesSplitOnlyAtTheClassSeparator) {
    for (uint32_t version : {7400u, 7500u}) {
        SCOPED_TRACE(version);
        FbxBinaryWriter writer(version);
        writer.beginNode("Objects");
        addObject(writer, "Model", 1, "Cube::Model\0\x01Model"sv, "Mesh");
        writer.endNode();
        addObject(writer, "Model", 2, "NoSeparator", "Mesh");
        writer.endNode();
        addObject(writer, "Model", 3, "\0\x01Model"sv, "Mesh");
        writer.endNode();
        addObject(writer, "Geometry", 10, "\0\x01Geometry"sv, "Mesh");
        const std::vector<double> vertices{0, 0, 0, 1, 0, 0, 0, 1, 0};
        const std::vector<int32_t> triangle{0, 1, -3};
        writer.beginNode("Vertices").addArray(std::span<const double>(vertices)).endNode();
        writer.beginNode("PolygonVertexIndex").addArray(std::span<const int32_t>(triangle)).endNode();
        writer.endNode();
        writer.endNode();
        writer.beginNode("Connections");
        for (int64_t model : {1, 2, 3}) {
            addConnection(writer, model, 0);
            addConnection(writer, 10, model);
        }
        writer.endNode();

        std::string error;
        auto scene = load(writer.finish(), error);
        ASSERT_TRUE(scene) << error;
        ASSERT_EQ(3, scene->meshCount());
        EXPECT_EQ("Cube::Model", scene->mesh(0)->name());
        EXPECT_EQ("NoSeparator", scene->mesh(1)->name());
        EXPECT_EQ("", scene->mesh(2)->name());
        EXPECT_EQ(version, scene->version());
    }
}

TEST(SceneBinary, TypedAndCompressedArraysAndScalarKinds) {
    FbxBinaryWriter writer(7400);
    writer.beginNode("Objects");
    addObject(writer, "Model", 1, "M\0\x01Model"sv, "Mesh");
    writer.beginNode("Properties70");
    addVector(writer, "Lcl Translation", 0, 0, 3);
    // Enums are stored as 32-bit integers.
    writer.beginNode("P").addString("RotationOrder").addString("enum").addString("").addString("").addInt32(2).endNode();
    addVector(writer, "Lcl Rotation", 90, 90, 0);
    writer.endNode();
    writer.endNode();
    addObject(writer, "Geometry", 2, "\0\x01Geometry"sv, "Mesh");
    const std::vector<float> vertices{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    const std::vector<int32_t> quad{0, 1, 2, -4};
    writer.beginNode("Vertices").addArray(std::span<const float>(vertices), FbxArrayEncoding::zlib).endNode();
    writer.beginNode("PolygonVertexIndex").addArray(std::span<const int32_t>(quad), FbxArrayEncoding::zlib).endNode();
    writer.beginNode("LayerElementUV").addInt32(0);
    writer.beginNode("MappingInformationType").addString("ByPolygonVertex").endNode();
    writer.beginNode("ReferenceInformationType").addString("IndexToDirect").endNode();
    const std::vector<double> uv{0, 0, 1, 1};
    const std::vector<int64_t> uvIndex{0, 1, 1, 0};
    writer.beginNode("UV").addArray(std::span<const double>(uv), FbxArrayEncoding::zlib).endNode();
    writer.beginNode("UVIndex").addArray(std::span<const int64_t>(uvIndex)).endNode();
    writer.endNode();
    writer.endNode();
    writer.endNode();
    writer.beginNode("Connections");
    addConnection(writer, 1, 0);
    addConnection(writer, 2, 1);
    writer.endNode();

    std::string error;
    auto scene = load(writer.finish(), error);
    ASSERT_TRUE(scene) << error;
    ASSERT_EQ(1, scene->meshCount());
    const Mesh& mesh = *scene->mesh(0);
    Attributes<Vec3> positions = mesh.geometryData().positions();
    ASSERT_EQ(4, positions.count);
    ASSERT_EQ(4, positions.valueCount);
    EXPECT_EQ(1.0, positions.values[positions.indices[2]].y);
    EXPECT_EQ(3, positions.indices[3]);
    Attributes<Vec2> uvs = mesh.geometryData().uvs();
    ASSERT_EQ(4, uvs.count);
    ASSERT_TRUE(uvs.indices);
    EXPECT_EQ((std::vector<int>{0, 1, 1, 0}), std::vector<int>(uvs.indices, uvs.indices + 4));
    // YZX: +X turns about Y to -Z, then about X to +Y (XYZ would leave it at -Z).
    const Matrix& global = mesh.globalTransform();
    EXPECT_NEAR(0, global.m[0], 1e-12);
    EXPECT_NEAR(1, global.m[1], 1e-12);
    EXPECT_NEAR(0, global.m[2], 1e-12);
    EXPECT_EQ(3.0, global.m[14]);
}

// A model whose geometry holds a damaged compressed index array.
std::vector<uint8_t> damagedGeometry(const char* modelClass, uint64_t& damagedAt) {
    FbxBinaryWriter writer(7400);
    writer.beginNode("Objects");
    addObject(writer, "Model", 1, "M\0\x01Model"sv, modelClass);
    writer.endNode();
    addObject(writer, "Geometry", 2, "\0\x01Geometry"sv, "Mesh");
    const std::vector<double> vertices{0, 0, 0, 1, 0, 0, 0, 1, 0};
    writer.beginNode("Vertices").addArray(std::span<const double>(vertices)).endNode();
    const std::vector<int32_t> triangle{0, 1, -3};
    std::vector<uint8_t> packed = FbxBinaryWriter::zlibCompress(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(triangle.data()), triangle.size() * 4));
    packed[packed.size() / 2] ^= 0x5A;
    writer.beginNode("PolygonVertexIndex");
    damagedAt = writer.position();
    writer.addArrayRecord('i', 3, 1, packed).endNode();
    writer.endNode();
    writer.endNode();
    writer.beginNode("Connections");
    addConnection(writer, 1, 0);
    addConnection(writer, 2, 1);
    writer.endNode();
    return writer.finish();
}

TEST(SceneBinary, DamagedArraysFailTheLoadOnlyWhenAMeshNeedsThem) {
    uint64_t damagedAt = 0;
    std::string error;
    EXPECT_FALSE(load(damagedGeometry("Mesh", damagedAt), error));
    EXPECT_EQ("Corrupt compressed array at byte " + std::to_string(damagedAt), error);

    error.clear();
    auto scene = load(damagedGeometry("Null", damagedAt), error);
    ASSERT_TRUE(scene) << error;
    EXPECT_EQ(0, scene->meshCount());
}

}  // namespace
}  // namespace lumbrix::fbx
