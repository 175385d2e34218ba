#include "platform/dispatch/Clock.hpp"

#include <chrono>
#include <mutex>

#include "platform/dispatch/Date.hpp"

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
};

Installed& installed() {
    static Installed& state = *new Installed{{}, Clock::system()};
    return state;
}

}  // namespace

std::shared_ptr<Clock> Clock::system() {
    static auto& clock = *new std::shared_ptr<Clock>(std::make_shared<SystemClock>());
    return clock;
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
}

Date Date::now() {
    return Date::fromUnix(Clock::current()->wallSeconds());
}

}  // namespace platform
