// Scenes read from our exports and the shared corpus against the values the catalogue lists
// (mesh and triangle counts, cameras, world translations) and against each
// other (binary and ASCII exports of one scene must read the same).
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_scene.h"
#include "tests/support/test_corpus.h"

namespace lumbrix::fbx {
namespace {

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<Scene> loadFile(const std::filesystem::path& path, uint64_t flags) {
    std::vector<uint8_t> bytes = readBytes(path);
    if (bytes.empty()) {
        ADD_FAILURE() << "missing test file " << path;
        return nullptr;
    }
    std::string error;
    auto scene = Scene::load(bytes.data(), bytes.size(), flags, error);
    EXPECT_TRUE(scene) << path << ": " << error;
    return scene;
}

std::unique_ptr<Scene> loadOurs(const std::string& relative, uint64_t flags = 0) {
    return loadFile(test::testData(relative), flags);
}

std::unique_ptr<Scene> loadShared(const std::string& relative, uint64_t flags = 0) {
    return loadFile(test::sharedCorpus(relative), flags);
}

// Triangles the fan gives for every polygon of every partition.
int64_t triangleCount(const Mesh& mesh) {
    const GeometryData& geometry = mesh.geometryData();
    int64_t triangles = 0;
    std::vector<int> out;
    for (int p = 0; p < geometry.partitionCount(); ++p) {
        for (const Polygon& polygon : geometry.partition(p).polygons) {
            out.resize(static_cast<size_t>(3 * std::max(polygon.vertexCount, 1)));
            triangles += triangulate(geometry, polygon, out.data(), static_cast<uint32_t>(out.size())) / 3;
        }
    }
    return triangles;
}

int64_t triangleCount(const Scene& scene) {
    int64_t triangles = 0;
    for (int i = 0; i < scene.meshCount(); ++i) triangles += triangleCount(*scene.mesh(i));
    return triangles;
}

struct CameraRow {
    const char* name;
    const char* model;
    double focal;
    double filmWidth;
    double filmHeight;
};

struct CatalogRow {
    const char* path;
    int meshes;
    int64_t triangles;  // drawn: once per instancing model
    std::vector<CameraRow> cameras;
};

constexpr double kFocal = 34.89327621;  // FBX's default where the file has none

const std::vector<CatalogRow>& ourCatalog() {
    static const std::vector<CatalogRow> rows = {
        {"generated/blender/bl_a_plane_uv.fbx", 1, 2, {}},
        {"generated/blender/bl_c_ngons.fbx", 1, 7, {}},
        {"generated/blender/bl_d_two_meshes.fbx", 2, 32, {}},
        {"generated/blender/bl_e_mesh_3cams.fbx",
         1,
         12,
         {{"Cam35_data", "Cam35", 35, 1.41732, 0.944882},
          {"Cam50_data", "Cam50", 50, 1.41732, 0.944882},
          {"Camera", "Object", 24, 1.41732, 0.944882}}},
        {"generated/blender/bl_i_cameras_only.fbx",
         0,
         0,
         {{"CamA_data", "CamA", 28, 1.41732, 0.944882}, {"CamB_data", "CamB", 85, 1.41732, 0.944882}}},
        {"generated/blender/bl_j_three_meshes.fbx", 3, 296, {}},
        {"generated/assimp/as_fan_binary.fbx", 1, 8, {}},
        {"generated/assimp/as_ngons_ascii.fbx", 1, 7, {}},
        {"generated/assimp/as_grid100_ascii.fbx", 1, 20000, {}},
        {"generated/assimp/as_three_meshes_ascii.fbx", 3, 296, {}},
        {"generated/assimp/as_two_objects_binary.fbx", 2, 3, {}},
    };
    return rows;
}

const std::vector<CatalogRow>& sharedCatalog() {
    static const std::vector<CatalogRow> rows = {
        {"generated/blender/bl_g_big_grid.fbx", 1, 500000, {}},
        {"third_party/ufbx/data/blender_279_default_7400_binary.fbx",
         1,
         12,
         {{"Camera", "Camera", 35, 1.25984, 0.708661}}},
        {"third_party/ufbx/data/blender_279_nested_meshes_7400_binary.fbx", 4, 40, {}},
        {"third_party/ufbx/data/blender_282_suzanne_and_transform_7400_binary.fbx", 2, 1936, {}},
        {"third_party/ufbx/data/blender_292_circle_7300_ascii.fbx", 1, 0, {}},
        {"third_party/ufbx/data/blender_293_instancing_7400_binary.fbx", 8, 7744, {}},
        {"third_party/ufbx/data/blender_300_ngon_big_7400_binary.fbx", 1, 8028, {}},
        {"third_party/ufbx/data/blender_340_z_up_7400_binary.fbx", 2, 26, {{"Camera", "Camera", 50, 1.41732, 0.944882}}},
        {"third_party/ufbx/data/blender_402_ortho_scale_unit_7400_binary.fbx",
         0,
         0,
         {{"Camera.002", "Ortho_1", 50, 1.41732, 0.944882},
          {"Camera.003", "Ortho_2", 50, 1.41732, 0.944882},
          {"Camera.004", "Ortho_3", 50, 1.41732, 0.944882}}},
        {"third_party/ufbx/data/marvelous_quad_7700_binary.fbx", 1, 374, {}},
        {"third_party/ufbx/data/max_quote_7500_ascii.fbx", 3, 36, {}},
        {"third_party/ufbx/data/maya_camera_light_axes_y_up_7700_binary.fbx",
         0,
         0,
         {{"forwardCamera", "forwardCamera", 35, 1.41732, 0.94488}}},
        {"third_party/ufbx/data/maya_lod_group_7500_binary.fbx", 6, 246, {}},
        {"third_party/ufbx/data/maya_ngon_maze_7700_binary.fbx",
         1,
         41136,
         {{"camera1", "camera1", 49.4546, 1.41732, 0.94488}}},
        {"third_party/ufbx/data/maya_ortho_camera_400x200_7700_ascii.fbx",
         1,
         12,
         {{"Fill", "Fill", 59.5245, 0.493, 0.292},
          {"Vertical", "Vertical", 59.5245, 0.493, 0.292},
          {"Horizontal", "Horizontal", 59.5245, 0.493, 0.292},
          {"Overscan", "Overscan", 59.5245, 0.493, 0.292}}},
        {"third_party/ufbx/data/motionbuilder_cube_7700_ascii.fbx", 1, 12, {}},
        {"third_party/ufbx/data/motionbuilder_cube_7700_binary.fbx", 1, 12, {}},
        {"third_party/ufbx/data/revit_empty_7400_binary.fbx",
         2,
         24,
         {{"3D View: {3D}", "3D View: {3D}", kFocal, 60.7014, 41.5863}}},
        {"third_party/ufbx/data/revit_wall_square_7700_binary.fbx",
         6,
         88,
         {{"3D View: {3D}", "3D View: {3D}", kFocal, 18.2728, 26.4555}}},
        {"third_party/ufbx/data/zbrush_d20_7500_binary.fbx", 2, 44, {}},
        {"third_party/assimp/test/models/FBX/boxWithCompressedCTypeArray.FBX", 1, 12, {}},
        {"third_party/assimp/test/models/FBX/cubes_nonames.fbx", 4, 420, {}},
        {"third_party/assimp/test/models/FBX/cubes_with_names.fbx", 4, 420, {}},
        {"third_party/assimp/test/models/FBX/embedded_ascii/box.FBX", 1, 12, {}},
        {"third_party/assimp/test/models/FBX/global_settings.fbx",
         2,
         1352,
         {{"Camera.001", "Camera.001", 35, 1.25984, 0.708661}, {"Camera", "Camera", 35, 1.25984, 0.708661}}},
        {"third_party/assimp/test/models/FBX/spider.fbx", 19, 1368, {{"Camera", "Camera", 35, 1.25984, 0.708661}}},
        {"third_party/assimp/test/models-nonbsd/FBX/2013_ASCII/COLLADA.fbx",
         2,
         6722,
         {{"Camera_", "Camera", kFocal, 0.612, 0.612}, {"testCameraShape", "testCamera", kFocal, 0.612, 0.612}}},
        {"third_party/assimp/test/models-nonbsd/FBX/2013_BINARY/ConcavePolygon.fbx", 1, 64, {}},
    };
    return rows;
}

void expectCatalogRow(const CatalogRow& row, const Scene* scene) {
    SCOPED_TRACE(row.path);
    ASSERT_TRUE(scene);
    EXPECT_EQ(row.meshes, scene->meshCount());
    EXPECT_EQ(row.triangles, triangleCount(*scene));
    ASSERT_EQ(row.cameras.size(), static_cast<size_t>(scene->cameraCount()));
    for (size_t i = 0; i < row.cameras.size(); ++i) {
        const CameraRow& expected = row.cameras[i];
        const Camera* camera = scene->camera(static_cast<int>(i));
        ASSERT_TRUE(camera);
        EXPECT_EQ(expected.name, camera->name());
        EXPECT_EQ(ObjectKind::camera, camera->kind());
        ASSERT_TRUE(camera->parent());
        EXPECT_EQ(expected.model, camera->parent()->name());
        EXPECT_EQ(camera->parent()->globalTransform().m, camera->globalTransform().m);
        EXPECT_NEAR(expected.focal, camera->focalLength(), 1e-4);
        EXPECT_NEAR(expected.filmWidth, camera->filmWidth(), 1e-4);
        EXPECT_NEAR(expected.filmHeight, camera->filmHeight(), 1e-4);
    }
}

TEST(SceneCorpus, OurCountsAndCamerasMatchTheCatalogue) {
    for (const CatalogRow& row : ourCatalog()) expectCatalogRow(row, loadOurs(row.path).get());
}

TEST(SceneCorpus, SharedCountsAndCamerasMatchTheCatalogue) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    for (const CatalogRow& row : sharedCatalog()) expectCatalogRow(row, loadShared(row.path).get());
}

void expectSkipFlagsChangeNothing(const std::filesystem::path& path) {
    SCOPED_TRACE(path.string());
    auto plain = loadFile(path, 0);
    auto skipping = loadFile(path, 4676);
    auto everything = loadFile(path, ~uint64_t(0));
    ASSERT_TRUE(plain && skipping && everything);
    for (const Scene* other : {skipping.get(), everything.get()}) {
        EXPECT_EQ(plain->meshCount(), other->meshCount());
        EXPECT_EQ(plain->cameraCount(), other->cameraCount());
        EXPECT_EQ(triangleCount(*plain), triangleCount(*other));
    }
}

TEST(SceneCorpus, SkipFlagsChangeNothingTheViewerReads) {
    expectSkipFlagsChangeNothing(test::testData("generated/blender/bl_e_mesh_3cams.fbx"));
}

TEST(SceneCorpus, SkipFlagsChangeNothingTheViewerReadsInSharedFiles) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    for (const char* path :
         {"third_party/ufbx/data/maya_cube_7500_ascii.fbx", "third_party/ufbx/data/motionbuilder_cube_7700_binary.fbx"}) {
        expectSkipFlagsChangeNothing(test::sharedCorpus(path));
    }
}

