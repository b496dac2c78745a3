// Judging a file by its first bytes must agree with parsing all of it: a file turned
// away early is one the parser would call "Not an FBX file", and nothing else is.
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "fbx/fbx_document.h"

namespace lumbrix::fbx {
namespace {

const uint8_t* bytesOf(const std::string& text) { return reinterpret_cast<const uint8_t*>(text.data()); }

bool parserSaysNotFBX(const std::string& file) {
    std::string error;
    const auto document = Document::parse(bytesOf(file), file.size(), error);
    return !document && error == kNotAnFBXFile;
}

const std::string kMegabyte(size_t(1) << 20, '\n');

TEST(FBXHead, AgreesWithTheWholeFileParse) {
    const std::string binary = std::string("Kaydara FBX Binary  \0\x1a\0", 23) + std::string(40, '\0');
    const std::string ascii = "; FBX 7.4.0 project file\nFBXHeaderExtension:  {\n\tFBXVersion: 7400\n}\n";
    const struct {
        const char* name;
        std::string file;
        bool fbx;
        bool headMayBeFBX;  // what the first kFBXHeadBytes say
    } cases[] = {
        {"binary magic", binary, true, true},
        {"binary magic cut short", binary.substr(0, 20), false, false},
        {"ASCII with its version comment", ascii, true, true},
        {"ASCII without the comment", ascii.substr(ascii.find('\n') + 1), true, true},
        {"ASCII, old version", "; FBX 6.1.0 project file\n", true, true},  // refused later, for its version
        {"plain text", "hello, this is not a model\n", false, false},
        {"an OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", false, false},
        {"a node but no version", "Objects:  {\n}\n", false, false},
        {"empty", "", false, false},
        {"a long file of text", "solid: " + kMegabyte + kMegabyte, false, false},
        // The key sits in the first megabyte but the first node only after it: only the
        // whole file can tell, so the head must not refuse it.
        {"key early, node late", "; FBXVersion: 7400 noted\n" + kMegabyte + "FBXHeaderExtension:  {\n}\n", true,
         true},
        // A megabyte of blank lines: the head cannot tell, the whole file is no FBX.
        {"version past the first megabyte", kMegabyte + ascii.substr(ascii.find('\n') + 1), false, true},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(parserSaysNotFBX(c.file), !c.fbx) << c.name;
        const uint64_t head = std::min<uint64_t>(c.file.size(), kFBXHeadBytes);
        EXPECT_EQ(couldBeFBX(bytesOf(c.file), head, c.file.size()), c.headMayBeFBX) << c.name;
        EXPECT_EQ(couldBeFBX(bytesOf(c.file), c.file.size(), c.file.size()), c.fbx) << c.name << " (whole)";
    }
}

TEST(FBXHead, TooFewBytesDecideNothing) {
    // A caller that read less than it was told to cannot get a refusal.
    const std::string text(100, 'x');
    EXPECT_TRUE(couldBeFBX(bytesOf(text), 10, 1000));
    EXPECT_FALSE(couldBeFBX(bytesOf(text), 100, 100));
}

}  // namespace
}  // namespace lumbrix::fbx
