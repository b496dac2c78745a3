// World-space results against references made by other tools: the reference
// OBJ files beside third-party FBX files (positions after every transform),
// and the world matrices Blender reported before exporting our own files.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fbx/fbx_scene.h"
#include "tests/support/test_corpus.h"

namespace lumbrix::fbx {
namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<Scene> loadFile(const std::filesystem::path& path) {
    std::string bytes = readText(path);
    std::string error;
    auto scene = Scene::load(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0, error);
    EXPECT_TRUE(scene) << path << ": " << error;
    return scene;
}

Vec3 apply(const Matrix& matrix, const Vec3& p) {
    const auto& m = matrix.m;
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

double distance(const Vec3& a, const Vec3& b) { return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z)); }

// Every corner of every mesh, placed in the world as a viewer places it.
std::vector<Vec3> worldCorners(const Scene& scene) {
    std::vector<Vec3> points;
    for (int i = 0; i < scene.meshCount(); ++i) {
        const Mesh& mesh = *scene.mesh(i);
        const Matrix toWorld = mesh.globalTransform() * mesh.geometricMatrix();
        Attributes<Vec3> positions = mesh.geometryData().positions();
        for (int c = 0; c < positions.count; ++c) {
            int index = positions.indices[c];
            if (index >= 0 && index < positions.valueCount) points.push_back(apply(toWorld, positions.values[index]));
        }
    }
    return points;
}

std::vector<Vec3> objPositions(const std::filesystem::path& path) {
    std::istringstream text(readText(path));
    std::vector<Vec3> points;
    std::string line;
    while (std::getline(text, line)) {
        if (line.rfind("v ", 0) != 0) continue;
        std::istringstream fields(line.substr(2));
        Vec3 p;
        fields >> p.x >> p.y >> p.z;
        points.push_back(p);
    }
    return points;
}

// Largest distance from a point of `from` to its nearest point of `to`.
double worstNearest(const std::vector<Vec3>& from, std::vector<Vec3> to) {
    // Sorted by x, a search only walks outwards while x alone is still closer than the best so far.
    std::sort(to.begin(), to.end(), [](const Vec3& a, const Vec3& b) { return a.x < b.x; });
    double worst = 0;
    for (const Vec3& p : from) {
        auto start = std::lower_bound(to.begin(), to.end(), p.x, [](const Vec3& q, double x) { return q.x < x; });
        double nearest = INFINITY;
        for (auto it = start; it != to.end() && it->x - p.x < nearest; ++it) nearest = std::min(nearest, distance(p, *it));
        for (auto it = start; it != to.begin() && p.x - std::prev(it)->x < nearest;)
            nearest = std::min(nearest, distance(p, *--it));
        worst = std::max(worst, nearest);
    }
    return worst;
}

// Column-major matrix from its rows, for reading the conversions below.
Matrix fromRows(std::initializer_list<double> rows) {
    Matrix m;
    auto value = rows.begin();
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) m.m[column * 4 + row] = *value++;
    return m;
}

TEST(SceneReference, WorldPositionsMatchTheReferenceObj) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    struct Row {
        const char* fbx;
        const char* obj;
        Matrix toReference;  // the reference's own units and axes, from ours
    };
    // Blender's OBJ is in its own metres, Z up; Revit's in centimetres, Y up, from feet, Z up.
    const Matrix blenderSpace = fromRows({0.01, 0, 0, 0, 0, -0.01, 0, 0.01, 0});
    const Matrix revitSpace = fromRows({30.48, 0, 0, 0, 0, 30.48, 0, -30.48, 0});
    const Row rows[] = {
        {"maya_cube_7100_ascii.fbx", "maya_cube.obj", {}},
        {"maya_cube_7500_binary.fbx", "maya_cube.obj", {}},
        {"maya_pivots_7500_binary.fbx", "maya_pivots.obj", {}},
        {"maya_parented_cubes_7500_ascii.fbx", "maya_parented_cubes.obj", {}},
        {"max_geometry_transform_7700_ascii.fbx", "max_geometry_transform.obj", {}},
        {"max_geometry_transform_7700_binary.fbx", "max_geometry_transform.obj", {}},
        {"motionbuilder_cube_7700_ascii.fbx", "motionbuilder_cube.obj", {}},
        {"motionbuilder_cube_7700_binary.fbx", "motionbuilder_cube.obj", {}},
        {"blender_279_default_7400_binary.fbx", "blender_279_default.obj", {}},
        {"blender_279_nested_meshes_7400_binary.fbx", "blender_279_nested_meshes.obj", {}},
        {"blender_282_suzanne_and_transform_7400_binary.fbx", "blender_282_suzanne_and_transform.obj", {}},
        {"blender_293_instancing_7400_binary.fbx", "blender_293_instancing.obj", {}},
        {"blender_340_y_up_7400_binary.fbx", "blender_340_y_up.obj", blenderSpace},
        {"zbrush_d20_7500_binary.fbx", "zbrush_d20.obj", {}},
        {"revit_wall_square_7700_binary.fbx", "revit_wall_square.obj", revitSpace},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fbx);
        auto scene = loadFile(test::sharedCorpus(std::string("third_party/ufbx/data/") + row.fbx));
        ASSERT_TRUE(scene);
        std::vector<Vec3> ours = worldCorners(*scene);
        for (Vec3& p : ours) p = apply(row.toReference, p);
        std::vector<Vec3> reference = objPositions(test::sharedCorpus(std::string("third_party/ufbx/data/") + row.obj));
        ASSERT_FALSE(ours.empty());
        ASSERT_FALSE(reference.empty());
        EXPECT_LT(worstNearest(ours, reference), 1e-3);
        EXPECT_LT(worstNearest(reference, ours), 1e-3);
    }
}

