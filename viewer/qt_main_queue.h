#pragma once
// The MainQueue of the running Qt program: tasks run on the thread of the application
// object's event loop, the GUI thread, in posting order.
// Tasks posted when no application object exists are dropped.
#include <QObject>
#include <QPointer>

#include "platform/main_queue.h"

namespace lumbrix {

class QtMainQueue final : public MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;

    void post(std::function<void()> task) override;
    void postDelayed(std::chrono::milliseconds delay, std::function<void()> task) override;

private:
    // The application object: every instance posts into its one event queue, so
    // order holds across instances too.
    QPointer<QObject> context_;
};

}  // namespace lumbrix
