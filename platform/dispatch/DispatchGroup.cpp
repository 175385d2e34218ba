#include "platform/dispatch/DispatchGroup.hpp"

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
    std::mutex mutex;
    std::condition_variable empty;
    long count = 0;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}
DispatchGroup::~DispatchGroup() = default;

void DispatchGroup::enter() {
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void DispatchGroup::leave() {
    leaveState(*state_);
}

void DispatchGroup::leaveState(State& state) {
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::function<void()>>> ready;
    {
        std::lock_guard lock(state.mutex);
        if (state.count <= 0) {
            std::fprintf(stderr, "platform::DispatchGroup: leave() without a matching enter()\n");
            std::fflush(stderr);
            std::abort();
        }
        if (--state.count > 0) return;
        ready.swap(state.notifications);
        state.empty.notify_all();
    }
    for (auto& [queue, block] : ready) queue->async(std::move(block));
}

void DispatchGroup::wait() {
    std::unique_lock lock(state_->mutex);
    state_->empty.wait(lock, [this] { return state_->count == 0; });
}

bool DispatchGroup::wait(double timeoutSeconds) {
    std::unique_lock lock(state_->mutex);
    if (std::isnan(timeoutSeconds) || timeoutSeconds <= 0) return state_->count == 0;
    return state_->empty.wait_for(lock, std::chrono::duration<double>(std::min(timeoutSeconds, 1e9)),
                                  [this] { return state_->count == 0; });
}

void DispatchGroup::notify(std::shared_ptr<DispatchQueue> queue, std::function<void()> block) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(std::move(queue), std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

}  // namespace platform
