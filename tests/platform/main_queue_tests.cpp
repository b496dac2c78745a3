#include "platform/main_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace lumbrix {
namespace {

TEST(TaskQueue, RunsTasksInPostingOrderOnlyWhenDrained) {
    TaskQueue queue;
    std::vector<int> order;
    queue.post([&] { order.push_back(1); });
    queue.post([&] {
        order.push_back(2);
        // Work posted by a task runs in the same drain, after what was already queued.
        queue.post([&] { order.push_back(4); });
    });
    queue.post([&] { order.push_back(3); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(queue.pending(), 3u);
    EXPECT_EQ(queue.drain(), 4u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(queue.pending(), 0u);
    EXPECT_EQ(queue.drain(), 0u);
}

TEST(TaskQueue, TakesPostsFromManyThreadsWhileDraining) {
    TaskQueue queue;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<int> perThread(kThreads, 0);  // touched only by drained tasks
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&queue, &perThread, t] {
            for (int i = 0; i < kPerThread; ++i) queue.post([&perThread, t] { ++perThread[t]; });
        });
    }
    size_t ran = 0;
    while (ran < static_cast<size_t>(kThreads * kPerThread)) ran += queue.drain();
    for (auto& poster : posters) poster.join();
    ran += queue.drain();
    EXPECT_EQ(ran, static_cast<size_t>(kThreads * kPerThread));
    for (int count : perThread) EXPECT_EQ(count, kPerThread);
}

TEST(TaskQueue, DelayedTasksWaitForTheirTimeWithoutHoldingUpOthers) {
    TaskQueue queue;
    std::vector<int> order;
    queue.postDelayed(std::chrono::milliseconds(80), [&] { order.push_back(1); });
    queue.post([&] { order.push_back(2); });
    EXPECT_EQ(queue.drain(), 1u);
    EXPECT_EQ(order, (std::vector<int>{2}));
    EXPECT_EQ(queue.pending(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(queue.drain(), 1u);
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

}  // namespace
}  // namespace lumbrix