TEST(SceneCorpus, ProducerCamerasOutsideTheSceneAreNotListed) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    for (const char* path : {"third_party/ufbx/data/motionbuilder_cube_7700_ascii.fbx",
                             "third_party/ufbx/data/motionbuilder_cube_7700_binary.fbx"}) {
        auto scene = loadShared(path);
        ASSERT_TRUE(scene);
        EXPECT_EQ(0, scene->cameraCount()) << path;
        EXPECT_EQ(nullptr, scene->camera(0));
    }
}

struct Translation {
    const char* name;
    double x, y, z;
};

void expectTranslation(const Translation& expected, const Matrix& global) {
    SCOPED_TRACE(expected.name);
    EXPECT_NEAR(expected.x, global.m[12], 1e-3);
    EXPECT_NEAR(expected.y, global.m[13], 1e-3);
    EXPECT_NEAR(expected.z, global.m[14], 1e-3);
}

TEST(SceneCorpus, BlenderWorldTranslations) {
    struct Row {
        const char* path;
        std::vector<Translation> meshes;
        std::vector<Translation> cameras;  // by camera name
    };
    const Row rows[] = {
        {"bl_d_two_meshes.fbx", {{"Left", -300, 0, 0}, {"Right", 300, 0, 0}}, {}},
        {"bl_e_mesh_3cams.fbx",
         {{"Stage", 0, 100, 0}},
         {{"Cam35_data", 0, 200, 1000}, {"Cam50_data", 1000, 200, 0}, {"Camera", 0, 1500, 0}}},
        {"bl_f_parent_empty.fbx", {{"ChildCube", 241.421356, 300, -341.421356}}, {}},
        {"bl_i_cameras_only.fbx", {}, {{"CamA_data", 0, 170, 800}, {"CamB_data", 400, 170, 600}}},
        {"bl_j_three_meshes.fbx", {{"Box", 0, 0, 0}, {"Column", 400, 200, 0}, {"Ball", -400, 100, 0}}, {}},
        {"bl_k_cube_scale_all.fbx", {{"Cube", 1, 3, -2}}, {}},
        {"bl_l_cube_zup.fbx", {{"Cube", 100, 200, 300}}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        auto scene = loadOurs(std::string("generated/blender/") + row.path);
        ASSERT_TRUE(scene);
        ASSERT_EQ(row.meshes.size(), static_cast<size_t>(scene->meshCount()));
        for (size_t i = 0; i < row.meshes.size(); ++i) {
            EXPECT_EQ(row.meshes[i].name, scene->mesh(static_cast<int>(i))->name());
            expectTranslation(row.meshes[i], scene->mesh(static_cast<int>(i))->globalTransform());
        }
        ASSERT_EQ(row.cameras.size(), static_cast<size_t>(scene->cameraCount()));
        for (size_t i = 0; i < row.cameras.size(); ++i) {
            EXPECT_EQ(row.cameras[i].name, scene->camera(static_cast<int>(i))->name());
            expectTranslation(row.cameras[i], scene->camera(static_cast<int>(i))->globalTransform());
        }
    }
}

TEST(SceneCorpus, BlenderChildHangsUnderItsEmpty) {
    auto scene = loadOurs("generated/blender/bl_f_parent_empty.fbx");
    ASSERT_TRUE(scene);
    ASSERT_EQ(1, scene->meshCount());
    const Mesh* child = scene->mesh(0);
    ASSERT_TRUE(child->parent());
    EXPECT_EQ("Rig", child->parent()->name());
    EXPECT_EQ(ObjectKind::model, child->parent()->kind());
    EXPECT_EQ(nullptr, child->parent()->parent());
    EXPECT_EQ(ObjectKind::mesh, child->kind());
}

TEST(SceneCorpus, InstancedGeometryIsOneMeshPerModel) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    auto scene = loadShared("third_party/ufbx/data/blender_293_instancing_7400_binary.fbx");
    ASSERT_TRUE(scene);
    ASSERT_EQ(8, scene->meshCount());
    const char* names[] = {"Suzanne",     "Suzanne.001", "Suzanne.002", "Suzanne.003",
                           "Suzanne.004", "Suzanne.005", "Suzanne.006", "Suzanne.007"};
    const GeometryData& first = scene->mesh(0)->geometryData();
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        const Mesh* mesh = scene->mesh(i);
        EXPECT_EQ(names[i], mesh->name());
        EXPECT_EQ(968, triangleCount(*mesh));
        const GeometryData& geometry = mesh->geometryData();
        ASSERT_EQ(first.positions().count, geometry.positions().count);
        ASSERT_EQ(first.positions().valueCount, geometry.positions().valueCount);
        EXPECT_NE(first.positions().values, i == 0 ? nullptr : geometry.positions().values);
        for (int v = 0; v < geometry.positions().valueCount; v += 97) {
            EXPECT_EQ(first.positions().values[v].x, geometry.positions().values[v].x);
            EXPECT_EQ(first.positions().values[v].z, geometry.positions().values[v].z);
        }
        EXPECT_EQ(first.uvs().count, geometry.uvs().count);
    }
    // The models stand on a circle of radius 3.1 around the origin.
    for (int i = 0; i < 8; ++i) {
        const Matrix& global = scene->mesh(i)->globalTransform();
        EXPECT_NEAR(3.1, std::hypot(global.m[12], global.m[14]), 1e-4) << i;
        EXPECT_NEAR(0.0, global.m[13], 1e-6) << i;
    }
}

