// The fake NDI runtime's own behaviour, through the same dlopen'ed file the loader uses:
// the other NDI tests and the benchmarks trust what it reports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
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
        EXPECT_EQ(control.counter("audio_outstanding"), 0);
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

// For programs a test cannot reach by call: every sender falls silent after a while, or
// never sends at all.
TEST_F(FakeNdiTest, SendersFallSilentAfterTheTimeTheEnvironmentGives) {
    struct Case {
        const char* sendForMs;
        int64_t lastFrame;  // of a 100 fps sender; -1: none at all
    };
    for (const Case c : {Case{"100", 9}, Case{"0", -1}}) {
        SCOPED_TRACE(c.sendForMs);
        setenv("FAKE_NDI_SEND_FOR_MS", c.sendForMs, 1);
        setenv("FAKE_NDI_SENDERS", "Cam@8x8@100@440", 1);
        control.reset();
        NDIlib_recv_instance_t receiver = connect(source("Cam"));
        int64_t last = -1;
        for (int64_t number; (number = nextNumber(receiver, 400)) >= 0;) last = number;
        EXPECT_EQ(last, c.lastFrame);
        recvDestroy(receiver);
    }
    unsetenv("FAKE_NDI_SEND_FOR_MS");
    unsetenv("FAKE_NDI_SENDERS");
    control.reset();
}

// The sound as a receiver would take it: every audio frame in turn, in the layout of the
// capture call used, the samples a sine at the sender's tone.
TEST_F(FakeNdiTest, SendsATonedSendersSoundBesideItsPictures) {
    const auto captureV3 = control.symbol<NDIlib_recv_capture_v3_fn>("NDIlib_recv_capture_v3");
    const auto freeAudioV2 = control.symbol<NDIlib_recv_free_audio_v2_fn>("NDIlib_recv_free_audio_v2");
    const auto freeAudioV3 = control.symbol<NDIlib_recv_free_audio_v3_fn>("NDIlib_recv_free_audio_v3");
    ASSERT_TRUE(captureV3 && freeAudioV2 && freeAudioV3);
    EXPECT_EQ(control.setSenders("Tone@16x8@50@1000;Mute@16x8@50@0;Bad@16x8@50@-3;Nyquist@16x8@50@24000;"
                                 "Mail@host@16x8@50@440"),
              3);

    struct Case {
        const char* sender;
        int version;
        double hz;
    };
    for (const Case& c : {Case{"Tone", 2, 1000}, Case{"Tone", 3, 1000}, Case{"Mail@host", 3, 440}}) {
        SCOPED_TRACE(std::string(c.sender) + " v" + std::to_string(c.version));
        NDIlib_recv_instance_t receiver = connect(source(c.sender));
        std::vector<float> left;
        int64_t nextTimecode = -1;
        int videoFrames = 0;
        const auto deadline = Clock::now() + 20s;
        while (left.size() < 48000 / 2 && Clock::now() < deadline) {
            NDIlib_video_frame_v2_t video{};
            NDIlib_audio_frame_v2_t v2{};
            NDIlib_audio_frame_v3_t v3{};
            const NDIlib_frame_type_e type = c.version == 2 ? capture(receiver, &video, &v2, nullptr, 1000)
                                                            : captureV3(receiver, &video, &v3, nullptr, 1000);
            if (type == NDIlib_frame_type_video) {
                ++videoFrames;
                freeVideo(receiver, &video);
                continue;
            }
            ASSERT_EQ(type, NDIlib_frame_type_audio);
            const int rate = c.version == 2 ? v2.sample_rate : v3.sample_rate;
            const int channels = c.version == 2 ? v2.no_channels : v3.no_channels;
            const int samples = c.version == 2 ? v2.no_samples : v3.no_samples;
            const int stride = c.version == 2 ? v2.channel_stride_in_bytes : v3.channel_stride_in_bytes;
            const int64_t timecode = c.version == 2 ? v2.timecode : v3.timecode;
            const auto* planes = c.version == 2 ? v2.p_data : reinterpret_cast<const float*>(v3.p_data);
            ASSERT_EQ(rate, 48000);
            ASSERT_EQ(channels, 2);
            ASSERT_EQ(samples, 48000 / 50);
            ASSERT_GE(stride, samples * 4);
            if (c.version == 3) {
                EXPECT_EQ(v3.FourCC, NDIlib_FourCC_audio_type_FLTP);
            }
            if (nextTimecode >= 0) {
                EXPECT_EQ(timecode, nextTimecode) << "an audio frame was skipped or repeated";
            }
            nextTimecode = timecode + int64_t{samples} * 10'000'000 / 48000;
            for (int i = 0; i < samples; ++i) {
                EXPECT_EQ(planes[i], planes[stride / 4 + i]);
            }
            left.insert(left.end(), planes, planes + samples);
            c.version == 2 ? freeAudioV2(receiver, &v2) : freeAudioV3(receiver, &v3);
        }
        EXPECT_GT(videoFrames, 0);
        ASSERT_GE(left.size(), 48000u / 2);
        int crossings = 0;
        float peak = 0;
        for (size_t i = 1; i < left.size(); ++i) {
            crossings += (left[i - 1] < 0) != (left[i] < 0);
            peak = std::max(peak, std::abs(left[i]));
        }
        const double seconds = static_cast<double>(left.size()) / 48000;
        EXPECT_NEAR(crossings / seconds / 2, c.hz, c.hz * 0.02);
        EXPECT_GT(peak, 0.1f);
        recvDestroy(receiver);
    }

    // Without a tone, and for a receiver that asks for video only, there is no sound.
    for (const char* name : {"Mute", "Tone"}) {
        NDIlib_recv_instance_t receiver = connect(source(name));
        for (int i = 0; i < 8; ++i) {
            NDIlib_video_frame_v2_t video{};
            NDIlib_audio_frame_v2_t audio{};
            const bool withSound = std::string(name) == "Mute";
            const auto type = capture(receiver, &video, withSound ? &audio : nullptr, nullptr, 1000);
            ASSERT_EQ(type, NDIlib_frame_type_video) << name;
            freeVideo(receiver, &video);
        }
        recvDestroy(receiver);
    }
    EXPECT_EQ(control.counter("audio_frames"), control.counter("audio_frees"));
}

