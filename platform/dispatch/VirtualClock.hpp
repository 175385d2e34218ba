#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/Clock.hpp"

namespace platform {

class DispatchQueue;

// Manual time for tests. While installed (Clock::install), asyncAfter, DispatchSourceTimer,
// platform::Timer and main-queue delays are scheduled on it and run only from advance().
//
// advance(dt) takes the due items one at a time in due order (ties in scheduling order), moves the
// clock to each item's due time and hands the item to its queue:
//  - a main-queue item, when advance() runs on the main thread, is run before advance() goes on
//    (the main queue is drained); from another thread it is only queued;
//  - an item for any other queue is queued and advance() waits until it has run, unless the calling
//    thread is itself running that queue (then it runs after the caller's block).
// So after advance() returns, every due item has run, in due order, and anything those items queued
// with a zero delay has run as well. Work the handlers queue with plain async() may still be
// pending: wait for it with a sync() on that queue.
class VirtualClock : public Clock {
  public:
    // Wall time starts at `wallSeconds` (default: the real time of construction); monotonic time at
    // `monotonicSeconds`. Both advance together.
    explicit VirtualClock(double wallSeconds = -1, double monotonicSeconds = 1000.0);
    ~VirtualClock() override;

    double wallSeconds() const override;
    double monotonicSeconds() const override;
    // Moves time forward by `seconds` (negative or NaN: no move) and runs what fell due.
    void advance(double seconds);
    // Sets the wall time alone (a user changing the system time); monotonic time stays.
    void setWallSeconds(double wallSeconds);
    // Items scheduled and not yet due.
    size_t pendingCount() const;

    struct Entry {
        double due;
        uint64_t sequence;
        std::shared_ptr<DispatchQueue> queue;
        std::function<void()> block;
        std::function<bool()> prepare;  // runs at due time; false drops the delivery
    };
    void scheduleEntry(Entry entry);  // internal: used by the dispatch scheduler

  private:
    mutable std::mutex mutex_;
    double monotonic_;
    double wallOffset_;  // wall = monotonic + offset
    std::vector<Entry> heap_;
};

}  // namespace platform
