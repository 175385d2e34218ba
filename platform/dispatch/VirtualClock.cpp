#include "platform/dispatch/VirtualClock.hpp"

#include <algorithm>
#include <cmath>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/detail/DispatchInternal.hpp"

namespace platform {

namespace {
bool later(const VirtualClock::Entry& a, const VirtualClock::Entry& b) {
    if (a.due != b.due) return a.due > b.due;
    return a.sequence > b.sequence;
}
}  // namespace

VirtualClock::VirtualClock(double wallSeconds, double monotonicSeconds)
    : monotonic_(monotonicSeconds),
      wallOffset_((wallSeconds >= 0 ? wallSeconds : Clock::system()->wallSeconds()) - monotonicSeconds) {}

VirtualClock::~VirtualClock() = default;

double VirtualClock::wallSeconds() const {
    std::lock_guard lock(mutex_);
    return monotonic_ + wallOffset_;
}

double VirtualClock::monotonicSeconds() const {
    std::lock_guard lock(mutex_);
    return monotonic_;
}

void VirtualClock::setWallSeconds(double wallSeconds) {
    std::lock_guard lock(mutex_);
    wallOffset_ = wallSeconds - monotonic_;
}

size_t VirtualClock::pendingCount() const {
    std::lock_guard lock(mutex_);
    return heap_.size();
}

void VirtualClock::scheduleEntry(Entry entry) {
    std::lock_guard lock(mutex_);
    heap_.push_back(std::move(entry));
    std::push_heap(heap_.begin(), heap_.end(), later);
}

void VirtualClock::advance(double seconds) {
    double target;
    {
        std::lock_guard lock(mutex_);
        if (std::isnan(seconds) || seconds <= 0) seconds = 0;
        target = monotonic_ + seconds;
    }
    // Items are taken one at a time: one that falls due schedules more (a repeating timer, a zero
    // delay), and those are taken in their turn when they fall inside the window.
    for (;;) {
        Entry entry;
        {
            std::lock_guard lock(mutex_);
            if (heap_.empty() || heap_.front().due > target) {
                monotonic_ = std::max(monotonic_, target);
                return;
            }
            std::pop_heap(heap_.begin(), heap_.end(), later);
            entry = std::move(heap_.back());
            heap_.pop_back();
            monotonic_ = std::max(monotonic_, entry.due);
        }
        if (entry.prepare && !entry.prepare()) continue;
        detail::deliverVirtual(entry.queue, std::move(entry.block));
    }
}

}  // namespace platform
