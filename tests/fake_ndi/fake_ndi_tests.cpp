// The fake NDI runtime's own behaviour, through the same dlopen'ed file the loader uses:
// the other NDI tests and the benchmarks trust what it reports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sources/ndi_api.h"
#include "tests/fake_ndi/fake_ndi_control.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

NDIlib_source_t source(const char* name, const char* url = nullptr) {
    NDIlib_source_t source{};
    source.p_ndi_name = name;
    source.p_url_address = url;
    return source;
}

class FakeNdiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(control.loaded()) << control.error();
        control.reset();
        control.setMaxWaitMs(50);
        ASSERT_NE(initialize = control.symbol<NDIlib_initialize_fn>("NDIlib_initialize"), nullptr);
        ASSERT_NE(destroy = control.symbol<NDIlib_destroy_fn>("NDIlib_destroy"), nullptr);
        ASSERT_NE(version = control.symbol<NDIlib_version_fn>("NDIlib_version"), nullptr);
        ASSERT_NE(findCreate = control.symbol<NDIlib_find_create_v2_fn>("NDIlib_find_create_v2"), nullptr);
        ASSERT_NE(findDestroy = control.symbol<NDIlib_find_destroy_fn>("NDIlib_find_destroy"), nullptr);
        ASSERT_NE(findWait = control.symbol<NDIlib_find_wait_for_sources_fn>("NDIlib_find_wait_for_sources"),
                  nullptr);
        ASSERT_NE(findSources =
                      control.symbol<NDIlib_find_get_current_sources_fn>("NDIlib_find_get_current_sources"),
                  nullptr);
        ASSERT_NE(recvCreate = control.symbol<NDIlib_recv_create_v3_fn>("NDIlib_recv_create_v3"), nullptr);
        ASSERT_NE(recvDestroy = control.symbol<NDIlib_recv_destroy_fn>("NDIlib_recv_destroy"), nullptr);
        ASSERT_NE(capture = control.symbol<NDIlib_recv_capture_v2_fn>("NDIlib_recv_capture_v2"), nullptr);
        ASSERT_NE(freeVideo = control.symbol<NDIlib_recv_free_video_v2_fn>("NDIlib_recv_free_video_v2"), nullptr);
    }

    void TearDown() override {
        EXPECT_EQ(control.counter("violations"), 0) << control.lastViolation();
        EXPECT_EQ(control.counter("finders_live"), 0);
        EXPECT_EQ(control.counter("receivers_live"), 0);
        EXPECT_EQ(control.counter("frames_outstanding"), 0);
    }

    NDIlib_recv_instance_t connect(const NDIlib_source_t& from) {
        NDIlib_recv_create_v3_t settings{};
        settings.source_to_connect_to = from;
        settings.color_format = NDIlib_recv_color_format_BGRX_BGRA;
        settings.bandwidth = NDIlib_recv_bandwidth_highest;
        return recvCreate(&settings);
    }

    NDIlib_frame_type_e grab(NDIlib_recv_instance_t receiver, NDIlib_video_frame_v2_t& frame, uint32_t timeoutMs) {
        return capture(receiver, &frame, nullptr, nullptr, timeoutMs);
    }

    // The frame number of the next frame, freed at once; -1 when none came.
    int64_t nextNumber(NDIlib_recv_instance_t receiver, uint32_t timeoutMs) {
        NDIlib_video_frame_v2_t frame{};
        if (grab(receiver, frame, timeoutMs) != NDIlib_frame_type_video) {
            return -1;
        }
        const int64_t number = fakeNdiFrameNumber(frame.p_data);
        freeVideo(receiver, &frame);
        return number;
    }

    FakeNdiControl control;
    NDIlib_initialize_fn initialize = nullptr;
    NDIlib_destroy_fn destroy = nullptr;
    NDIlib_version_fn version = nullptr;
    NDIlib_find_create_v2_fn findCreate = nullptr;
    NDIlib_find_destroy_fn findDestroy = nullptr;
    NDIlib_find_wait_for_sources_fn findWait = nullptr;
    NDIlib_find_get_current_sources_fn findSources = nullptr;
    NDIlib_recv_create_v3_fn recvCreate = nullptr;
    NDIlib_recv_destroy_fn recvDestroy = nullptr;
    NDIlib_recv_capture_v2_fn capture = nullptr;
    NDIlib_recv_free_video_v2_fn freeVideo = nullptr;
};

