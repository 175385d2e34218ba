#include "platform/dispatch/detail/WorkerPool.hpp"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/detail/LookPace.hpp"

namespace platform::detail {

namespace {

constexpr size_t kBatch = LookPace::kFullLook;  // jobs a worker takes at once
constexpr int kHardLimit = 512;                 // threads per pool at most

// A FIFO of jobs in one growing ring, so a steady flow of jobs allocates nothing.
class JobRing {
  public:
    bool empty() const { return size_ == 0; }
    void push_back(PoolJob&& job) {
        if (size_ == slots_.size()) grow();
        slots_[(head_ + size_) & (slots_.size() - 1)] = std::move(job);
        ++size_;
    }
    PoolJob& front() { return slots_[head_]; }
    void pop_front() {
        slots_[head_] = PoolJob{};
        head_ = (head_ + 1) & (slots_.size() - 1);
        --size_;
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

// Room for one job, built and destroyed by hand: every job is moved into a FIFO cell, out into a
// worker's batch and run there, and building it in place costs less than assigning over an empty
// one each time.
union JobSlot {
    JobSlot() {}
    ~JobSlot() {}
    PoolJob job;
};

// A bounded FIFO that any number of threads push to and take from without a lock. Every cell
// carries a sequence number that says whose turn it is (a pusher's at `position`, a taker's at
// `position + 1`), so a push is one compare-and-swap on the push position plus the cell, and a
// take claims a run of published cells with one compare-and-swap on the take position.
class JobQueue {
  public:
    static constexpr uint64_t kCapacity = 4096;

    JobQueue() : cells_(new Cell[kCapacity]) {
        for (uint64_t i = 0; i < kCapacity; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
    }

    // Moves `job` in unless the queue is full. A push is sequentially consistent with the looks
    // at `maybeNonEmpty`: what a submitter reads after it is ordered after the push.
    bool tryPush(PoolJob& job) {
        uint64_t position = pushPosition_.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = cells_[position & (kCapacity - 1)];
            const uint64_t sequence = cell.sequence.load(std::memory_order_acquire);
            const auto lag = static_cast<int64_t>(sequence - position);
            if (lag == 0) {
                if (pushPosition_.compare_exchange_weak(position, position + 1, std::memory_order_seq_cst,
                                                        std::memory_order_relaxed)) {
                    std::construct_at(&cell.slot.job, std::move(job));
                    cell.sequence.store(position + 1, std::memory_order_release);
                    return true;
                }
            } else if (lag < 0) {
                return false;  // the cell still holds a job from one lap ago: full
            } else {
                position = pushPosition_.load(std::memory_order_relaxed);
            }
        }
    }

    // Moves up to `limit` of the oldest jobs into the empty slots `out`; how many (0 when empty).
    size_t take(JobSlot* out, size_t limit) {
        uint64_t position = takePosition_.load(std::memory_order_relaxed);
        for (;;) {
            size_t count = 0;
            while (count < limit && cells_[(position + count) & (kCapacity - 1)].sequence.load(
                                        std::memory_order_acquire) == position + count + 1) {
                ++count;
            }
            if (count == 0) {
                const uint64_t sequence =
                    cells_[position & (kCapacity - 1)].sequence.load(std::memory_order_acquire);
                if (static_cast<int64_t>(sequence - (position + 1)) < 0) return 0;  // not yet pushed: empty
                position = takePosition_.load(std::memory_order_relaxed);           // taken meanwhile
                continue;
            }
            if (takePosition_.compare_exchange_weak(position, position + count, std::memory_order_relaxed)) {
                for (size_t i = 0; i < count; ++i) {
                    Cell& cell = cells_[(position + i) & (kCapacity - 1)];
                    std::construct_at(&out[i].job, std::move(cell.slot.job));
                    std::destroy_at(&cell.slot.job);
                    cell.sequence.store(position + i + kCapacity, std::memory_order_release);
                }
                return count;
            }
        }
    }

    // True once a push has claimed a cell that no take has claimed yet (the job may still be on
    // its way in).
    bool maybeNonEmpty() const {
        return pushPosition_.load(std::memory_order_seq_cst) != takePosition_.load(std::memory_order_seq_cst);
    }

    // Where the next take starts: moves with every take.
    uint64_t takePosition() const { return takePosition_.load(std::memory_order_relaxed); }

  private:
    // Cells packed tight: a job's cell is read once by the worker that takes it, so fewer lines
    // per job count for more than keeping the submitter's and the taker's cells apart. The pools
    // are never destroyed, so jobs left in the cells are not either.
    struct Cell {
        std::atomic<uint64_t> sequence;
        JobSlot slot;  // holds a job between a push and its take
    };
    std::unique_ptr<Cell[]> cells_;
    alignas(64) std::atomic<uint64_t> pushPosition_{0};
    alignas(64) std::atomic<uint64_t> takePosition_{0};
};

// Jobs wait in one lock-free FIFO (and, should the workers stall with it full, in a locked
// overflow FIFO behind it). A worker takes up to 64 waiting jobs at once into a batch of its own
// and runs them in order. Waking and sharing cost more than short jobs do, so a submit wakes a
// sleeping worker only when no worker is awake at all, and at most one worker at a time looks for
// work (spins) once it ran dry. More workers are drawn in where jobs pile up: when the looking
// worker finds a full batch with more queued behind it, when a submitter finds the FIFO full, and
// for jobs behind a long one. A batch is never a trap: its jobs are claimed one at a time with an
// atomic cursor, and a looking worker takes over the next job of a batch whose owner has not moved
// on for a while (a long block, or one that waits), then draws in the next helper the same way.
// When every awake worker is busy and jobs wait untaken, or a batch stands still, a monitor wakes
// a sleeper after a moment, and adds a thread beyond one per processor only when nothing at all
// moves for longer.
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
        // Pairs with the fence a worker passes between saying it stops looking (or sleeps) and its
        // last look: either it sees this job, or this sees it gone. A push into the lock-free FIFO
        // is ordered by itself (JobQueue::tryPush); the way through the overflow needs the fence.
        if (overflowing_.load(std::memory_order_acquire) || !queue_.tryPush(job)) {
            pushWhenFull(job);
            std::atomic_thread_fence(std::memory_order_seq_cst);
        }
        if (spinning_.load(std::memory_order_seq_cst) != 0) return;
        if (active_.load(std::memory_order_seq_cst) == 0) {
            wakeOne();
        } else if (!monitorArmed_.load(std::memory_order_seq_cst)) {
            std::lock_guard lock(mutex_);
            watchLocked();
        }
    }

