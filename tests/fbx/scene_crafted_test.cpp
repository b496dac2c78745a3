// Small ASCII FBX scenes written for one rule each: how corners, UV modes,
// materials, parents, cameras and names come out, and what hostile files
// (cycles, deep chains, garbage indices, broken arrays) do to the reader.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_scene.h"

namespace lumbrix::fbx {
namespace {

std::string join(const std::vector<double>& values) {
    std::string text;
    for (double v : values) {
        if (!text.empty()) text += ',';
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        text += buffer;
    }
    return text;
}

std::string array(const char* name, const std::vector<double>& values) {
    return std::string(name) + ": *" + std::to_string(values.size()) + " {\n a: " + join(values) + "\n}\n";
}

std::string property(const char* name, const char* type, const std::vector<double>& values) {
    return std::string("P: \"") + name + "\", \"" + type + "\", \"\", \"A\"," + join(values) + "\n";
}

std::string model(uint64_t id, const std::string& name, const char* objectClass, const std::string& properties = "") {
    return "Model: " + std::to_string(id) + ", \"Model::" + name + "\", \"" + objectClass +
           "\" {\nProperties70:  {\n" + properties + "}\n}\n";
}

std::string geometry(uint64_t id, const std::vector<double>& vertices, const std::vector<double>& polygonVertices,
                     const std::string& layers = "") {
    return "Geometry: " + std::to_string(id) + ", \"Geometry::\", \"Mesh\" {\n" + array("Vertices", vertices) +
           array("PolygonVertexIndex", polygonVertices) + layers + "}\n";
}

std::string uvLayer(int index, const char* mapping, const char* reference, const std::vector<double>& uv,
                    const std::vector<double>& uvIndex = {}) {
    std::string text = "LayerElementUV: " + std::to_string(index) + " {\nMappingInformationType: \"" + mapping +
                       "\"\nReferenceInformationType: \"" + reference + "\"\n" + array("UV", uv);
    if (!uvIndex.empty()) text += array("UVIndex", uvIndex);
    return text + "}\n";
}

std::string connect(uint64_t child, uint64_t parent) {
    return "C: \"OO\"," + std::to_string(child) + "," + std::to_string(parent) + "\n";
}

std::string file(const std::string& objects, const std::string& connections) {
    return "; FBX 7.4.0 project file\nObjects:  {\n" + objects + "}\nConnections:  {\n" + connections + "}\n";
}

std::unique_ptr<Scene> load(const std::string& text) {
    std::string error;
    auto scene = Scene::load(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0, error);
    EXPECT_TRUE(scene) << error;
    return scene;
}

Vec2 uvAt(const Attributes<Vec2>& uvs, int corner) {
    int index = uvs.indices ? uvs.indices[corner] : corner;
    if (index < 0 || index >= uvs.valueCount) return {-1, -1};
    return uvs.values[index];
}

std::vector<std::pair<double, double>> uvsOf(const Mesh& mesh) {
    std::vector<std::pair<double, double>> result;
    Attributes<Vec2> uvs = mesh.geometryData().uvs();
    for (int c = 0; c < uvs.count; ++c) result.emplace_back(uvAt(uvs, c).x, uvAt(uvs, c).y);
    return result;
}

// A unit square (0 1 2 3) and a triangle (1 4 2) over five control points.
const std::vector<double> kVertices{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0};
const std::vector<double> kSquareAndTriangle{0, 1, 2, -4, 1, 4, -3};

std::unique_ptr<Scene> loadOneMesh(const std::string& layers) {
    return load(file(model(1, "M", "Mesh") + geometry(2, kVertices, kSquareAndTriangle, layers),
                     connect(1, 0) + connect(2, 1)));
}

TEST(SceneCraftedGeometry, CornersPolygonsAndFans) {
    auto scene = load(file(model(1, "M", "Mesh") + geometry(2, kVertices, {0, 1, 2, 3, -5, 0, -2, 1, 4, -3}),
                           connect(1, 0) + connect(2, 1)));
    ASSERT_TRUE(scene);
    ASSERT_EQ(1, scene->meshCount());
    const GeometryData& geometry = scene->mesh(0)->geometryData();
    Attributes<Vec3> positions = geometry.positions();
    ASSERT_EQ(10, positions.count);
    EXPECT_EQ(5, positions.valueCount);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 0, 1, 1, 4, 2}),
              std::vector<int>(positions.indices, positions.indices + positions.count));
    EXPECT_EQ(2.0, positions.values[4].x);

    ASSERT_EQ(1, geometry.partitionCount());
    const std::vector<Polygon>& polygons = geometry.partition(0).polygons;
    ASSERT_EQ(3u, polygons.size());
    int out[16];
    ASSERT_EQ(9u, triangulate(geometry, polygons[0], out, 16));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 0, 2, 3, 0, 3, 4}), std::vector<int>(out, out + 9));
    EXPECT_EQ(0u, triangulate(geometry, polygons[1], out, 16));  // two corners
    ASSERT_EQ(3u, triangulate(geometry, polygons[2], out, 16));
    EXPECT_EQ((std::vector<int>{7, 8, 9}), std::vector<int>(out, out + 3));

    EXPECT_EQ(0u, triangulate(geometry, polygons[0], out, 8));  // all or nothing
    EXPECT_EQ(0u, triangulate(geometry, polygons[0], nullptr, 16));
    EXPECT_EQ(0u, triangulate(geometry, Polygon{8, 3}, out, 16));   // runs past the last corner
    EXPECT_EQ(0u, triangulate(geometry, Polygon{-1, 3}, out, 16));
    EXPECT_EQ(0u, triangulate(geometry, Polygon{0, INT32_MAX}, out, 16));
}

