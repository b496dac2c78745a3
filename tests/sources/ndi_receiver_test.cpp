// Discovery, selection, connection and shutdown of the NDI receiver against the fake
// runtime, loaded by the real loader.
#include "sources/ndi_receiver.h"

#include <gmock/gmock.h>

#include <mutex>

#include "ndi_test_support.h"

namespace lumbrix {
namespace {

using test::NDITest;
using test::printedBy;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using NDIDiscovery = NDITest;

TEST_F(NDIDiscovery, PublishesNamesInRuntimeOrderSkippingNullNames) {
    fake.setSenders("Stage Left@64x32@30;@64x32@30;Stage Right@32x16@25");
    std::string printed = printedBy([&] { discover(2); });
    EXPECT_THAT(printed, HasSubstr("✅ NDIlib_initialize OK, version: Fake NDI runtime"));
    EXPECT_THAT(receiver->sources(), ElementsAre("Stage Left", "Stage Right"));
    EXPECT_EQ(receiver->selectedIndex(), -1);
    EXPECT_EQ(receiver->runtimeStatus(), NDIRuntimeStatus::loaded);

    auto settings = fake.lastFindSettings();
    ASSERT_TRUE(settings.has_value());
    EXPECT_FALSE(settings->settings_null);
    EXPECT_TRUE(settings->show_local_sources);
    EXPECT_TRUE(settings->groups_null);
    EXPECT_TRUE(settings->extra_ips_null);
    EXPECT_EQ(fake.lastTimeout("find_wait"), 500u);
    EXPECT_EQ(fake.counter("initialize"), 1);
}

TEST_F(NDIDiscovery, TimerKeepsTheListCurrentAndAnEmptyListClearsTheSelection) {
    fake.setSenders("A@16x16@30;B@16x16@30");
    discover(2);
    fake.setSenders("A@16x16@30;B@16x16@30;C@16x16@30");
    // No refresh asked for: the 1.0 s timer brings the new list.
    EXPECT_TRUE(pumpUntil([&] { return receiver->sources().size() == 3; }, std::chrono::seconds(4)));
    fake.setSenders("");
    receiver->requestRefresh();
    EXPECT_TRUE(pumpUntil([&] { return receiver->sources().empty(); }));
    EXPECT_EQ(receiver->selectedIndex(), -1);
}

TEST_F(NDIDiscovery, SelectionFollowsTheRuntimeCountNotTheNamesKept) {
    fake.setSenders("A@16x16@30;@16x16@30;C@16x16@30");
    discover(2);
    receiver->connect(2);  // the third sender: only two names are shown, but three exist
    EXPECT_EQ(receiver->selectedIndex(), 2);
    receiver->refreshSources();
    queue->drain();
    EXPECT_EQ(receiver->selectedIndex(), 2) << "index 2 is below the runtime's count of 3";

    // The list shrinks below the selection: the selection goes, the connection stays.
    fake.setSenders("A@16x16@30;C@16x16@30");
    receiver->refreshSources();
    queue->drain();
    EXPECT_EQ(receiver->selectedIndex(), -1);
    EXPECT_EQ(fake.counter("receivers_live"), 1);
    ASSERT_TRUE(frameOfSize(16, 16).has_value()) << "frames keep arriving from C";
}

TEST_F(NDIDiscovery, ButtonRefreshRunsOnTheWorkerWithoutBlockingTheCaller) {
    fake.setSenders("A@16x16@30");
    discover(1);
    fake.setSenders("A@16x16@30;B@16x16@30");
    const auto before = std::chrono::steady_clock::now();
    receiver->requestRefresh();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
    EXPECT_TRUE(pumpUntil([&] { return receiver->sources().size() == 2; }, std::chrono::milliseconds(900)))
        << "the refresh came no sooner than the timer would have";
}

using NDIConnect = NDITest;

TEST_F(NDIConnect, RefusesBeforeDiscoveryAndOutOfRangeWithExactLines) {
    EXPECT_EQ(printedBy([&] { receiver->connect(0); }), "❌ Finder not started. Call startDiscovery() first.\n");
    fake.setSenders("A@16x16@30;B@16x16@30");
    discover(2);
    EXPECT_EQ(printedBy([&] { receiver->connect(-1); }), "❌ connect(index:) out of range, index=-1, count=2\n");
    EXPECT_EQ(printedBy([&] { receiver->connect(2); }), "❌ connect(index:) out of range, index=2, count=2\n");
    EXPECT_EQ(fake.lastTimeout("find_wait"), 200u);
    EXPECT_EQ(receiver->selectedIndex(), -1);
    EXPECT_EQ(fake.counter("recv_create_calls"), 0);

    fake.setSenders("");
    EXPECT_EQ(printedBy([&] { receiver->connect(0); }), "❌ No NDI sources found\n");
}

TEST_F(NDIConnect, AsksForBGRAAtHighestBandwidthAndKeepsTheNewestFrame) {
    fake.setSenders("Camera 1@64x32@60;Camera 2@48x24@30");
    discover(2);
    receiver->connect(1);
    EXPECT_EQ(receiver->selectedIndex(), 1);

    auto settings = fake.lastRecvSettings();
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->color_format, 0);
    EXPECT_EQ(settings->bandwidth, 100);
    EXPECT_FALSE(settings->allow_video_fields);
    EXPECT_TRUE(settings->recv_name_null);
    EXPECT_STREQ(settings->source_name, "Camera 2");
    EXPECT_STREQ(settings->source_url, "127.0.0.1:5962");

