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
    // The count moves without the mutex; only the leave that brings it to zero takes the mutex, to
    // wake the waiters and hand out the notifications.
    std::atomic<long> count{0};
    std::mutex mutex;
    std::condition_variable empty;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}
DispatchGroup::~DispatchGroup() = default;

void DispatchGroup::enter() {
    state_->count.fetch_add(1, std::memory_order_relaxed);
}

void DispatchGroup::leave() {
    leaveState(*state_);
}

void DispatchGroup::leaveState(State& state) {
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> ready;
    const long before = state.count.fetch_sub(1, std::memory_order_acq_rel);
    if (before <= 0) {
        std::fprintf(stderr, "platform::DispatchGroup: leave() without a matching enter()\n");
        std::fflush(stderr);
        std::abort();
    }
    if (before > 1) return;
    {
        // A waiter checks the count under the mutex, so taking it here means none can miss this.
        std::lock_guard lock(state.mutex);
        // Someone may have entered again meanwhile: its own leave hands the notifications out.
        if (state.count.load(std::memory_order_acquire) != 0) return;
        ready.swap(state.notifications);
        state.empty.notify_all();
    }
    for (auto& [queue, block] : ready) queue->async(std::move(block));
}

void DispatchGroup::wait() {
    std::unique_lock lock(state_->mutex);
    state_->empty.wait(lock, [this] { return state_->count.load(std::memory_order_acquire) == 0; });
}

bool DispatchGroup::wait(double timeoutSeconds) {
    std::unique_lock lock(state_->mutex);
    auto isEmpty = [this] { return state_->count.load(std::memory_order_acquire) == 0; };
    if (std::isnan(timeoutSeconds) || timeoutSeconds <= 0) return isEmpty();
    return state_->empty.wait_for(lock, std::chrono::duration<double>(std::min(timeoutSeconds, 1e9)),
                                  isEmpty);
}

void DispatchGroup::notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> block) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count.load(std::memory_order_acquire) > 0) {
            state_->notifications.emplace_back(std::move(queue), std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

}  // namespace platform