  private:
    // The jobs a worker took at once. `cursor` packs generation (bits 32-63), the next slot to
    // claim (16-31) and the slot count (0-15); whoever advances it owns that slot's job. The owner
    // refills the slots only once every job other workers claimed has been moved out (`moved`).
    // A slot holds a job from the refill until whoever claimed it has run it or moved it out.
    struct Worker {
        static constexpr uint64_t kNextOne = uint64_t{1} << 16;
        JobSlot slots[kBatch];
        alignas(64) std::atomic<uint64_t> cursor{0};
        std::atomic<uint32_t> moved{0};  // jobs of the batch other workers have moved out
        uint32_t ranOwn = 0;             // jobs of the batch the owner claimed itself (owner only)
        std::chrono::steady_clock::time_point filledAt;  // when a batch of several jobs came (owner only)
        std::atomic<bool> share{false};     // the batch's jobs take a while: others take from it at once
        std::atomic<uint64_t> progress{0};  // jobs started; written by the worker alone
        // Owner only: the last cursor seen of every other worker, to tell a stuck batch.
        std::array<uint64_t, kHardLimit> seen{};
        size_t index = 0;
        LookPace pace;       // before the next look at the FIFO (owner only)
        int emptyLooks = 0;  // looks in a row that found nothing; kQuietLooks end a stream

        static uint64_t next(uint64_t c) { return (c >> 16) & 0xffff; }
        static uint64_t count(uint64_t c) { return c & 0xffff; }
        bool hasUnclaimed() const {
            const uint64_t c = cursor.load(std::memory_order_acquire);
            return next(c) < count(c);
        }
        // The last refill took as many jobs as a batch holds (owner only).
        bool fullBatch() const { return count(cursor.load(std::memory_order_relaxed)) == kBatch; }
        // Claims the next slot of the batch; false when every job is claimed. A claim past the end
        // only moves `next` further past it.
        bool claim(size_t& slot) {
            if (!hasUnclaimed()) return false;
            const uint64_t c = cursor.fetch_add(kNextOne, std::memory_order_acq_rel);
            if (next(c) >= count(c)) return false;
            slot = next(c);
            return true;
        }
        // Waits until the jobs other workers claimed from the batch have been moved out.
        void waitForThieves() const {
            const uint64_t c = cursor.load(std::memory_order_relaxed);
            const uint32_t taken = static_cast<uint32_t>(std::min(next(c), count(c))) - ranOwn;
            while (moved.load(std::memory_order_acquire) < taken) cpuPause();
        }
        void startedOne() {
            progress.store(progress.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        }
    };