struct BlenderObject {
    std::string name;
    std::string type;
    Matrix world;
};

// The few fields needed from a *.blender.json beside our Blender files:
// each object's name and type come before its row-major matrix_world.
std::vector<BlenderObject> blenderObjects(const std::string& json) {
    std::vector<BlenderObject> objects;
    BlenderObject current;
    auto quotedAfter = [&](size_t at) {
        size_t open = json.find('"', json.find(':', at) + 1);
        return json.substr(open + 1, json.find('"', open + 1) - open - 1);
    };
    for (size_t at = 0; (at = json.find('"', at)) != std::string::npos; ++at) {
        if (json.compare(at, 6, "\"name\"") == 0) current.name = quotedAfter(at);
        else if (json.compare(at, 6, "\"type\"") == 0) current.type = quotedAfter(at);
        else if (json.compare(at, 14, "\"matrix_world\"") == 0) {
            size_t p = json.find('[', at);
            for (int row = 0; row < 4; ++row) {
                for (int column = 0; column < 4; ++column) {
                    p = json.find_first_of("-0123456789", p);
                    size_t used = 0;
                    current.world.m[column * 4 + row] = std::stod(json.substr(p, 32), &used);
                    p += used;
                }
            }
            objects.push_back(current);
        }
    }
    return objects;
}

void expectSameMatrix(const Matrix& expected, const Matrix& actual, double tolerance) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(expected.m[i], actual.m[i], tolerance) << "element " << i;
}

// FBX world = C x Blender world, with C = 100 x Rx(-90) for default exports;
// cameras add a quarter turn about Y so that they look along +X.
const Matrix zUpToYUp = fromRows({1, 0, 0, 0, 0, 1, 0, -1, 0});
const Matrix centimetres = fromRows({100, 0, 0, 0, 100, 0, 0, 0, 100});
const Matrix cameraTurn = fromRows({0, 0, 1, 0, 1, 0, -1, 0, 0});

// `base`: the FBX file without its extension; Blender's own view sits beside it.
void expectBlenderWorldMatrices(const std::filesystem::path& base, const Matrix& conversion) {
    SCOPED_TRACE(base.filename().string());
    auto scene = loadFile(base.string() + ".fbx");
    ASSERT_TRUE(scene);
    std::vector<BlenderObject> objects = blenderObjects(readText(base.string() + ".blender.json"));
    ASSERT_FALSE(objects.empty());
    int checked = 0;
    for (const BlenderObject& object : objects) {
        SCOPED_TRACE(object.name);
        const Object* ours = nullptr;
        Matrix expected = conversion * object.world;
        for (int i = 0; i < scene->meshCount(); ++i)
            if (scene->mesh(i)->name() == object.name) ours = scene->mesh(i);
        for (int i = 0; i < scene->cameraCount(); ++i)
            if (scene->camera(i)->parent() && scene->camera(i)->parent()->name() == object.name) ours = scene->camera(i);
        for (int i = 0; i < scene->meshCount(); ++i) {
            const Object* parent = scene->mesh(i)->parent();
            if (parent && parent->name() == object.name) ours = parent;
        }
        if (object.type == "CAMERA") expected = expected * cameraTurn;
        ASSERT_TRUE(ours);
        expectSameMatrix(expected, ours->globalTransform(), 2e-3);
        ++checked;
    }
    EXPECT_EQ(static_cast<int>(objects.size()), checked);
}

TEST(SceneReference, BlenderWorldMatricesThroughTheExportConversion) {
    struct Row {
        const char* name;
        Matrix conversion;
    };
    const Row rows[] = {
        {"bl_a_plane_uv", centimetres * zUpToYUp},
        {"bl_b_cube_uv", centimetres * zUpToYUp},
        {"bl_c_ngons", centimetres * zUpToYUp},
        {"bl_d_two_meshes", centimetres * zUpToYUp},
        {"bl_e_mesh_3cams", centimetres * zUpToYUp},
        {"bl_f_parent_empty", centimetres * zUpToYUp},
        {"bl_h_cube_no_uv", centimetres * zUpToYUp},
        {"bl_i_cameras_only", centimetres * zUpToYUp},
        {"bl_j_three_meshes", centimetres * zUpToYUp},
        {"bl_k_cube_scale_all", zUpToYUp},  // units in the header instead
        {"bl_l_cube_zup", centimetres},      // exported Z up
        {"bl_m_screen_texture_embedded", centimetres * zUpToYUp},
        {"bl_n_screen_texture_external", centimetres * zUpToYUp},
    };
    for (const Row& row : rows) {
        expectBlenderWorldMatrices(test::testData(std::string("generated/blender/") + row.name), row.conversion);
    }
}

TEST(SceneReference, BlenderBigGridWorldMatrix) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();  // 6 MB: kept out of the repository
    expectBlenderWorldMatrices(test::sharedCorpus("generated/blender/bl_g_big_grid"), centimetres * zUpToYUp);
}

}  // namespace
}  // namespace lumbrix::fbx
