// Typed extra addresses for the NDI finder: what is kept, and what is refused with which line.
#include "sources/ndi_settings.h"

#include <gmock/gmock.h>

namespace lumbrix {
namespace {

using ::testing::HasSubstr;

TEST(ExtraIPs, KeepsAddressesAndHostNamesTrimmedAndJoined) {
    const struct {
        const char* typed;
        const char* kept;
    } cases[] = {
        {"", ""},
        {"  , ,", ""},
        {"192.168.2.20", "192.168.2.20"},
        {" 10.0.0.5 ,studio-b.local,, 255.255.255.255 ", "10.0.0.5,studio-b.local,255.255.255.255"},
        {"\tMEDIA-SERVER-01\n", "MEDIA-SERVER-01"},
    };
    for (const auto& c : cases) {
        const auto kept = normalizeExtraIPs(c.typed);
        ASSERT_TRUE(kept) << c.typed << ": " << kept.error();
        EXPECT_EQ(kept.value(), c.kept) << c.typed;
    }
}

TEST(ExtraIPs, RefusesTheFirstBadEntryByName) {
    const struct {
        const char* typed;
        const char* named;
        const char* why;
    } cases[] = {
        {"10.0.0.5, 10.0.0.256", "10.0.0.256", "not an IPv4 address"},
        {"10.0.5", "10.0.5", "not an IPv4 address"},
        {"10.0.0.5.1", "10.0.0.5.1", "not an IPv4 address"},
        {"studio b", "studio b", "not an IPv4 address"},
        {"-studio.local", "-studio.local", "not an IPv4 address"},
        {"studio..local", "studio..local", "not an IPv4 address"},
        {"studio_b", "studio_b", "not an IPv4 address"},
        {"ok.local, 10.0.0.5:5960", "10.0.0.5:5960", "without a port"},
        {"fe80::1", "fe80::1", "IPv6"},
    };
    for (const auto& c : cases) {
        const auto refused = normalizeExtraIPs(c.typed);
        ASSERT_FALSE(refused) << c.typed;
        EXPECT_THAT(refused.error(), HasSubstr(std::string("“") + c.named + "”")) << c.typed;
        EXPECT_THAT(refused.error(), HasSubstr(c.why)) << c.typed;
    }
}

}  // namespace
}  // namespace lumbrix
