#pragma once
// What the NDI suites share: the fake runtime set up through the environment before
// the real loader first looks, a main queue the test drains, and waiting on results
// that arrive from worker threads.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/main_queue.h"
#include "sources/ndi_receiver.h"
#include "tests/fake_ndi/fake_ndi_control.h"

namespace lumbrix::test {

// Points the loader at the fake and keeps the fake's finder waits short. Must run
// before the first NDIRuntime::loadFromEnvironment of the process.
inline void useFakeRuntime() {
    ::setenv("NDI_RUNTIME_DIR_V6", LUMBRIX_FAKE_NDI_DIR, 1);
    ::setenv("FAKE_NDI_MAX_WAIT_MS", "20", 1);
    // The NDI source plays its sender's sound: on SDL's silent driver, at the real pace.
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// How often a sound crosses zero, as a frequency: a pure tone's own.
inline double toneHz(const std::vector<float>& samples, double sampleRate) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return samples.empty() ? 0.0 : crossings / 2.0 / (static_cast<double>(samples.size()) / sampleRate);
}

class NDITest : public ::testing::Test {
protected:
    void SetUp() override {
        useFakeRuntime();
        ASSERT_TRUE(fake.loaded()) << fake.error();
        fake.reset();
        queue = std::make_shared<TaskQueue>();
        receiver = NDIReceiver::create(queue);
    }
    void TearDown() override {
        if (receiver) {
            receiver->shutdown();
            queue->drain();
            receiver.reset();
        }
        if (fake.loaded()) {
            EXPECT_EQ(fake.counter("violations"), 0) << "the runtime was misused: " << fake.lastViolation();
            EXPECT_EQ(fake.counter("frames_outstanding"), 0) << "frames not handed back";
            EXPECT_EQ(fake.counter("audio_outstanding"), 0) << "audio frames not handed back";
            EXPECT_EQ(fake.counter("receivers_live"), 0);
            EXPECT_EQ(fake.counter("finders_live"), 0);
        }
    }

    // Drains the main queue until `done` holds, or gives up after `limit`.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            queue->drain();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    // Starts discovery and waits for the first published list of `expectedNames` names.
    void discover(size_t expectedNames) {
        receiver->startDiscovery();
        ASSERT_TRUE(pumpUntil([&] { return receiver->sources().size() == expectedNames; }))
            << "sources never reached " << expectedNames << " names";
    }

    // Waits until the receiver holds a frame of the given size.
    std::optional<VideoFrame> frameOfSize(int width, int height) {
        std::optional<VideoFrame> frame;
        pumpUntil([&] {
            frame = receiver->latestFrame();
            return frame && frame->width == width && frame->height == height;
        });
        return frame;
    }

    FakeNdiControl fake;
    std::shared_ptr<TaskQueue> queue;
    std::shared_ptr<NDIReceiver> receiver;
};

// Runs `action` with standard output captured and returns what it printed.
inline std::string printedBy(const std::function<void()>& action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace lumbrix::test
