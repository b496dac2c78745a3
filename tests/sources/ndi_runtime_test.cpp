// Where the NDI runtime is looked for and what a failed search reports.
#include "sources/ndi_runtime.h"

#include <gmock/gmock.h>

namespace lumbrix {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(NDIRuntimeSearch, FoldersFromTheEnvironmentComeBeforeTheLinkersSearch) {
    EXPECT_THAT(NDIRuntime::candidatePaths("/opt/ndi6/lib", "/opt/ndi5/lib/"),
                ElementsAre("/opt/ndi6/lib/libndi.so.6", "/opt/ndi5/lib/libndi.so.5", "libndi.so.6", "libndi.so.5"));
    EXPECT_THAT(NDIRuntime::candidatePaths(nullptr, ""), ElementsAre("libndi.so.6", "libndi.so.5"));
    EXPECT_THAT(NDIRuntime::candidatePaths("", "/v5"), ElementsAre("/v5/libndi.so.5", "libndi.so.6", "libndi.so.5"));
}

TEST(NDIRuntimeSearch, LoadsTheFirstCandidateExportingTheWholeInterface) {
    const std::string fake = std::string(LUMBRIX_FAKE_NDI_DIR) + "/libndi.so.6";
    // libc loads but is no NDI runtime; the missing folder does not load at all.
    auto loaded = NDIRuntime::load({"/nonexistent/libndi.so.6", "libc.so.6", fake});
    ASSERT_TRUE(loaded) << loaded.error().explanation();
    EXPECT_EQ(loaded.value()->path(), fake);
    const NDIRuntimeFunctions& api = loaded.value()->api();
    EXPECT_NE(api.initialize, nullptr);
    EXPECT_NE(api.recvFreeVideoV2, nullptr);
    EXPECT_NE(api.version(), nullptr);
}

TEST(NDIRuntimeSearch, FailureNamesEveryPlaceTriedAndWhatToDo) {
    auto loaded = NDIRuntime::load({"/nonexistent/libndi.so.6", "libc.so.6"});
    ASSERT_FALSE(loaded);
    const NDIRuntimeLoadFailure& failure = loaded.error();
    ASSERT_EQ(failure.tried.size(), 2u);
    EXPECT_THAT(failure.tried[0], HasSubstr("/nonexistent/libndi.so.6: "));
    EXPECT_THAT(failure.tried[1], HasSubstr("libc.so.6: does not export NDIlib_initialize"));
    const std::string line = failure.explanation();
    EXPECT_EQ(line.find('\n'), std::string::npos) << "one console line";
    EXPECT_THAT(line, HasSubstr("/nonexistent/libndi.so.6"));
    EXPECT_THAT(line, HasSubstr("Install the NDI runtime"));
    EXPECT_THAT(line, HasSubstr("NDI_RUNTIME_DIR_V6"));
    EXPECT_THAT(line, HasSubstr("avahi-daemon"));
}

}  // namespace
}  // namespace lumbrix
