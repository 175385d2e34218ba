#include "platform/dispatch/Clock.hpp"

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace platform {

namespace {

class SystemClock final : public Clock {
  public:
    double wallSeconds() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
    double monotonicSeconds() const override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
};

struct Installed {
    std::mutex mutex;
    std::shared_ptr<Clock> clock;
    // True while the system clock is installed: lets Date::now(), which every
    // log record calls, skip the lock and the reference count.
    std::atomic<bool> systemInstalled{true};
};

Installed& installed() {
    return SharedInstance<Installed>::get([] { return new Installed{{}, Clock::system()}; });
}

}  // namespace

std::shared_ptr<Clock> Clock::system() {
    return SharedInstance<std::shared_ptr<Clock>, SystemClock>::get(
        [] { return new std::shared_ptr<Clock>(std::make_shared<SystemClock>()); });
}

std::shared_ptr<Clock> Clock::current() {
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    return state.clock;
}

void Clock::install(std::shared_ptr<Clock> clock) {
    auto& state = installed();
    std::lock_guard lock(state.mutex);
    state.clock = clock ? std::move(clock) : system();
    state.systemInstalled.store(state.clock == system(), std::memory_order_release);
}

Date Date::now() {
    if (installed().systemInstalled.load(std::memory_order_acquire)) {
        return Date::fromUnix(
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
    }
    return Date::fromUnix(Clock::current()->wallSeconds());
}

}  // namespace platform