TEST(SceneCraftedGeometry, UvModesComeOutPerCorner) {
    using Uvs = std::vector<std::pair<double, double>>;
    const std::vector<double> five{0, 0, 0.1, 0.1, 0.2, 0.2, 0.3, 0.3, 0.4, 0.4};
    const Uvs byVertex{{0, 0}, {0.1, 0.1}, {0.2, 0.2}, {0.3, 0.3}, {0.1, 0.1}, {0.4, 0.4}, {0.2, 0.2}};
    EXPECT_EQ(byVertex, uvsOf(*loadOneMesh(uvLayer(0, "ByVertice", "Direct", five))->mesh(0)));
    EXPECT_EQ(byVertex, uvsOf(*loadOneMesh(uvLayer(0, "ByControlPoint", "Direct", five))->mesh(0)));
    EXPECT_EQ(byVertex, uvsOf(*loadOneMesh(uvLayer(0, "ByVertex", "IndexToDirect", {0.4, 0.4, 0.3, 0.3, 0.2, 0.2,
                                                                                   0.1, 0.1, 0, 0},
                                                         {4, 3, 2, 1, 0}))
                                 ->mesh(0)));

    const std::vector<double> seven{0, 1, 1, 1, 2, 1, 3, 1, 4, 1, 5, 1, 6, 1};
    EXPECT_EQ((Uvs{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}}),
              uvsOf(*loadOneMesh(uvLayer(0, "ByPolygonVertex", "Direct", seven))->mesh(0)));
    EXPECT_EQ((Uvs{{6, 1}, {6, 1}, {0, 1}, {0, 1}, {1, 1}, {1, 1}, {2, 1}}),
              uvsOf(*loadOneMesh(uvLayer(0, "ByPolygonVertex", "IndexToDirect", seven, {6, 6, 0, 0, 1, 1, 2}))
                         ->mesh(0)));
    EXPECT_EQ(Uvs(7, {0.5, 0.25}), uvsOf(*loadOneMesh(uvLayer(0, "AllSame", "Direct", {0.5, 0.25}))->mesh(0)));
    EXPECT_EQ((Uvs{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 1}, {1, 1}, {1, 1}}),
              uvsOf(*loadOneMesh(uvLayer(0, "ByPolygon", "Direct", {0, 0, 1, 1}))->mesh(0)));

    // Edges carry no corner values; a layer without values is no layer.
    EXPECT_EQ(0, loadOneMesh(uvLayer(0, "ByEdge", "Direct", seven))->mesh(0)->geometryData().uvs().count);
    EXPECT_EQ(0, loadOneMesh(uvLayer(0, "ByPolygonVertex", "Direct", {}))->mesh(0)->geometryData().uvs().count);
    EXPECT_EQ(0, loadOneMesh("")->mesh(0)->geometryData().uvs().count);
}

