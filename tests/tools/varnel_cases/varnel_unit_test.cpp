// Varnel's pieces in-process: the escaping that keeps its line valid JSON
// whatever text the reader returns, the whole-file read, and the command line
// paths that need no FBX reader.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/varnel/json_escape.h"
#include "tools/varnel/varnel.h"
#include "tools/varnel/whole_file.h"

namespace lumbrix::varnel {
namespace {

std::string escaped(std::string_view text) {
    std::string out;
    appendJsonEscaped(out, text);
    return out;
}

// Code point of the UTF-8 sequence at s[i] with its length, by decoding first and
// judging the value afterwards (a different route from the escaper's byte ranges);
// length 0 when the bytes are not a shortest-form scalar value.
std::pair<uint32_t, size_t> decodeUtf8(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    size_t length = 0;
    uint32_t cp = 0;
    if (b(i) < 0x80) return {b(i), 1};
    if ((b(i) & 0xE0) == 0xC0) length = 2, cp = b(i) & 0x1F;
    else if ((b(i) & 0xF0) == 0xE0) length = 3, cp = b(i) & 0x0F;
    else if ((b(i) & 0xF8) == 0xF0) length = 4, cp = b(i) & 0x07;
    else return {0, 0};
    if (i + length > s.size()) return {0, 0};
    for (size_t k = 1; k < length; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, length};
}

// The inside of a JSON string as RFC 8259 defines it, in UTF-8.
bool isJsonStringBody(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<uint8_t>(s[i]);
        if (c < 0x20 || c == '"') return false;
        if (c == '\\') {
            if (i + 1 >= s.size()) return false;
            const char e = s[i + 1];
            if (e == 'u') {
                if (i + 6 > s.size()) return false;
                for (size_t k = i + 2; k < i + 6; ++k) {
                    if (!std::isxdigit(static_cast<unsigned char>(s[k]))) return false;
                }
                i += 6;
            } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
                i += 2;
            } else {
                return false;
            }
            continue;
        }
        const auto [cp, length] = decodeUtf8(s, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

TEST(VarnelJsonEscape, OrdinaryTextIsCopiedByteForByte) {
    for (const std::string_view text : {"", "Not an FBX file", "Unsupported FBX version 6100",
                                        "Truncated file at byte 1234 / {x:y} [a,b] 'q' ~\x7f",
                                        "caf\xC3\xA9 \xE2\x80\x94 \xE3\x82\xAB \xF0\x9F\x98\x82 \xF4\x8F\xBF\xBF"}) {
        EXPECT_EQ(escaped(text), text);
    }
}

TEST(VarnelJsonEscape, QuotesBackslashesAndControlCharactersAreEscaped) {
    EXPECT_EQ(escaped("Model \"a\\b\""), "Model \\\"a\\\\b\\\"");
    EXPECT_EQ(escaped("a\nb\rc\td\be\ff"), "a\\nb\\rc\\td\\be\\ff");
    EXPECT_EQ(escaped(std::string_view("\0\x01\x1f\x20", 4)), "\\u0000\\u0001\\u001f ");
    EXPECT_EQ(escaped("\x1b[31m"), "\\u001b[31m");
}

TEST(VarnelJsonEscape, MalformedUtf8BecomesOneReplacementPerByte) {
    const struct {
        std::string_view in, out;
    } cases[] = {
        {"\x80", "\\ufffd"},                                    // lone continuation byte
        {"a\xE9z", "a\\ufffdz"},                                // Latin-1, not UTF-8
        {"\xC0\xAF", "\\ufffd\\ufffd"},                         // overlong '/'
        {"\xE0\x80\xAF", "\\ufffd\\ufffd\\ufffd"},              // overlong, three bytes
        {"\xF0\x80\x80\xAF", "\\ufffd\\ufffd\\ufffd\\ufffd"},   // overlong, four bytes
        {"\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd"},              // UTF-16 surrogate
        {"\xF4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},   // past U+10FFFF
        {"\xF5\xFE\xFF", "\\ufffd\\ufffd\\ufffd"},
        {"ok\xE2\x82", "ok\\ufffd\\ufffd"},                     // cut short at the end
        {"\xE2\x82\"", "\\ufffd\\ufffd\\\""},                   // cut short by a quote
        {"\xC3\xA9\xC3", "\xC3\xA9\\ufffd"},
    };
    for (const auto& c : cases) EXPECT_EQ(escaped(c.in), c.out) << testing::PrintToString(std::string(c.in));
}

TEST(VarnelJsonEscape, AppendsAfterWhatIsAlreadyThere) {
    std::string line = "{\"error\":\"";
    appendJsonEscaped(line, "x\"");
    EXPECT_EQ(line, "{\"error\":\"x\\\"");
}

TEST(VarnelJsonEscape, AnyBytesGiveAValidJsonString) {
    // Every pair of bytes covers each lead byte before each follower; random
    // strings biased to the high half cover longer broken sequences.
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const char pair[2] = {static_cast<char>(a), static_cast<char>(b)};
            const std::string out = escaped(std::string_view(pair, 2));
            ASSERT_TRUE(isJsonStringBody(out)) << a << " " << b << " -> " << out;
        }
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 24), high(0x80, 0xFF);
    for (int n = 0; n < 200000; ++n) {
        std::string text(static_cast<size_t>(length(random)), '\0');
        for (char& c : text) c = static_cast<char>(random() % 3 == 0 ? byte(random) : high(random));
        const std::string out = escaped(text);
        ASSERT_TRUE(isJsonStringBody(out)) << testing::PrintToString(text) << " -> " << out;
        // Well-formed input without quote, backslash or controls must come out unchanged.
        bool plain = true;
        for (size_t i = 0; i < text.size() && plain;) {
            const auto [cp, len] = decodeUtf8(text, i);
            plain = len != 0 && cp >= 0x20 && cp != '"' && cp != '\\';
            i += len == 0 ? 1 : len;
        }
        if (plain) {
            ASSERT_EQ(out, text);
        }
    }
}

class VarnelFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumbrix-varnel-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Runs Varnel with these arguments after the program name; returns status, stdout, stderr.
    struct Run {
        int status;
        std::string out, err;
    };
    static Run run(std::vector<std::string> args) {
        args.insert(args.begin(), "Varnel");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        Run result{runVarnel(static_cast<int>(args.size()), argv.data(), out, err), slurp(out), slurp(err)};
        std::fclose(out);
        std::fclose(err);
        return result;
    }
    static std::string slurp(std::FILE* file) {
        std::rewind(file);
        std::string text;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
        return text;
    }

