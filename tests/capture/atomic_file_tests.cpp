#include "capture/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "error_printer.h"
#include "png_reader.h"
#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

namespace fs = std::filesystem;
using test::readFileBytes;
using test::TempFolder;

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

void writePlain(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

void expectPosixError(const std::optional<Error>& error, int errnoValue, const std::string& path) {
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kPosixErrorDomain);
    EXPECT_EQ(error->code, errnoValue) << error->description;
    EXPECT_NE(error->description.find(path), std::string::npos) << error->description;
}

// umask is process-wide; the tests here run on one thread, and the old value comes back.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

TEST(AtomicFile, WritesTheBytesAndLeavesNothingElse) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("shot.png");
    const std::vector<uint8_t> bytes = bytesOf(std::string("a\0b\nc", 5));

    EXPECT_FALSE(writeFileAtomically(path, bytes));
    EXPECT_EQ(readFileBytes(path), bytes);
    EXPECT_EQ(folder.list(), std::vector<std::string>{"shot.png"});
}

TEST(AtomicFile, EmptyContentsMakeAnEmptyFile) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("empty");
    EXPECT_FALSE(writeFileAtomically(path, {}));
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(AtomicFile, ReplacesAnExistingFile) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("shot.png");
    writePlain(path, "an older and longer picture");

    EXPECT_FALSE(writeFileAtomically(path, bytesOf("new")));
    EXPECT_EQ(readFileBytes(path), bytesOf("new"));
    EXPECT_EQ(folder.list(), std::vector<std::string>{"shot.png"});
}

TEST(AtomicFile, NewFileGetsTheUsualPermissions) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{002}}) {
        ScopedUmask scoped(mask);
        const std::string path = folder.file("shot-" + std::to_string(mask));
        ASSERT_FALSE(writeFileAtomically(path, bytesOf("x")));
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << "umask " << std::oct << mask;
    }
}

TEST(AtomicFile, RelativePathLandsInTheWorkingFolder) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    const auto error = writeFileAtomically("relative.png", bytesOf("r"));
    fs::current_path(previous);

    EXPECT_FALSE(error) << error->description;
    EXPECT_EQ(readFileBytes(folder.file("relative.png")), bytesOf("r"));
    EXPECT_EQ(folder.list(), std::vector<std::string>{"relative.png"});
}

TEST(AtomicFile, NameAtTheLengthLimitCanBeWritten) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string name(255, 'n');
    const auto error = writeFileAtomically(folder.file(name), bytesOf("long"));
    EXPECT_FALSE(error) << error->description;
    EXPECT_EQ(folder.list(), std::vector<std::string>{name});
}

TEST(AtomicFile, MissingFolderIsThePosixErrorAndCreatesNothing) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("missing/shot.png");
    expectPosixError(writeFileAtomically(path, bytesOf("x")), ENOENT, path);
    EXPECT_TRUE(folder.list().empty());
}

TEST(AtomicFile, DirectoryAtThePathStaysAndNoTemporaryIsLeft) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("shot.png");
    ASSERT_TRUE(fs::create_directory(path));

    expectPosixError(writeFileAtomically(path, bytesOf("x")), EISDIR, path);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(fs::is_empty(path));
    EXPECT_EQ(folder.list(), std::vector<std::string>{"shot.png"});
}

// A file size limit makes write(2) fail part-way (EFBIG once SIGXFSZ is ignored), the
// nearest a test gets to a full disk.
TEST(AtomicFile, FailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string path = folder.file("shot.png");
    writePlain(path, "old");

    struct rlimit previousLimit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
    struct sigaction ignore {}, previousAction {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previousAction), 0);
    struct rlimit small = previousLimit;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    const auto error = writeFileAtomically(path, std::vector<uint8_t>(4096, 7));

    ::setrlimit(RLIMIT_FSIZE, &previousLimit);
    ::sigaction(SIGXFSZ, &previousAction, nullptr);
    expectPosixError(error, EFBIG, path);
    EXPECT_EQ(readFileBytes(path), bytesOf("old"));
    EXPECT_EQ(folder.list(), std::vector<std::string>{"shot.png"});
}

}  // namespace
}  // namespace lumbrix

