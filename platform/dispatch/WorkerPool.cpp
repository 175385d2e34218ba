#include "platform/dispatch/detail/WorkerPool.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"

namespace platform::detail {

namespace {

void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// A FIFO of jobs in one growing ring, so a steady flow of jobs allocates nothing.
class JobRing {
  public:
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    void push_back(PoolJob&& job) {
        if (size_ == slots_.size()) grow();
        slots_[(head_ + size_) & (slots_.size() - 1)] = std::move(job);
        ++size_;
    }
    void swap(JobRing& other) noexcept {
        slots_.swap(other.slots_);
        std::swap(head_, other.head_);
        std::swap(size_, other.size_);
    }
    PoolJob pop_front() {
        PoolJob job = std::move(slots_[head_]);
        slots_[head_] = PoolJob{};
        head_ = (head_ + 1) & (slots_.size() - 1);
        --size_;
        return job;
    }

  private:
    void grow() {
        std::vector<PoolJob> larger(std::max<size_t>(64, slots_.size() * 2));
        for (size_t i = 0; i < size_; ++i) larger[i] = std::move(slots_[(head_ + i) & (slots_.size() - 1)]);
        slots_.swap(larger);
        head_ = 0;
    }
    std::vector<PoolJob> slots_;  // a power of two long
    size_t head_ = 0;
    size_t size_ = 0;
};

// Jobs wait in one FIFO. Waking is what costs: a worker is woken only when the FIFO turns
// non-empty and no woken worker is already on its way to it, and only then. A worker takes up to
// 64 waiting jobs at once into a batch of its own, so the FIFO's lock changes hands once per batch
// rather than once per job. A batch is never a trap: its jobs are claimed one at a time with an
// atomic cursor that idle workers may advance too, so a job queued behind a block that waits is
// taken over by an idle worker, by one woken for a batch of more than one job, or by the thread the
// monitor adds when nothing moves at all.
class WorkerPool {
  public:
    // Never destroyed: workers may outlive main().
    static WorkerPool& labelled() {
        return SharedInstance<WorkerPool, struct LabelledPool>::get([] { return new WorkerPool(true); });
    }
    static WorkerPool& global() {
        return SharedInstance<WorkerPool, struct GlobalPool>::get([] { return new WorkerPool(false); });
    }

    void submit(PoolJob&& job) {
        std::unique_lock lock = acquire();
        jobs_.push_back(std::move(job));
        // Jobs already waiting have a worker on its way, or every worker busy and coming back.
        if (jobs_.size() == 1 && wakeLocked()) {
            lock.unlock();  // the worker wakes to a free lock
            wake_.notify_one();
        }
    }

  private:
    // The jobs a worker took from the FIFO. `cursor` packs generation (bits 32-63), the next slot
    // to claim (16-31) and the slot count (0-15); whoever advances it owns that slot's job. The
    // owner refills the slots only once every claimed job has been moved out (`moved`).
    struct Worker {
        static constexpr uint64_t kNextOne = uint64_t{1} << 16;
        PoolJob slots[64];
        std::atomic<uint64_t> cursor{0};
        std::atomic<uint32_t> moved{0};
        std::atomic<uint64_t> progress{0};  // jobs started; written by the worker alone

        static uint64_t next(uint64_t c) { return (c >> 16) & 0xffff; }
        static uint64_t count(uint64_t c) { return c & 0xffff; }
        bool hasUnclaimed() const {
            const uint64_t c = cursor.load(std::memory_order_acquire);
            return next(c) < count(c);
        }
        size_t unclaimed() const {
            const uint64_t c = cursor.load(std::memory_order_acquire);
            return next(c) < count(c) ? count(c) - next(c) : 0;
        }
        // Claims the next job of the batch; false when every job is claimed.
        bool claim(PoolJob& job) {
            uint64_t c = cursor.load(std::memory_order_acquire);
            while (next(c) < count(c)) {
                if (cursor.compare_exchange_weak(c, c + kNextOne, std::memory_order_acq_rel,
                                                 std::memory_order_acquire)) {
                    job = std::move(slots[next(c)]);
                    moved.fetch_add(1, std::memory_order_release);
                    return true;
                }
            }
            return false;
        }
        // Refills an exhausted batch from `jobs` (called by the owner alone).
        void refill(JobRing& jobs) {
            const uint64_t c = cursor.load(std::memory_order_relaxed);
            while (moved.load(std::memory_order_acquire) < count(c)) pause();  // a thief is mid-move
            const size_t n = std::min<size_t>(std::size(slots), jobs.size());
            for (size_t i = 0; i < n; ++i) slots[i] = jobs.pop_front();
            moved.store(0, std::memory_order_relaxed);
            cursor.store(((c >> 32) + 1) << 32 | n, std::memory_order_release);
        }
    };

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
        watchLocked();
        return false;
    }

