#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/SharedInstance.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace platform {

struct NotificationCenter::Observer {
    std::string name;
    const void* object = nullptr;  // identity only; null matches any sender
    std::weak_ptr<void> objectOwner;
    Block block;

    std::mutex mutex;
    std::condition_variable idle;
    bool removed = false;
    int running = 0;  // deliveries in progress, on any thread
};

struct NotificationCenter::Shared {
    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;
};

namespace {
// Observers this thread is delivering to right now (a block may remove its own token, or post again).
thread_local std::vector<const NotificationCenter::Observer*> tlsDelivering;
}  // namespace

NotificationCenter& NotificationCenter::defaultCenter() {
    return SharedInstance<NotificationCenter>::get();
}

NotificationCenter::NotificationCenter() : shared_(std::make_shared<Shared>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token::Token(std::weak_ptr<Shared> center, std::shared_ptr<Observer> observer)
    : center_(std::move(center)), observer_(std::move(observer)) {}

NotificationCenter::Token::~Token() {
    if (auto shared = center_.lock()) {
        remove(*shared, observer_);
    } else {
        Shared gone;  // the center is gone: nothing to unlink, but running calls are still waited out
        remove(gone, observer_);
    }
}

std::unique_ptr<NotificationCenter::Token> NotificationCenter::addObserver(std::string name,
                                                                           std::shared_ptr<void> object,
                                                                           Block block) {
    auto observer = std::make_shared<Observer>();
    observer->name = std::move(name);
    observer->object = object.get();
    observer->objectOwner = object;
    observer->block = std::move(block);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->observers.push_back(observer);
    }
    return std::unique_ptr<Token>(new Token(shared_, std::move(observer)));
}

void NotificationCenter::remove(Shared& shared, const std::shared_ptr<Observer>& observer) {
    {
        std::lock_guard lock(shared.mutex);
        auto& list = shared.observers;
        list.erase(std::remove(list.begin(), list.end(), observer), list.end());
    }
    // Wait for deliveries on other threads; this thread's own ones (removal from inside the block)
    // are on the stack below us and must not be waited for.
    const auto own = std::count(tlsDelivering.begin(), tlsDelivering.end(), observer.get());
    std::unique_lock lock(observer->mutex);
    observer->removed = true;
    observer->idle.wait(lock, [&] { return observer->running <= own; });
}

void NotificationCenter::post(const std::string& name, std::shared_ptr<void> object, UserInfo userInfo) {
    std::vector<std::shared_ptr<Observer>> snapshot;
    {
        std::lock_guard lock(shared_->mutex);
        snapshot.reserve(shared_->observers.size());
        for (const auto& observer : shared_->observers) {
            if (!observer->name.empty() && observer->name != name) continue;
            if (observer->object != nullptr) {
                // Identity of a live object: a new object at a freed address must not match.
                if (observer->object != object.get() || observer->objectOwner.expired()) continue;
            }
            snapshot.push_back(observer);
        }
    }
    if (snapshot.empty()) return;
    const Notification notification{name, std::move(object), std::move(userInfo)};
    for (const auto& observer : snapshot) {
        {
            std::lock_guard lock(observer->mutex);
            if (observer->removed) continue;
            ++observer->running;
        }
        tlsDelivering.push_back(observer.get());
        struct Done {
            Observer& observer;
            ~Done() {
                tlsDelivering.pop_back();
                std::lock_guard lock(observer.mutex);
                --observer.running;
                observer.idle.notify_all();
            }
        } done{*observer};
        observer->block(notification);
    }
}

}  // namespace platform
