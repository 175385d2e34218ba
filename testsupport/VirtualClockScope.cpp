#include "testsupport/VirtualClockScope.hpp"

namespace tervolo::testsupport {

VirtualClockScope::VirtualClockScope(double wallSeconds, double monotonicSeconds)
    : previous_(platform::Clock::current()),
      clock_(std::make_shared<platform::VirtualClock>(wallSeconds, monotonicSeconds)) {
    platform::Clock::install(clock_);
}

VirtualClockScope::~VirtualClockScope() {
    platform::Clock::install(previous_);
}

}  // namespace tervolo::testsupport
