#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

TEST_F(FileBufferTest, ReadsAPipeToItsEnd) {
    const std::string fifo = dir_ + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string payload(200000, 'p');
    std::thread writer([&] {
        std::ofstream(fifo, std::ios::binary).write(payload.data(), static_cast<std::streamsize>(payload.size()));
    });
    const auto read = readWholeFile(fifo);
    writer.join();
    ASSERT_TRUE(read);
    EXPECT_EQ(std::string(read->data(), read->size()), payload);
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

TEST_F(FileBufferTest, StreamsPastTheLimitAreRefused) {
    // /dev/zero never ends: the read must stop at the limit instead of eating memory.
    auto endless = readWholeFile("/dev/zero", size_t(1) << 40, size_t(8) << 20);
    ASSERT_FALSE(endless);
    EXPECT_EQ(endless.error().code, EFBIG);
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
