#pragma once
// What the viewport suites share: one QApplication, a view model with a settings file of
// the test's own and no NDI runtime, and synthetic input in Qt widget coordinates.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QThread>
#include <QWheelEvent>
#include <QWidget>

#include "sources/ndi_receiver.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_folder.h"
#include "viewer/qt_main_queue.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix::test {

inline QApplication& viewportApplication() {
    static int argc = 1;
    static char name[] = "viewport_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

inline void sendMouse(QWidget& widget, QEvent::Type type, QPointF position, Qt::MouseButton button,
                      Qt::MouseButtons held, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, position, widget.mapToGlobal(position), button, held, modifiers);
    QApplication::sendEvent(&widget, &event);
}

// A press at `from`, moves through `points`, a release at the last one.
inline void mouseDrag(QWidget& widget, Qt::MouseButton button, std::initializer_list<QPointF> points,
                      Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF* last = nullptr;
    for (const QPointF& point : points) {
        if (last == nullptr) {
            sendMouse(widget, QEvent::MouseButtonPress, point, button, button, modifiers);
        } else {
            sendMouse(widget, QEvent::MouseMove, point, Qt::NoButton, button, modifiers);
        }
        last = &point;
    }
    if (last != nullptr) sendMouse(widget, QEvent::MouseButtonRelease, *last, button, Qt::NoButton, modifiers);
}

inline QWheelEvent wheelEvent(QPoint pixelDelta, QPoint angleDelta, Qt::ScrollPhase phase = Qt::NoScrollPhase) {
    return QWheelEvent(QPointF(10, 10), QPointF(10, 10), pixelDelta, angleDelta, Qt::NoButton, Qt::NoModifier, phase,
                       false);
}

inline void sendGesture(QWidget& widget, Qt::NativeGestureType type, double value = 0.0) {
    QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, QPointF(20, 20), QPointF(20, 20),
                              widget.mapToGlobal(QPointF(20, 20)), value, QPointF(), 1);
    QApplication::sendEvent(&widget, &event);
}

class ViewportTest : public ::testing::Test {
protected:
    void SetUp() override {
        viewportApplication();
        ASSERT_TRUE(folder.ok());
        settingsFile = QString::fromStdString(folder.file("config/Lumbrix/Lumbrix.conf"));
    }

    ViewerDependencies dependencies() const {
        ViewerDependencies deps;
        deps.mainQueue = std::make_shared<QtMainQueue>();
        // No NDI runtime: nothing is discovered and nothing leaves the machine.
        deps.receiver = NDIReceiver::create(
            deps.mainQueue, []() -> Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> {
                return unexpected(NDIRuntimeLoadFailure{{"test: no runtime"}});
            });
        deps.settingsFile = settingsFile;
        deps.executableDir = QStringLiteral(LUMBRIX_VARNEL_DIR);
        deps.defaultCaptureFolder = [] { return std::optional<QString>(); };
        return deps;
    }

    // A fresh store in the same file, to see what has been written.
    Persistence store() const { return Persistence(settingsFile); }

    TempFolder folder;
    QString settingsFile;
};

}  // namespace lumbrix::test
