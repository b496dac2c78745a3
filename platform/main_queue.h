#pragma once
// The seam through which worker threads hand results to the GUI thread. The viewer
// posts onto the Qt event loop; code below the UI only sees this interface, so it runs
// headless with a TaskQueue that the test (or a command-line tool) drains itself.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace lumbrix {

class MainQueue {
public:
    virtual ~MainQueue() = default;
    // Runs `task` later on the main thread, in posting order. Safe from any thread.
    virtual void post(std::function<void()> task) = 0;
    // Runs `task` on the main thread once `delay` has passed. Safe from any thread.
    virtual void postDelayed(std::chrono::milliseconds delay, std::function<void()> task) = 0;
};

// A MainQueue whose tasks run when its owner calls drain(), on the calling thread.
class TaskQueue final : public MainQueue {
public:
    void post(std::function<void()> task) override;
    void postDelayed(std::chrono::milliseconds delay, std::function<void()> task) override;
    // Runs the tasks that are due, and those they post in turn; returns how many ran.
    size_t drain();
    // Tasks waiting, due or not.
    size_t pending() const;

private:
    struct Entry {
        std::chrono::steady_clock::time_point due;
        std::function<void()> task;
    };
    mutable std::mutex mutex_;  // guards tasks_
    std::deque<Entry> tasks_;
};

}  // namespace lumbrix
