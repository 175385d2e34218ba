// Delayed work: the real-time scheduler thread, and the hand-over to a VirtualClock that keeps
// its items until a test advances it.

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/VirtualClock.hpp"
#include "platform/dispatch/detail/DispatchInternal.hpp"
#include "platform/dispatch/detail/MainQueueState.hpp"
#include "platform/dispatch/detail/QueueFrames.hpp"

namespace platform {

// Scheduling of delayed work.

namespace {

// One thread serves every delayed item on real time: a heap by due time, then scheduling order.
class RealScheduler {
  public:
    static RealScheduler& shared() { return SharedInstance<RealScheduler>::get(); }

    void schedule(std::shared_ptr<Clock> clock, VirtualClock::Entry entry) {
        std::lock_guard lock(mutex_);
        if (!started_) {
            started_ = true;
            std::thread([this] { loop(); }).detach();
        }
        const unsigned long long sequence = entry.sequence;
        heap_.push_back(Pending{std::move(clock), std::move(entry)});
        std::push_heap(heap_.begin(), heap_.end(), later);
        // The thread sleeps until the earliest item is due (or until woken); an item due later than
        // that changes nothing it waits for. Waking it for every item cost a thread switch each, on
        // every repeating timer's fire.
        if (heap_.front().entry.sequence == sequence) changed_.notify_one();
    }

  private:
    struct Pending {
        std::shared_ptr<Clock> clock;
        VirtualClock::Entry entry;
    };
    static bool later(const Pending& a, const Pending& b) {
        if (a.entry.due != b.entry.due) return a.entry.due > b.entry.due;
        return a.entry.sequence > b.entry.sequence;
    }

    void loop() {
        pthread_setname_np(pthread_self(), "dispatch-timers");
        std::unique_lock lock(mutex_);
        for (;;) {
            if (heap_.empty()) {
                changed_.wait(lock);
                continue;
            }
            const Pending& top = heap_.front();
            const double remaining = top.entry.due - top.clock->monotonicSeconds();
            if (remaining > 0) {
                changed_.wait_for(lock, std::chrono::duration<double>(std::min(remaining, 3600.0)));
                continue;
            }
            std::pop_heap(heap_.begin(), heap_.end(), later);
            Pending due = std::move(heap_.back());
            heap_.pop_back();
            lock.unlock();
            if (!due.entry.prepare || due.entry.prepare()) due.entry.queue->async(std::move(due.entry.block));
            due = Pending{};
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Pending> heap_;
    bool started_ = false;
};

}  // namespace

namespace detail {

unsigned long long nextScheduleSequence() {
    static std::atomic<unsigned long long> sequence{0};
    return sequence.fetch_add(1, std::memory_order_relaxed);
}

double sanitizeDelay(double seconds) {
    if (std::isnan(seconds) || seconds < 0) return 0;
    return std::min(seconds, 9223372036.0);
}

void scheduleAt(const std::shared_ptr<Clock>& clock, double due, std::shared_ptr<DispatchQueue> queue,
                std::function<void()> block, std::function<bool()> prepare) {
    VirtualClock::Entry entry{due, nextScheduleSequence(), std::move(queue), std::move(block),
                              std::move(prepare)};
    if (auto* virtualClock = dynamic_cast<VirtualClock*>(clock.get())) {
        virtualClock->scheduleEntry(std::move(entry));
    } else {
        RealScheduler::shared().schedule(clock, std::move(entry));
    }
}

void deliverVirtual(const std::shared_ptr<DispatchQueue>& queue, std::function<void()> block) {
    if (queue->kind() == DispatchQueue::Kind::Main) {
        queue->async(std::move(block));
        if (isMainThread()) RunLoop::runUntilIdle();
        return;
    }
    if (heldBySelf(queue.get()) != 0) {
        queue->async(std::move(block));  // runs after the caller's own block
        return;
    }
    // Wait for the item; on the main thread keep running main-queue blocks meanwhile, because the
    // item may itself wait for the main queue.
    auto& main = MainState::shared();
    auto done = std::make_shared<std::atomic<bool>>(false);
    queue->async([done, block = std::move(block)] {
        block();
        {
            std::lock_guard lock(MainState::shared().mutex);
            done->store(true);
        }
        MainState::shared().changed.notify_all();
    });
    const bool onMain = isMainThread();
    for (;;) {
        if (onMain) {
            while (main.runOne()) {
            }
        }
        std::unique_lock lock(main.mutex);
        main.changed.wait(lock, [&] { return done->load() || (onMain && !main.items.empty()); });
        if (done->load()) break;
    }
    if (onMain) RunLoop::runUntilIdle();
}

}  // namespace detail

}  // namespace platform
