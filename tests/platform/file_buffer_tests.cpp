#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/file_buffer.h"

namespace lumbrix {
namespace {

class FileBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumbrix-fb-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string dir_;
};

TEST_F(FileBufferTest, ReadsSmallAndLargeFilesWholeWithATerminator) {
    for (const size_t size : {size_t(0), size_t(1), size_t(4095), size_t(3) << 20}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
        const auto read = readWholeFile(write("f" + std::to_string(size), bytes));
        ASSERT_TRUE(read) << size;
        ASSERT_EQ(read->size(), size);
        EXPECT_EQ(std::memcmp(read->data(), bytes.data(), size), 0);
        EXPECT_EQ(read->data()[size], '\0');
    }
}

TEST_F(FileBufferTest, RefusesWhatCannotBeRead) {
    auto missing = readWholeFile(dir_ + "/missing.obj");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_EQ(missing.error().domain, "POSIX");
    EXPECT_NE(missing.error().description.find("missing.obj"), std::string::npos);

    auto folder = readWholeFile(dir_);
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().code, EISDIR);

    auto tooBig = readWholeFile(write("big", std::string(100, 'x')), 99);
    ASSERT_FALSE(tooBig);
    EXPECT_EQ(tooBig.error().code, EFBIG);
}

// A pipe without a writer would block the open and /dev/zero would never end: both are
// refused at once, by what they are, before any byte is read.
TEST_F(FileBufferTest, PipesAndDevicesAreRefusedAtOnce) {
    const std::string fifo = dir_ + "/pipe.obj";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = dir_ + "/zero.obj";
    ASSERT_EQ(symlink("/dev/zero", link.c_str()), 0);
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {fifo, "Not a regular file (a named pipe)"},
        {"/dev/zero", "Not a regular file (a character device)"},
        {"/dev/null", "Not a regular file (a character device)"},
        {link, "Not a regular file (a character device)"},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto read = readWholeFile(c.path);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << c.path;
        ASSERT_FALSE(read) << c.path;
        EXPECT_EQ(read.error().code, EINVAL) << c.path;
        EXPECT_EQ(read.error().description, "Cannot open " + c.path + ": " + c.reason);
    }
}

TEST_F(FileBufferTest, TheHeadCheckSeesTheFirstBytesAndCanRefuseTheRest) {
    const std::string path = write("model", "HEADER and the rest of the file");
    std::string seen;
    uint64_t seenSize = 0;
    HeadCheck head;
    head.bytes = 6;
    head.check = [&](const char* bytes, size_t count, uint64_t fileBytes) -> std::optional<Error> {
        seen.assign(bytes, count);
        seenSize = fileBytes;
        return std::nullopt;
    };
    auto read = readWholeFile(path, size_t(1) << 40, head);
    ASSERT_TRUE(read);
    EXPECT_EQ(seen, "HEADER");
    EXPECT_EQ(seenSize, 31u);
    EXPECT_EQ(std::string(read->data(), read->size()), "HEADER and the rest of the file");

    // A head longer than the file is the whole file; the checker's error comes back as is.
    head.bytes = 1000;
    head.check = [&](const char* bytes, size_t count, uint64_t) -> std::optional<Error> {
        seen.assign(bytes, count);
        return Error("Test", 7, "not wanted");
    };
    auto refused = readWholeFile(path, size_t(1) << 40, head);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), Error("Test", 7, "not wanted"));
    EXPECT_EQ(seen.size(), 31u);
}

TEST_F(FileBufferTest, ReleasedPagesReadAsZeroAndTheRestIsKept) {
    const size_t size = size_t(4) << 20;
    auto read = readWholeFile(write("big", std::string(size, 'z')));
    ASSERT_TRUE(read);
    FileBuffer buffer = std::move(read.value());
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    buffer.releaseConsumed(100, 3 * page);  // covers pages 1 and 2 whole, page 0 and 3 only in part
    EXPECT_EQ(buffer.data()[0], 'z');
    EXPECT_EQ(buffer.data()[page - 1], 'z');
    EXPECT_EQ(buffer.data()[page], '\0');
    EXPECT_EQ(buffer.data()[3 * page - 1], '\0');
    EXPECT_EQ(buffer.data()[3 * page], 'z');
    EXPECT_EQ(buffer.data()[size - 1], 'z');
}

TEST_F(FileBufferTest, MovesHandOverOwnership) {
    auto read = readWholeFile(write("m", "model"));
    ASSERT_TRUE(read);
    FileBuffer first = std::move(read.value());
    FileBuffer second;
    second = std::move(first);
    EXPECT_EQ(first.data(), nullptr);
    EXPECT_EQ(first.size(), 0u);
    EXPECT_EQ(std::string(second.data(), second.size()), "model");
}

}  // namespace
}  // namespace lumbrix