TEST(SceneCraftedGeometry, SetZeroIsTheLowestLayerIndexNotTheFirstListed) {
    auto scene = loadOneMesh(uvLayer(1, "AllSame", "Direct", {9, 9}) + uvLayer(0, "AllSame", "Direct", {0.5, 0.5}));
    ASSERT_TRUE(scene);
    EXPECT_EQ(0.5, uvAt(scene->mesh(0)->geometryData().uvs(), 3).x);
    EXPECT_EQ(0, scene->mesh(0)->geometryData().uvs(1).count);
}

TEST(SceneCraftedGeometry, GarbageIndicesPassThroughAndNothingIsReadOutside) {
    // Control point 99 does not exist, the UV index points nowhere, and the
    // vertex array ends in half a point.
    auto scene = load(file(model(1, "M", "Mesh") +
                               geometry(2, {0, 0, 0, 1, 0, 0, 1, 1, 0, 7, 7}, {0, 99, -3},
                                        uvLayer(0, "ByVertice", "IndexToDirect", {0, 0, 1, 1}, {1, -7, 3000})),
                           connect(1, 0) + connect(2, 1)));
    ASSERT_TRUE(scene);
    const GeometryData& geometry = scene->mesh(0)->geometryData();
    Attributes<Vec3> positions = geometry.positions();
    EXPECT_EQ(3, positions.valueCount);
    EXPECT_EQ(99, positions.indices[1]);
    Attributes<Vec2> uvs = geometry.uvs();
    ASSERT_EQ(3, uvs.count);
    ASSERT_TRUE(uvs.indices);
    EXPECT_EQ(1, uvs.indices[0]);
    EXPECT_EQ(-1, uvs.indices[1]);  // vertex 99 has no UV index
    EXPECT_EQ(3000, uvs.indices[2]);
}

TEST(SceneCraftedGeometry, PartitionsFollowTheModelsMaterials) {
    const std::string layer =
        "LayerElementMaterial: 0 {\nMappingInformationType: \"ByPolygon\"\nReferenceInformationType: "
        "\"IndexToDirect\"\n" +
        array("Materials", {1, 0, 7}) + "}\n";
    const std::vector<double> threeTriangles{0, 1, -3, 1, 2, -4, 2, 3, -5};
    const std::string objects = model(1, "Painted", "Mesh") + model(3, "Plain", "Mesh") +
                                geometry(2, kVertices, threeTriangles, layer) +
                                "Material: 10, \"Material::a\", \"\" {\n}\nMaterial: 11, \"Material::b\", \"\" {\n}\n" +
                                geometry(4, kVertices, {}) + model(5, "Empty", "Mesh");
    auto scene = load(file(objects, connect(1, 0) + connect(3, 0) + connect(5, 0) + connect(2, 1) + connect(2, 3) +
                                        connect(10, 1) + connect(11, 1) + connect(4, 5)));
    ASSERT_TRUE(scene);
    ASSERT_EQ(3, scene->meshCount());

    const GeometryData& painted = scene->mesh(0)->geometryData();
    ASSERT_EQ(2, painted.partitionCount());
    ASSERT_EQ(2u, painted.partition(0).polygons.size());  // material 0, and 7 which has no slot
    EXPECT_EQ(3, painted.partition(0).polygons[0].fromVertex);
    EXPECT_EQ(6, painted.partition(0).polygons[1].fromVertex);
    ASSERT_EQ(1u, painted.partition(1).polygons.size());
    EXPECT_EQ(0, painted.partition(1).polygons[0].fromVertex);

    // Same geometry, no material on this model: one partition with everything.
    const GeometryData& plain = scene->mesh(1)->geometryData();
    ASSERT_EQ(1, plain.partitionCount());
    EXPECT_EQ(3u, plain.partition(0).polygons.size());

    const GeometryData& empty = scene->mesh(2)->geometryData();
    EXPECT_TRUE(empty.hasVertices());
    EXPECT_EQ(0, empty.positions().count);
    EXPECT_EQ(0, empty.partitionCount());
}

