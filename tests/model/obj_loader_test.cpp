#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/obj_geometry.h"
#include "model/obj_loader.h"

namespace lumbrix {
namespace {

using Float3 = std::array<float, 3>;
using Float2 = std::array<float, 2>;

void expectSameOutcome(const Expected<Mesh, OBJError>& a, const Expected<Mesh, OBJError>& b, const std::string& text) {
    ASSERT_EQ(a.hasValue(), b.hasValue()) << text;
    if (a) {
        EXPECT_EQ(a->indices, b->indices) << text;
        ASSERT_EQ(a->vertices.size(), b->vertices.size()) << text;
        EXPECT_EQ(0, std::memcmp(a->vertices.data(), b->vertices.data(), a->vertices.size() * sizeof(Vertex)))
            << text;
    } else {
        EXPECT_EQ(a.error().messages, b.error().messages) << text;
    }
}

// Every text goes through the one-thread reader, the two-thread reader and the
// general rules without fast paths; all three must agree byte for byte.
Expected<Mesh, OBJError> parseBothWays(const std::string& text) {
    OBJGeometryOptions options;
    options.threading = OBJThreading::single;
    auto single = parseOBJText(text.data(), text.size(), options);
    options.threading = OBJThreading::parallel;
    expectSameOutcome(single, parseOBJText(text.data(), text.size(), options), text);
    options.threading = OBJThreading::single;
    options.fastPaths = false;
    expectSameOutcome(single, parseOBJText(text.data(), text.size(), options), text);
    return single;
}

Mesh loadOK(const std::string& text) {
    auto result = parseBothWays(text);
    if (!result) {
        ADD_FAILURE() << "load failed: " << result.error().description() << "\nfor:\n" << text;
        return {};
    }
    return std::move(result).value();
}

OBJError loadFailure(const std::string& text) {
    auto result = parseBothWays(text);
    if (result) {
        ADD_FAILURE() << "load succeeded unexpectedly for:\n" << text;
        return {};
    }
    return result.error();
}

const std::string kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

TEST(OBJLoaderFaces, QuadBecomesTwoTrianglesFannedFromTheFirstCorner) {
    const Mesh mesh = loadOK(kSquare + "f 1 2 3 4\n");
    EXPECT_EQ(mesh.indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
    ASSERT_EQ(mesh.vertices.size(), 4u);
    EXPECT_EQ(mesh.vertices[2].position, (Float3{1, 1, 0}));
}

TEST(OBJLoaderFaces, WindingFollowsTheFile) {
    const Mesh mesh = loadOK(kSquare + "f 3 2 1\n");
    EXPECT_EQ(mesh.indices, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(mesh.vertices[0].position, (Float3{1, 1, 0}));
    EXPECT_EQ(mesh.vertices[2].position, (Float3{0, 0, 0}));
}

TEST(OBJLoaderFaces, NegativeIndicesCountBackFromTheLastRead) {
    const Mesh mesh = loadOK("v 9 9 9\nv 1 0 0\nv 2 0 0\nv 3 0 0\nf -3 -2 -1\nv 4 0 0\nf -1 -2 -3\n");
    ASSERT_EQ(mesh.vertices.size(), 4u);
    EXPECT_EQ(mesh.vertices[0].position[0], 1.0f);
    EXPECT_EQ(mesh.vertices[2].position[0], 3.0f);
    EXPECT_EQ(mesh.vertices[3].position[0], 4.0f);  // -1 now means the fifth position
    EXPECT_EQ(mesh.indices, (std::vector<uint32_t>{0, 1, 2, 3, 2, 1}));
}

TEST(OBJLoaderFaces, FacesWithFewerThanThreeCornersAreIgnored) {
    const Mesh mesh = loadOK(kSquare + "f 1 2\nf 1\nf\nf 2 3 4\n");
    EXPECT_EQ(mesh.indices.size(), 3u);
    EXPECT_EQ(mesh.vertices.size(), 3u);  // the short faces made no vertices
}

TEST(OBJLoaderAttributes, TextureCoordinatesAreFlippedInV) {
    const Mesh mesh = loadOK(kSquare + "vt 0.25 0.75\nf 1/1 2/1 3/1\n");
    EXPECT_EQ(mesh.vertices[0].uv, (Float2{0.25f, 0.25f}));
}

TEST(OBJLoaderAttributes, MissingAttributesTakeDefaults) {
    const Mesh mesh = loadOK(kSquare + "f 1/1 2/2 3/3\n");
    for (const Vertex& vertex : mesh.vertices) {
        EXPECT_EQ(vertex.uv, (Float2{0, 0}));
        EXPECT_EQ(vertex.normal, (Float3{0, 1, 0}));
    }
}

TEST(OBJLoaderAttributes, NormalsWithoutTextureCoordinates) {
    const std::string normals = "vn 1 0 0\nvn 0 0 1\nvn 0 2 0\n";
    Mesh mesh = loadOK(kSquare + normals + "f 1//1 2//2 3//3\n");
    EXPECT_EQ(mesh.vertices[0].normal, (Float3{1, 0, 0}));
    EXPECT_EQ(mesh.vertices[2].normal, (Float3{0, 2, 0}));  // not normalised
    EXPECT_EQ(mesh.vertices[1].uv, (Float2{0, 0}));

    // With texture coordinates present, the empty field means the first one.
    mesh = loadOK(kSquare + normals + "vt 0.5 0.25\nvt 1 1\nf 1//1 2//2 3//3\n");
    EXPECT_EQ(mesh.vertices[1].uv, (Float2{0.5f, 0.75f}));
}

TEST(OBJLoaderAttributes, ACornerWithoutTextureFieldTakesTheFirstCoordinate) {
    const Mesh mesh = loadOK(kSquare + "vt 0.1 0.2\nvt 0.3 0.4\nf 1 2/2 3\n");
    EXPECT_EQ(mesh.vertices[0].uv, (Float2{0.1f, 1.0f - 0.2f}));
    EXPECT_EQ(mesh.vertices[1].uv, (Float2{0.3f, 1.0f - 0.4f}));
}

TEST(OBJLoaderAttributes, OutOfRangeIndicesGiveDefaultsAndShareAVertex) {
    const Mesh mesh = loadOK(kSquare + "vt 0.5 0.5\nf 1/9 2/9 99/9\nf 99/9 1/9 2/9\n");
    EXPECT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.vertices[2].position, (Float3{0, 0, 0}));
    EXPECT_EQ(mesh.vertices[0].uv, (Float2{0, 0}));
    EXPECT_EQ(mesh.indices, (std::vector<uint32_t>{0, 1, 2, 2, 0, 1}));
}

TEST(OBJLoaderAttributes, RepeatedCornersShareVertices) {
    const Mesh mesh = loadOK(kSquare + "vt 0 0\nvt 1 1\nf 1/2 2/2 3/2\nf 1/2/0 3/2 4/2\n");
    EXPECT_EQ(mesh.vertices.size(), 4u);  // 1/2 and 1/2/0 are the same corner
    EXPECT_EQ(mesh.indices, (std::vector<uint32_t>{0, 1, 2, 0, 2, 3}));
}

TEST(OBJLoaderAttributes, ExtraFieldsAndTokensAreIgnored) {
    const Mesh mesh = loadOK(
        "v 1 2 3 1.0 0.5 0.5 0.5\nv 4 5 6\nv 7 8 9\nvt 0.5 0.5 0.0\nvn 0 1 0 7\nf 1/1/1/5 2/1/1/6 3/1/1\n");
    EXPECT_EQ(mesh.vertices[0].position, (Float3{1, 2, 3}));
    EXPECT_EQ(mesh.vertices.size(), 3u);
}

TEST(OBJLoaderLines, ShortLinesAreSkippedWithoutShiftingIndices) {
    const Mesh mesh = loadOK("v 5 5\nv 1 0 0\nv 2 0 0\nvt 0.5\nvt 0.25 0.5\nvn 1 1\nv 3 0 0\nf 1/1 2/1 3/1\n");
    EXPECT_EQ(mesh.vertices[0].position[0], 1.0f);
    EXPECT_EQ(mesh.vertices[0].uv, (Float2{0.25f, 0.5f}));
}

TEST(OBJLoaderLines, KeywordsNeedASpaceAndCommentsAreSkipped) {
    const Mesh mesh = loadOK(
        "# v 9 9 9\n"
        "v\t7 7 7\n"          // tab after keyword: not a position line
        "vp 1 2 3\n"
        "  v 1 0 0  \n"
        "\xC2\xA0v 2 0 0\r\n"  // leading no-break space is trimmed
        "v 3 0 0\xE2\x80\xA8"
        "f\t1 2 3\n"
        "g group\ns 1\nusemtl x\nmtllib y.mtl\nl 1 2\np 1\n"
        "f 1 2 3");
    ASSERT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.vertices[0].position[0], 1.0f);
    EXPECT_EQ(mesh.vertices[1].position[0], 2.0f);
    EXPECT_EQ(mesh.indices.size(), 3u);
}

TEST(OBJLoaderLines, UnreadableNumbersReadAsZero) {
    const Mesh mesh = loadOK("v 1,5 x 0x1p2\nv 1 1e400 nan\nv -inf 2 3\nf 1 2 3\n");
    EXPECT_EQ(mesh.vertices[0].position, (Float3{0, 0, 4}));
    EXPECT_TRUE(std::isinf(mesh.vertices[1].position[1]));
    EXPECT_TRUE(std::isnan(mesh.vertices[1].position[2]));
    EXPECT_EQ(mesh.vertices[2].position[0], -INFINITY);
}

TEST(OBJLoaderLines, EveryLineBreakKindSeparatesLines) {
    const Mesh mesh = loadOK("v 1 0 0\rv 2 0 0\x0Bv 3 0 0\x0C" "f 1 2 3\xC2\x85" "f 3 2 1\xE2\x80\xA9");
    EXPECT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.indices.size(), 6u);
}

TEST(OBJLoaderLines, ByteOrderMarkDoesNotHideTheFirstLine) {
    const Mesh mesh = loadOK("\xEF\xBB\xBFv 1 0 0\nv 2 0 0\nv 3 0 0\nf 1 2 3\n");
    EXPECT_EQ(mesh.vertices[0].position[0], 1.0f);
}

TEST(OBJLoaderValidation, OneObjectLoadsTwoFail) {
    EXPECT_EQ(loadOK("o one\n" + kSquare + "f 1 2 3\n").indices.size(), 3u);
    const OBJError error = loadFailure("o one\n" + kSquare + "o two\nf 1 2 3\n");
    EXPECT_EQ(error.errorCase, OBJErrorCase::validationFailed);
    EXPECT_EQ(error.messages,
              (std::vector<std::string>{"File contains multiple objects (2). Please export as single object."}));
}

TEST(OBJLoaderValidation, GroupsAndBareObjectKeywordsAreNotObjects) {
    EXPECT_EQ(loadOK("g a\ng b\no\nobject x\n" + kSquare + "f 1 2 3\n").indices.size(), 3u);
}

TEST(OBJLoaderValidation, PentagonIsRefusedWithOneMessage) {
    const OBJError error = loadFailure(kSquare + "v 2 2 0\nf 1 2 3 4 5\n");
    EXPECT_EQ(error.errorCase, OBJErrorCase::validationFailed);
    EXPECT_EQ(error.messages,
              (std::vector<std::string>{
                  "N-gons found: 1 (max 5 vertices). Export triangulated/quads. Examples: 5 vertices"}));
}

TEST(OBJLoaderValidation, NgonSummaryKeepsTheFirstThreeExamplesAndTheLargest) {
    const OBJError error =
        loadFailure("o a\no b\no c\nf 1 2 3 4 5\nf 1 2 3 4 5 6\nf 1 2 3\nf 1 2 3 4 5\nf 1 2 3 4 5 6 7 8\n");
    EXPECT_EQ(error.messages,
              (std::vector<std::string>{
                  "File contains multiple objects (3). Please export as single object.",
                  "N-gons found: 4 (max 8 vertices). Export triangulated/quads. Examples: 5 vertices, 6 vertices, "
                  "5 vertices"}));
}

TEST(OBJLoaderValidation, ValidationRunsBeforeAnyGeometryIsRead) {
    // The n-gon sits after otherwise loadable geometry; the file still fails as a whole.
    const OBJError error = loadFailure(kSquare + "f 1 2 3\nv 5 5 5\nf  1  2  3  4  5 \n");
    EXPECT_EQ(error.errorCase, OBJErrorCase::validationFailed);
}

TEST(OBJLoaderErrors, NoGeometryFound) {
    for (const std::string& text : {std::string(""), std::string("# only a comment\n"), kSquare,
                                   std::string("v 1 2 3\nf 1 1\n"), std::string("vt 0 0\nvn 0 0 1\n")}) {
        const OBJError error = loadFailure(text);
        EXPECT_EQ(error.errorCase, OBJErrorCase::parseFailed);
        EXPECT_EQ(error.messages, (std::vector<std::string>{"No geometry found"}));
    }
}

TEST(OBJLoaderErrors, FacesWithoutPositionsStillMakeGeometry) {
    // Indices resolve to defaults; the mesh is degenerate but exists.
    const Mesh mesh = loadOK("f 1 2 3\nv 1 2 3\nf 1 2 3\n");
    EXPECT_EQ(mesh.indices, (std::vector<uint32_t>{0, 1, 2, 0, 1, 2}));
    // The corner 1 was first met before position 1 existed; its vertex keeps the default.
    ASSERT_EQ(mesh.vertices.size(), 3u);
    EXPECT_EQ(mesh.vertices[0].position, (Float3{0, 0, 0}));
}

TEST(OBJLoaderErrors, Latin1TextIsNotUTF8) {
    const OBJError error = loadFailure("# caf\xE9\n" + kSquare + "f 1 2 3\n");
    EXPECT_EQ(error.errorCase, OBJErrorCase::invalidUTF8);
    ASSERT_EQ(error.messages.size(), 1u);
    EXPECT_NE(error.messages[0].find("offset 5"), std::string::npos);
}

TEST(OBJLoaderErrors, InvalidUTF8WinsOverValidation) {
    const OBJError error = loadFailure("o a\no b\nf 1 2 3 4 5 6\n\xFF");
    EXPECT_EQ(error.errorCase, OBJErrorCase::invalidUTF8);
}

}  // namespace
}  // namespace lumbrix

