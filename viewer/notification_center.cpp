#include "viewer/notification_center.h"

#include <algorithm>

#include <QCoreApplication>
#include <QThread>

#include "viewer/qt_main_queue.h"

namespace lumbrix {

NotificationCenter::NotificationCenter(std::shared_ptr<MainQueue> mainQueue) : mainQueue_(std::move(mainQueue)) {}

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, std::function<void()> handler) {
    std::lock_guard lock(registry_->mutex);
    const Token token = registry_->nextToken++;
    registry_->observers.push_back({token, name, std::make_shared<std::function<void()>>(std::move(handler))});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(registry_->mutex);
    std::erase_if(registry_->observers, [token](const Observer& observer) { return observer.token == token; });
}

size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(registry_->mutex);
    return registry_->observers.size();
}

void NotificationCenter::post(const QString& name) {
    const QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() == application->thread()) {
        deliver(*registry_, name);
        return;
    }
    std::shared_ptr<MainQueue> queue = mainQueue_ ? mainQueue_ : std::make_shared<QtMainQueue>();
    queue->post([weak = std::weak_ptr<Registry>(registry_), name] {
        if (const auto registry = weak.lock()) deliver(*registry, name);
    });
}

void NotificationCenter::deliver(Registry& registry, const QString& name) {
    std::vector<std::pair<Token, std::shared_ptr<std::function<void()>>>> matching;
    {
        std::lock_guard lock(registry.mutex);
        for (const Observer& observer : registry.observers) {
            if (observer.name == name) matching.emplace_back(observer.token, observer.handler);
        }
    }
    // Handlers run unlocked, so they may add and remove observers themselves.
    for (const auto& entry : matching) {
        const Token token = entry.first;
        bool stillRegistered = false;
        {
            std::lock_guard lock(registry.mutex);
            stillRegistered = std::any_of(registry.observers.begin(), registry.observers.end(),
                                          [token](const Observer& observer) { return observer.token == token; });
        }
        if (stillRegistered) (*entry.second)();
    }
}

}  // namespace lumbrix