TEST_F(FakeNdiTest, ParsesSenderListsAndReportsChangesToFinders) {
    setenv("FAKE_NDI_SENDERS", "From env@8x8@30;@8x8@30", 1);
    control.reset();
    EXPECT_EQ(control.counter("senders_listed"), 2);
    unsetenv("FAKE_NDI_SENDERS");
    control.reset();
    EXPECT_EQ(control.counter("senders_listed"), 0);
    control.setMaxWaitMs(50);

    EXPECT_EQ(control.setSenders("Cam A@64x32@30; @16x8@25;bad;X@0x10@30;Y@10x10@abc;Cam A@8x8@30;Z@1x1@;"
                                 "Cam B@32x16@29.97;;Mail@host@8x8@30"),
              4);
    NDIlib_find_instance_t finder = findCreate(nullptr);
    ASSERT_NE(finder, nullptr);
    ASSERT_TRUE(control.lastFindSettings().has_value());
    EXPECT_EQ(control.lastFindSettings()->settings_null, 1);

    auto start = Clock::now();
    EXPECT_TRUE(findWait(finder, 5000)) << "a new finder has news";
    EXPECT_LT(Clock::now() - start, 1s);
    uint32_t count = 99;
    const NDIlib_source_t* sources = findSources(finder, &count);
    ASSERT_EQ(count, 4u);
    ASSERT_NE(sources, nullptr);
    EXPECT_STREQ(sources[0].p_ndi_name, "Cam A");
    EXPECT_STREQ(sources[0].p_url_address, "127.0.0.1:5961");
    EXPECT_EQ(sources[1].p_ndi_name, nullptr);
    EXPECT_STREQ(sources[1].p_url_address, "127.0.0.1:5962");
    EXPECT_STREQ(sources[2].p_ndi_name, "Cam B");
    EXPECT_STREQ(sources[3].p_ndi_name, "Mail@host");

    start = Clock::now();
    EXPECT_FALSE(findWait(finder, 60000)) << "nothing changed; the wait is capped";
    EXPECT_LT(Clock::now() - start, 30s);
    EXPECT_EQ(control.lastTimeout("find_wait"), 60000u);

    // Cam B stays and keeps its address; the newcomer takes the free one of its position.
    control.setSenders("Cam B@32x16@29.97;New@8x8@60");
    EXPECT_TRUE(findWait(finder, 0));
    sources = findSources(finder, &count);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(sources[0].p_url_address, "127.0.0.1:5963");
    EXPECT_STREQ(sources[1].p_ndi_name, "New");
    EXPECT_STREQ(sources[1].p_url_address, "127.0.0.1:5962");
    control.setSenders("Cam B@32x16@29.97;New@8x8@60");
    EXPECT_FALSE(findWait(finder, 0)) << "the same list again is no change";

    // A change during a wait ends it.
    control.setMaxWaitMs(-1);
    std::thread changer([this] {
        std::this_thread::sleep_for(30ms);
        control.setSenders("");
    });
    start = Clock::now();
    EXPECT_TRUE(findWait(finder, 20000));
    EXPECT_LT(Clock::now() - start, 10s);
    changer.join();
    EXPECT_EQ(findSources(finder, &count), nullptr);
    EXPECT_EQ(count, 0u);

    const NDIlib_find_create_t settings{false, "studio", nullptr};
    NDIlib_find_instance_t second = findCreate(&settings);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(control.counter("finders_live"), 2);
    const auto recorded = control.lastFindSettings();
    EXPECT_EQ(recorded->settings_null, 0);
    EXPECT_EQ(recorded->show_local_sources, 0);
    EXPECT_EQ(recorded->groups_null, 0);
    EXPECT_EQ(recorded->extra_ips_null, 1);
    findDestroy(second);
    findDestroy(finder);
    EXPECT_EQ(control.counter("find_create_calls"), 2);
    EXPECT_EQ(control.counter("find_wait_calls"), 5);
    EXPECT_EQ(control.counter("get_sources_calls"), 3);
}

