#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system_log.h"

namespace lumbrix {
namespace {

class SystemLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDebug_ = SystemLog::debugEnabled();
        SystemLog::setSink([this](LogPriority priority, const std::string& line) { lines_.emplace_back(priority, line); });
    }
    void TearDown() override {
        SystemLog::setSink(nullptr);
        SystemLog::setDebugEnabled(previousDebug_);
    }

    std::vector<std::pair<LogPriority, std::string>> lines_;
    bool previousDebug_ = false;
};

TEST_F(SystemLogTest, FormatsInfoLinesWithTheirPriority) {
    SystemLog::info("Total vertices: %zu", size_t(36));
    SystemLog::info("Camera[%d]: fovH=%.1f\u00B0", 0, 54.4322);
    ASSERT_EQ(lines_.size(), 2u);
    EXPECT_EQ(lines_[0], std::make_pair(LogPriority::info, std::string("Total vertices: 36")));
    EXPECT_EQ(lines_[1].second, "Camera[0]: fovH=54.4\xC2\xB0");
}

TEST_F(SystemLogTest, DebugLinesOnlyWhenDebugLoggingIsOn) {
    SystemLog::setDebugEnabled(false);
    SystemLog::debug("Vertex[%zu]", size_t(1));
    EXPECT_TRUE(lines_.empty());
    SystemLog::setDebugEnabled(true);
    SystemLog::debug("Vertex[%zu]", size_t(2));
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0], std::make_pair(LogPriority::debug, std::string("Vertex[2]")));
}

TEST_F(SystemLogTest, LongLinesAreNotCut) {
    const std::string name(2000, 'n');
    SystemLog::info("Camera[0]: name='%s'", name.c_str());
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].second, "Camera[0]: name='" + name + "'");
}

}  // namespace
}  // namespace lumbrix
