// What the FBX importer says about paths that are not FBX files to read: each refusal
// comes at once, names the system's reason, and reads next to nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "model/fbx_scene_importer.h"
#include "obj_test_files.h"

namespace lumbrix {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes this process has asked read(2) and pread(2) for so far.
uint64_t bytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

class FBXImportFilesTest : public ::testing::Test {
protected:
    testing::ScratchDir dir_;
};

TEST_F(FBXImportFilesTest, PathsThatAreNoFileToReadAreRefusedAtOnceWithTheReason) {
    const std::string fifo = dir_.path() + "/pipe.fbx";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir_.path() + "/zero.fbx";
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    const std::string folder = dir_.path() + "/folder.fbx";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string empty = dir_.write("empty.fbx", "");
    const std::string missing = dir_.path() + "/missing.fbx";

    const struct {
        std::string path;
        std::string reason;
        bool checkedWithoutOpening;  // checkFile already refuses it
    } cases[] = {
        {fifo, "Cannot open " + fifo + ": Not a regular file (a named pipe)", true},
        {zero, "Cannot open " + zero + ": Not a regular file (a character device)", true},
        {folder, "Cannot open " + folder + ": Is a directory", true},
        {missing, "Cannot open " + missing + ": No such file or directory", true},
        {empty, "Cannot read " + empty + ": The file is empty", false},
    };
    for (const auto& c : cases) {
        const Error expected(FBXSceneImporter::kErrorDomain, FBXSceneImporter::readFailed,
                             "Failed to read FBX file. " + c.reason);
        const auto started = Clock::now();
        const auto scene = FBXSceneImporter::loadSceneFromURL(c.path);
        const auto cameras = FBXSceneImporter::loadCamerasFromURL(c.path);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(1)) << c.path;
        ASSERT_FALSE(scene) << c.path;
        EXPECT_EQ(scene.error(), expected);
        ASSERT_FALSE(cameras) << c.path;
        EXPECT_EQ(cameras.error(), expected);

        const auto checked = FBXSceneImporter::checkFile(c.path);
        EXPECT_EQ(checked.has_value(), c.checkedWithoutOpening) << c.path;
        if (checked) {
            EXPECT_EQ(*checked, expected);
        }
    }
}

// A 1.5 GB file that is not FBX used to be read whole before the parser refused it.
TEST_F(FBXImportFilesTest, AHugeFileThatIsNotFBXIsRefusedFromItsFirstBytes) {
    const std::string path = dir_.write("huge.fbx", "this is a log file, not a model\n");
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        // Sparse: the size costs no disk.
        ASSERT_EQ(::ftruncate(fd, off_t(1536) << 20), 0);
        ::close(fd);
    }
    const uint64_t before = bytesRead();
    const auto started = Clock::now();
    const auto scene = FBXSceneImporter::loadSceneFromURL(path);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_LT(bytesRead() - before, uint64_t(4) << 20);
    ASSERT_FALSE(scene);
    EXPECT_EQ(scene.error(), Error(FBXSceneImporter::kErrorDomain, FBXSceneImporter::parseFailed, "Not an FBX file"));
}

}  // namespace
}  // namespace lumbrix