    explicit WorkerPool(bool labelled)
        : labelled_(labelled),
          softLimit_(std::max(2, static_cast<int>(std::thread::hardware_concurrency()))) {}

    // The lock-free FIFO is full, or jobs wait in the overflow: the workers fall behind, and one
    // more lends a hand. With the FIFO full the submitter waits a moment for room rather than
    // queueing behind the lock, but never long: a submit must not stall its thread (the main
    // thread among them). When nothing was taken meanwhile (every worker stuck, perhaps waiting
    // for this very submitter), later submits skip the wait until something is taken again. Once
    // jobs wait in the overflow, newer ones queue behind them there.
    void pushWhenFull(PoolJob& job) {
        if (spinning_.load(std::memory_order_relaxed) == 0 &&
            active_.load(std::memory_order_relaxed) < softLimit_)
            wakeOne();
        const uint64_t taken = queue_.takePosition();
        if (!overflowing_.load(std::memory_order_acquire) &&
            taken != stalledAt_.load(std::memory_order_relaxed)) {
            const auto until = std::chrono::steady_clock::now() + kFullWait;
            for (int i = 1; !overflowing_.load(std::memory_order_acquire); ++i) {
                cpuPause();
                if (queue_.tryPush(job)) return;
                if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
            }
            if (queue_.takePosition() == taken) stalledAt_.store(taken, std::memory_order_relaxed);
        }
        pushOverflow(job);
    }

    void pushOverflow(PoolJob& job) {
        std::lock_guard lock(mutex_);
        // Once jobs wait in the overflow, newer jobs queue behind them there, so each submitting
        // thread's jobs still start in the order it submitted them.
        if (!overflowing_.load(std::memory_order_relaxed) && queue_.tryPush(job)) return;
        overflow_.push_back(std::move(job));
        overflowing_.store(true, std::memory_order_release);
    }

    bool hasWork() const { return queue_.maybeNonEmpty() || overflowing_.load(std::memory_order_seq_cst); }

    // Refills an exhausted batch with the oldest waiting jobs; false when none wait.
    bool refill(Worker& self) {
        self.waitForThieves();
        size_t n = queue_.take(self.slots, kBatch);
        if (n == 0 && overflowing_.load(std::memory_order_acquire)) n = takeOverflow(self.slots);
        if (n == 0) {
            if (++self.emptyLooks >= kQuietLooks) self.pace.reset();
            return false;
        }
        if (n < kBatch && self.emptyLooks < kQuietLooks) {
            self.pace.slower();
        } else if (n == kBatch) {
            self.pace.faster();
        }
        self.emptyLooks = 0;
        self.moved.store(0, std::memory_order_relaxed);
        self.ranOwn = 0;
        self.share.store(false, std::memory_order_relaxed);
        const uint64_t c = self.cursor.load(std::memory_order_relaxed);
        self.cursor.store(((c >> 32) + 1) << 32 | n, std::memory_order_release);
        if (n > 1) {
            self.filledAt = std::chrono::steady_clock::now();
            if (!monitorArmed_.load(std::memory_order_relaxed)) {
                // Should one of these jobs wait, the monitor has another worker take over the rest.
                std::lock_guard lock(mutex_);
                watchLocked();
            }
        }
        return true;
    }

    size_t takeOverflow(JobSlot* out) {
        std::lock_guard lock(mutex_);
        size_t n = 0;
        for (; n < kBatch && !overflow_.empty(); ++n) {
            std::construct_at(&out[n].job, std::move(overflow_.front()));
            overflow_.pop_front();
        }
        // Everything in the overflow is newer than anything in the lock-free queue: move some of
        // what fits (the lock is not held for long).
        for (size_t moved = 0;
             moved < kOverflowMove && !overflow_.empty() && queue_.tryPush(overflow_.front()); ++moved)
            overflow_.pop_front();
        if (overflow_.empty()) overflowing_.store(false, std::memory_order_release);
        return n;
    }

