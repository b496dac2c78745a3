#pragma once
// Named notifications between parts that do not know each other: the menu commands
// post "lumbrix.toggleFloorGrid" and "lumbrix.toggleCameraLock", the window and the
// view model observe them.
//
// Observers run on the GUI thread: at once when the post comes from it, through the
// main queue otherwise. Main thread only, apart from post().
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <QString>

#include "platform/main_queue.h"

namespace lumbrix {

inline const QString kToggleFloorGridNotification = QStringLiteral("lumbrix.toggleFloorGrid");
inline const QString kToggleCameraLockNotification = QStringLiteral("lumbrix.toggleCameraLock");

class NotificationCenter {
public:
    using Token = uint64_t;

    // `mainQueue` carries posts from other threads; the default is the Qt event loop.
    explicit NotificationCenter(std::shared_ptr<MainQueue> mainQueue = {});

    // The program's one center.
    static NotificationCenter& defaultCenter();

    // Never 0, so 0 can stand for "no observer".
    Token addObserver(const QString& name, std::function<void()> handler);
    // An observer removed while a notification is being delivered is not called any more.
    void removeObserver(Token token);
    void post(const QString& name);

    size_t observerCount() const;

private:
    struct Observer {
        Token token = 0;
        QString name;
        std::shared_ptr<std::function<void()>> handler;
    };

    // Apart from the center, so that a delivery posted from a worker finds out when the
    // center has gone in the meantime.
    struct Registry {
        mutable std::mutex mutex;  // guards observers and nextToken
        std::vector<Observer> observers;
        Token nextToken = 1;
    };

    static void deliver(Registry& registry, const QString& name);

    std::shared_ptr<MainQueue> mainQueue_;
    const std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
};

}  // namespace lumbrix
