#include "platform/dispatch/DispatchGroup.hpp"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"

namespace platform {

struct DispatchGroup::State {
    // The outstanding enters, plus one while the group object lives: a block queued into the group
    // holds no reference of its own, and whoever brings the count to zero frees the state. The
    // count moves without the mutex while it stays above two; a leave that may empty the group (or
    // free the state) takes the mutex, so waiters and the group's end see every such change.
    std::atomic<long> count{1};
    std::mutex mutex;
    std::condition_variable empty;
    bool alive = true;  // the group object still exists (under the mutex)
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;

    // Outstanding enters (under the mutex).
    long outstandingLocked() const { return count.load(std::memory_order_acquire) - (alive ? 1 : 0); }
};

DispatchGroup::DispatchGroup() : state_(new State()) {}

DispatchGroup::~DispatchGroup() {
    bool last = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->alive = false;
        last = state_->count.fetch_sub(1, std::memory_order_acq_rel) == 1;
    }
    if (last) delete state_;  // otherwise the last outstanding leave frees it
}

void DispatchGroup::enter() {
    state_->count.fetch_add(1, std::memory_order_relaxed);
}

void DispatchGroup::leave() {
    leaveState(*state_);
}

void DispatchGroup::leaveState(State& state, long count) {
    long current = state.count.load(std::memory_order_relaxed);
    while (current > count + 1) {
        // Enters stay outstanding after this leave: it neither empties the group nor ends the state.
        if (state.count.compare_exchange_weak(current, current - count, std::memory_order_acq_rel,
                                              std::memory_order_relaxed))
            return;
    }
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> ready;
    bool last = false;
    {
        std::lock_guard lock(state.mutex);
        if (state.outstandingLocked() < count) {
            std::fprintf(stderr, "platform::DispatchGroup: leave() without a matching enter()\n");
            std::fflush(stderr);
            std::abort();
        }
        last = state.count.fetch_sub(count, std::memory_order_acq_rel) == count;
        if (state.outstandingLocked() == 0) {
            ready.swap(state.notifications);
            state.empty.notify_all();
        }
    }
    for (auto& [queue, block] : ready) queue->async(std::move(block));
    if (last) delete &state;  // the group object is gone and nothing else refers to the state
}

void DispatchGroup::wait() {
    std::unique_lock lock(state_->mutex);
    state_->empty.wait(lock, [this] { return state_->outstandingLocked() == 0; });
}

bool DispatchGroup::wait(double timeoutSeconds) {
    std::unique_lock lock(state_->mutex);
    auto isEmpty = [this] { return state_->outstandingLocked() == 0; };
    if (std::isnan(timeoutSeconds) || timeoutSeconds <= 0) return isEmpty();
    return state_->empty.wait_for(lock, std::chrono::duration<double>(std::min(timeoutSeconds, 1e9)),
                                  isEmpty);
}

void DispatchGroup::notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> block) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->outstandingLocked() > 0) {
            state_->notifications.emplace_back(std::move(queue), std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

}  // namespace platform
