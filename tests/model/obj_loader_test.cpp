#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

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

// The text as a file (in memory, without a name) through parseOBJFile.
Expected<Mesh, OBJError> parseFile(const std::string& text, const OBJGeometryOptions& options) {
    const int fd = memfd_create("obj", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        ADD_FAILURE() << "cannot write the text to a memfd";
        if (fd >= 0) ::close(fd);
        return unexpected(OBJError::parseFailed("no file"));
    }
    bool readFailed = true;
    auto result = parseOBJFile(fd, text.size(), readFailed, options);
    ::close(fd);
    EXPECT_FALSE(readFailed);
    return result;
}

// Every text goes through the one-thread reader, the two-thread reader and the
// general rules without fast paths; all three must agree byte for byte. So must the
// readers that take the faces in two parts and merge them, split anywhere.
Expected<Mesh, OBJError> parseBothWays(const std::string& text) {
    OBJGeometryOptions options;
    options.threading = OBJThreading::single;
    auto single = parseOBJText(text.data(), text.size(), options);
    options.threading = OBJThreading::parallel;
    expectSameOutcome(single, parseOBJText(text.data(), text.size(), options), text);
    options.threading = OBJThreading::single;
    options.fastPaths = false;
    expectSameOutcome(single, parseOBJText(text.data(), text.size(), options), text);
    // Read from a file piece by piece, pieces of a few bytes, so that every line ends a piece.
    for (const size_t pieceBytes : {size_t(1), size_t(5), size_t(64)}) {
        for (const OBJThreading threading : {OBJThreading::single, OBJThreading::parallel}) {
            OBJGeometryOptions pieces;
            pieces.threading = threading;
            pieces.filePieceBytes = pieceBytes;
            expectSameOutcome(single, parseFile(text, pieces), "pieces of " + std::to_string(pieceBytes) + ":\n" + text);
        }
    }
    const size_t stride = std::max<size_t>(1, text.size() / 200);
    for (size_t at = 0; at <= text.size() + 1; at += stride) {
        for (const OBJThreading threading : {OBJThreading::single, OBJThreading::parallel}) {
            OBJGeometryOptions split;
            split.threading = threading;
            split.faceSplitAt = at;
            const auto parts = parseOBJText(text.data(), text.size(), split);
            expectSameOutcome(single, parts, "split at " + std::to_string(at) + " of:\n" + text);
        }
    }
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

// The face scan starts at the first face with the counts validation kept before it:
// they must be the lines the scans themselves keep, by the fast and the general rules.
TEST(OBJLoaderFaces, NegativeIndicesAfterAttributeLinesOfEveryShape) {
    const Mesh mesh = loadOK(
        "v 1 2 3\n v 4 5 6\nv 7 8\nvt 0.5 0.5\n\tvn 0 0 1\nv 1 2 3 x\nvt 1\nvx 5 5 5\nv\t6 6 6\n"
        "v 8 8 8\xC2\x85vn 0 1 0 \xC2\xA0\n"
        "f -1/-1/-1 -2/-1/-2 -3/-2/-3\n");
    ASSERT_EQ(mesh.vertices.size(), 3u);
    // Kept: v 1 2 3, v 4 5 6 (general), v 1 2 3 x, v 8 8 8 (ended by NEL); vt 0.5 0.5; vn 0 0 1, vn 0 1 0.
    EXPECT_EQ(mesh.vertices[0].position, (Float3{8, 8, 8}));
    EXPECT_EQ(mesh.vertices[1].position, (Float3{1, 2, 3}));
    EXPECT_EQ(mesh.vertices[2].position, (Float3{4, 5, 6}));
    EXPECT_EQ(mesh.vertices[0].normal, (Float3{0, 1, 0}));
    EXPECT_EQ(mesh.vertices[1].normal, (Float3{0, 0, 1}));
    EXPECT_EQ(mesh.vertices[2].uv, (Float2{0, 0}));  // -2 of one texture coordinate: none
    EXPECT_EQ(mesh.vertices[0].uv, (Float2{0.5f, 0.5f}));
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

// A file that ends before the size it was said to have: the reader says so instead of
// answering, and the loader then reads the file whole.
TEST(OBJLoaderPieces, AFileShorterThanItsSizeIsAReadFailure) {
    const std::string text = kSquare + "f 1 2 3\nf 1 3 4\n";
    const int fd = memfd_create("obj", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    for (const size_t pieceBytes : {size_t(0), size_t(4)}) {
        OBJGeometryOptions options;
        options.filePieceBytes = pieceBytes;
        bool readFailed = false;
        (void)parseOBJFile(fd, text.size() + 10, readFailed, options);
        EXPECT_TRUE(readFailed) << pieceBytes;
        (void)parseOBJFile(fd, text.size(), readFailed, options);
        EXPECT_FALSE(readFailed) << pieceBytes;
    }
    ::close(fd);
}

// Faces in two parts merged: a vertex the near part made keeps its number in the far
// part, new ones follow in first-appearance order, and too many vertices fail as one
// scan would.
TEST(OBJLoaderSplit, FarPartReusesNearVerticesAndNumbersItsOwnAfterThem) {
    const std::string text = kSquare + "vt 0 0\nf 1 2 3\nf 1/1 3 4\nv 2 2 2\nf 4 3 5\nf -1 -2 -3\nf 1 2 3\nf 9 1 2\n";
    const Mesh reference = loadOK(text);
    ASSERT_EQ(reference.indices.size(), 18u);
    for (size_t at = 0; at <= text.size(); ++at) {
        OBJGeometryOptions options;
        options.threading = OBJThreading::single;
        options.faceSplitAt = at;
        options.maxVertices = reference.vertices.size();
        auto exact = parseOBJText(text.data(), text.size(), options);
        expectSameOutcome(reference, exact, "split at " + std::to_string(at));
        options.maxVertices = reference.vertices.size() - 1;
        auto tooMany = parseOBJText(text.data(), text.size(), options);
        ASSERT_FALSE(tooMany.hasValue()) << at;
        EXPECT_EQ(tooMany.error().messages, std::vector<std::string>{"Too many vertices: the mesh needs more than " +
                                                                     std::to_string(options.maxVertices) +
                                                                     " distinct vertices"});
    }
}

// A text large enough for the two-thread reader to split the faces where the work
// halves: whatever the split, the mesh is the one-thread reader's.
TEST(OBJLoaderSplit, LargeTextSplitsOnTwoThreadsAndMatchesOneScan) {
    std::string text = "o venue\n";
    const int side = 700;
    for (int j = 0; j <= side; ++j) {
        for (int i = 0; i <= side; ++i) {
            text += "v " + std::to_string(i) + " " + std::to_string((i * j) % 7) + " " + std::to_string(j) + "\n";
            text += "vt " + std::to_string(i % 5) + " " + std::to_string(j % 3) + "\n";
        }
    }
    uint64_t state = 12345;
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            const int a = j * (side + 1) + i + 1, b = a + 1, c = a + side + 2, d = a + side + 1;
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            // Texture indices that repeat, now and then a face that reaches back or out of range.
            const int t = static_cast<int>((state >> 33) % 9) + 1;
            text += "f " + std::to_string(a) + "/" + std::to_string(t) + " " + std::to_string(b) + "/1 " +
                    std::to_string(c) + "/" + std::to_string(t) + " " + std::to_string(d) + "/2\n";
            if ((state >> 20) % 97 == 0) text += "f -1 -2 -3\nf 1/1 2/2 999999999\n";
            if (j == side / 2 && i == 0) text += "v 5 5 5\nvt 0.5 0.5\n";
        }
    }
    ASSERT_GT(text.size(), size_t(16) << 20);
    OBJGeometryOptions one;
    one.threading = OBJThreading::single;
    const auto single = parseOBJText(text.data(), text.size(), one);
    ASSERT_TRUE(single.hasValue());
    for (int run = 0; run < 3; ++run) {
        OBJGeometryOptions two;
        two.threading = OBJThreading::automatic;
        expectSameOutcome(single, parseOBJText(text.data(), text.size(), two), "automatic run " + std::to_string(run));
    }
    OBJGeometryOptions fixed;
    fixed.threading = OBJThreading::single;
    fixed.faceSplitAt = text.size() / 3;
    expectSameOutcome(single, parseOBJText(text.data(), text.size(), fixed), "fixed split");
}

}  // namespace
}  // namespace lumbrix
