#pragma once

#include <any>
#include <atomic>
#include <functional>
#include <memory>

namespace platform {

class DispatchSourceTimer;

// Run-loop timer: fires on the main queue. A scheduled timer is kept alive by the run loop until it is
// invalidated (a one-shot timer invalidates itself after firing), so callers may drop the pointer.
// Intervals below 0.1 ms are raised to 0.1 ms.
class Timer : public std::enable_shared_from_this<Timer> {
  public:
    using Block = std::function<void(Timer&)>;

    static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Block block,
                                            std::any userInfo = {});

    // Stops the timer for good; safe from any thread and from inside its block.
    void invalidate();
    bool isValid() const;
    const std::any& userInfo() const { return userInfo_; }
    double timeInterval() const { return interval_; }
    bool repeats() const { return repeats_; }

    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

  private:
    Timer(double interval, bool repeats, Block block, std::any userInfo);
    void fire();

    double interval_;
    bool repeats_;
    Block block_;
    std::any userInfo_;
    std::shared_ptr<DispatchSourceTimer> source_;
    std::atomic<bool> valid_{true};
};

}  // namespace platform