    // Runs the worker's own batch; a row of jobs that finish alike finishes once (PoolJob::finish).
    void runOwn(Worker& self) {
        size_t slot = 0;
        PoolJob* row = nullptr;  // the first job of the row, kept until the row ends
        uint32_t rowLength = 0;
        bool shared = false;
        while (self.claim(slot)) {
            ++self.ranOwn;
            if (!shared && self.ranOwn > 1 && (self.ranOwn & (self.ranOwn - 1)) == 0 &&
                std::chrono::steady_clock::now() - self.filledAt >= kShareAfter && self.hasUnclaimed()) {
                // Looked at now and then (before the 2nd, 4th, 8th … job): the batch's jobs take a
                // while, so another worker comes to share what is left of it.
                shared = true;
                self.share.store(true, std::memory_order_relaxed);
                if (spinning_.load(std::memory_order_relaxed) == 0) wakeOne();
            }
            PoolJob& job = self.slots[slot].job;
            if (row != nullptr && !row->finishesLike(job)) finishRow(row, rowLength);
            self.startedOne();
            job.run(job);
            if (job.finish != nullptr && row == nullptr) {
                job.block = nullptr;  // what the block captured goes now; only its finish waits
                row = &job;
                rowLength = 1;
                continue;
            }
            if (job.finish != nullptr) ++rowLength;
            std::destroy_at(&job);  // captured queues are released before the next job
        }
        if (row != nullptr) finishRow(row, rowLength);
    }

    static void finishRow(PoolJob*& row, uint32_t length) {
        row->finish(*row, length);
        std::destroy_at(row);
        row = nullptr;
    }

    // Takes over the next job of another worker's batch when that worker has not moved on since
    // the last look, or asked for its batch to be shared; `victim` is left pointing at that worker.
    bool stealFromStuck(Worker& self, PoolJob& job, Worker*& victim) {
        const size_t count = workerCount_.load(std::memory_order_acquire);
        for (size_t i = 0; i < count; ++i) {
            Worker* other = workers_[i].load(std::memory_order_acquire);
            if (other == &self) continue;
            const uint64_t c = other->cursor.load(std::memory_order_acquire);
            if (Worker::next(c) >= Worker::count(c)) continue;
            if (self.seen[i] != c && !other->share.load(std::memory_order_relaxed)) {
                self.seen[i] = c;
                continue;
            }
            size_t slot = 0;
            if (other->claim(slot)) {
                job = std::move(other->slots[slot].job);
                std::destroy_at(&other->slots[slot].job);
                other->moved.fetch_add(1, std::memory_order_release);
                victim = other;
                return true;
            }
        }
        return false;
    }

    enum class Found { Nothing, Batch, Stolen };

    // Looks for work for a few microseconds: in a stream of submits the next job usually arrives
    // well within that, and sleeping and being woken costs far more.
    Found spin(Worker& self, PoolJob& stolen, Worker*& victim) {
        const auto until = std::chrono::steady_clock::now() + kSpinTime;
        for (;;) {
            for (int paused = 0; paused < 64;) {
                if (refill(self)) return Found::Batch;
                paused += keepPace(self);
            }
            if (stealFromStuck(self, stolen, victim)) return Found::Stolen;
            if (std::chrono::steady_clock::now() >= until) return Found::Nothing;
        }
    }

    // Waits before the next look at the FIFO; how many pauses.
    static int keepPace(const Worker& self) {
        cpuPause();
        return self.pace.wait() + 1;
    }

    // Nobody looks for the waiting work: wakes a sleeper, starts a thread, or, with every thread
    // busy, has the monitor watch for a stall.
    void wakeOne() {
        int none = 0;
        // Whoever turns the count from zero wakes; the worker it wakes starts out looking.
        if (!spinning_.compare_exchange_strong(none, 1, std::memory_order_acq_rel)) return;
        std::unique_lock lock(mutex_);
        if (wakeSleeperLocked()) {
            lock.unlock();  // the worker wakes to a free lock
            wake_.notify_one();
            return;
        }
        if (threads_ < softLimit_) {
            spawnLocked();
            return;
        }
        spinning_.fetch_sub(1, std::memory_order_acq_rel);
        watchLocked();
    }

    // Hands a wake-up to a sleeper, counted as awake and looking; the caller notifies.
    bool wakeSleeperLocked() {
        if (sleeping_ <= wakeTokens_) return false;
        ++wakeTokens_;
        active_.fetch_add(1, std::memory_order_seq_cst);
        return true;
    }

    // Has the monitor look out for a stall.
    void watchLocked() {
        if (monitorArmed_.load(std::memory_order_relaxed)) return;
        monitorArmed_.store(true, std::memory_order_seq_cst);
        if (!monitorStarted_) {
            monitorStarted_ = true;
            std::thread([this] { monitorLoop(); }).detach();
        } else {
            monitor_.notify_one();
        }
    }

