#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/Timer.hpp"

namespace tervolo::pointscreens {

// A one-shot run-loop timer that a screen owns: scheduling again replaces
// the pending one, and the pending one is cancelled when the owner goes, so
// a deferred step never reaches a screen that is gone. Runs on the main
// queue (virtual time in tests). Main thread only.
class ScreenTimer {
  public:
    ScreenTimer() = default;
    ~ScreenTimer() { cancel(); }
    ScreenTimer(const ScreenTimer&) = delete;
    ScreenTimer& operator=(const ScreenTimer&) = delete;

    // Runs `block` once, `seconds` from now.
    void schedule(double seconds, std::function<void()> block) {
        cancel();
        timer_ = platform::Timer::scheduled(seconds, false,
                                            [block = std::move(block)](platform::Timer&) { block(); });
    }
    void cancel() {
        if (timer_) timer_->invalidate();
        timer_.reset();
    }
    bool isPending() const { return timer_ && timer_->isValid(); }

  private:
    std::shared_ptr<platform::Timer> timer_;
};

}  // namespace tervolo::pointscreens
