#pragma once

#include <memory>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/VirtualClock.hpp"

namespace tervolo::testsupport {

// Installs a VirtualClock for the lifetime of the scope and puts back the clock that was installed
// before. Timers, asyncAfter and main-queue delays scheduled meanwhile run only from advance():
//
//   tervolo::testsupport::VirtualClockScope time;
//   queue->asyncAfter(1.0, work);
//   time.advance(1.0);   // `work` has run when this returns (see VirtualClock.hpp)
class VirtualClockScope {
  public:
    explicit VirtualClockScope(double wallSeconds = 1700000000.0, double monotonicSeconds = 1000.0);
    ~VirtualClockScope();
    VirtualClockScope(const VirtualClockScope&) = delete;
    VirtualClockScope& operator=(const VirtualClockScope&) = delete;

    platform::VirtualClock& clock() { return *clock_; }
    std::shared_ptr<platform::VirtualClock> shared() const { return clock_; }
    void advance(double seconds) { clock_->advance(seconds); }

  private:
    std::shared_ptr<platform::Clock> previous_;
    std::shared_ptr<platform::VirtualClock> clock_;
};

}  // namespace tervolo::testsupport
