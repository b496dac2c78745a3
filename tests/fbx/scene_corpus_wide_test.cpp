// Every FBX file of ours and of the shared corpus: 7.x files load and hold together (indices in
// range, partitions tiling the corners, fans inside their polygons); other
// versions and broken files fail with a message. Binary and ASCII exports of
// one scene must read the same.
#include <algorithm>
#include <cmath>
#include <cstring>
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

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether the header says 7.x, read the way the catalogue reads it.
bool headerSaysVersion7(const std::vector<uint8_t>& bytes) {
    static const char kMagic[] = "Kaydara FBX Binary  ";
    if (bytes.size() >= 27 && std::memcmp(bytes.data(), kMagic, sizeof kMagic) == 0) {
        uint32_t version = bytes[23] | bytes[24] << 8 | bytes[25] << 16 | uint32_t(bytes[26]) << 24;
        return version >= 7000 && version < 8000;
    }
    std::string head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 200));
    return head.find("; FBX 7.") != std::string::npos;
}

bool finite(const Matrix& matrix) {
    return std::all_of(matrix.m.begin(), matrix.m.end(), [](double v) { return std::isfinite(v); });
}

// `trusted`: the file is intact, so every index it holds must be in range;
// damaged files may hold any index, which the interface passes through.
void checkMesh(const Mesh& mesh, bool trusted) {
    EXPECT_EQ(ObjectKind::mesh, mesh.kind());
    if (trusted) {
        EXPECT_TRUE(finite(mesh.globalTransform()));
        EXPECT_TRUE(finite(mesh.geometricMatrix()));
    }
    const GeometryData& geometry = mesh.geometryData();
    const Attributes<Vec3> positions = geometry.positions();
    EXPECT_EQ(geometry.hasVertices(), positions.valueCount > 0);
    if (positions.count > 0) {
        ASSERT_TRUE(positions.indices);
    }
    if (positions.valueCount > 0) {
        ASSERT_TRUE(positions.values);
    }
    for (int c = 0; trusted && c < positions.count; ++c) {
        ASSERT_GE(positions.indices[c], 0) << "corner " << c;
        ASSERT_LT(positions.indices[c], positions.valueCount) << "corner " << c;
    }

    const Attributes<Vec2> uvs = geometry.uvs();
    if (uvs.count > 0) {
        EXPECT_EQ(positions.count, uvs.count);
        ASSERT_TRUE(uvs.values);
        if (!uvs.indices) {
            EXPECT_GE(uvs.valueCount, uvs.count);
        }
        for (int c = 0; trusted && uvs.indices && c < uvs.count; ++c) {
            ASSERT_GE(uvs.indices[c], 0) << "corner " << c;
            ASSERT_LT(uvs.indices[c], uvs.valueCount) << "corner " << c;
        }
    }
    EXPECT_EQ(0, geometry.uvs(1).count);

    // The partitions together hold every polygon once, and the polygons tile the corners.
    std::vector<Polygon> polygons;
    for (int p = 0; p < geometry.partitionCount(); ++p)
        polygons.insert(polygons.end(), geometry.partition(p).polygons.begin(), geometry.partition(p).polygons.end());
    EXPECT_EQ(polygons.empty(), geometry.partitionCount() == 0);
    std::sort(polygons.begin(), polygons.end(),
              [](const Polygon& a, const Polygon& b) { return a.fromVertex < b.fromVertex; });
    int next = 0;
    std::vector<int> out;
    for (const Polygon& polygon : polygons) {
        ASSERT_EQ(next, polygon.fromVertex);
        ASSERT_GT(polygon.vertexCount, 0);
        next += polygon.vertexCount;

        const uint32_t needed = polygon.vertexCount >= 3 ? 3u * uint32_t(polygon.vertexCount - 2) : 0u;
        out.assign(needed + 3, -1);
        ASSERT_EQ(needed, triangulate(geometry, polygon, out.data(), static_cast<uint32_t>(out.size())));
        for (uint32_t i = 0; i < needed; ++i) {
            ASSERT_GE(out[i], polygon.fromVertex);
            ASSERT_LT(out[i], polygon.fromVertex + polygon.vertexCount);
        }
        EXPECT_EQ(-1, out[needed]);  // nothing past what it reported
        if (needed > 0) {
            EXPECT_EQ(0u, triangulate(geometry, polygon, out.data(), needed - 1));
        }
    }
    EXPECT_EQ(positions.count, next);
}

