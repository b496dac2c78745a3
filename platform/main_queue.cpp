#include "platform/main_queue.h"

#include <utility>

namespace lumbrix {

void TaskQueue::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back({std::chrono::steady_clock::time_point::min(), std::move(task)});
}

void TaskQueue::postDelayed(std::chrono::milliseconds delay, std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back({std::chrono::steady_clock::now() + delay, std::move(task)});
}

size_t TaskQueue::drain() {
    size_t ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            // The first task that is due, keeping posting order among those.
            const auto now = std::chrono::steady_clock::now();
            for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
                if (it->due <= now) {
                    task = std::move(it->task);
                    tasks_.erase(it);
                    break;
                }
            }
        }
        if (!task) {
            return ran;
        }
        // Run unlocked: a task may post more work.
        task();
        ++ran;
    }
}

size_t TaskQueue::pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

}  // namespace lumbrix
