#pragma once

#include <memory>
#include <mutex>

#include "analytics/TallyCommon.hpp"

namespace tervolo::analytics {

// The slot behind a module's sharedInstance(): empty until the client has
// started (asking before prints the not-started line and answers none), then
// one instance made on first use. Callers hold the instance while they use
// it, so a test that resets the slot never pulls it from under a thread.
template <typename T>
class TallySingleton {
  public:
    template <typename Make>
    std::shared_ptr<T> get(Make make) {
        if (!TallyCommon::sharedInstance().hasStarted()) {
            return nullptr;
        }
        std::lock_guard lock(mutex_);
        if (!instance_) {
            instance_.reset(make());
        }
        return instance_;
    }
    // The instance when one exists, without the not-started line.
    std::shared_ptr<T> existing() {
        std::lock_guard lock(mutex_);
        return instance_;
    }
    std::shared_ptr<T> reset() {
        std::lock_guard lock(mutex_);
        return std::exchange(instance_, nullptr);
    }

  private:
    std::mutex mutex_;
    std::shared_ptr<T> instance_;
};

}  // namespace tervolo::analytics
