#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/fbx_scene_importer.h"
#include "model/vertex.h"
#include "obj_test_files.h"
#include "platform/system_log.h"
#include "tests/support/test_corpus.h"

namespace lumbrix {
namespace {

using testing::ScratchDir;

// A small ASCII FBX 7.4 file: `objects` and `connections` go into their sections.
std::string asciiFBX(const std::string& objects, const std::string& connections) {
    return "; FBX 7.4.0 project file\n"
           "FBXHeaderExtension:  {\n\tFBXHeaderVersion: 1003\n\tFBXVersion: 7400\n}\n"
           "Objects:  {\n" +
           objects + "}\nConnections:  {\n" + connections + "}\n";
}

std::string meshModel(int id, const std::string& name, const std::string& properties = "") {
    return "\tModel: " + std::to_string(id) + ", \"Model::" + name + "\", \"Mesh\" {\n\t\tProperties70:  {\n" +
           properties + "\t\t}\n\t}\n";
}

std::string geometry(int id, const std::string& vertices, int vertexValues, const std::string& polygonIndices,
                     int indexCount, const std::string& uvLayer = "") {
    return "\tGeometry: " + std::to_string(id) + ", \"Geometry::\", \"Mesh\" {\n\t\tVertices: *" +
           std::to_string(vertexValues) + " {\n\t\t\ta: " + vertices + "\n\t\t}\n\t\tPolygonVertexIndex: *" +
           std::to_string(indexCount) + " {\n\t\t\ta: " + polygonIndices + "\n\t\t}\n" + uvLayer + "\t}\n";
}

std::string cameraAttribute(int id, const std::string& name, const std::string& properties) {
    return "\tNodeAttribute: " + std::to_string(id) + ", \"NodeAttribute::" + name + "\", \"Camera\" {\n" +
           "\t\tProperties70:  {\n" + properties + "\t\t}\n\t}\n";
}

std::string cameraModel(int id, const std::string& name, const std::string& properties = "") {
    return "\tModel: " + std::to_string(id) + ", \"Model::" + name + "\", \"Camera\" {\n\t\tProperties70:  {\n" +
           properties + "\t\t}\n\t}\n";
}

std::string property(const std::string& name, const std::string& type, const std::string& values) {
    return "\t\t\tP: \"" + name + "\", \"" + type + "\", \"\", \"A\"," + values + "\n";
}

std::string oo(int child, int parent) {
    return "\tC: \"OO\"," + std::to_string(child) + "," + std::to_string(parent) + "\n";
}

const std::string kQuadVertices = "0,0,0,1,0,0,1,1,0,0,1,0";
const std::string kQuadUVs =
    "\t\tLayerElementUV: 0 {\n\t\t\tVersion: 101\n\t\t\tName: \"UVMap\"\n"
    "\t\t\tMappingInformationType: \"ByPolygonVertex\"\n\t\t\tReferenceInformationType: \"IndexToDirect\"\n"
    "\t\t\tUV: *8 {\n\t\t\t\ta: 0.25,0.75,1,0,1,1,0,1\n\t\t\t}\n"
    "\t\t\tUVIndex: *4 {\n\t\t\t\ta: 0,1,2,3\n\t\t\t}\n\t\t}\n";

std::string quadFile(const std::string& modelProperties = "") {
    return asciiFBX(meshModel(10, "Quad", modelProperties) + geometry(20, kQuadVertices, 12, "0,1,2,-4", 4, kQuadUVs),
                    oo(10, 0) + oo(20, 10));
}

std::vector<Vertex> verticesOf(const FBXImportedScene& scene) {
    std::vector<Vertex> vertices(static_cast<size_t>(scene.mesh()->vertexCount()));
    std::memcpy(vertices.data(), scene.mesh()->vertexData().data(), vertices.size() * sizeof(Vertex));
    return vertices;
}

std::vector<uint32_t> indicesOf(const FBXImportedScene& scene) {
    std::vector<uint32_t> indices(static_cast<size_t>(scene.mesh()->indexCount()));
    std::memcpy(indices.data(), scene.mesh()->indexData().data(), indices.size() * sizeof(uint32_t));
    return indices;
}

class FBXImportTest : public ::testing::Test {
protected:
    std::shared_ptr<FBXImportedScene> importOK(const std::string& text) {
        auto result = FBXSceneImporter::loadSceneFromURL(dir_.write("scene.fbx", text));
        if (!result) {
            ADD_FAILURE() << result.error().description;
            return std::make_shared<FBXImportedScene>();
        }
        return result.value();
    }
    Error importFailure(const std::string& text) {
        auto result = FBXSceneImporter::loadSceneFromURL(dir_.write("scene.fbx", text));
        if (result) {
            ADD_FAILURE() << "import succeeded";
            return {};
        }
        return result.error();
    }
    ScratchDir dir_;
};

TEST_F(FBXImportTest, QuadBecomesTwoUnsharedTriangles) {
    const auto scene = importOK(quadFile());
    ASSERT_NE(scene->mesh(), nullptr);
    const Mesh mesh = scene->mesh()->toMesh();
    ASSERT_EQ(mesh.vertices.size(), 6u);
    EXPECT_EQ(0, std::memcmp(mesh.vertices.data(), scene->mesh()->vertexData().data(), 6 * sizeof(Vertex)));
    EXPECT_EQ(mesh.indices, indicesOf(*scene));
    EXPECT_EQ(scene->mesh()->vertexCount(), 6);
    EXPECT_EQ(scene->mesh()->indexCount(), 6);
    EXPECT_EQ(scene->mesh()->vertexData().size(), 6u * 48u);
    EXPECT_EQ(indicesOf(*scene), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(scene->statusText(), "FBX loaded: 1 mesh(es), 6 vertices, 2 triangles");
    EXPECT_EQ(scene->sourceMeshCount(), 1);
    EXPECT_TRUE(scene->warningText().empty());
    const auto vertices = verticesOf(*scene);
    // Fan from the first corner: (0, 1, 2), (0, 2, 3).
    EXPECT_EQ(vertices[4].position, (std::array<float, 3>{1, 1, 0}));
    EXPECT_EQ(vertices[5].position, (std::array<float, 3>{0, 1, 0}));
    for (const Vertex& v : vertices) EXPECT_EQ(v.normal, (std::array<float, 3>{0, 1, 0}));
    // UV (0.25, 0.75) is stored as (0.25, 0.25).
    EXPECT_EQ(vertices[0].uv, (std::array<float, 2>{0.25f, 0.25f}));
    EXPECT_EQ(vertices[1].uv, (std::array<float, 2>{1.0f, 1.0f}));
}

TEST_F(FBXImportTest, GeometricOffsetAppliesBeforeTheNodeTransform) {
    const auto scene = importOK(quadFile(property("GeometricTranslation", "Vector3D", "0,0,5") +
                                         property("Lcl Scaling", "Lcl Scaling", "2,2,2")));
    ASSERT_NE(scene->mesh(), nullptr);
    const auto vertices = verticesOf(*scene);
    // (1, 1, 0) moved to z = 5 first, then scaled by 2.
    EXPECT_EQ(vertices[4].position, (std::array<float, 3>{2, 2, 10}));
}

TEST_F(FBXImportTest, TwoMeshesAreRefused) {
    const Error error = importFailure(asciiFBX(
        meshModel(10, "A") + meshModel(11, "B") + geometry(20, kQuadVertices, 12, "0,1,-3", 3) +
            geometry(21, kQuadVertices, 12, "0,1,-3", 3),
        oo(10, 0) + oo(11, 0) + oo(20, 10) + oo(21, 11)));
    EXPECT_EQ(error.domain, "FBXSceneImporter");
    EXPECT_EQ(error.code, 3);
    EXPECT_EQ(error.description, "Multiple meshes found: 2. Export as a single mesh.");
}

TEST_F(FBXImportTest, NgonsAreRefusedWithTheirSummary) {
    const std::string vertices = "0,0,0,1,0,0,2,1,0,1,2,0,0,1,0,-1,1,0";
    const Error error = importFailure(asciiFBX(meshModel(10, "N") + geometry(20, vertices, 18,
                                                                             "0,1,2,3,-5,0,1,2,3,4,-6", 11),
                                               oo(10, 0) + oo(20, 10)));
    EXPECT_EQ(error.code, 3);
    EXPECT_EQ(error.description,
              "N-gons found: 2 (max 6 vertices). Export triangulated/quads. Examples: 5 vertices, 6 vertices");
}

TEST_F(FBXImportTest, ReadAndParseFailures) {
    auto missing = FBXSceneImporter::loadSceneFromURL(dir_.path() + "/missing.fbx");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error(), Error("FBXSceneImporter", 1,
                                     "Failed to read FBX file. Cannot open " + dir_.path() +
                                         "/missing.fbx: No such file or directory"));
    EXPECT_EQ(importFailure(""), Error("FBXSceneImporter", 1,
                                       "Failed to read FBX file. Cannot read " + dir_.path() +
                                           "/scene.fbx: The file is empty"));
    const Error garbage = importFailure("this is not a model file at all");
    EXPECT_EQ(garbage.code, 2);
    EXPECT_FALSE(garbage.description.empty());
    auto cameras = FBXSceneImporter::loadCamerasFromURL(dir_.path());
    ASSERT_FALSE(cameras);
    EXPECT_EQ(cameras.error().code, 1);
}

TEST_F(FBXImportTest, TrianglesOutsideThePositionsAreDropped) {
    // The second triangle names control point 9 of 4.
    const auto scene = importOK(
        asciiFBX(meshModel(10, "Q") + geometry(20, kQuadVertices, 12, "0,1,-3,0,2,-10", 6), oo(10, 0) + oo(20, 10)));
    ASSERT_NE(scene->mesh(), nullptr);
    EXPECT_EQ(scene->mesh()->indexCount(), 3);
    EXPECT_EQ(scene->statusText(), "FBX loaded: 1 mesh(es), 3 vertices, 1 triangles");
}

TEST_F(FBXImportTest, GeometryWithoutPolygonsHasNoValidGeometry) {
    // Control points but no corners: the mesh is skipped before its partitions are looked at.
    const auto scene = importOK(asciiFBX(meshModel(10, "Points") + geometry(20, kQuadVertices, 12, "", 0),
                                         oo(10, 0) + oo(20, 10)));
    EXPECT_EQ(scene->mesh(), nullptr);
    EXPECT_EQ(scene->statusText(), "FBX loaded: no valid geometry");
    EXPECT_TRUE(scene->warningText().empty());
    EXPECT_EQ(scene->sourceMeshCount(), 1);
}

TEST_F(FBXImportTest, CamerasFollowTheirRules) {
    const std::string noFilm = property("FocalLength", "Number", "0");
    const auto scene = importOK(asciiFBX(
        cameraAttribute(30, "", property("FocalLength", "Number", "50") + property("FilmWidth", "Number", "36") +
                                    property("FilmHeight", "Number", "24") + property("NearPlane", "Number", "0") +
                                    property("FarPlane", "Number", "0")) +
            cameraModel(40, "", property("Lcl Translation", "Lcl Translation", "1,2,3")) +
            cameraAttribute(31, "", noFilm + property("NearPlane", "Number", "5") + property("FarPlane", "Number", "2")) +
            cameraModel(41, "", property("Lcl Scaling", "Lcl Scaling", "0,1,1")) +
            cameraAttribute(32, "", noFilm) + cameraModel(42, ""),
        oo(40, 0) + oo(41, 0) + oo(42, 0) + oo(30, 40) + oo(31, 41) + oo(32, 42)));
    EXPECT_EQ(scene->statusText(), "FBX loaded: no meshes");
    EXPECT_EQ(scene->mesh(), nullptr);
    ASSERT_EQ(scene->cameraCount(), 3);
    const auto& cameras = scene->cameras();
    EXPECT_EQ(cameras[0]->name(), "Camera 1");
    EXPECT_EQ(cameras[1]->name(), "Camera 2");
    EXPECT_EQ(cameras[2]->name(), "Camera 3");

    // Millimetre film stays; clip planes get their defaults.
    EXPECT_EQ(cameras[0]->position(), (std::array<float, 3>{1, 2, 3}));
    EXPECT_EQ(cameras[0]->forward(), (std::array<float, 3>{1, 0, 0}));
    EXPECT_EQ(cameras[0]->sensorWidthMm(), 36.0f);
    EXPECT_NEAR(cameras[0]->fovHDegrees(), 39.5978f, 0.001f);
    EXPECT_NEAR(cameras[0]->fovYDegrees(), 26.9915f, 0.001f);
    EXPECT_EQ(cameras[0]->nearPlane(), 0.01f);
    EXPECT_EQ(cameras[0]->farPlane(), 1000.0f);

    // No focal length: 70 x 50; a collapsed X axis looks down -Z; far below near becomes 1000.
    EXPECT_EQ(cameras[1]->fovHDegrees(), 70.0f);
    EXPECT_EQ(cameras[1]->fovYDegrees(), 50.0f);
    EXPECT_EQ(cameras[1]->forward(), (std::array<float, 3>{0, 0, -1}));
    EXPECT_EQ(cameras[1]->nearPlane(), 5.0f);
    EXPECT_EQ(cameras[1]->farPlane(), 1000.0f);
}

TEST_F(FBXImportTest, DumpIsDebugOnlyAndTotalsAreInfo) {
    std::vector<std::pair<LogPriority, std::string>> lines;
    SystemLog::setSink([&](LogPriority p, const std::string& line) { lines.emplace_back(p, line); });
    const bool wasDebug = SystemLog::debugEnabled();
    SystemLog::setDebugEnabled(false);
    importOK(quadFile());
    size_t vertexLines = 0;
    bool totals = false;
    for (const auto& [priority, line] : lines) {
        vertexLines += line.rfind("Vertex[", 0) == 0;
        totals |= priority == LogPriority::info && line == "Total triangles: 2";
    }
    EXPECT_TRUE(totals);
    EXPECT_EQ(vertexLines, 0u);

    lines.clear();
    SystemLog::setDebugEnabled(true);
    importOK(quadFile());
    std::vector<std::string> debugLines;
    for (const auto& [priority, line] : lines) {
        if (priority == LogPriority::debug) debugLines.push_back(line);
    }
    ASSERT_EQ(debugLines.size(), 2u + 6u + 2u);
    EXPECT_EQ(debugLines[1], "Vertex[0]: pos=(0.00, 0.00, 0.00), uv=(0.25, 0.25)");
    EXPECT_EQ(debugLines.back(), "Triangle[1]: (3, 4, 5)");
    SystemLog::setDebugEnabled(wasDebug);
    SystemLog::setSink(nullptr);
}

// Files from other tools: Blender's exports in the repository, older and bigger ones beside it.
class FBXCorpusTest : public ::testing::Test {
protected:
    static std::string corpus(const std::string& relative) { return test::testData(relative).string(); }
    static std::string shared(const std::string& relative) { return test::sharedCorpus(relative).string(); }
};

TEST_F(FBXCorpusTest, BlenderCam35HasAFullFrameSensor) {
    auto result = FBXSceneImporter::loadSceneFromURL(corpus("generated/blender/bl_e_mesh_3cams.fbx"));
    ASSERT_TRUE(result) << result.error().description;
    const auto& scene = *result.value();
    ASSERT_EQ(scene.cameraCount(), 3);
    const FBXImportedCamera* cam35 = nullptr;
    for (const auto& camera : scene.cameras()) {
        if (camera->focalLengthMm() == 35.0f) cam35 = camera.get();
    }
    ASSERT_NE(cam35, nullptr);
    EXPECT_NEAR(cam35->sensorWidthMm(), 36.0f, 0.01f);
    EXPECT_NEAR(cam35->sensorHeightMm(), 24.0f, 0.01f);
    EXPECT_NEAR(cam35->fovHDegrees(), 54.43f, 0.01f);
    EXPECT_NEAR(cam35->fovYDegrees(), 37.85f, 0.01f);
    EXPECT_NEAR(cam35->position()[1], 200.0f, 0.001f);
    EXPECT_NEAR(cam35->position()[2], 1000.0f, 0.001f);
    EXPECT_NEAR(cam35->forward()[2], -1.0f, 1e-5f);
    EXPECT_EQ(scene.statusText(), "FBX loaded: 1 mesh(es), 36 vertices, 12 triangles");
}

TEST_F(FBXCorpusTest, ParentChainPlacesTheChild) {
    auto result = FBXSceneImporter::loadSceneFromURL(corpus("generated/blender/bl_f_parent_empty.fbx"));
    ASSERT_TRUE(result) << result.error().description;
    const auto vertices = verticesOf(*result.value());
    std::array<float, 3> low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
    for (const Vertex& v : vertices) {
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], v.position[a]);
            high[a] = std::max(high[a], v.position[a]);
        }
    }
    // The cube is centred on its node, whose world translation the catalogue gives.
    EXPECT_NEAR((low[0] + high[0]) / 2, 241.421f, 0.01f);
    EXPECT_NEAR((low[1] + high[1]) / 2, 300.0f, 0.01f);
    EXPECT_NEAR((low[2] + high[2]) / 2, -341.421f, 0.01f);
}