namespace lumbrix {
namespace {

// Line shapes at the edges of the fast paths: each text is checked by parseBothWays.
TEST(OBJLoaderPaths, FastAndGeneralRulesAgreeOnEveryLineShape) {
    const char* starts[] = {"v ", "v  ", " v ", "\tv ", "vt ", "vn ", "f ", "f  ", "\xC2\xA0" "f ", "vp ", "v\t"};
    const char* bodies[] = {"1 2 3",        "1.5 -2.25 3e2", "+1 .5 5.",     "0x1p1 inf nan", "1 2",
                            "1",            "",              "1\t2 3 4",      "1 2 3\xC2\xA0",
                            "-0 1e-45 1e39", "12345678901234567890 1 1", "1/1/1 2/2/2 3/3/3", "1//1 2//2 3//3 4//4",
                            "-1 -2 -3",     "1/1/1/1 2 3",   "+1 -1 1a",     "9999999999999999999 1 2",
                            "/ / /",         "1/ 2/ 3/",     "1 2 3\x0B"};
    const char* ends[] = {"\n", "\r\n", "\r", "   \n", "\xE2\x80\xA8", "\xC2\x85", ""};
    const std::string preamble = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0 0\nvt 1 1\nvn 0 0 1\nvn 1 0 0\n";
    for (const char* end : ends) {
        std::string text = preamble;
        for (const char* start : starts) {
            for (const char* body : bodies) {
                text += start;
                text += body;
                text += end[0] ? end : "\n";
            }
        }
        text += "f 1 2 3";
        text += end;
        const auto result = parseBothWays(text);
        EXPECT_TRUE(result.hasValue());
        EXPECT_GT(result->vertices.size(), 10u);
    }
}

}  // namespace
}  // namespace lumbrix
