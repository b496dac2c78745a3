#include "platform/main_queue.h"

#include <utility>

namespace lumbrix {

void TaskQueue::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
}

size_t TaskQueue::drain() {
    size_t ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) {
                return ran;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
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
