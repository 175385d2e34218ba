#pragma once

// Internal plumbing shared by the dispatch sources; not part of the layer's interface.

#include <functional>
#include <memory>

namespace platform {
class Clock;
class DispatchQueue;
}  // namespace platform

namespace platform::detail {

// Schedules `block` onto `queue` at monotonic time `due` of `clock` (a VirtualClock keeps it until
// advanced past `due`; any other clock uses the real-time scheduler thread). `prepare`, when given, runs
// at due time off the queue and may veto the delivery by returning false.
void scheduleAt(const std::shared_ptr<Clock>& clock, double due, std::shared_ptr<DispatchQueue> queue,
                std::function<void()> block, std::function<bool()> prepare = nullptr);

// Hands a due item to its queue on behalf of VirtualClock::advance (see VirtualClock.hpp).
void deliverVirtual(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block);

// Next number in the one process-wide scheduling order (ties at equal due times keep it).
unsigned long long nextScheduleSequence();

// Clamps a delay to [0, 9,223,372,036] seconds; NaN counts as 0.
double sanitizeDelay(double seconds);

}  // namespace platform::detail
