#pragma once

#include <memory>

namespace platform {

// Every reading of time in the program goes through the installed clock, so tests can replace it with
// a VirtualClock and drive timers and delays without sleeping.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual double wallSeconds() const = 0;       // seconds since 1970-01-01 00:00:00 UTC
    virtual double monotonicSeconds() const = 0;  // seconds since an arbitrary fixed start

    static std::shared_ptr<Clock> current();
    // Installs `clock`; nullptr restores the system clock.
    static void install(std::shared_ptr<Clock> clock);
    // The real clock (system_clock and steady_clock).
    static std::shared_ptr<Clock> system();
};

}  // namespace platform