TEST(SceneCraftedObjects, OnlyMeshModelsWithAMeshGeometryAreMeshes) {
    const std::string objects =
        model(1, "NoGeometry", "Mesh") + model(2, "Null", "Null") + model(3, "Shaped", "Mesh") +
        model(4, "Twice", "Mesh") + geometry(20, kVertices, kSquareAndTriangle) +
        geometry(21, kVertices, {0, 1, -3}) +
        "Geometry: 22, \"Geometry::s\", \"Shape\" {\n" + array("Vertices", {0, 0, 0}) + "}\n";
    auto scene = load(file(objects, connect(1, 0) + connect(2, 0) + connect(3, 0) + connect(4, 0) + connect(20, 2) +
                                        connect(22, 3) + connect(21, 4) + connect(20, 4)));
    ASSERT_TRUE(scene);
    ASSERT_EQ(1, scene->meshCount());
    EXPECT_EQ("Twice", scene->mesh(0)->name());
    EXPECT_EQ(3, scene->mesh(0)->geometryData().positions().count);  // its first geometry
}

TEST(SceneCraftedObjects, NamesIdsAndClassPrefixes) {
    const std::string objects = model(1, "Cube::Model", "Mesh") + model(2, "&quot;q&quot;", "Null") +
                                model(3, "", "Mesh") + "Model: 3, \"Model::Dup\", \"Mesh\" {\n}\n" +
                                "Model: 0, \"Model::Root\", \"Mesh\" {\n}\n" + geometry(9, kVertices, {0, 1, -3});
    auto scene =
        load(file(objects, connect(1, 0) + connect(2, 1) + connect(3, 2) + connect(9, 1) + connect(9, 3) + connect(9, 0)));
    ASSERT_TRUE(scene);
    ASSERT_EQ(2, scene->meshCount());
    EXPECT_EQ("Cube::Model", scene->mesh(0)->name());
    EXPECT_EQ(1u, scene->mesh(0)->id());
    EXPECT_EQ("", scene->mesh(1)->name());  // the first object with id 3 keeps it
    ASSERT_TRUE(scene->mesh(1)->parent());
    EXPECT_EQ("\"q\"", scene->mesh(1)->parent()->name());
    EXPECT_EQ(ObjectKind::model, scene->mesh(1)->parent()->kind());
    EXPECT_EQ(scene->mesh(0), scene->mesh(1)->parent()->parent());
}

Vec3 translationOf(const Object& object) {
    const Matrix& m = object.globalTransform();
    return {m.m[12], m.m[13], m.m[14]};
}

TEST(SceneCraftedHierarchy, ChildrenComposeOnTheirParentsWhateverTheFileOrder) {
    // The grandchild is listed first; the middle model turns a quarter about Z.
    const std::string objects =
        model(3, "Grandchild", "Mesh", property("Lcl Translation", "Lcl Translation", {0, 0, 5})) +
        model(2, "Child", "Null",
              property("Lcl Translation", "Lcl Translation", {1, 0, 0}) +
                  property("Lcl Rotation", "Lcl Rotation", {0, 0, 90}) +
                  property("Lcl Scaling", "Lcl Scaling", {2, 2, 2})) +
        model(1, "Root", "Null", property("Lcl Translation", "Lcl Translation", {10, 0, 0})) +
        geometry(9, kVertices, {0, 1, -3});
    auto scene = load(file(objects, connect(9, 3) + connect(3, 2) + connect(2, 1) + connect(1, 0)));
    ASSERT_TRUE(scene);
    ASSERT_EQ(1, scene->meshCount());
    const Mesh& mesh = *scene->mesh(0);
    Vec3 t = translationOf(mesh);
    EXPECT_DOUBLE_EQ(11, t.x);
    EXPECT_DOUBLE_EQ(0, t.y);
    EXPECT_DOUBLE_EQ(10, t.z);  // the child's scale of 2 reaches it
    // Its local X axis came out along Y, doubled.
    EXPECT_NEAR(0, mesh.globalTransform().m[0], 1e-12);
    EXPECT_NEAR(2, mesh.globalTransform().m[1], 1e-12);
    ASSERT_TRUE(mesh.parent() && mesh.parent()->parent());
    EXPECT_EQ("Root", mesh.parent()->parent()->name());
    EXPECT_EQ(nullptr, mesh.parent()->parent()->parent());
}

