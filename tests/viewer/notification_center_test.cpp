// Named notifications between parts that do not know each other, and the Qt main
// queue that carries work from worker threads onto the GUI thread.
#include "viewer/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include "platform/main_queue.h"
#include "tests/viewer/view_model_support.h"
#include "viewer/qt_main_queue.h"

namespace lumbrix::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Made before main() runs, so before any application object exists.
const bool gApplicationExistedEarly = QCoreApplication::instance() != nullptr;
QtMainQueue gQueueWithoutApplication;

class NotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override { application(); }

    NotificationCenter center;
    std::vector<std::string> calls;
};

TEST_F(NotificationCenterTest, ObserversAreCalledByNameInTheOrderTheyWereAdded) {
    const auto a = center.addObserver(QStringLiteral("grid"), [this] { calls.push_back("a"); });
    const auto b = center.addObserver(QStringLiteral("lock"), [this] { calls.push_back("b"); });
    const auto c = center.addObserver(QStringLiteral("grid"), [this] { calls.push_back("c"); });
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(c, 0u);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(a, c);
    EXPECT_EQ(center.observerCount(), 3u);

    // From the GUI thread the observers run before post() returns.
    center.post(QStringLiteral("grid"));
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "c"}));
    center.post(QStringLiteral("lock"));
    center.post(QStringLiteral("nobody"));
    EXPECT_EQ(calls, (std::vector<std::string>{"a", "c", "b"}));

    center.removeObserver(a);
    center.removeObserver(a);  // twice is harmless
    center.removeObserver(0);
    EXPECT_EQ(center.observerCount(), 2u);
    calls.clear();
    center.post(QStringLiteral("grid"));
    EXPECT_EQ(calls, std::vector<std::string>{"c"});
}

TEST_F(NotificationCenterTest, ObserversRemovedOrAddedDuringDeliveryFollowTheChange) {
    NotificationCenter::Token second = 0, self = 0;
    center.addObserver(QStringLiteral("n"), [&] {
        calls.push_back("first");
        center.removeObserver(second);
        center.addObserver(QStringLiteral("n"), [&] { calls.push_back("late"); });
    });
    second = center.addObserver(QStringLiteral("n"), [&] { calls.push_back("second"); });
    self = center.addObserver(QStringLiteral("n"), [&] {
        calls.push_back("self");
        center.removeObserver(self);
    });

    center.post(QStringLiteral("n"));
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "self"})) << "removed before its turn: not called";
    calls.clear();
    center.post(QStringLiteral("n"));
    // The first observer adds another "late" each time; only the one from the last post runs.
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "late"}));
}

TEST_F(NotificationCenterTest, PostsFromAWorkerRunOnTheGuiThroughTheEventLoop) {
    std::vector<QThread*> threads;
    center.addObserver(QStringLiteral("n"), [&] { threads.push_back(QThread::currentThread()); });
    std::thread([&] { center.post(QStringLiteral("n")); }).join();
    EXPECT_TRUE(threads.empty()) << "not from the worker itself";
    ASSERT_TRUE(pumpUntil([&] { return !threads.empty(); }, 2s));
    pumpFor(20ms);
    EXPECT_EQ(threads, std::vector<QThread*>{application().thread()});
}

TEST_F(NotificationCenterTest, PostsFromAWorkerGoThroughTheGivenMainQueue) {
    auto queue = std::make_shared<TaskQueue>();
    NotificationCenter own(queue);
    int runs = 0;
    own.addObserver(QStringLiteral("n"), [&] { ++runs; });
    std::thread([&] { own.post(QStringLiteral("n")); }).join();
    pumpFor(20ms);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(queue->pending(), 1u);
    queue->drain();
    EXPECT_EQ(runs, 1);
}

TEST_F(NotificationCenterTest, APostFromAWorkerOutlivedByItsCenterDeliversNothing) {
    int runs = 0;
    auto own = std::make_unique<NotificationCenter>();
    own->addObserver(QStringLiteral("n"), [&] { ++runs; });
    std::thread([&] { own->post(QStringLiteral("n")); }).join();
    own.reset();
    pumpFor(30ms);
    EXPECT_EQ(runs, 0);
}

// --- the Qt main queue ------------------------------------------------------------------

class QtMainQueueTest : public ::testing::Test {
protected:
    void SetUp() override { application(); }
};

TEST_F(QtMainQueueTest, PostsFromSeveralThreadsRunOnTheGuiInPostingOrder) {
    constexpr int kThreads = 4, kPerThread = 200;
    std::mutex postingMutex;  // makes "posting order" one order across the threads
    int nextSequence = 0;
    std::vector<int> ran;
    std::vector<QThread*> ranOn;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&] {
            // One queue per thread: order holds across instances as well.
            QtMainQueue queue;
            for (int i = 0; i < kPerThread; ++i) {
                std::lock_guard lock(postingMutex);
                queue.post([&ran, &ranOn, sequence = nextSequence++] {
                    ran.push_back(sequence);
                    ranOn.push_back(QThread::currentThread());
                });
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    ASSERT_TRUE(pumpUntil([&] { return ran.size() == size_t{kThreads * kPerThread}; }, 2s)) << ran.size();
    for (int i = 0; i < kThreads * kPerThread; ++i) {
        ASSERT_EQ(ran[static_cast<size_t>(i)], i);
    }
    EXPECT_EQ(std::count(ranOn.begin(), ranOn.end(), application().thread()), kThreads * kPerThread);
}

TEST_F(QtMainQueueTest, DelayedTasksRunNoEarlierThanTheirDelay) {
    QtMainQueue queue;
    struct Run {
        std::chrono::milliseconds delay;
        SteadyClock::duration after;
        QThread* thread;
    };
    std::vector<Run> runs;
    // Long delays included: Qt lets its default timers for those fire a little early.
    const std::vector<std::chrono::milliseconds> delays = {0ms, 30ms, 120ms, 2000ms, 2013ms, 2026ms, 2039ms};
    const auto posted = SteadyClock::now();
    std::thread([&] {
        for (auto delay : delays) {
            queue.postDelayed(delay, [&runs, delay, posted] {
                runs.push_back({delay, SteadyClock::now() - posted, QThread::currentThread()});
            });
        }
    }).join();
    ASSERT_TRUE(pumpUntil([&] { return runs.size() == delays.size(); }, 2800ms)) << runs.size();
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].delay, delays[i]) << "shorter delays first";
        EXPECT_GE(runs[i].after, runs[i].delay) << "delay " << runs[i].delay.count() << " ms ran after "
                                                << std::chrono::duration<double, std::milli>(runs[i].after).count()
                                                << " ms";
        EXPECT_EQ(runs[i].thread, application().thread());
    }
}

TEST_F(QtMainQueueTest, TasksForAQueueMadeBeforeTheApplicationAreDropped) {
    if (gApplicationExistedEarly) GTEST_SKIP() << "an application object existed before main()";
    bool ran = false;
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = token;
    gQueueWithoutApplication.post([&ran, token] { ran = true; });
    gQueueWithoutApplication.postDelayed(1ms, [&ran, token] { ran = true; });
    token.reset();
    EXPECT_TRUE(watch.expired()) << "the tasks were let go at once";
    pumpFor(30ms);
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace lumbrix::test
