#include "platform/dispatch/Timer.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <unordered_set>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchSourceTimer.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace platform {

namespace {

// Scheduled timers stay alive here until invalidated, like timers held by a run loop.
struct Registry {
    std::mutex mutex;
    std::unordered_set<std::shared_ptr<Timer>> timers;

    static Registry& shared() { return SharedInstance<Registry>::get(); }
};

}  // namespace

Timer::Timer(double interval, bool repeats, Block block, std::any userInfo)
    : interval_(std::isnan(interval) ? 0.0001 : std::max(interval, 0.0001)),
      repeats_(repeats),
      block_(std::move(block)),
      userInfo_(std::move(userInfo)) {}

Timer::~Timer() {
    if (source_) source_->cancel();
}

std::shared_ptr<Timer> Timer::scheduled(double interval, bool repeats, Block block, std::any userInfo) {
    auto timer = std::shared_ptr<Timer>(new Timer(interval, repeats, std::move(block), std::move(userInfo)));
    timer->source_ = DispatchSourceTimer::make(DispatchQueue::main());
    std::weak_ptr<Timer> weak = timer;
    timer->source_->setEventHandler([weak] {
        if (auto self = weak.lock()) self->fire();
    });
    timer->source_->schedule(timer->interval_,
                             repeats ? std::optional<double>(timer->interval_) : std::nullopt);
    {
        auto& registry = Registry::shared();
        std::lock_guard lock(registry.mutex);
        registry.timers.insert(timer);
    }
    timer->source_->activate();
    return timer;
}

void Timer::fire() {
    if (!valid_.load()) return;
    if (block_) block_(*this);
    if (!repeats_) invalidate();
}

void Timer::invalidate() {
    if (!valid_.exchange(false)) return;
    source_->cancel();
    std::shared_ptr<Timer> keep;  // released after the registry lock, in case it is the last owner
    auto& registry = Registry::shared();
    std::lock_guard lock(registry.mutex);
    auto it = registry.timers.find(shared_from_this());
    if (it != registry.timers.end()) {
        keep = *it;
        registry.timers.erase(it);
    }
}

bool Timer::isValid() const {
    return valid_.load();
}

}  // namespace platform