    // The new thread counts as awake and looking for work from the start (spinning_ is counted by
    // the caller).
    void spawnLocked() {
        ++threads_;
        active_.fetch_add(1, std::memory_order_seq_cst);
        Worker* worker = nullptr;
        if (!retired_.empty()) {
            worker = retired_.back();
            retired_.pop_back();
        } else {
            worker = new Worker();  // kept for good: a thief may still look at it
            worker->index = workerCount_.load(std::memory_order_relaxed);
            workers_[worker->index].store(worker, std::memory_order_release);
            workerCount_.store(worker->index + 1, std::memory_order_release);
        }
        std::thread([this, worker] {
            // A new thread inherits its creator's name; global workers start (and stay) unnamed.
            if (!labelled_) pthread_setname_np(pthread_self(), "");
            workerLoop(*worker);
        }).detach();
    }

    void workerLoop(Worker& self) {
        PoolJob stolen;
        for (;;) {
            Worker* stolenFrom = nullptr;
            const Found found = spin(self, stolen, stolenFrom);
            if (found == Found::Nothing) {
                spinning_.fetch_sub(1, std::memory_order_seq_cst);
                if (!sleep(self)) return;
                continue;  // looking again (counted by whoever woke this worker)
            }
            // Found work: if this was the last worker looking and a backlog waits (a full batch
            // taken and more queued, or jobs behind a stuck one), another one looks. Jobs queued
            // meanwhile were left to this worker as the one looking: it comes back for them after
            // its batch, and should the batch turn out long, the monitor sees them wait.
            if (spinning_.fetch_sub(1, std::memory_order_seq_cst) == 1) {
                std::atomic_thread_fence(std::memory_order_seq_cst);
                const bool waiting = hasWork();
                const bool backlog = found == Found::Stolen ? waiting || stolenFrom->hasUnclaimed()
                                                            : self.fullBatch() && waiting;
                if (backlog) {
                    wakeOne();
                } else if (waiting && !monitorArmed_.load(std::memory_order_relaxed)) {
                    std::lock_guard lock(mutex_);
                    watchLocked();
                }
            }
            if (found == Found::Stolen) {
                self.startedOne();
                stolen.run(stolen);
                if (stolen.finish != nullptr) stolen.finish(stolen, 1);
                stolen = PoolJob{};
            }
            do {
                runOwn(self);
                // A short batch: the worker keeps up, and more jobs are worth waiting a moment for.
                if (!self.fullBatch()) keepPace(self);
            } while (refill(self));
            // Ran dry: looks for more unless another worker looks already.
            int none = 0;
            if (spinning_.compare_exchange_strong(none, 1, std::memory_order_seq_cst)) continue;
            if (!sleep(self)) return;
        }
    }

    // Waits for a wake-up; false when none came for a while and the thread retires.
    bool sleep(Worker& self) {
        self.pace.reset();  // whatever stream it kept pace with is over; a woken worker looks at once
        std::unique_lock lock(mutex_);
        ++sleeping_;
        active_.fetch_sub(1, std::memory_order_seq_cst);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (hasWork()) {
            // Work arrived after the last look; whoever queued it may have left it to this worker.
            --sleeping_;
            active_.fetch_add(1, std::memory_order_seq_cst);
            spinning_.fetch_add(1, std::memory_order_seq_cst);
            return true;
        }
        const bool woken = wake_.wait_for(lock, kIdleExit, [this] { return wakeTokens_ > 0; });
        --sleeping_;
        if (woken) {
            --wakeTokens_;
            return true;
        }
        // Nobody needed this worker for a while: it retires, once no thief is mid-move.
        self.waitForThieves();
        --threads_;
        retired_.push_back(&self);
        return false;
    }

    bool pendingLocked() const {
        if (hasWork()) return true;
        const size_t count = workerCount_.load(std::memory_order_acquire);
        for (size_t i = 0; i < count; ++i) {
            if (workers_[i].load(std::memory_order_acquire)->hasUnclaimed()) return true;
        }
        return false;
    }

    uint64_t progressLocked() const {
        uint64_t total = 0;
        const size_t count = workerCount_.load(std::memory_order_acquire);
        for (size_t i = 0; i < count; ++i)
            total += workers_[i].load(std::memory_order_acquire)->progress.load(std::memory_order_relaxed);
        return total;
    }

