#pragma once

#include <atomic>
#include <cstdint>

namespace tervolo::logging {

// A thread-safe 32-bit counter. Increments and decrements are atomic but order
// no other memory (relaxed): the counter is a tally, not a signal.
class QLAtomicCounter {
  public:
    explicit QLAtomicCounter(int32_t defaultValue) : value_(defaultValue) {}

    int32_t value() const { return value_.load(std::memory_order_relaxed); }
    // Each returns the value after the change.
    int32_t increment() { return value_.fetch_add(1, std::memory_order_relaxed) + 1; }
    int32_t decrement() { return value_.fetch_sub(1, std::memory_order_relaxed) - 1; }

  private:
    std::atomic<int32_t> value_;
};

}  // namespace tervolo::logging