TEST(SceneCraftedHierarchy, RotationOrderPivotsAndGeometricTransformFromProperties) {
    const std::string properties =
        property("Lcl Rotation", "Lcl Rotation", {90, 90, 90}) + "P: \"RotationOrder\", \"enum\", \"\", \"\",5\n" +
        property("RotationPivot", "Vector3D", {-1, -2, -3}) + property("GeometricTranslation", "Vector3D", {0, 0, 5}) +
        property("GeometricScaling", "Vector3D", {2, 2, 2});
    auto scene = load(file(model(1, "M", "Mesh", properties) + geometry(2, kVertices, {0, 1, -3}),
                           connect(1, 0) + connect(2, 1)));
    ASSERT_TRUE(scene);
    const Mesh& mesh = *scene->mesh(0);
    // The origin sits at (1, 2, 3) from the pivot; ZYX turns that into (3, -2, 1)
    // where XYZ would give (3, 2, -1).
    Vec3 t = translationOf(mesh);
    EXPECT_NEAR(2, t.x, 1e-12);
    EXPECT_NEAR(-4, t.y, 1e-12);
    EXPECT_NEAR(-2, t.z, 1e-12);
    const Matrix& h = mesh.geometricMatrix();
    EXPECT_EQ(2.0, h.m[0]);
    EXPECT_EQ(5.0, h.m[14]);
    EXPECT_EQ(0.0, h.m[12]);
}

TEST(SceneCraftedHierarchy, CyclesAreCutAndDeepChainsNeedNoRecursion) {
    // 1 -> 2 -> 3 -> 1, and 4 its own parent.
    const std::string objects = model(1, "A", "Mesh", property("Lcl Translation", "Lcl Translation", {1, 0, 0})) +
                                model(2, "B", "Null", property("Lcl Translation", "Lcl Translation", {1, 0, 0})) +
                                model(3, "C", "Null", property("Lcl Translation", "Lcl Translation", {1, 0, 0})) +
                                model(4, "D", "Mesh") + geometry(9, kVertices, {0, 1, -3}) +
                                "NodeAttribute: 20, \"NodeAttribute::cam\", \"Camera\" {\n}\n";
    auto scene = load(file(objects, connect(1, 2) + connect(2, 3) + connect(3, 1) + connect(4, 4) + connect(9, 1) +
                                        connect(9, 4) + connect(20, 2)));
    ASSERT_TRUE(scene);
    ASSERT_EQ(2, scene->meshCount());
    int depth = 0;
    for (const Object* at = scene->mesh(0); at; at = at->parent()) ASSERT_LT(++depth, 4);
    EXPECT_TRUE(std::isfinite(translationOf(*scene->mesh(0)).x));
    EXPECT_EQ(nullptr, scene->mesh(1)->parent());
    EXPECT_EQ(0, scene->cameraCount());  // the loop never reaches the scene root

    constexpr int kDepth = 30000;  // far past any stack a recursive walk could use
    std::string deepObjects = geometry(1, kVertices, {0, 1, -3});
    std::string deepConnections = connect(1, 100 + kDepth - 1) + connect(100, 0);
    const std::string step = property("Lcl Translation", "Lcl Translation", {0, 1, 0});
    for (int i = 0; i < kDepth; ++i) {
        deepObjects += model(100 + i, "", i == kDepth - 1 ? "Mesh" : "Null", step);
        if (i > 0) deepConnections += connect(100 + i, 100 + i - 1);
    }
    auto deep = load(file(deepObjects, deepConnections));
    ASSERT_TRUE(deep);
    ASSERT_EQ(1, deep->meshCount());
    EXPECT_DOUBLE_EQ(kDepth, translationOf(*deep->mesh(0)).y);
}

