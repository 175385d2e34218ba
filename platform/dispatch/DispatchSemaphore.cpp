#include "platform/dispatch/DispatchSemaphore.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace platform {

DispatchSemaphore::DispatchSemaphore(long value) : value_(value) {}

void DispatchSemaphore::wait() {
    std::unique_lock lock(mutex_);
    available_.wait(lock, [this] { return value_ > 0; });
    --value_;
}

bool DispatchSemaphore::wait(double timeoutSeconds) {
    std::unique_lock lock(mutex_);
    const double timeout = std::isnan(timeoutSeconds) ? 0.0 : std::clamp(timeoutSeconds, 0.0, 1e9);
    if (!available_.wait_for(lock, std::chrono::duration<double>(timeout), [this] { return value_ > 0; })) {
        return false;
    }
    --value_;
    return true;
}

void DispatchSemaphore::signal() {
    // Notified under the lock: a waiter woken by this signal may destroy the semaphore as soon as it
    // returns, which must not happen while signal() still touches it.
    std::lock_guard lock(mutex_);
    ++value_;
    available_.notify_one();
}

}  // namespace platform