TEST_F(FakeNdiTest, NumbersAndTimesFramesByTheSendersClock) {
    control.setSenders("Clock@64x32@100;NTSC@16x8@29.97");
    NDIlib_recv_instance_t receiver = connect(source("Clock"));
    ASSERT_NE(receiver, nullptr);

    NDIlib_video_frame_v2_t first{};
    ASSERT_EQ(grab(receiver, first, 1000), NDIlib_frame_type_video);
    EXPECT_EQ(first.xres, 64);
    EXPECT_EQ(first.yres, 32);
    EXPECT_EQ(first.FourCC, NDIlib_FourCC_video_type_BGRA);
    EXPECT_EQ(first.frame_rate_N, 100000);
    EXPECT_EQ(first.frame_rate_D, 1000);
    EXPECT_EQ(first.frame_format_type, NDIlib_frame_format_type_progressive);
    EXPECT_EQ(first.line_stride_in_bytes, 64 * 4);
    EXPECT_EQ(first.p_metadata, nullptr);
    const uint32_t firstNumber = fakeNdiFrameNumber(first.p_data);
    const int64_t firstSent = fakeNdiSendTimeNs(first.p_data);
    EXPECT_LE(firstSent, nowNs());
    EXPECT_EQ(first.timestamp, firstSent / 100);
    EXPECT_EQ(first.timecode, int64_t(firstNumber) * 100000) << "10 ms per frame, in 100 ns units";

    // The next capture waits for the next frame, and is not handed it before it is sent.
    NDIlib_video_frame_v2_t second{};
    ASSERT_EQ(grab(receiver, second, 1000), NDIlib_frame_type_video);
    EXPECT_GE(nowNs(), fakeNdiSendTimeNs(second.p_data));
    const uint32_t secondNumber = fakeNdiFrameNumber(second.p_data);
    EXPECT_GT(secondNumber, firstNumber);
    EXPECT_EQ(fakeNdiSendTimeNs(second.p_data) - firstSent, int64_t(secondNumber - firstNumber) * 10'000'000);

    // Rows below the stamp carry the moving pattern: one picture per phase.
    const size_t rowBytes = 64 * 4;
    const bool samePhase = firstNumber % 3 == secondNumber % 3;
    EXPECT_EQ(std::memcmp(first.p_data + rowBytes, second.p_data + rowBytes, rowBytes) == 0, samePhase);
    EXPECT_EQ(first.p_data[rowBytes * 5 + 4 * 7 + 3], 255) << "opaque";
    freeVideo(receiver, &first);
    freeVideo(receiver, &second);

    // A receiver that falls behind gets the newest frame, not the backlog.
    std::this_thread::sleep_for(80ms);
    const int64_t afterSleep = nextNumber(receiver, 1000);
    EXPECT_GE(afterSleep, int64_t(secondNumber) + 7);
    EXPECT_EQ(control.counter("video_frames"), 3);
    EXPECT_EQ(control.counter("captures"), 3);
    EXPECT_EQ(control.lastTimeout("capture"), 1000u);
    recvDestroy(receiver);

    receiver = connect(source("NTSC"));
    NDIlib_video_frame_v2_t ntsc{};
    ASSERT_EQ(grab(receiver, ntsc, 1000), NDIlib_frame_type_video);
    EXPECT_EQ(ntsc.frame_rate_N, 29970);
    EXPECT_EQ(ntsc.frame_rate_D, 1000);
    const double number = fakeNdiFrameNumber(ntsc.p_data);
    EXPECT_EQ(ntsc.timecode, std::llround(number * 1e9 / 29.97) / 100);
    freeVideo(receiver, &ntsc);
    recvDestroy(receiver);
}

