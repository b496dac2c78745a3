#include "viewer/qt_main_queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace lumbrix {

QtMainQueue::QtMainQueue() : context_(QCoreApplication::instance()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> task) {
    // invokeMethod on an object is safe from any thread and queues onto the object's
    // own thread.
    QObject* context = context_.data();
    if (context == nullptr) return;
    QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

void QtMainQueue::postDelayed(std::chrono::milliseconds delay, std::function<void()> task) {
    QPointer<QObject> context = context_;
    if (context.isNull()) return;
    // Timers belong to the thread that starts them, so the timer starts on the GUI
    // thread; the hop adds nothing measurable to delays of a tenth of a second.
    // Precise: Qt's default for delays of two seconds and more is a coarse timer, which
    // may fire up to 5% early and out of order with its neighbours.
    QMetaObject::invokeMethod(
        context.data(),
        [context, delay, task = std::move(task)]() mutable {
            if (context) QTimer::singleShot(delay, Qt::PreciseTimer, context.data(), std::move(task));
        },
        Qt::QueuedConnection);
}

}  // namespace lumbrix
