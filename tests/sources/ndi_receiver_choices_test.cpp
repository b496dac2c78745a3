// The receiver's counters, bandwidth, empty-list hint and extra addresses against the
// fake runtime, loaded by the real loader.
#include "sources/ndi_receiver.h"

#include <gmock/gmock.h>

#include <fstream>

#include "ndi_test_support.h"
#include "tests/support/temp_folder.h"

namespace lumbrix {
namespace {

using namespace std::chrono_literals;
using test::NDITest;

class NDIChoices : public NDITest {
protected:
    void remake(NDIReceiverOptions options, NDIReceiver::RuntimeLoader loader = {}) {
        receiver = NDIReceiver::create(queue, std::move(loader), std::move(options));
    }

    // Every distinct sample published while `until` does not hold (at most 10 s).
    std::vector<NDIReceiveStats> samplesUntil(const std::function<bool(const std::vector<NDIReceiveStats>&)>& until) {
        std::vector<NDIReceiveStats> seen;
        pumpUntil(
            [&] {
                const auto& stats = receiver->receiveStats();
                if (stats && (seen.empty() || seen.back() != *stats)) seen.push_back(*stats);
                return until(seen);
            },
            10s);
        return seen;
    }
};

TEST_F(NDIChoices, RateFollowsTheSenderWhileDropsAndQueueAreTheRuntimesOwn) {
    remake({.statsInterval = 250ms});
    fake.setSenders("Stage@32x16@40");
    discover(1);
    receiver->connect(0);
    EXPECT_FALSE(receiver->receiveStats()) << "no sample yet on a new connection";

    // The fake counts every frame its sender sent since the first one taken, so the
    // rate is the sender's whatever the test machine's pace.
    const auto samples = samplesUntil([](const auto& seen) { return seen.size() >= 5; });
    ASSERT_GE(samples.size(), 5u);
    double sum = 0;
    for (size_t i = 1; i < samples.size(); ++i) sum += samples[i].framesPerSecond;
    EXPECT_NEAR(sum / static_cast<double>(samples.size() - 1), 40.0, 8.0);

    FakeNdiRecvCounts counts{};
    counts.total.video_frames = 90'000;
    counts.dropped.video_frames = 17;
    counts.queue.video_frames = 3;
    fake.setRecvCounts(&counts);
    // A counter that stands still is no frames at all, however large it is.
    const auto still = samplesUntil([](const auto& seen) {
        return !seen.empty() && seen.back().droppedFrames == 17 && seen.back().framesPerSecond == 0.0;
    });
    ASSERT_FALSE(still.empty());
    EXPECT_EQ(still.back().droppedFrames, 17);
    EXPECT_EQ(still.back().queuedFrames, 3);
    EXPECT_EQ(still.back().framesPerSecond, 0.0);
}

TEST_F(NDIChoices, BandwidthReachesTheRuntimeAndReconnectsTheSameSenderWithFreshCounts) {
    remake({.statsInterval = 100ms});
    FakeNdiRecvCounts counts{};
    counts.dropped.video_frames = 9;
    fake.setRecvCounts(&counts);
    fake.setSenders("A@16x16@30;B@24x16@30");
    discover(2);
    receiver->connect(1);
    ASSERT_TRUE(pumpUntil([&] { return receiver->receiveStats() && receiver->receiveStats()->droppedFrames == 9; }));
    fake.setRecvCounts(nullptr);

    struct Step {
        NDIBandwidth choice;
        int runtimeValue;
        long long newReceivers;
    };
    const Step steps[] = {
        {NDIBandwidth::lowest, NDIlib_recv_bandwidth_lowest, 1},
        {NDIBandwidth::lowest, NDIlib_recv_bandwidth_lowest, 0},  // no change, no reconnect
        {NDIBandwidth::highest, NDIlib_recv_bandwidth_highest, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.runtimeValue);
        const long long before = fake.counter("recv_create_calls");
        receiver->setBandwidth(step.choice);
        EXPECT_EQ(fake.counter("recv_create_calls") - before, step.newReceivers);
        EXPECT_EQ(receiver->bandwidth(), step.choice);
        const auto settings = fake.lastRecvSettings();
        ASSERT_TRUE(settings.has_value());
        EXPECT_EQ(settings->bandwidth, step.runtimeValue);
        EXPECT_STREQ(settings->source_name, "B");
        EXPECT_EQ(receiver->selectedIndex(), 1);
        EXPECT_EQ(fake.counter("receivers_live"), 1);
        if (step.newReceivers > 0) {
            EXPECT_FALSE(receiver->receiveStats()) << "the old connection's counts went with it";
        }
        EXPECT_TRUE(pumpUntil([&] { return receiver->receiveStats() && receiver->receiveStats()->droppedFrames < 9; }));
    }
    EXPECT_TRUE(frameOfSize(24, 16).has_value());

    // Chosen with no connection: nothing is made until one is, and it takes the choice.
    receiver->shutdown();
    queue->drain();
    receiver->setBandwidth(NDIBandwidth::lowest);
    EXPECT_EQ(fake.counter("receivers_live"), 0);
    discover(2);
    receiver->connect(0);
    EXPECT_EQ(fake.lastRecvSettings()->bandwidth, NDIlib_recv_bandwidth_lowest);
}

TEST_F(NDIChoices, ARuntimeWithoutCountersShowsNoneRatherThanZeros) {
    remake({.statsInterval = 50ms}, [] () -> Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> {
        auto loaded = NDIRuntime::loadFromEnvironment();
        if (!loaded) return loaded;
        NDIRuntimeFunctions older = loaded.value()->api();
        older.recvGetPerformance = nullptr;
        older.recvGetQueue = nullptr;
        return NDIRuntime::fromFunctions(loaded.value()->path(), older);
    });
    fake.setSenders("A@16x16@30");
    discover(1);
    receiver->connect(0);
    ASSERT_TRUE(frameOfSize(16, 16).has_value());
    pumpUntil([] { return false; }, 300ms);
    EXPECT_FALSE(receiver->receiveStats());
}

TEST_F(NDIChoices, AnEmptyListIsExplainedOnceDiscoveryHasWaitedByWhetherAvahiRuns) {
    test::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string socket = folder.file("avahi-socket");
    struct Case {
        bool avahiThere;
        NDINoSendersHint hint;
    };
    for (const Case& c : {Case{true, NDINoSendersHint::mdnsRunning}, Case{false, NDINoSendersHint::mdnsMissing}}) {
        SCOPED_TRACE(c.avahiThere);
        if (c.avahiThere) std::ofstream(socket) << "";
        else std::filesystem::remove(socket);
        receiver->shutdown();
        queue->drain();
        remake({.quietDelay = 600ms, .avahiSocketPath = socket});
        fake.setSenders("");
        receiver->startDiscovery();
        const auto started = std::chrono::steady_clock::now();
        ASSERT_TRUE(pumpUntil([&] { return receiver->noSendersHint() != NDINoSendersHint::none; }, 5s));
        EXPECT_GE(std::chrono::steady_clock::now() - started, 600ms) << "explained before discovery had its time";
        EXPECT_EQ(receiver->noSendersHint(), c.hint);

        fake.setSenders("Late@16x16@30");
        receiver->requestRefresh();
        EXPECT_TRUE(pumpUntil([&] { return receiver->noSendersHint() == NDINoSendersHint::none; }));
    }
}

TEST_F(NDIChoices, ExtraAddressesReachTheFinderAndARunningSearchStartsOverWithThem) {
    receiver->setExtraIPs("10.0.0.5");  // before discovery: its first finder takes them
    fake.setSenders("A@16x16@30");
    discover(1);
    EXPECT_STREQ(fake.lastFindSettings()->extra_ips, "10.0.0.5");

    const char* const lists[] = {"10.0.0.5,studio-b.local", ""};
    for (const char* list : lists) {
        SCOPED_TRACE(list);
        const long long before = fake.counter("find_create_calls");
        receiver->setExtraIPs(list);
        EXPECT_EQ(fake.counter("find_create_calls") - before, 1);
        EXPECT_EQ(fake.counter("finders_live"), 1);
        const auto settings = fake.lastFindSettings();
        ASSERT_TRUE(settings.has_value());
        EXPECT_EQ(settings->extra_ips_null != 0, *list == '\0');
        EXPECT_STREQ(settings->extra_ips, list);
        fake.setSenders(*list ? "A@16x16@30;B@16x16@30" : "A@16x16@30");
        EXPECT_TRUE(pumpUntil([&] { return receiver->sources().size() == (*list ? 2u : 1u); }))
            << "the new finder is searching";
    }
}

}  // namespace
}  // namespace lumbrix