TEST_F(FakeNdiTest, StoppedRemovedAndUnknownSendersSendNothing) {
    control.setSenders("Live@16x8@50;@16x8@50");
    NDIlib_recv_instance_t live = connect(source("Live"));
    NDIlib_recv_instance_t unnamed = connect(source(nullptr, "127.0.0.1:5962"));
    NDIlib_recv_instance_t ghost = connect(source("Ghost"));
    ASSERT_TRUE(live != nullptr && unnamed != nullptr && ghost != nullptr);
    EXPECT_GE(nextNumber(live, 1000), 0);
    EXPECT_GE(nextNumber(unnamed, 1000), 0);
    EXPECT_EQ(nextNumber(ghost, 30), -1);

    EXPECT_TRUE(control.stopSender("Live"));
    EXPECT_FALSE(control.stopSender("Nobody"));
    NDIlib_video_frame_v2_t frame{};
    frame.xres = 7;
    auto start = Clock::now();
    EXPECT_EQ(grab(live, frame, 100), NDIlib_frame_type_none);
    EXPECT_GE(Clock::now() - start, 100ms);
    EXPECT_EQ(frame.xres, 0);
    EXPECT_EQ(frame.p_data, nullptr);
    EXPECT_EQ(control.lastTimeout("capture"), 100u);
    EXPECT_GE(nextNumber(unnamed, 1000), 0) << "only Live stopped";

    std::thread resumer([this] {
        std::this_thread::sleep_for(30ms);
        control.resumeSender("Live");
    });
    start = Clock::now();
    EXPECT_GE(nextNumber(live, 20000), 0) << "a resume wakes a waiting capture";
    EXPECT_LT(Clock::now() - start, 10s);
    resumer.join();

    EXPECT_TRUE(control.stopSender("127.0.0.1:5962")) << "unnamed senders are stopped by address";
    EXPECT_EQ(nextNumber(unnamed, 30), -1);
    control.resumeSender("127.0.0.1:5962");

    // Removed: silent. Back again: a fresh clock.
    const int64_t before = nextNumber(live, 1000);
    control.setSenders("@16x8@50");
    EXPECT_EQ(nextNumber(live, 30), -1);
    EXPECT_GE(nextNumber(unnamed, 1000), 0) << "the unnamed sender stayed, address and all";
    std::this_thread::sleep_for(40ms);
    control.setSenders("Live@16x8@50;@16x8@50");
    const int64_t restarted = nextNumber(live, 1000);
    EXPECT_GE(restarted, 0);
    EXPECT_LT(restarted, before);

    recvDestroy(live);
    recvDestroy(unnamed);
    recvDestroy(ghost);
}

