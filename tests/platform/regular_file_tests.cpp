#include "platform/regular_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

TEST(RegularFile, EveryKindOfPathGetsItsOwnReason) {
    test::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string file = folder.file("model.obj");
    std::ofstream(file) << "v 0 0 0\n";
    const std::string fifo = folder.file("pipe.obj");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string toFile = folder.file("link.obj");
    ASSERT_EQ(::symlink(file.c_str(), toFile.c_str()), 0);
    const std::string dangling = folder.file("dangling.obj");
    ASSERT_EQ(::symlink(folder.file("gone").c_str(), dangling.c_str()), 0);

    const struct {
        std::string path;
        int code;  // 0: a regular file
        std::string reason;
    } cases[] = {
        {file, 0, ""},
        {toFile, 0, ""},
        {folder.file("missing.obj"), ENOENT, "No such file or directory"},
        {dangling, ENOENT, "No such file or directory"},
        {folder.file("model.obj/inside"), ENOTDIR, "Not a directory"},
        {folder.path().string(), EISDIR, "Is a directory"},
        {fifo, EINVAL, "Not a regular file (a named pipe)"},
        {"/dev/null", EINVAL, "Not a regular file (a character device)"},
    };
    for (const auto& c : cases) {
        const auto problem = checkRegularFile(c.path, "Cannot read");
        const auto reason = regularFileReason(c.path);
        if (c.code == 0) {
            EXPECT_FALSE(problem) << c.path << ": " << problem->description;
            EXPECT_FALSE(reason) << c.path;
            continue;
        }
        ASSERT_TRUE(problem) << c.path;
        EXPECT_EQ(problem->domain, kPosixErrorDomain);
        EXPECT_EQ(problem->code, c.code) << c.path;
        EXPECT_EQ(problem->description, "Cannot read " + c.path + ": " + c.reason);
        EXPECT_EQ(reason.value_or(""), c.reason);
    }
}

}  // namespace
}  // namespace lumbrix