namespace lumbrix {
namespace {

// A capture target that is not a regular file stays as it is, whatever leads to it;
// renaming over it used to swap a device node, a pipe or a link for a picture.
TEST(AtomicFile, TargetsThatAreNotRegularFilesAreLeftAloneWithTheReason) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string fifo = folder.file("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folderTarget = folder.file("folder.png");
    ASSERT_TRUE(fs::create_directory(folderTarget));
    // Through a link, so that a regression replaces the link and never /dev/null itself.
    const std::string device = folder.file("null.png");
    fs::create_symlink("/dev/null", device);
    const std::string toFifo = folder.file("to-pipe.png");
    fs::create_symlink("pipe.png", toFifo);
    const std::string loop = folder.file("loop.png");
    fs::create_symlink("loop.png", loop);

    const struct {
        std::string path;
        int code;
        std::string reason;
    } cases[] = {
        {fifo, EINVAL, "Not a regular file (a named pipe)"},
        {toFifo, EINVAL, "Not a regular file (a named pipe)"},
        {device, EINVAL, "Not a regular file (a character device)"},
        {folderTarget, EISDIR, "Is a directory"},
        {loop, ELOOP, "Too many levels of symbolic links"},
    };
    const auto before = folder.list();
    for (const auto& c : cases) {
        const auto checked = checkCaptureTarget(c.path);
        ASSERT_TRUE(checked) << c.path;
        EXPECT_EQ(*checked, Error(kPosixErrorDomain, c.code, "Cannot write " + c.path + ": " + c.reason));
        EXPECT_EQ(writeFileAtomically(c.path, bytesOf("png")), checked);
    }
    EXPECT_EQ(folder.list(), before);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(device)));
    EXPECT_EQ(fs::read_symlink(device), "/dev/null");
    EXPECT_TRUE(fs::is_directory(folderTarget));
}

TEST(AtomicFile, ALinkIsFollowedAndStaysALink) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    ASSERT_TRUE(fs::create_directory(folder.file("shots")));
    const std::string target = folder.file("shots/real.png");
    writePlain(target, "old picture");
    const std::string relative = folder.file("relative.png");
    fs::create_symlink("shots/real.png", relative);
    const std::string chain = folder.file("chain.png");
    fs::create_symlink(relative, chain);
    const std::string dangling = folder.file("dangling.png");
    fs::create_symlink("shots/new.png", dangling);

    const struct {
        std::string link;
        std::string lands;
        std::string bytes;
    } cases[] = {
        {relative, target, "first"},
        {chain, target, "second"},
        {dangling, folder.file("shots/new.png"), "made"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(checkCaptureTarget(c.link)) << c.link;
        const auto error = writeFileAtomically(c.link, bytesOf(c.bytes));
        EXPECT_FALSE(error) << error->description;
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(c.link))) << c.link;
        EXPECT_EQ(readFileBytes(c.lands), bytesOf(c.bytes)) << c.link;
    }
    // The temporary file went beside the target, so nothing is left in either folder.
    EXPECT_EQ(folder.list(), (std::vector<std::string>{"chain.png", "dangling.png", "relative.png", "shots"}));
    std::vector<std::string> shots;
    for (const auto& entry : fs::directory_iterator(folder.file("shots"))) shots.push_back(entry.path().filename());
    std::sort(shots.begin(), shots.end());
    EXPECT_EQ(shots, (std::vector<std::string>{"new.png", "real.png"}));
}

TEST(AtomicFile, ANewOrRegularTargetPassesTheCheck) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    writePlain(folder.file("old.png"), "x");
    EXPECT_FALSE(checkCaptureTarget(folder.file("old.png")));
    EXPECT_FALSE(checkCaptureTarget(folder.file("new.png")));
    // A missing folder is for the write itself to report.
    EXPECT_FALSE(checkCaptureTarget(folder.file("missing/new.png")));
    EXPECT_EQ(folder.list(), std::vector<std::string>{"old.png"});
}

}  // namespace
}  // namespace lumbrix