TEST_F(FakeNdiTest, InjectsFailuresAndRecordsSettings) {
    EXPECT_NE(std::string(version()).find("Fake"), std::string::npos);
    EXPECT_TRUE(control.setFailure("initialize", true));
    EXPECT_FALSE(initialize());
    EXPECT_TRUE(control.setFailure("initialize", false));
    EXPECT_TRUE(initialize());
    destroy();
    EXPECT_EQ(control.counter("initialize"), 2);
    EXPECT_EQ(control.counter("destroy"), 1);
    EXPECT_FALSE(control.setFailure("capture", true));
    EXPECT_EQ(control.counter("no such counter"), -1);

    control.setSenders("Cam@8x8@30");
    control.setFailure("find_create", true);
    EXPECT_EQ(findCreate(nullptr), nullptr);
    control.setFailure("recv_create", true);
    EXPECT_FALSE(control.lastRecvSettings().has_value());
    NDIlib_recv_create_v3_t settings{};
    settings.source_to_connect_to = source("Cam", "127.0.0.1:5961");
    settings.color_format = NDIlib_recv_color_format_UYVY_BGRA;
    settings.bandwidth = NDIlib_recv_bandwidth_lowest;
    settings.allow_video_fields = true;
    settings.p_ndi_recv_name = "Lumbrix viewer";
    EXPECT_EQ(recvCreate(&settings), nullptr);
    EXPECT_EQ(control.counter("find_create_calls"), 1);
    EXPECT_EQ(control.counter("recv_create_calls"), 1);
    auto recorded = control.lastRecvSettings();
    ASSERT_TRUE(recorded.has_value()) << "settings are recorded even when creation fails";
    EXPECT_EQ(recorded->color_format, NDIlib_recv_color_format_UYVY_BGRA);
    EXPECT_EQ(recorded->bandwidth, NDIlib_recv_bandwidth_lowest);
    EXPECT_EQ(recorded->allow_video_fields, 1);
    EXPECT_EQ(recorded->recv_name_null, 0);
    EXPECT_STREQ(recorded->recv_name, "Lumbrix viewer");
    EXPECT_STREQ(recorded->source_name, "Cam");
    EXPECT_STREQ(recorded->source_url, "127.0.0.1:5961");

    control.reset();
    control.setSenders("Cam@8x8@30");
    EXPECT_TRUE(initialize()) << "reset clears failures";
    NDIlib_find_instance_t finder = findCreate(nullptr);
    EXPECT_NE(finder, nullptr);
    NDIlib_recv_instance_t receiver = connect(source(nullptr, "127.0.0.1:5961"));
    ASSERT_NE(receiver, nullptr);
    recorded = control.lastRecvSettings();
    EXPECT_EQ(recorded->recv_name_null, 1);
    EXPECT_EQ(recorded->source_name_null, 1);
    EXPECT_STREQ(recorded->source_url, "127.0.0.1:5961");
    EXPECT_EQ(recorded->color_format, NDIlib_recv_color_format_BGRX_BGRA);
    EXPECT_GE(nextNumber(receiver, 1000), 0);
    recvDestroy(receiver);
    findDestroy(finder);
}

TEST_F(FakeNdiTest, NeverReusesAFrameStillHandedOut) {
    control.setSenders("Fast@32x8@200");
    NDIlib_recv_instance_t receiver = connect(source("Fast"));
    ASSERT_NE(receiver, nullptr);
    std::vector<NDIlib_video_frame_v2_t> held(6);
    std::vector<uint32_t> numbers;
    std::set<const uint8_t*> buffers;
    for (auto& frame : held) {
        ASSERT_EQ(grab(receiver, frame, 1000), NDIlib_frame_type_video);
        numbers.push_back(fakeNdiFrameNumber(frame.p_data));
        buffers.insert(frame.p_data);
    }
    EXPECT_EQ(buffers.size(), held.size());
    EXPECT_EQ(control.counter("frames_outstanding"), 6);
    for (size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(fakeNdiFrameNumber(held[i].p_data), numbers[i]) << "frame " << i << " was overwritten";
    }
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        freeVideo(receiver, &*it);
    }
    EXPECT_EQ(control.counter("frames_outstanding"), 0);
    EXPECT_EQ(control.counter("frees"), 6);
    recvDestroy(receiver);

    // Capturing and freeing at once cycles through one picture per pattern phase.
    receiver = connect(source("Fast"));
    buffers.clear();
    for (int i = 0; i < 20; ++i) {
        NDIlib_video_frame_v2_t frame{};
        ASSERT_EQ(grab(receiver, frame, 1000), NDIlib_frame_type_video);
        buffers.insert(frame.p_data);
        freeVideo(receiver, &frame);
    }
    EXPECT_LE(buffers.size(), 3u);
    recvDestroy(receiver);
}

