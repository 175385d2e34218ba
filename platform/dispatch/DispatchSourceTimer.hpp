#pragma once

#include <functional>
#include <memory>
#include <optional>

namespace platform {

class DispatchQueue;

// A timer that runs its handler on a queue. It is created inactive: nothing fires before activate()
// (or a resume() of the inactive timer). suspend()/resume() are counted; a fire that falls while the
// timer is suspended is delivered once on the final resume. cancel() is safe in every state and
// after it no handler starts. Deadlines are Clock::current()'s monotonic time, so a VirtualClock
// drives the timer. Repeating deadlines advance by the interval from the previous deadline; when a
// handler is still waiting on its queue, a new fire is merged into it. The leeway is accepted and
// not used. The timer stops when its last owner lets go of it.
class DispatchSourceTimer : public std::enable_shared_from_this<DispatchSourceTimer> {
  public:
    static std::shared_ptr<DispatchSourceTimer> make(std::shared_ptr<DispatchQueue> queue);

    // First fire `startDelaySeconds` from now (negative or NaN: now), then every `intervalSeconds`
    // when given (one-shot otherwise; at least 0.1 ms). Scheduling again replaces the earlier schedule.
    void schedule(double startDelaySeconds, std::optional<double> intervalSeconds, double leewaySeconds = 0);
    void setEventHandler(std::function<void()> handler);
    void activate();
    void suspend();
    void resume();
    void cancel();
    bool isCancelled() const;

    ~DispatchSourceTimer();
    DispatchSourceTimer(const DispatchSourceTimer&) = delete;
    DispatchSourceTimer& operator=(const DispatchSourceTimer&) = delete;

    struct State;  // internal

  private:
    explicit DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue);
    std::shared_ptr<State> state_;
};

}  // namespace platform
