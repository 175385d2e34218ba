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

    struct State;  // shared with the blocks queued into the group, so they may outlive the group object
    std::shared_ptr<State> state() const { return state_; }
    static void leaveState(State& state);

  private:
    std::shared_ptr<State> state_;
};

}  // namespace platform