TEST_F(FakeNdiTest, CountsMisuseInsteadOfCrashing) {
    control.setSenders("Cam@16x8@50");
    const auto expectViolations = [this](long long expected, const char* what) {
        EXPECT_EQ(control.counter("violations"), expected) << what;
        EXPECT_FALSE(control.lastViolation().empty());
    };
    auto* bogus = reinterpret_cast<NDIlib_recv_instance_t>(uintptr_t(0x1230));
    NDIlib_video_frame_v2_t frame{};
    EXPECT_EQ(grab(bogus, frame, 0), NDIlib_frame_type_none);
    expectViolations(1, "capture on an unknown handle");
    freeVideo(bogus, &frame);
    expectViolations(2, "free on an unknown handle");

    NDIlib_recv_instance_t receiver = connect(source("Cam"));
    ASSERT_EQ(grab(receiver, frame, 1000), NDIlib_frame_type_video);
    NDIlib_video_frame_v2_t copy = frame;
    freeVideo(receiver, &frame);
    freeVideo(receiver, &copy);
    expectViolations(3, "double free");
    ASSERT_EQ(grab(receiver, frame, 1000), NDIlib_frame_type_video);
    recvDestroy(receiver);
    expectViolations(4, "destroyed with a frame outstanding");
    recvDestroy(receiver);
    expectViolations(5, "destroyed twice");
    EXPECT_EQ(control.counter("frames_outstanding"), 0);

    NDIlib_find_instance_t finder = findCreate(nullptr);
    findDestroy(finder);
    findDestroy(finder);
    expectViolations(6, "finder destroyed twice");

    receiver = connect(source("Ghost"));
    std::atomic<int> result{-1};
    const long long capturesBefore = control.counter("captures");
    std::thread capturer([&] {
        NDIlib_video_frame_v2_t waited{};
        result = grab(receiver, waited, 20000);
    });
    while (control.counter("captures") == capturesBefore) {
        std::this_thread::sleep_for(1ms);
    }
    recvDestroy(receiver);
    capturer.join();
    EXPECT_EQ(result, NDIlib_frame_type_none);
    expectViolations(7, "destroyed during a capture");

    control.reset();  // for the teardown's check
}

TEST_F(FakeNdiTest, ServesManyThreadsAtOnce) {
    control.setSenders("A@64x32@120;B@32x16@90;@16x16@60");
    std::atomic<bool> stop{false};
    std::atomic<long long> frames{0};
    std::vector<std::thread> threads;
    for (const auto& from : {source("A"), source("B"), source(nullptr, "127.0.0.1:5963")}) {
        threads.emplace_back([&, from] {
            NDIlib_recv_instance_t receiver = connect(from);
            while (!stop) {
                NDIlib_video_frame_v2_t frame{};
                if (grab(receiver, frame, 20) == NDIlib_frame_type_video) {
                    ++frames;
                    freeVideo(receiver, &frame);
                }
            }
            recvDestroy(receiver);
        });
    }
    threads.emplace_back([&] {
        NDIlib_find_instance_t finder = findCreate(nullptr);
        while (!stop) {
            uint32_t count = 0;
            if (findWait(finder, 20)) {
                const NDIlib_source_t* sources = findSources(finder, &count);
                for (uint32_t i = 0; i < count; ++i) {
                    EXPECT_NE(sources[i].p_url_address, nullptr);
                }
            }
        }
        findDestroy(finder);
    });
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(15ms);
        control.setSenders(i % 2 == 0 ? "A@64x32@120;@16x16@60" : "A@64x32@120;B@32x16@90;@16x16@60");
        (i % 3 == 0 ? control.stopSender("A") : control.resumeSender("A"));
    }
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_GT(frames, 0);
}

}  // namespace