TEST_F(FBXCorpusTest, CountsAndRefusals) {
    auto three = FBXSceneImporter::loadSceneFromURL(corpus("generated/blender/bl_j_three_meshes.fbx"));
    ASSERT_FALSE(three);
    EXPECT_EQ(three.error().description, "Multiple meshes found: 3. Export as a single mesh.");
    auto ngons = FBXSceneImporter::loadSceneFromURL(corpus("generated/blender/bl_c_ngons.fbx"));
    ASSERT_FALSE(ngons);
    EXPECT_EQ(ngons.error().description,
              "N-gons found: 2 (max 6 vertices). Export triangulated/quads. Examples: 5 vertices, 6 vertices");
    auto camerasOnly = FBXSceneImporter::loadSceneFromURL(corpus("generated/blender/bl_i_cameras_only.fbx"));
    ASSERT_TRUE(camerasOnly);
    EXPECT_EQ(camerasOnly.value()->statusText(), "FBX loaded: no meshes");
    EXPECT_EQ(camerasOnly.value()->cameraCount(), 2);
}

TEST_F(FBXCorpusTest, AnOldVersionIsRefusedAndABigGridLoads) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    auto old = FBXSceneImporter::loadSceneFromURL(shared("third_party/ufbx/data/blender_279_default_6100_ascii.fbx"));
    ASSERT_FALSE(old);
    EXPECT_EQ(old.error().code, 2);
    auto grid = FBXSceneImporter::loadSceneFromURL(shared("generated/blender/bl_g_big_grid.fbx"));
    ASSERT_TRUE(grid) << grid.error().description;
    ASSERT_TRUE(grid.value()->mesh());
    EXPECT_EQ(grid.value()->mesh()->indexCount(), 3 * 500000);
}

