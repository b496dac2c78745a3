#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "tools/inspect/json_text.h"

namespace lumbrix::inspect {
namespace {

TEST(JsonText, EscapesWhatJsonRequires) {
    EXPECT_EQ(jsonString("plain"), "\"plain\"");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("line\nnext\ttab\r"), "\"line\\nnext\\ttab\\r\"");
    EXPECT_EQ(jsonString(std::string("nul\0x", 5)), "\"nul\\u0000x\"");
    EXPECT_EQ(jsonString("\x01\x1f"), "\"\\u0001\\u001f\"");
}

TEST(JsonText, KeepsUTF8AndReplacesInvalidBytes) {
    EXPECT_EQ(jsonString("caf\xC3\xA9 \xE2\x80\x94"), "\"caf\xC3\xA9 \xE2\x80\x94\"");
    EXPECT_EQ(jsonString("bad\xE9name"), "\"bad\\ufffdname\"");
    EXPECT_EQ(jsonString("\xFF\xFE"), "\"\\ufffd\\ufffd\"");
    EXPECT_EQ(jsonString("\xC3\xA9\"\xC3\xA9"), "\"\xC3\xA9\\\"\xC3\xA9\"");
    EXPECT_EQ(jsonString("ok\xE2\x82"), "\"ok\\ufffd\\ufffd\"");
}

TEST(JsonText, FloatsRoundTripToTheSameFloat32) {
    std::mt19937 random(42);
    std::uniform_int_distribution<uint32_t> bits;
    int checked = 0;
    while (checked < 20000) {
        const uint32_t pattern = bits(random);
        float value;
        std::memcpy(&value, &pattern, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = jsonFloat(value);
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), value) << text;
        ++checked;
    }
    EXPECT_EQ(jsonFloat(-10.0f), "-10");
    EXPECT_EQ(jsonFloat(0.1f), "0.1");
}

TEST(JsonText, NonFiniteFloatsBecomeNull) {
    EXPECT_EQ(jsonFloat(std::numeric_limits<float>::infinity()), "null");
    EXPECT_EQ(jsonFloat(-std::numeric_limits<float>::infinity()), "null");
    EXPECT_EQ(jsonFloat(std::numeric_limits<float>::quiet_NaN()), "null");
}

TEST(JsonText, StringArrays) {
    EXPECT_EQ(jsonStringArray({}), "[]");
    EXPECT_EQ(jsonStringArray({"a", "b\"c"}), "[\"a\",\"b\\\"c\"]");
}

}  // namespace
}  // namespace lumbrix::inspect
