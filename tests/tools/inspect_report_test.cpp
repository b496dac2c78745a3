#include <cmath>

#include <gtest/gtest.h>

#include "obj_test_files.h"
#include "tools/inspect/inspect_report.h"

namespace lumbrix::inspect {
namespace {

using lumbrix::testing::ScratchDir;

TEST(InspectReport, FormatFollowsTheExtensionCaseInsensitively) {
    EXPECT_EQ(formatForPath("/a/b/venue.OBJ"), ModelFormat::obj);
    EXPECT_EQ(formatForPath("venue.Fbx"), ModelFormat::fbx);
    EXPECT_EQ(formatForPath("venue.obj.bak"), ModelFormat::unknown);
    EXPECT_EQ(formatForPath("/dir.obj/venue"), ModelFormat::unknown);
    EXPECT_EQ(formatForPath("noextension"), ModelFormat::unknown);
}

TEST(InspectReport, BoundsSkipNaNComponents) {
    Mesh mesh;
    mesh.vertices.resize(3);
    mesh.vertices[0].position = {NAN, 2.0f, -1.0f};
    mesh.vertices[1].position = {5.0f, NAN, 3.0f};
    mesh.vertices[2].position = {-4.0f, -2.0f, NAN};
    const auto bounds = meshBounds(mesh);
    ASSERT_TRUE(bounds);
    EXPECT_EQ(bounds->min, (std::array<float, 3>{-4.0f, -2.0f, -1.0f}));
    EXPECT_EQ(bounds->max, (std::array<float, 3>{5.0f, 2.0f, 3.0f}));

    mesh.vertices.resize(1);
    EXPECT_TRUE(std::isnan(meshBounds(mesh)->min[0]));
    EXPECT_FALSE(meshBounds(Mesh{}).has_value());
}

TEST(InspectReport, SuccessJsonCarriesCountsAndBounds) {
    ScratchDir dir;
    const auto report = inspectFile(dir.write("quad.obj", "v -1 0 0\nv 1 0 0\nv 1 2.5 0\nv -1 2 -3\nf 1 2 3 4\n"));
    ASSERT_TRUE(report.ok);
    EXPECT_EQ(toJson(report),
              "{\"ok\":true,\"format\":\"obj\",\"vertices\":4,\"indices\":6,\"triangles\":2,"
              "\"min\":[-1,0,-3],\"max\":[1,2.5,0]}");
}

TEST(InspectReport, FailureKindsMatchTheLoaderErrors) {
    ScratchDir dir;
    struct Case {
        std::string file;
        std::string content;
        std::string kind;
    };
    const Case cases[] = {
        {"latin1.obj", "# caf\xE9\n", "invalid-utf8"},
        {"two.obj", "o a\no b\n", "validation"},
        {"empty.obj", "", "parse"},
        {"venue.fbx", "Kaydara FBX Binary  ", "import"},
        {"empty.fbx", "", "read"},
        {"venue.stl", "solid", "unsupported"},
    };
    for (const auto& c : cases) {
        const auto report = inspectFile(dir.write(c.file, c.content));
        EXPECT_FALSE(report.ok) << c.file;
        EXPECT_EQ(report.kind, c.kind) << c.file;
        EXPECT_FALSE(report.messages.empty()) << c.file;
    }
    const auto missing = inspectFile(dir.path() + "/missing.obj");
    EXPECT_EQ(missing.kind, "read");
    EXPECT_EQ(toJson(missing).rfind("{\"ok\":false,\"kind\":\"read\",\"messages\":[\"", 0), 0u);
}

}  // namespace
}  // namespace lumbrix::inspect