TEST(SceneCorpus, NamesAreKeptWhateverTheyHold) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    auto colon = loadShared("third_party/ufbx/data/max_colon_name_7500_binary.fbx");
    ASSERT_TRUE(colon && colon->meshCount() == 1);
    EXPECT_EQ("Cube::Model", colon->mesh(0)->name());

    for (const char* path : {"third_party/ufbx/data/max_unicode_7500_binary.fbx",
                             "third_party/ufbx/data/max_unicode_7500_ascii.fbx"}) {
        auto unicode = loadShared(path);
        ASSERT_TRUE(unicode && unicode->meshCount() == 1);
        EXPECT_EQ("a\xCE\xB2\xE3\x82\xAB\xF0\x9F\x98\x82", unicode->mesh(0)->name()) << path;
    }

    auto quotes = loadShared("third_party/ufbx/data/max_quote_7500_ascii.fbx");
    ASSERT_TRUE(quotes && quotes->meshCount() == 3);
    EXPECT_EQ("\"'&\"", quotes->mesh(0)->name());
    EXPECT_EQ("\"", quotes->mesh(1)->name());
    EXPECT_EQ("\"", quotes->mesh(2)->name());
    EXPECT_NE(quotes->mesh(1)->id(), quotes->mesh(2)->id());

    auto unnamed = loadShared("third_party/assimp/test/models/FBX/cubes_nonames.fbx");
    ASSERT_TRUE(unnamed && unnamed->meshCount() == 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ("", unnamed->mesh(i)->name());

    // Two children share a Cyrillic name; each keeps its own geometry and parent.
    auto named = loadShared("third_party/assimp/test/models/FBX/cubes_with_names.fbx");
    ASSERT_TRUE(named);
    std::vector<const Mesh*> twins;
    for (int i = 0; i < named->meshCount(); ++i)
        if (named->mesh(i)->name() == "\xD0\x9A\xD1\x83\xD0\xB1\x31") twins.push_back(named->mesh(i));
    ASSERT_EQ(2u, twins.size());
    ASSERT_TRUE(twins[0]->parent() && twins[1]->parent());
    EXPECT_NE(twins[0]->parent(), twins[1]->parent());
    EXPECT_NE(twins[0]->geometryData().positions().values, twins[1]->geometryData().positions().values);
}

}  // namespace
}  // namespace lumbrix::fbx