    auto frame = frameOfSize(48, 24);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->stride, 48 * 4);
    EXPECT_EQ(frame->byteCount(), size_t{48 * 4 * 24});
    EXPECT_TRUE(pumpUntil([&] { return receiver->lastFrameSize() == FrameSize{48, 24}; }));
    EXPECT_EQ(fake.lastTimeout("capture"), 1000u);

    // Later frames replace it: the number in the first row only grows.
    const uint32_t first = fakeNdiFrameNumber(frame->data.get());
    EXPECT_TRUE(pumpUntil([&] {
        auto later = receiver->latestFrame();
        return later && fakeNdiFrameNumber(later->data.get()) > first;
    }));
}

TEST_F(NDIConnect, SwitchingSendersReplacesTheReceiverAndTheFrameSize) {
    fake.setSenders("Small@32x16@30;Large@96x48@30");
    discover(2);
    receiver->connect(0);
    ASSERT_TRUE(frameOfSize(32, 16).has_value());
    receiver->connect(1);
    ASSERT_TRUE(frameOfSize(96, 48).has_value());
    EXPECT_TRUE(pumpUntil([&] { return receiver->lastFrameSize() == FrameSize{96, 48}; }));
    EXPECT_EQ(fake.counter("receivers_live"), 1);
    EXPECT_EQ(fake.counter("recv_create_calls"), 2);
}

TEST_F(NDIConnect, ASenderThatStopsLeavesItsLastPicture) {
    fake.setSenders("A@32x16@60");
    discover(1);
    receiver->connect(0);
    ASSERT_TRUE(frameOfSize(32, 16).has_value());
    fake.stopSender("A");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // a frame in flight lands
    auto last = receiver->latestFrame();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    auto later = receiver->latestFrame();
    ASSERT_TRUE(last && later);
    EXPECT_EQ(later->data, last->data);
    fake.resumeSender("A");
    EXPECT_TRUE(pumpUntil([&] { return receiver->latestFrame()->data != last->data; }));
}

TEST_F(NDIConnect, HandsEveryAudioFrameToItsListenersInterleavedAndFreesIt) {
    fake.setSenders("Tone@32x16@50@1000;Mute@32x16@50");
    discover(2);
    receiver->connect(0);
    // Heard by nobody, audio frames are still taken and handed back.
    ASSERT_TRUE(pumpUntil([&] { return fake.counter("audio_frames") >= 5; }));

    struct Heard {
        std::mutex lock;
        std::vector<float> left;
        int blocks = 0, badBlocks = 0, unequalSides = 0;
    };
    auto heard = std::make_shared<Heard>();
    const int id = receiver->addSoundListener([heard](const NDISoundBlock& block) {
        std::lock_guard lock(heard->lock);
        ++heard->blocks;
        heard->badBlocks += block.sampleRate != 48000 || block.channels != 2 || block.frames != 960;
        for (int i = 0; i < block.frames; ++i) {
            heard->left.push_back(block.interleaved[2 * i]);
            heard->unequalSides += block.interleaved[2 * i] != block.interleaved[2 * i + 1];
        }
    });
    ASSERT_TRUE(pumpUntil([&] {
        std::lock_guard lock(heard->lock);
        return heard->left.size() >= 48000 / 2;
    }));
    receiver->removeSoundListener(id);
    {
        std::lock_guard lock(heard->lock);
        EXPECT_EQ(heard->badBlocks, 0);
        EXPECT_EQ(heard->unequalSides, 0);
        EXPECT_NEAR(test::toneHz(heard->left, 48000), 1000, 20) << "frames lost, repeated or garbled";
    }
    const int blocksAtRemoval = heard->blocks;
    const long long framesAtRemoval = fake.counter("audio_frames");
    ASSERT_TRUE(pumpUntil([&] { return fake.counter("audio_frames") > framesAtRemoval + 3; }));
    EXPECT_EQ(heard->blocks, blocksAtRemoval) << "a removed listener was still called";

    // A sender without sound: pictures only.
    receiver->connect(1);
    const long long before = fake.counter("audio_frames");
    ASSERT_TRUE(frameOfSize(32, 16).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(fake.counter("audio_frames"), before);
}

TEST_F(NDIConnect, RapidReconnectsNeverDestroyAHandleInUse) {
    fake.setSenders("A@32x16@60;B@32x16@60");
    discover(2);
    for (int i = 0; i < 20; ++i) {
        receiver->connect(i % 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 3 * 5));
    }
    ASSERT_TRUE(frameOfSize(32, 16).has_value());
    EXPECT_EQ(fake.counter("receivers_live"), 1);
    // The fixture checks for misuse and frames never handed back.
}

