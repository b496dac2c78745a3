#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "model/fbx_imported_scene.h"
#include "model/mesh.h"

namespace lumbrix {
namespace {

TEST(MeshRecords, VertexBytesFollowTheGpuLayout) {
    Vertex vertex;
    vertex.position = {1.0f, 2.0f, 3.0f};
    vertex.uv = {0.25f, 0.75f};
    vertex.normal = {0.0f, 0.0f, -1.0f};
    std::vector<Vertex> buffer{vertex, vertex};

    unsigned char bytes[96];
    std::memcpy(bytes, buffer.data(), sizeof bytes);
    float readBack[3];
    std::memcpy(readBack, bytes + 48 + 0, 12);
    EXPECT_EQ(readBack[2], 3.0f);
    std::memcpy(readBack, bytes + 48 + 16, 8);
    EXPECT_EQ(readBack[0], 0.25f);
    EXPECT_EQ(readBack[1], 0.75f);
    std::memcpy(readBack, bytes + 48 + 32, 12);
    EXPECT_EQ(readBack[2], -1.0f);
    EXPECT_EQ(buffer.size() * sizeof(Vertex), 96u);
}

TEST(MeshRecords, DefaultVertexHasUpNormalAndZeroUv) {
    const Vertex vertex;
    EXPECT_EQ(vertex.normal, (std::array<float, 3>{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(vertex.uv, (std::array<float, 2>{0.0f, 0.0f}));
}

TEST(MeshRecords, DefaultImportedSceneIsEmpty) {
    const FBXImportedScene scene;
    EXPECT_EQ(scene.mesh(), nullptr);
    EXPECT_TRUE(scene.cameras().empty());
    EXPECT_EQ(scene.sourceMeshCount(), 0);
    EXPECT_EQ(scene.cameraCount(), 0);
    EXPECT_EQ(scene.statusText(), "FBX: \xE2\x80\x94");
    EXPECT_TRUE(scene.warningText().empty());
}

TEST(MeshRecords, ImportedMeshAndCameraStartZeroed) {
    const FBXImportedMesh mesh;
    EXPECT_TRUE(mesh.vertexData().empty());
    EXPECT_TRUE(mesh.indexData().empty());
    EXPECT_EQ(mesh.vertexCount(), 0);
    EXPECT_EQ(mesh.indexCount(), 0);

    const FBXImportedCamera camera;
    EXPECT_TRUE(camera.name().empty());
    EXPECT_EQ(camera.fovYDegrees(), 0.0f);
    EXPECT_EQ(camera.farPlane(), 0.0f);
    EXPECT_EQ(camera.position(), (std::array<float, 3>{0, 0, 0}));
}

TEST(MeshRecords, SceneCopiesTextsAndSharesItsMesh) {
    FBXImportedScene scene;
    std::string status = "FBX: 1 mesh";
    scene.setStatusText(status);
    status += " changed";
    EXPECT_EQ(scene.statusText(), "FBX: 1 mesh");

    auto mesh = std::make_shared<FBXImportedMesh>();
    scene.setMesh(mesh);
    mesh->setVertexCount(7);
    EXPECT_EQ(scene.mesh()->vertexCount(), 7);
}

}  // namespace
}  // namespace lumbrix