    std::string dir_;
};

TEST_F(VarnelFilesTest, ReadsRegularFilesWholeWithEveryByteValue) {
    for (const size_t size : {size_t(1), size_t(255), (size_t(5) << 20) + 3}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
        WholeFile file;
        ASSERT_TRUE(readWholeFile(write("f" + std::to_string(size), bytes).c_str(), file)) << size;
        ASSERT_EQ(file.size, size);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.bytes.get()), size), bytes);
    }
}

TEST_F(VarnelFilesTest, RefusesWhatIsNotAReadableNonEmptyRegularFile) {
    const std::string fifo = dir_ + "/pipe.fbx";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string unreadable = write("locked.fbx", "x");
    ASSERT_EQ(chmod(unreadable.c_str(), 0), 0);
    const bool root = geteuid() == 0;  // root reads mode-0 files anyway
    for (const std::string& path : {write("empty.fbx", ""), dir_ + "/missing.fbx", dir_, fifo,
                                    std::string("/dev/null"), std::string("/dev/zero"), unreadable}) {
        if (path == unreadable && root) continue;
        WholeFile file;
        file.size = 99;
        EXPECT_FALSE(readWholeFile(path.c_str(), file)) << path;  // a FIFO without a writer must not block
        EXPECT_EQ(file.size, 0u) << path;
        EXPECT_EQ(file.bytes, nullptr) << path;
    }
}

TEST_F(VarnelFilesTest, NoArgumentPrintsTheUsageLineOnStandardErrorOnly) {
    const Run r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Usage: Varnel <path-to-fbx>\n");
}

TEST_F(VarnelFilesTest, UnreadableFilesGiveTheReadFailureLine) {
    for (const std::string& path : {write("empty.fbx", ""), dir_ + "/missing.fbx", dir_}) {
        // Only the first argument counts, even when a later one names a good file.
        const Run r = run({path, "--help", dir_ + "/also-ignored.fbx"});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.out, "{\"ok\":false,\"error\":\"Failed to read FBX file\"}\n") << path;
        EXPECT_EQ(r.err, "") << path;
    }
}

}  // namespace
}  // namespace lumbrix::varnel
