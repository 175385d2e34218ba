#pragma once

#include <functional>
#include <memory>

namespace platform {

class DispatchQueue;

// Counts outstanding work. wait() returns when the count is back to zero; notify() queues a block for
// the moment it is (at once when it already is). Timeouts are real elapsed seconds: a wait blocks a
// thread, so it cannot be driven by a virtual clock.
class DispatchGroup {
  public:
    DispatchGroup();
    ~DispatchGroup();
    DispatchGroup(const DispatchGroup&) = delete;
    DispatchGroup& operator=(const DispatchGroup&) = delete;

    void enter();
    // A leave without a matching enter is a programming error and aborts with a message.
    void leave();
    void wait();
    // True when the group emptied within the time-out, false when the time-out passed first.
    bool wait(double timeoutSeconds);
    void notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> block);

    // Shared with the blocks queued into the group: it lives on after the group object while
    // entered work is outstanding, and goes with the leave of the last of it.
    struct State;
    State* state() const { return state_; }
    // Leaves `count` times at once.
    static void leaveState(State& state, long count = 1);

  private:
    State* state_;
};

}  // namespace platform