void checkScene(const Scene& scene, bool trusted = true) {
    EXPECT_GE(scene.version(), 7000u);
    EXPECT_EQ(nullptr, scene.mesh(-1));
    EXPECT_EQ(nullptr, scene.mesh(scene.meshCount()));
    EXPECT_EQ(nullptr, scene.camera(scene.cameraCount()));
    for (int i = 0; i < scene.meshCount(); ++i) {
        SCOPED_TRACE(std::string("mesh ") + std::to_string(i));
        ASSERT_TRUE(scene.mesh(i));
        checkMesh(*scene.mesh(i), trusted);
        int depth = 0;
        for (const Object* at = scene.mesh(i)->parent(); at; at = at->parent()) ASSERT_LT(++depth, 10000);
    }
    for (int i = 0; i < scene.cameraCount(); ++i) {
        const Camera* camera = scene.camera(i);
        ASSERT_TRUE(camera && camera->parent());
        EXPECT_EQ(ObjectKind::camera, camera->kind());
        // Bit for bit: a damaged file may leave NaNs, which still must be the model's.
        EXPECT_EQ(0, std::memcmp(camera->parent()->globalTransform().m.data(), camera->globalTransform().m.data(),
                                 sizeof(Matrix::m)));
        if (trusted) {
            EXPECT_TRUE(std::isfinite(camera->focalLength()) && std::isfinite(camera->filmWidth()) &&
                        std::isfinite(camera->filmHeight()) && std::isfinite(camera->nearPlane()) &&
                        std::isfinite(camera->farPlane()));
        }
    }
}

void loadEveryFbxUnder(const std::filesystem::path& root, int& loaded, int& refused) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (!entry.is_regular_file() || extension != ".fbx") continue;
        SCOPED_TRACE(entry.path().string());
        std::vector<uint8_t> bytes = readBytes(entry.path());
        std::string error;
        auto scene = Scene::load(bytes.data(), bytes.size(), 4676, error);
        if (headerSaysVersion7(bytes)) {
            ASSERT_TRUE(scene) << error;
            checkScene(*scene);
            ++loaded;
        } else {
            EXPECT_FALSE(scene);
            EXPECT_FALSE(error.empty());
            ++refused;
        }
    }
}

TEST(SceneCorpusWide, OurExportsLoadAndHoldTogether) {
    int loaded = 0, refused = 0;
    loadEveryFbxUnder(test::testData("generated"), loaded, refused);
    EXPECT_EQ(loaded, 25);  // every one the repository carries
    EXPECT_EQ(refused, 0);
}

TEST(SceneCorpusWide, Version7FilesLoadAndHoldTogetherOthersFailWithAMessage) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    int loaded = 0, refused = 0;
    loadEveryFbxUnder(LUMBRIX_CORPUS_DIR, loaded, refused);
    EXPECT_GE(loaded, 75);
    EXPECT_GE(refused, 10);
}

// Bytes overwritten all through a small file: every outcome is fine except
// reading outside the buffer or handing out inconsistent data.
void expectDamagedCopiesSafe(const std::filesystem::path& path) {
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> original = readBytes(path);
    ASSERT_FALSE(original.empty());
    const size_t step = std::max<size_t>(1, original.size() / 400);
    int loaded = 0;
    for (size_t at = 0; at < original.size(); at += step) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t('-'), uint8_t('9')}) {
            std::vector<uint8_t> bytes = original;
            bytes[at] = value;
            std::string error;
            auto scene = Scene::load(bytes.data(), bytes.size(), 0, error);
            if (!scene) {
                ASSERT_FALSE(error.empty()) << "byte " << at;
                continue;
            }
            ++loaded;
            SCOPED_TRACE(at);
            checkScene(*scene, false);
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
    EXPECT_GT(loaded, 0);
}

