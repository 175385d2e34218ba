#pragma once

#include <condition_variable>
#include <mutex>

namespace platform {

// Counting semaphore. Timeouts are real elapsed seconds (a wait blocks a thread).
class DispatchSemaphore {
  public:
    explicit DispatchSemaphore(long value);
    void wait();
    // True when a unit was taken within the time-out.
    bool wait(double timeoutSeconds);
    void signal();

  private:
    std::mutex mutex_;
    std::condition_variable available_;
    long value_;
};

}  // namespace platform
