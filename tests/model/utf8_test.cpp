#include <string>

#include <gtest/gtest.h>

#include "model/utf8.h"

namespace lumbrix {
namespace {

size_t firstBad(const std::string& bytes) { return findInvalidUTF8(bytes.data(), bytes.size()); }

TEST(UTF8, AcceptsEveryEncodingLength) {
    for (const std::string& text : {std::string(""), std::string("plain ascii"), std::string("caf\xC3\xA9"),
                                   std::string("\xE2\x82\xAC euro"), std::string("\xF0\x9F\x8E\xA5 camera"),
                                   std::string("\xEF\xBF\xBF"), std::string("\xF4\x8F\xBF\xBF"),
                                   std::string("nul\0inside", 10)}) {
        EXPECT_TRUE(isValidUTF8(text.data(), text.size())) << text;
    }
}

TEST(UTF8, RefusesMalformedSequencesAtTheirOffset) {
    EXPECT_EQ(firstBad("abc\xE9z"), 3u);               // Latin-1 e acute
    EXPECT_EQ(firstBad("\xC0\xAF"), 0u);               // overlong slash
    EXPECT_EQ(firstBad("\xE0\x80\xAF"), 0u);           // overlong three-byte
    EXPECT_EQ(firstBad("\xF0\x80\x80\xAF"), 0u);       // overlong four-byte
    EXPECT_EQ(firstBad("x\xED\xA0\x80"), 1u);          // UTF-16 surrogate
    EXPECT_EQ(firstBad("\xF4\x90\x80\x80"), 0u);       // beyond U+10FFFF
    EXPECT_EQ(firstBad("\xF5\x80\x80\x80"), 0u);       // invalid lead
    EXPECT_EQ(firstBad("ok\x80"), 2u);                 // stray continuation
    EXPECT_EQ(firstBad("ok\xE2\x82"), 2u);             // truncated at the end
    EXPECT_EQ(firstBad("\xE2\x28\xA1"), 0u);           // continuation missing
}

TEST(UTF8, FindsAnErrorPastTheAsciiFastPath) {
    std::string text(1000, 'a');
    text[777] = '\xFF';
    EXPECT_EQ(firstBad(text), 777u);
    text[777] = 'a';
    text += "\xC3\xA9";
    EXPECT_EQ(firstBad(text), text.size());
    text.pop_back();
    EXPECT_EQ(firstBad(text), 1000u);
}

}  // namespace
}  // namespace lumbrix
