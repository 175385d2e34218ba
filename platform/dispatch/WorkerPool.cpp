#include "platform/dispatch/detail/WorkerPool.hpp"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/dispatch/SharedInstance.hpp"

namespace platform::detail {

namespace {

// Jobs wait in one FIFO; workers take them one at a time, so a job never sits behind a blocked
// one in some worker's private batch. Waking is what costs: a worker is woken only when jobs wait
// and no woken worker is already on its way to them. That worker passes the baton on (wakes the
// next) when it leaves jobs behind, so a burst spreads over the pool in a chain of wake-ups, one
// per thread rather than one per job, while a trickle keeps a single thread busy.
class WorkerPool {
  public:
    // Never destroyed: workers may outlive main().
    static WorkerPool& labelled() {
        return SharedInstance<WorkerPool, struct LabelledPool>::get([] { return new WorkerPool(true); });
    }
    static WorkerPool& global() {
        return SharedInstance<WorkerPool, struct GlobalPool>::get([] { return new WorkerPool(false); });
    }

    void submit(PoolJob job) {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(job));
        if (wakeLocked()) {
            lock.unlock();  // the worker wakes to a free lock
            wake_.notify_one();
        }
    }

  private:
    explicit WorkerPool(bool labelled)
        : labelled_(labelled),
          softLimit_(std::max(2, static_cast<int>(std::thread::hardware_concurrency()))) {}

    // Makes sure some thread is on its way to the waiting jobs. True when a sleeping worker must be
    // notified (after the lock is released).
    bool wakeLocked() {
        if (jobs_.empty() || wakeTokens_ + starting_ > 0) return false;
        if (sleeping_ > 0) {
            ++wakeTokens_;
            return true;
        }
        if (threads_ < softLimit_) {
            spawnLocked();
            return false;
        }
        if (!monitorStarted_) {
            monitorStarted_ = true;
            std::thread([this] { monitorLoop(); }).detach();
        }
        monitor_.notify_one();
        return false;
    }

    void spawnLocked() {
        ++threads_;
        ++starting_;
        std::thread([this] {
            // A new thread inherits its creator's name; global workers start (and stay) unnamed.
            if (!labelled_) pthread_setname_np(pthread_self(), "");
            workerLoop();
        }).detach();
    }

    void workerLoop() {
        std::unique_lock lock(mutex_);
        --starting_;
        for (;;) {
            if (!jobs_.empty()) {
                PoolJob job = std::move(jobs_.front());
                jobs_.pop_front();
                ++progress_;
                const bool notify = wakeLocked();  // jobs left behind: pass the baton on
                lock.unlock();
                if (notify) wake_.notify_one();
                job.run(job);
                job = PoolJob{};  // captured queues are released outside the pool lock
                lock.lock();
                continue;
            }
            ++sleeping_;
            const bool woken = wake_.wait_for(lock, kIdleExit, [this] { return wakeTokens_ > 0; });
            --sleeping_;
            if (!woken) {
                --threads_;  // nobody needed this worker for a while: it retires
                return;
            }
            --wakeTokens_;
        }
    }

    void monitorLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            monitor_.wait(lock, [this] { return !jobs_.empty(); });
            const uint64_t before = progress_;
            monitor_.wait_for(lock, kStallCheck);
            if (!jobs_.empty() && progress_ == before && threads_ < kHardLimit) {
                // Every worker is stuck in a block that waits; one more thread moves the queue on.
                spawnLocked();
            }
        }
    }

    static constexpr auto kIdleExit = std::chrono::seconds(5);
    static constexpr auto kStallCheck = std::chrono::milliseconds(20);
    static constexpr int kHardLimit = 512;

    const bool labelled_;
    std::mutex mutex_;
    std::condition_variable wake_;     // sleeping workers
    std::condition_variable monitor_;  // the stall monitor
    std::deque<PoolJob> jobs_;
    const int softLimit_;
    int threads_ = 0;
    int sleeping_ = 0;    // workers waiting on wake_
    int wakeTokens_ = 0;  // notifications sent and not yet taken up by a worker
    int starting_ = 0;    // threads spawned that have not yet looked at the jobs
    uint64_t progress_ = 0;
    bool monitorStarted_ = false;
};

}  // namespace

void submitToLabelledPool(PoolJob job) {
    WorkerPool::labelled().submit(std::move(job));
}

void submitToGlobalPool(PoolJob job) {
    WorkerPool::global().submit(std::move(job));
}

}  // namespace platform::detail