TEST_F(FakeNdiTest, CountsSoundMisuseAndReportsTheCountsItIsGiven) {
    const auto freeAudioV2 = control.symbol<NDIlib_recv_free_audio_v2_fn>("NDIlib_recv_free_audio_v2");
    const auto freeAudioV3 = control.symbol<NDIlib_recv_free_audio_v3_fn>("NDIlib_recv_free_audio_v3");
    const auto performance = control.symbol<NDIlib_recv_get_performance_fn>("NDIlib_recv_get_performance");
    const auto queue = control.symbol<NDIlib_recv_get_queue_fn>("NDIlib_recv_get_queue");
    ASSERT_TRUE(freeAudioV2 && freeAudioV3 && performance && queue);
    control.setSenders("Tone@16x8@100@440");
    NDIlib_recv_instance_t receiver = connect(source("Tone"));
    const auto nextAudio = [&](NDIlib_audio_frame_v2_t& audio) {
        for (int i = 0; i < 50; ++i) {
            NDIlib_video_frame_v2_t video{};
            const auto type = capture(receiver, &video, &audio, nullptr, 1000);
            if (type == NDIlib_frame_type_audio) {
                return true;
            }
            freeVideo(receiver, &video);
        }
        return false;
    };

    NDIlib_audio_frame_v2_t audio{};
    ASSERT_TRUE(nextAudio(audio));
    EXPECT_EQ(control.counter("audio_outstanding"), 1);
    const NDIlib_audio_frame_v2_t copy = audio;
    NDIlib_audio_frame_v3_t asV3{};
    asV3.p_data = reinterpret_cast<uint8_t*>(audio.p_data);
    const struct {
        std::function<void()> misuse;
        const char* what;
    } cases[] = {
        {[&] { freeAudioV3(receiver, &asV3); }, "freed by the other version's call"},
        {[&] { freeAudioV2(receiver, &copy); }, "freed twice"},
        {[&] {
             ASSERT_TRUE(nextAudio(audio));
             recvDestroy(receiver);
         },
         "receiver destroyed with an audio frame outstanding"},
    };
    long long expected = 0;
    for (const auto& c : cases) {
        c.misuse();
        EXPECT_EQ(control.counter("violations"), ++expected) << c.what;
    }
    EXPECT_EQ(control.counter("audio_outstanding"), 0);

    // Its own counts, then whatever a test sets.
    receiver = connect(source("Tone"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(nextNumber(receiver, 1000), 0);
    }
    NDIlib_recv_performance_t total{}, dropped{};
    performance(receiver, &total, &dropped);
    EXPECT_GE(total.video_frames, 3);
    EXPECT_GE(total.video_frames, dropped.video_frames + 3);
    FakeNdiRecvCounts given{{120, 240, 0}, {7, 3, 0}, {2, 5, 0}};
    control.setRecvCounts(&given);
    NDIlib_recv_queue_t queued{};
    performance(receiver, &total, &dropped);
    queue(receiver, &queued);
    EXPECT_EQ(total.video_frames, 120);
    EXPECT_EQ(total.audio_frames, 240);
    EXPECT_EQ(dropped.video_frames, 7);
    EXPECT_EQ(dropped.audio_frames, 3);
    EXPECT_EQ(queued.video_frames, 2);
    EXPECT_EQ(queued.audio_frames, 5);
    control.setRecvCounts(nullptr);
    performance(receiver, &total, &dropped);
    EXPECT_NE(total.video_frames, 120);
    recvDestroy(receiver);
    control.reset();  // for the teardown's check
}

}  // namespace
