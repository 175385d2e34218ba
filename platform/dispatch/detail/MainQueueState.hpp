#pragma once

// The main queue's items and executor; internal to the dispatch layer.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/detail/QueueFrames.hpp"

namespace platform::detail {

// Main-queue state; the queue object itself is created lazily by DispatchQueue::main().
struct MainState {
    std::mutex mutex;
    std::condition_variable changed;  // items arrived or a waited-for item finished
    std::deque<DispatchQueue::Block> items;
    std::mutex executorMutex;
    std::shared_ptr<MainQueueExecutor> executor;

    static MainState& shared() { return SharedInstance<MainState>::get(); }
    std::shared_ptr<MainQueueExecutor> currentExecutor() {
        std::lock_guard lock(executorMutex);
        return executor;
    }
    void push(DispatchQueue::Block block) {
        {
            std::lock_guard lock(mutex);
            items.push_back(std::move(block));
        }
        changed.notify_all();
        if (auto e = currentExecutor()) e->wakeUp();
    }
    // Runs the oldest queued block; false when there was none. One block at a time, so a block that
    // pumps the queue again (a nested run loop) keeps FIFO order.
    bool runOne() {
        DispatchQueue::Block block;
        {
            std::lock_guard lock(mutex);
            if (items.empty()) return false;
            block = std::move(items.front());
            items.pop_front();
        }
        FrameScope frame(DispatchQueue::main().get(), true);
        block();
        return true;
    }
    bool empty() {
        std::lock_guard lock(mutex);
        return items.empty();
    }
};

}  // namespace platform::detail
