#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

namespace tervolo::logging {

// A thread-safe set of context numbers: every operation holds the set's mutex
// for its whole body, so filters may be changed from any thread while loggers
// read them.
class QLLoggingContextSet {
  public:
    void addToSet(int64_t context);
    // Removes the context if present (a context added twice is gone after one removal).
    void removeFromSet(int64_t context);
    // The contexts, in no defined order.
    std::vector<int64_t> currentSet() const;
    bool isInSet(int64_t context) const;

  private:
    mutable std::mutex mutex_;
    std::set<int64_t> set_;
};

}  // namespace tervolo::logging