TEST(SceneCraftedCameras, OnlyCamerasReachingTheRootInAttributeOrder) {
    const std::string lens = property("FocalLength", "Number", {50}) + property("FilmWidth", "Number", {1.5}) +
                             property("FilmHeight", "Number", {1}) + property("NearPlane", "Number", {0.5}) +
                             property("FarPlane", "Number", {900});
    const std::string objects =
        model(1, "Rig", "Null", property("Lcl Translation", "Lcl Translation", {0, 5, 0})) +
        model(2, "Shot", "Camera", property("Lcl Translation", "Lcl Translation", {1, 0, 0})) +
        model(3, "Loose", "Camera") + model(4, "Orphan", "Null") + model(5, "UnderOrphan", "Camera") +
        "NodeAttribute: 30, \"NodeAttribute::\", \"Camera\" {\n}\n" +
        "NodeAttribute: 20, \"NodeAttribute::ShotData\", \"Camera\" {\nProperties70:  {\n" + lens + "}\n}\n" +
        "NodeAttribute: 40, \"NodeAttribute::LooseData\", \"Camera\" {\n}\n" +
        "NodeAttribute: 50, \"NodeAttribute::OrphanData\", \"Camera\" {\n}\n" +
        "NodeAttribute: 60, \"NodeAttribute::Light\", \"Light\" {\n}\n";
    auto scene = load(file(objects, connect(20, 2) + connect(2, 1) + connect(1, 0) + connect(30, 1) + connect(40, 3) +
                                        connect(5, 4) + connect(50, 5) + connect(60, 1)));
    ASSERT_TRUE(scene);
    EXPECT_EQ(0, scene->meshCount());
    ASSERT_EQ(2, scene->cameraCount());

    const Camera& unnamed = *scene->camera(0);
    EXPECT_EQ("", unnamed.name());
    EXPECT_EQ(30u, unnamed.id());
    EXPECT_EQ("Rig", unnamed.parent()->name());
    EXPECT_EQ(5.0, translationOf(unnamed).y);
    EXPECT_DOUBLE_EQ(34.89327621, unnamed.focalLength());
    EXPECT_DOUBLE_EQ(0.816, unnamed.filmWidth());
    EXPECT_DOUBLE_EQ(0.612, unnamed.filmHeight());
    EXPECT_DOUBLE_EQ(10.0, unnamed.nearPlane());
    EXPECT_DOUBLE_EQ(4000.0, unnamed.farPlane());

    const Camera& shot = *scene->camera(1);
    EXPECT_EQ("ShotData", shot.name());
    EXPECT_EQ("Shot", shot.parent()->name());
    EXPECT_EQ(ObjectKind::model, shot.parent()->kind());
    EXPECT_EQ(1.0, translationOf(shot).x);
    EXPECT_EQ(5.0, translationOf(shot).y);
    EXPECT_EQ(50.0, shot.focalLength());
    EXPECT_EQ(1.5, shot.filmWidth());
    EXPECT_EQ(1.0, shot.filmHeight());
    EXPECT_EQ(0.5, shot.nearPlane());
    EXPECT_EQ(900.0, shot.farPlane());
}

TEST(SceneCraftedFailures, BrokenInputFailsWithTheReadersMessage) {
    std::string error;
    EXPECT_FALSE(Scene::load(nullptr, 0, 0, error));
    EXPECT_FALSE(error.empty());

    const std::string noise = "this is not an FBX file at all";
    error.clear();
    EXPECT_FALSE(Scene::load(reinterpret_cast<const uint8_t*>(noise.data()), noise.size(), 0, error));
    EXPECT_FALSE(error.empty());

    // An array holding fewer values than it declares.
    const std::string shortArray = file(model(1, "M", "Mesh") +
                                            "Geometry: 2, \"Geometry::\", \"Mesh\" {\nVertices: *9 {\n a: 1,2,3\n}\n}\n",
                                        connect(1, 0) + connect(2, 1));
    error.clear();
    EXPECT_FALSE(Scene::load(reinterpret_cast<const uint8_t*>(shortArray.data()), shortArray.size(), 0, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace lumbrix::fbx