    // Wakes a sleeper to share out a batch of more than one job, unless one is on its way already.
    // True when it must be notified (after the lock is released).
    bool wakeHelperLocked() {
        if (sleeping_ == 0 || wakeTokens_ + starting_ > 0) return false;
        ++wakeTokens_;
        return true;
    }

    // Has the monitor look out for a stall.
    void watchLocked() {
        if (!monitorStarted_) {
            monitorStarted_ = true;
            std::thread([this] { monitorLoop(); }).detach();
        } else if (monitorIdle_) {
            monitor_.notify_one();
        }
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

    // The pool lock is held for a few instructions at a time: a contended taker spins briefly
    // rather than sleeping in the kernel and being woken again.
    std::unique_lock<std::mutex> acquire() {
        for (int i = 0; i < kLockSpins; ++i) {
            if (mutex_.try_lock()) return std::unique_lock(mutex_, std::adopt_lock);
            pause();
        }
        return std::unique_lock(mutex_);
    }

    static void runClaimed(Worker& self, Worker& from) {
        PoolJob job;
        while (from.claim(job)) {
            self.progress.store(self.progress.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            job.run(job);
            job = PoolJob{};  // captured queues are released outside the pool lock
        }
    }

    std::shared_ptr<Worker> batchWithUnclaimedLocked(const Worker& self) const {
        for (const auto& other : workers_) {
            if (other.get() != &self && other->hasUnclaimed()) return other;
        }
        return nullptr;
    }

    void workerLoop() {
        auto self = std::make_shared<Worker>();
        std::unique_lock lock = acquire();
        --starting_;
        workers_.push_back(self);
        for (;;) {
            if (!jobs_.empty()) {
                self->refill(jobs_);         // its own batch is exhausted whenever it comes back here
                bool notify = wakeLocked();  // more jobs than one batch: pass the baton on
                if (self->unclaimed() > 1) {
                    notify = notify || wakeHelperLocked();
                    watchLocked();
                }
                lock.unlock();
                if (notify) wake_.notify_one();
                runClaimed(*self, *self);
                lock = acquire();
                continue;
            }
            if (auto other = batchWithUnclaimedLocked(*self)) {
                const bool notify = other->unclaimed() > 2 && wakeHelperLocked();
                lock.unlock();
                if (notify) wake_.notify_one();
                runClaimed(*self, *other);
                other.reset();
                lock = acquire();
                continue;
            }
            ++sleeping_;
            const bool woken = wake_.wait_for(lock, kIdleExit, [this] { return wakeTokens_ > 0; });
            --sleeping_;
            if (!woken) {
                // Nobody needed this worker for a while: it retires.
                workers_.erase(std::find(workers_.begin(), workers_.end(), self));
                --threads_;
                return;
            }
            --wakeTokens_;
        }
    }

    bool pendingLocked() const {
        return !jobs_.empty() ||
               std::any_of(workers_.begin(), workers_.end(), [](const auto& w) { return w->hasUnclaimed(); });
    }

    uint64_t progressLocked() const {
        uint64_t total = 0;
        for (const auto& w : workers_) total += w->progress.load(std::memory_order_relaxed);
        return total;
    }

    void monitorLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            monitorIdle_ = true;
            monitor_.wait(lock, [this] { return pendingLocked(); });
            monitorIdle_ = false;
            const uint64_t before = progressLocked();
            const size_t count = workers_.size();
            monitor_.wait_for(lock, kStallCheck);
            if (pendingLocked() && count == workers_.size() && progressLocked() == before &&
                threads_ < kHardLimit) {
                // Every worker is stuck in a block that waits; one more thread moves the jobs on.
                spawnLocked();
            }
        }
    }

    static constexpr auto kIdleExit = std::chrono::seconds(5);
    static constexpr auto kStallCheck = std::chrono::milliseconds(20);
    static constexpr int kHardLimit = 512;
    static constexpr int kLockSpins = 100;

    const bool labelled_;
    std::mutex mutex_;
    std::condition_variable wake_;     // sleeping workers
    std::condition_variable monitor_;  // the stall monitor
    JobRing jobs_;
    const int softLimit_;
    int threads_ = 0;
    int sleeping_ = 0;                              // workers waiting on wake_
    int wakeTokens_ = 0;                            // notifications sent and not yet taken up by a worker
    int starting_ = 0;                              // threads spawned that have not yet looked at the jobs
    std::vector<std::shared_ptr<Worker>> workers_;  // a helper keeps the batch it works on alive
    bool monitorStarted_ = false;
    bool monitorIdle_ = false;  // the monitor waits for pending jobs (rather than watching them)
};

}  // namespace

void submitToLabelledPool(PoolJob&& job) {
    WorkerPool::labelled().submit(std::move(job));
}

void submitToGlobalPool(PoolJob&& job) {
    WorkerPool::global().submit(std::move(job));
}

}  // namespace platform::detail