TEST(SceneCorpusWide, DamagedCopiesLoadOrFailButNeverBreakTheRules) {
    for (const char* path : {"generated/blender/bl_e_mesh_3cams.fbx", "generated/assimp/as_quad_ascii.fbx"}) {
        expectDamagedCopiesSafe(test::testData(path));
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(SceneCorpusWide, DamagedSharedCopiesLoadOrFailButNeverBreakTheRules) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    for (const char* path :
         {"third_party/ufbx/data/maya_cube_7400_binary.fbx", "third_party/ufbx/data/maya_cube_7500_ascii.fbx"}) {
        expectDamagedCopiesSafe(test::sharedCorpus(path));
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// Meshes, transforms, geometry, partitions and cameras, value for value.
void expectSameScene(const Scene& a, const Scene& b) {
    ASSERT_EQ(a.meshCount(), b.meshCount());
    ASSERT_EQ(a.cameraCount(), b.cameraCount());
    auto sameMatrix = [](const Matrix& x, const Matrix& y) {
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(x.m[i], y.m[i], 1e-9 * std::max(1.0, std::abs(x.m[i])));
    };
    for (int i = 0; i < a.meshCount(); ++i) {
        SCOPED_TRACE(std::string("mesh ") + std::to_string(i));
        const Mesh& x = *a.mesh(i);
        const Mesh& y = *b.mesh(i);
        EXPECT_EQ(x.name(), y.name());  // ids differ: each export numbers its objects anew
        EXPECT_EQ(x.parent() == nullptr, y.parent() == nullptr);
        sameMatrix(x.globalTransform(), y.globalTransform());
        sameMatrix(x.geometricMatrix(), y.geometricMatrix());
        const Attributes<Vec3> px = x.geometryData().positions(), py = y.geometryData().positions();
        ASSERT_EQ(px.count, py.count);
        ASSERT_EQ(px.valueCount, py.valueCount);
        for (int c = 0; c < px.count; ++c) {
            ASSERT_EQ(px.indices[c], py.indices[c]);
            const Vec3& vx = px.values[px.indices[c]];
            const Vec3& vy = py.values[py.indices[c]];
            ASSERT_NEAR(vx.x, vy.x, 1e-6);
            ASSERT_NEAR(vx.y, vy.y, 1e-6);
            ASSERT_NEAR(vx.z, vy.z, 1e-6);
        }
        const Attributes<Vec2> ux = x.geometryData().uvs(), uy = y.geometryData().uvs();
        ASSERT_EQ(ux.count, uy.count);
        for (int c = 0; c < ux.count; ++c) {
            const Vec2& vx = ux.values[ux.indices ? ux.indices[c] : c];
            const Vec2& vy = uy.values[uy.indices ? uy.indices[c] : c];
            ASSERT_NEAR(vx.x, vy.x, 1e-6);
            ASSERT_NEAR(vx.y, vy.y, 1e-6);
        }
        ASSERT_EQ(x.geometryData().partitionCount(), y.geometryData().partitionCount());
        for (int p = 0; p < x.geometryData().partitionCount(); ++p) {
            const auto& qx = x.geometryData().partition(p).polygons;
            const auto& qy = y.geometryData().partition(p).polygons;
            ASSERT_EQ(qx.size(), qy.size());
            for (size_t q = 0; q < qx.size(); ++q) {
                EXPECT_EQ(qx[q].fromVertex, qy[q].fromVertex);
                EXPECT_EQ(qx[q].vertexCount, qy[q].vertexCount);
            }
        }
    }
    for (int i = 0; i < a.cameraCount(); ++i) {
        const Camera& x = *a.camera(i);
        const Camera& y = *b.camera(i);
        EXPECT_EQ(x.name(), y.name());
        sameMatrix(x.globalTransform(), y.globalTransform());
        EXPECT_NEAR(x.focalLength(), y.focalLength(), 1e-6);  // one file writes the default out, the other leaves it
        EXPECT_NEAR(x.filmWidth(), y.filmWidth(), 1e-9);
        EXPECT_NEAR(x.filmHeight(), y.filmHeight(), 1e-9);
        EXPECT_NEAR(x.nearPlane(), y.nearPlane(), 1e-9);
        EXPECT_NEAR(x.farPlane(), y.farPlane(), 1e-9);
    }
}

std::unique_ptr<Scene> load(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes = readBytes(path);
    std::string error;
    auto scene = Scene::load(bytes.data(), bytes.size(), 0, error);
    EXPECT_TRUE(scene) << path << ": " << error;
    return scene;
}

void expectPairReadsTheSame(const std::filesystem::path& binaryPath, const std::filesystem::path& asciiPath) {
    SCOPED_TRACE(asciiPath.string());
    auto binary = load(binaryPath);
    auto ascii = load(asciiPath);
    ASSERT_TRUE(binary && ascii);
    expectSameScene(*binary, *ascii);
}

TEST(SceneCorpusWide, BinaryAndAsciiExportsOfOneSceneReadTheSame) {
    for (const char* name : {"cube_vt", "fan", "ngons", "quad", "two_objects"}) {
        const std::string base = std::string("generated/assimp/as_") + name;
        expectPairReadsTheSame(test::testData(base + "_binary.fbx"), test::testData(base + "_ascii.fbx"));
    }
}

TEST(SceneCorpusWide, SharedBinaryAndAsciiExportsOfOneSceneReadTheSame) {
    LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS();
    const char* pairs[][2] = {
        {"third_party/ufbx/data/maya_cube_7400_binary.fbx", "third_party/ufbx/data/maya_cube_7400_ascii.fbx"},
        {"third_party/ufbx/data/maya_cube_7100_binary.fbx", "third_party/ufbx/data/maya_cube_7100_ascii.fbx"},
        {"third_party/ufbx/data/maya_cube_7500_binary.fbx", "third_party/ufbx/data/maya_cube_7500_ascii.fbx"},
        {"third_party/ufbx/data/max_unicode_7500_binary.fbx", "third_party/ufbx/data/max_unicode_7500_ascii.fbx"},
        {"third_party/ufbx/data/max_geometry_transform_7700_binary.fbx",
         "third_party/ufbx/data/max_geometry_transform_7700_ascii.fbx"},
        {"third_party/ufbx/data/marvelous_quad_7200_binary.fbx", "third_party/ufbx/data/marvelous_quad_7200_ascii.fbx"},
        {"third_party/ufbx/data/motionbuilder_cube_7700_binary.fbx",
         "third_party/ufbx/data/motionbuilder_cube_7700_ascii.fbx"},
        {"third_party/ufbx/data/maya_camera_light_axes_y_up_7700_binary.fbx",
         "third_party/ufbx/data/maya_camera_light_axes_y_up_7700_ascii.fbx"},
        {"third_party/assimp/test/models-nonbsd/FBX/2013_BINARY/COLLADA.fbx",
         "third_party/assimp/test/models-nonbsd/FBX/2013_ASCII/COLLADA.fbx"},
        {"third_party/assimp/test/models-nonbsd/FBX/2013_BINARY/ConcavePolygon.fbx",
         "third_party/assimp/test/models-nonbsd/FBX/2013_ASCII/ConcavePolygon.fbx"},
    };
    for (const auto& pair : pairs) expectPairReadsTheSame(test::sharedCorpus(pair[0]), test::sharedCorpus(pair[1]));
}

}  // namespace
}  // namespace lumbrix::fbx
