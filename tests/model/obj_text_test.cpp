#include <clocale>
#include <cstdlib>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/obj_text.h"

namespace lumbrix::objtext {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    LineReader reader(text.data(), text.size());
    std::string_view line;
    while (reader.next(line)) lines.emplace_back(line);
    return lines;
}

std::vector<std::string> tokensOf(std::string_view line) {
    std::vector<std::string> tokens;
    TokenReader reader(line);
    std::string_view token;
    while (reader.next(token)) tokens.emplace_back(token);
    return tokens;
}

TEST(OBJText, SplitsAtEveryNewlineKind) {
    const std::string text =
        "a\nb\x0B"
        "c\x0C"
        "d\re\r\nf\xC2\x85g\xE2\x80\xA8h\xE2\x80\xA9i";
    EXPECT_EQ(linesOf(text), (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
}

TEST(OBJText, DropsEmptyAndBlankLines) {
    EXPECT_EQ(linesOf("\n\n\r\n  \t \nx\n\xC2\xA0\n"), (std::vector<std::string>{"x"}));
    EXPECT_TRUE(linesOf("").empty());
}

TEST(OBJText, BreakBytesInsideOtherCharactersAreNotBreaks) {
    // U+2027 (E2 80 A7) and U+00A0 share lead bytes with LS and NEL.
    EXPECT_EQ(linesOf("a\xE2\x80\xA7z\n"), (std::vector<std::string>{"a\xE2\x80\xA7z"}));
    EXPECT_EQ(linesOf("a\xC2\xA9z"), (std::vector<std::string>{"a\xC2\xA9z"}));
}

TEST(OBJText, LongLinesCrossTheWordScan) {
    std::string text(37, 'x');
    text += "\r\n";
    text += std::string(64, 'y');
    text += "\xE2\x80\xA9";
    text += "z";
    EXPECT_EQ(linesOf(text), (std::vector<std::string>{std::string(37, 'x'), std::string(64, 'y'), "z"}));
}

TEST(OBJText, TrimsUnicodeWhiteSpaceAtBothEnds) {
    EXPECT_EQ(trim("\t v 1 2 3 \t"), "v 1 2 3");
    EXPECT_EQ(trim("\xC2\xA0v 1\xE3\x80\x80"), "v 1");                   // NBSP, ideographic space
    EXPECT_EQ(trim("\xE2\x80\x83v\xE2\x80\xAF\xE2\x81\x9F"), "v");       // em space, narrow NBSP, math space
    EXPECT_EQ(trim("\xE1\x9A\x80x"), "x");                              // ogham space mark
    EXPECT_EQ(trim("x\xC2\xA9"), "x\xC2\xA9");                          // copyright sign is not space
    EXPECT_EQ(trim("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");                  // zero width space is not space
    EXPECT_EQ(trim(" \t "), "");
}

TEST(OBJText, TokensSplitOnlyAtSpace) {
    EXPECT_EQ(tokensOf("f  1/2/3   4 5 "), (std::vector<std::string>{"f", "1/2/3", "4", "5"}));
    EXPECT_EQ(tokensOf("v 1\t2 3"), (std::vector<std::string>{"v", "1\t2", "3"}));
    EXPECT_EQ(countTokens("f 1 2 3 4 5"), 6u);
    EXPECT_EQ(countTokens("f"), 1u);
    EXPECT_EQ(countTokens(""), 0u);
}

TEST(OBJText, FloatsUseCLocaleSyntax) {
    EXPECT_EQ(parseFloat("1.5"), 1.5f);
    EXPECT_EQ(parseFloat("-0.25"), -0.25f);
    EXPECT_EQ(parseFloat("+2"), 2.0f);
    EXPECT_EQ(parseFloat(".5"), 0.5f);
    EXPECT_EQ(parseFloat("5."), 5.0f);
    EXPECT_EQ(parseFloat("1e3"), 1000.0f);
    EXPECT_EQ(parseFloat("1.5E-2"), 0.015f);
    EXPECT_EQ(parseFloat("0x1.8p1"), 3.0f);
    EXPECT_EQ(parseFloat("0X10"), 16.0f);
    EXPECT_EQ(parseFloat("-0x.8"), -0.5f);
    EXPECT_TRUE(std::isinf(parseFloat("inf")));
    EXPECT_TRUE(std::isinf(parseFloat("-Infinity")));
    EXPECT_TRUE(std::isnan(parseFloat("nan")));
    EXPECT_TRUE(std::isnan(parseFloat("NaN")));
    EXPECT_EQ(parseFloat("0.1"), 0.1f);  // correctly rounded to float, not through double
    EXPECT_EQ(parseFloat("16777217"), 16777216.0f);
}

TEST(OBJText, OutOfRangeFloatsSaturateLikeStrtof) {
    EXPECT_EQ(parseFloat("1e50"), std::numeric_limits<float>::infinity());
    EXPECT_EQ(parseFloat("-1e50"), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(parseFloat("1e-60"), 0.0f);
    const float denormal = parseFloat("1e-40");
    EXPECT_GT(denormal, 0.0f);
    EXPECT_LT(denormal, std::numeric_limits<float>::min());
}

TEST(OBJText, TokensThatAreNotWhollyNumbersReadZero) {
    for (const char* token : {"", "abc", "1.5x", "1,5", "--1", "+-1", "++1", "+", "-", "1e", "0x", "0xg", "\t1",
                              " 1", "1 ", "1f", "infinit", "1_000", "0x1p"}) {
        EXPECT_EQ(parseFloat(token), 0.0f) << '"' << token << '"';
    }
    EXPECT_EQ(parseFloat(std::string_view("1\0" "5", 3)), 0.0f);
}

// A comma-decimal locale: the system's, or one compiled into a scratch folder.
const char* useGermanNumbers() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8"}) {
        if (const char* set = std::setlocale(LC_NUMERIC, name)) return set;
    }
    static std::string folder;
    if (folder.empty()) {
        std::string pattern = "/tmp/lumbrix-locale-XXXXXX";
        if (!mkdtemp(pattern.data())) return nullptr;
        folder = pattern;
        const std::string command = "localedef -i de_DE -f UTF-8 " + folder + "/de_DE.UTF-8 >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return nullptr;
    }
    setenv("LOCPATH", folder.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
}

TEST(OBJText, FloatsIgnoreTheProcessLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!useGermanNumbers()) GTEST_SKIP() << "no comma-decimal locale available";
    ASSERT_EQ(std::strtof("1,5", nullptr), 1.5f);  // the locale really is in effect
    EXPECT_EQ(parseFloat("1.5"), 1.5f);
    EXPECT_EQ(parseFloat("0x1.8p1"), 3.0f);
    EXPECT_EQ(parseFloat("1,5"), 0.0f);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(OBJText, IndicesAreSignedDecimalIntegers) {
    EXPECT_EQ(parseIndex("7"), 7);
    EXPECT_EQ(parseIndex("+7"), 7);
    EXPECT_EQ(parseIndex("-1"), -1);
    EXPECT_EQ(parseIndex("0"), 0);
    EXPECT_EQ(parseIndex("007"), 7);
    EXPECT_EQ(parseIndex("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(parseIndex("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    for (const char* token : {"", "+", "-", "1.0", "1e2", "0x10", " 1", "1 ", "--1", "9223372036854775808",
                              "-9223372036854775809", "18446744073709551616", "99999999999999999999999"}) {
        EXPECT_FALSE(parseIndex(token).has_value()) << '"' << token << '"';
    }
}

}  // namespace
}  // namespace lumbrix::objtext