// A mesh big enough for the importer's writers to share it, with polygons and triangles
// the import drops here and there: the output is one run of records in file order, as
// one writer makes it, indices 0..n-1.
TEST(FBXImportWriters, ManyPolygonsWithDroppedTrianglesComeOutInFileOrder) {
    const int side = 260;
    std::vector<double> positions;
    for (int j = 0; j <= side; ++j) {
        for (int i = 0; i <= side; ++i) positions.insert(positions.end(), {i * 0.5, j * 0.25, (i * j) % 13 * 0.125});
    }
    const int valueCount = static_cast<int>(positions.size() / 3);
    std::vector<std::vector<int>> polygons;
    uint32_t state = 7;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const int a = j * (side + 1) + i;
            std::vector<int> corners{a, a + 1, a + side + 2, a + side + 1};
            state = state * 1103515245u + 12345u;
            const uint32_t pick = (state >> 16) % 100;
            if (pick == 0) corners[2] = valueCount + 5;  // one triangle of the fan leaves the positions
            if (pick == 1) corners = {a, a + 1};          // too few corners
            if (pick == 2) corners.pop_back();            // a triangle
            polygons.push_back(corners);
        }
    }
    std::string vertices, polygonIndex, uv, uvIndex;
    for (size_t k = 0; k < positions.size(); ++k) vertices += (k ? "," : "") + std::to_string(positions[k]);
    int corners = 0;
    for (const auto& polygon : polygons) {
        for (size_t k = 0; k < polygon.size(); ++k) {
            const int value = k + 1 == polygon.size() ? ~polygon[k] : polygon[k];
            polygonIndex += (corners ? "," : "") + std::to_string(value);
            // Every seventh corner's UV index is out of range.
            uvIndex += (corners ? "," : "") + std::to_string(corners % 7 == 3 ? 99999999 : corners % 50);
            ++corners;
        }
    }
    for (int k = 0; k < 50; ++k) uv += (k ? "," : "") + std::to_string(k * 0.02) + "," + std::to_string(1 - k * 0.01);
    const std::string uvLayer =
        "\t\tLayerElementUV: 0 {\n\t\t\tMappingInformationType: \"ByPolygonVertex\"\n"
        "\t\t\tReferenceInformationType: \"IndexToDirect\"\n\t\t\tUV: *100 {\n\t\t\t\ta: " + uv +
        "\n\t\t\t}\n\t\t\tUVIndex: *" + std::to_string(corners) + " {\n\t\t\t\ta: " + uvIndex +
        "\n\t\t\t}\n\t\t}\n";
    const std::string text =
        asciiFBX(meshModel(10, "Grid") + geometry(20, vertices, static_cast<int>(positions.size()), polygonIndex,
                                                  corners, uvLayer),
                 oo(10, 0) + oo(20, 10));

    // What the import must give, one polygon after the other.
    std::vector<Vertex> expected;
    int first = 0;
    for (const auto& polygon : polygons) {
        const int count = static_cast<int>(polygon.size());
        for (int t = 1; t + 1 < count; ++t) {
            const int triangle[3] = {first, first + t, first + t + 1};
            const int local[3] = {0, t, t + 1};
            bool valid = true;
            for (int k = 0; k < 3; ++k) valid = valid && polygon[static_cast<size_t>(local[k])] < valueCount;
            if (!valid) continue;
            for (int k = 0; k < 3; ++k) {
                const int p = polygon[static_cast<size_t>(local[k])];
                Vertex vertex;
                vertex.position = {static_cast<float>(positions[3 * p]), static_cast<float>(positions[3 * p + 1]),
                                   static_cast<float>(positions[3 * p + 2])};
                const int c = triangle[k];
                if (c % 7 != 3) {
                    const int u = c % 50;
                    vertex.uv = {static_cast<float>(std::stod(std::to_string(u * 0.02))),
                                 1.0f - static_cast<float>(std::stod(std::to_string(1 - u * 0.01)))};
                }
                expected.push_back(vertex);
            }
        }
        first += count;
    }
    ASSERT_GT(expected.size(), size_t(1) << 17);

    const auto result = FBXSceneImporter::loadScene(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    ASSERT_TRUE(result) << result.error().description;
    const FBXImportedScene& scene = *result.value();
    ASSERT_NE(scene.mesh(), nullptr);
    ASSERT_EQ(scene.mesh()->vertexCount(), static_cast<int64_t>(expected.size()));
    ASSERT_EQ(scene.mesh()->vertexData().size(), expected.size() * sizeof(Vertex));
    const std::vector<Vertex> actual = verticesOf(scene);
    for (size_t v = 0; v < expected.size(); ++v) {
        ASSERT_EQ(0, std::memcmp(&actual[v], &expected[v], sizeof(Vertex))) << "vertex " << v;
    }
    const std::vector<uint32_t> indices = indicesOf(scene);
    ASSERT_EQ(indices.size(), expected.size());
    for (size_t i = 0; i < indices.size(); ++i) ASSERT_EQ(indices[i], i);
    EXPECT_EQ(scene.statusText(), "FBX loaded: 1 mesh(es), " + std::to_string(expected.size()) + " vertices, " +
                                      std::to_string(expected.size() / 3) + " triangles");
}

}  // namespace
}  // namespace lumbrix