    // True when some worker's batch holds unclaimed jobs and its cursor has not moved since the
    // last look.
    bool stuckBatchLocked() {
        bool stuck = false;
        const size_t count = workerCount_.load(std::memory_order_acquire);
        for (size_t i = 0; i < count; ++i) {
            const uint64_t c =
                workers_[i].load(std::memory_order_acquire)->cursor.load(std::memory_order_acquire);
            if (Worker::next(c) < Worker::count(c) && monitorSeen_[i] == c) stuck = true;
            monitorSeen_[i] = c;
        }
        return stuck;
    }

    void monitorLoop() {
        std::unique_lock lock(mutex_);
        auto stalled = std::chrono::steady_clock::duration::zero();
        for (;;) {
            monitor_.wait(lock, [this] { return monitorArmed_.load(std::memory_order_relaxed); });
            const uint64_t before = progressLocked();
            const int threads = threads_;
            monitor_.wait_for(lock, kStallCheck);
            if (!pendingLocked()) {
                monitorArmed_.store(false, std::memory_order_seq_cst);
                std::atomic_thread_fence(std::memory_order_seq_cst);
                // A submit that saw the monitor armed left the watching to it.
                if (!pendingLocked()) {
                    stalled = {};
                    continue;
                }
                monitorArmed_.store(true, std::memory_order_seq_cst);
            }
            const bool progressed = progressLocked() != before || threads != threads_;
            const bool stuck = stuckBatchLocked();
            if (progressed) stalled = {};
            if (progressed && !stuck) continue;
            // Jobs wait behind a block that waits, or every awake worker is in a long block.
            if (!progressed) stalled += kStallCheck;
            const bool looking = spinning_.load(std::memory_order_seq_cst) > 0;
            if (!looking && wakeSleeperLocked()) {
                spinning_.fetch_add(1, std::memory_order_seq_cst);
                wake_.notify_one();
            } else if ((!looking && threads_ < softLimit_) ||
                       (!progressed && stalled >= kStallSpawn && threads_ < kHardLimit)) {
                // Beyond one per processor only when nothing moves at all for a while: every
                // worker is stuck in a block that waits, and one more thread moves the jobs on.
                spinning_.fetch_add(1, std::memory_order_seq_cst);
                spawnLocked();
                stalled = {};
            }
        }
    }

    static constexpr auto kIdleExit = std::chrono::seconds(5);
    static constexpr auto kStallCheck = std::chrono::milliseconds(1);
    static constexpr auto kStallSpawn = std::chrono::milliseconds(20);
    static constexpr auto kSpinTime = std::chrono::microseconds(20);
    static constexpr auto kFullWait = std::chrono::microseconds(50);
    static constexpr auto kShareAfter = std::chrono::microseconds(50);
    static constexpr size_t kOverflowMove = 256;
    static constexpr int kQuietLooks = 4;  // empty looks in a row that tell a stream stopped

    const bool labelled_;
    const int softLimit_;
    JobQueue queue_;
    alignas(64) std::atomic<int> spinning_{0};       // workers looking for work (woken and new ones too)
    std::atomic<int> active_{0};                     // workers not asleep
    std::atomic<bool> overflowing_{false};           // jobs wait in overflow_ (changed under mutex_)
    std::atomic<bool> monitorArmed_{false};          // the monitor watches for a stall (set under mutex_)
    std::atomic<uint64_t> stalledAt_{~uint64_t{0}};  // take position at which submitters stopped waiting
    alignas(64) std::array<std::atomic<Worker*>, kHardLimit> workers_{};  // every worker ever made
    std::atomic<size_t> workerCount_{0};
    alignas(64) std::mutex mutex_;
    std::condition_variable wake_;     // sleeping workers
    std::condition_variable monitor_;  // the stall monitor
    JobRing overflow_;
    std::vector<Worker*> retired_;  // workers of threads that exited, for reuse
    int threads_ = 0;
    int sleeping_ = 0;    // workers waiting on wake_
    int wakeTokens_ = 0;  // notifications sent and not yet taken up by a worker
    bool monitorStarted_ = false;
    std::array<uint64_t, kHardLimit> monitorSeen_{};  // worker cursors at the monitor's last look
};

}  // namespace

void submitToLabelledPool(PoolJob&& job) {
    WorkerPool::labelled().submit(std::move(job));
}

void submitToGlobalPool(PoolJob&& job) {
    WorkerPool::global().submit(std::move(job));
}

}  // namespace platform::detail