using NDIFailures = NDITest;

TEST_F(NDIFailures, InitialiseFailureLeavesNoFinder) {
    fake.setFailure("initialize", true);
    fake.setSenders("A@16x16@30");
    std::string printed = printedBy([&] {
        receiver->startDiscovery();
        queue->drain();
    });
    EXPECT_EQ(printed, "❌ NDIlib_initialize failed\n");
    EXPECT_EQ(fake.counter("finders_live"), 0);
    EXPECT_EQ(printedBy([&] { receiver->connect(0); }), "❌ Finder not started. Call startDiscovery() first.\n");
}

TEST_F(NDIFailures, FinderFailureStartsNoTimerAndAReceiverFailureKeepsTheSelection) {
    fake.setSenders("A@16x16@30;B@16x16@30");
    fake.setFailure("find_create", true);
    std::string printed = printedBy([&] {
        receiver->startDiscovery();
        queue->drain();
    });
    EXPECT_THAT(printed, HasSubstr("❌ NDIlib_find_create_v2 failed\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(fake.counter("find_wait_calls"), 0) << "no refresh without a finder";

    fake.setFailure("find_create", false);
    discover(2);
    receiver->connect(0);
    ASSERT_EQ(receiver->selectedIndex(), 0);
    fake.setFailure("recv_create", true);
    EXPECT_EQ(printedBy([&] { receiver->connect(1); }), "❌ NDIlib_recv_create_v3 failed\n");
    EXPECT_EQ(receiver->selectedIndex(), 0);
    EXPECT_EQ(fake.counter("receivers_live"), 0) << "the old receiver was destroyed before the attempt";
}

TEST(NDIRuntimeMissing, DiscoveryExplainsWhatWasTriedAndFailsInitialisation) {
    auto queue = std::make_shared<TaskQueue>();
    auto receiver = NDIReceiver::create(queue, [] { return NDIRuntime::load({"/nonexistent/ndi/libndi.so.6"}); });
    std::string printed = printedBy([&] {
        receiver->startDiscovery();
        queue->drain();
    });
    EXPECT_EQ(receiver->runtimeStatus(), NDIRuntimeStatus::missing);
    EXPECT_THAT(receiver->runtimeProblem(), HasSubstr("/nonexistent/ndi/libndi.so.6"));
    EXPECT_THAT(receiver->runtimeProblem(), HasSubstr("NDI_RUNTIME_DIR_V6"));
    EXPECT_THAT(receiver->runtimeProblem(), HasSubstr("avahi-daemon"));
    EXPECT_EQ(printed, receiver->runtimeProblem() + "\n❌ NDIlib_initialize failed\n");
    EXPECT_EQ(printedBy([&] { receiver->connect(0); }), "❌ Finder not started. Call startDiscovery() first.\n");
    receiver->shutdown();  // nothing to release, nothing to call
    queue->drain();
    EXPECT_TRUE(receiver->sources().empty());
}

using NDILifecycle = NDITest;

TEST_F(NDILifecycle, ShutdownClearsEverythingAndDiscoveryStartsAgain) {
    fake.setSenders("A@32x16@30");
    discover(1);
    receiver->connect(0);
    ASSERT_TRUE(frameOfSize(32, 16).has_value());
    ASSERT_TRUE(pumpUntil([&] { return receiver->lastFrameSize() == FrameSize{32, 16}; }));
    int changes = 0;
    receiver->setChangeHandler([&] { ++changes; });

    receiver->shutdown();
    EXPECT_FALSE(receiver->latestFrame().has_value());
    EXPECT_EQ(fake.counter("receivers_live"), 0);
    EXPECT_EQ(fake.counter("finders_live"), 0);
    EXPECT_EQ(fake.counter("destroy"), 1);
    queue->drain();
    EXPECT_TRUE(receiver->sources().empty());
    EXPECT_EQ(receiver->selectedIndex(), -1);
    EXPECT_EQ(receiver->lastFrameSize(), FrameSize{});
    EXPECT_GE(changes, 1);

    discover(1);
    EXPECT_EQ(fake.counter("initialize"), 2);
    receiver->connect(0);
    EXPECT_TRUE(frameOfSize(32, 16).has_value());
}

TEST_F(NDILifecycle, DroppingTheReceiverStopsItsThreadsAndLateResultsGoNowhere) {
    fake.setSenders("A@32x16@60");
    discover(1);
    receiver->connect(0);
    ASSERT_TRUE(frameOfSize(32, 16).has_value());
    receiver.reset();  // no shutdown call: the destructor does it
    EXPECT_EQ(fake.counter("receivers_live"), 0);
    EXPECT_EQ(fake.counter("finders_live"), 0);
    queue->drain();  // whatever the workers posted before stopping finds no receiver
}

}  // namespace
}  // namespace lumbrix
