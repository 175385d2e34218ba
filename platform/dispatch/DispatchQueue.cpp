// The queues themselves: serial draining, concurrent readers and barriers, sync hand-over and
// queue-specific values. Their blocks run on the worker pools (WorkerPool.cpp) or the main queue
// (MainQueue.cpp); delayed blocks go through the schedulers (Scheduler.cpp).

#include "platform/dispatch/DispatchQueue.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/VirtualClock.hpp"
#include "platform/dispatch/detail/DispatchInternal.hpp"
#include "platform/dispatch/detail/LookPace.hpp"
#include "platform/dispatch/detail/MainQueueState.hpp"
#include "platform/dispatch/detail/QueueFrames.hpp"
#include "platform/dispatch/detail/SegmentedFifo.hpp"
#include "platform/dispatch/detail/WorkerPool.hpp"

namespace platform {

namespace {

using Block = DispatchQueue::Block;
using detail::fatal;
using detail::FrameScope;
using detail::heldBySelf;
using detail::MainState;
using detail::nameThread;

// A sync caller parked in a queue's FIFO; released when the queue reaches it, after which the caller
// runs its block on its own thread while holding the queue.
struct SyncWaiter {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;

    void release() {
        std::lock_guard lock(mutex);  // notified under the lock: the waiter may leave at once
        released = true;
        changed.notify_one();
    }
    void acquire() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return released; });
    }
};

struct Item {
    Block block;
    SyncWaiter* waiter = nullptr;
    bool barrier = false;
};

// Serial queues have no barriers.
struct SerialItem {
    Block block;
    SyncWaiter* waiter = nullptr;
};
using SerialFifo = detail::SegmentedFifo<SerialItem>;

}  // namespace

// ---------------------------------------------------------------------------------------------

struct DispatchQueue::Impl {
    std::mutex mutex;
    std::deque<Item> items;  // concurrent: what waits, in order
    SerialFifo pending;      // serial: what waits, in order (see drainSerial)
    bool running = false;    // serial: a drainer or a sync caller holds the queue
    // Concurrent: `blocked` is set (under the mutex) while anything waits in `items` or a barrier
    // runs; while it is clear a plain block starts without the mutex, once set everything goes
    // through `items` in order. The plain blocks running (readers) are `entered - left`: two
    // counters on lines of their own, so that submitting threads and finishing workers do not
    // pass one line back and forth for every block.
    std::atomic<bool> blocked{false};
    // Concurrent: plain blocks started without the mutex hold no reference to their queue (a count
    // on it per block would pass its line between submitter and worker for every block); while any
    // run or wait to run, the queue holds one to itself instead, so it outlives them even when its
    // last owner lets go meanwhile. `keepAlive` changes under the mutex; `kept` says whether it is
    // set, for a look without the lock.
    std::atomic<bool> kept{false};
    std::shared_ptr<DispatchQueue> keepAlive;
    bool barrierRunning = false;  // concurrent: a barrier block running (under the mutex)
    alignas(64) std::atomic<uint64_t> entered{0};
    alignas(64) std::atomic<uint64_t> left{0};

    std::mutex specificsMutex;
    std::vector<std::pair<const void*, std::shared_ptr<void>>> specifics;
};

// Access to the private parts for the free helpers below.
struct DispatchInternals {
    static DispatchQueue::Impl& impl(DispatchQueue& q) { return *q.impl_; }
    static std::shared_ptr<DispatchQueue> make(DispatchQueue::Kind kind, std::string label, QoS qos) {
        return std::shared_ptr<DispatchQueue>(new DispatchQueue(kind, std::move(label), qos));
    }
};

namespace {

void drainSerial(const std::shared_ptr<DispatchQueue>& queue);

void submitDrain(std::shared_ptr<DispatchQueue> queue) {
    detail::PoolJob job;
    job.run = [](detail::PoolJob& self) { drainSerial(self.queue); };
    job.queue = std::move(queue);
    detail::submitToLabelledPool(std::move(job));
}

// Runs the queued blocks of a serial queue on a worker until the queue is empty or a sync caller is
// reached (the caller then takes the queue over). Between looks it keeps a LookPace; a look that
// finds nothing ends the drain, so the next one starts without a wait.
void drainSerial(const std::shared_ptr<DispatchQueue>& queue) {
    auto& impl = DispatchInternals::impl(*queue);
    nameThread(*queue);
    FrameScope frame(queue.get(), true);
    SerialFifo::Run batch;
    detail::LookPace pace;
    for (int round = 0;; ++round) {
        pace.wait();
        {
            std::lock_guard lock(impl.mutex);
            impl.pending.recycle(batch);
            if (impl.pending.empty()) {
                impl.running = false;
                return;
            }
            if (round == 64) {  // let other queues' work through the pool now and then
                submitDrain(queue);
                return;
            }
            batch = impl.pending.takeAll();
        }
        size_t ran = 0;
        while (!batch.empty()) {
            SerialItem& item = batch.front();
            if (item.waiter != nullptr) {
                SyncWaiter* waiter = item.waiter;
                batch.pop_front();
                {
                    std::lock_guard lock(impl.mutex);
                    impl.pending.putBack(batch);
                    impl.pending.recycle(batch);
                }
                waiter->release();  // the queue now belongs to the sync caller
                return;
            }
            // Out of its slot first, so what the block holds goes as soon as it has run.
            Block block = std::move(item.block);
            batch.pop_front();
            block();
            ++ran;
        }
        if (ran < detail::LookPace::kFullLook) {
            pace.slower();
        } else {
            pace.faster();
        }
    }
}

// A sync caller gives the serial queue back.
void releaseSerial(const std::shared_ptr<DispatchQueue>& queue) {
    auto& impl = DispatchInternals::impl(*queue);
    std::lock_guard lock(impl.mutex);
    if (impl.pending.empty()) {
        impl.running = false;
    } else {
        submitDrain(queue);
    }
}

void finishConcurrent(const std::shared_ptr<DispatchQueue>& queue, bool exclusive, uint32_t readers = 1);

void runConcurrentBlock(detail::PoolJob& job) {
    nameThread(*job.queue);
    FrameScope frame(job.queue.get(), false);
    job.block();
}

void finishConcurrentBlocks(detail::PoolJob& job, uint32_t count) {
    if (job.group) DispatchGroup::leaveState(*job.group, count);
    // Counting these blocks out may end the queue's hold on itself while this still looks at the
    // queue: a reference for the while (once for a row of blocks, not for each).
    const auto hold = job.queue->weak_from_this().lock();
    finishConcurrent(hold, false, count);
}

void runConcurrentBarrier(detail::PoolJob& job) {
    nameThread(*job.queue);
    {
        FrameScope frame(job.queue.get(), true);
        job.block();
    }
    finishConcurrent(job.queue, true);
}

// Hands a block the queue let start in order (counted as a reader, or as the running barrier) to
// a worker; the job holds a reference to its queue.
void startConcurrent(std::shared_ptr<DispatchQueue> queue, Block block, bool exclusive) {
    detail::PoolJob job;
    if (exclusive) {
        job.run = runConcurrentBarrier;
    } else {
        job.run = runConcurrentBlock;
        job.finish = finishConcurrentBlocks;
    }
    job.queue = std::move(queue);
    job.block = std::move(block);
    detail::submitToLabelledPool(std::move(job));
}

// A pointer for a job whose queue outlives it by other means; touches no count.
std::shared_ptr<DispatchQueue> pointerTo(DispatchQueue& queue) {
    return std::shared_ptr<DispatchQueue>(std::shared_ptr<void>(), &queue);
}

// Makes sure the concurrent queue holds itself while plain blocks run; the caller has counted its
// block in (`entered`) already, so a reader finishing meanwhile cannot end the hold unseen.
void keepWhileReading(DispatchQueue& queue) {
    auto& impl = DispatchInternals::impl(queue);
    if (impl.kept.load(std::memory_order_seq_cst)) return;
    std::lock_guard lock(impl.mutex);
    if (impl.kept.load(std::memory_order_relaxed)) return;
    impl.keepAlive = queue.shared_from_this();
    impl.kept.store(true, std::memory_order_seq_cst);
}

// Hands a plain block already counted as a reader to a worker; the job holds no reference to the
// queue (keepWhileReading).
void startReader(DispatchQueue& queue, Block block, DispatchGroup::State* group = nullptr) {
    keepWhileReading(queue);
    detail::submitToLabelledPool(detail::PoolJob{.run = runConcurrentBlock,
                                                 .finish = finishConcurrentBlocks,
                                                 .queue = pointerTo(queue),
                                                 .block = std::move(block),
                                                 .group = group});
}

// Global queues are never destroyed: the job holds no reference to its queue.
void submitGlobal(DispatchQueue* queue, Block block, DispatchGroup::State* group = nullptr) {
    const auto run = [](detail::PoolJob& self) {
        FrameScope frame(self.queue.get(), false);
        self.block();
    };
    const auto leaveGroup = [](detail::PoolJob& self, uint32_t count) {
        DispatchGroup::leaveState(*self.group, count);
    };
    detail::submitToGlobalPool(detail::PoolJob{.run = run,
                                               .finish = group != nullptr ? +leaveGroup : nullptr,
                                               .queue = pointerTo(*queue),
                                               .block = std::move(block),
                                               .group = group});
}

// Counts one more reader unless the queue is blocked (something waits in order, or a barrier
// runs); false when the caller must queue its block instead.
bool tryEnterReader(DispatchQueue& queue) {
    auto& impl = DispatchInternals::impl(queue);
    if (impl.blocked.load(std::memory_order_acquire)) return false;
    // Counted first, then looked again: a thread blocking the queue sets the flag first and then
    // counts the readers, so one of the two sees the other.
    impl.entered.fetch_add(1, std::memory_order_seq_cst);
    if (!impl.blocked.load(std::memory_order_seq_cst)) return true;
    finishConcurrent(queue.shared_from_this(), false);  // blocked meanwhile: queue in order instead
    return false;
}

// Plain blocks running; may count a reader that is just backing out, never miss one that runs.
uint64_t readersLocked(const DispatchQueue::Impl& impl) {
    const uint64_t left = impl.left.load(std::memory_order_seq_cst);
    return impl.entered.load(std::memory_order_seq_cst) - left;
}

// Starts what may start on a concurrent queue: plain blocks up to the first barrier, or the barrier
// once the blocks before it have finished. Called with the queue's mutex held; kBlocked is set.
void pumpConcurrentLocked(const std::shared_ptr<DispatchQueue>& queue) {
    auto& impl = DispatchInternals::impl(*queue);
    while (!impl.items.empty() && !impl.barrierRunning) {
        // A reader finishing after this look sees the queue blocked and pumps again, so the barrier
        // is not forgotten.
        if (impl.items.front().barrier && readersLocked(impl) > 0) break;
        Item item = std::move(impl.items.front());
        impl.items.pop_front();
        const bool exclusive = item.barrier;
        if (exclusive) {
            impl.barrierRunning = true;
        } else {
            impl.entered.fetch_add(1, std::memory_order_seq_cst);
        }
        if (item.waiter != nullptr) {
            item.waiter->release();
        } else {
            startConcurrent(queue, std::move(item.block), exclusive);
        }
        if (exclusive) break;
    }
    if (impl.items.empty() && !impl.barrierRunning) impl.blocked.store(false, std::memory_order_seq_cst);
}

// Once no reader runs any more, the queue stops holding itself (its owners may be gone): the
// reference is handed out, to be let go after the mutex. Called with the queue's mutex held.
std::shared_ptr<DispatchQueue> letGoLocked(DispatchQueue::Impl& impl) {
    if (!impl.kept.load(std::memory_order_relaxed) || readersLocked(impl) != 0) return nullptr;
    // Cleared first, then counted again: a submitter counts its block first and then looks at
    // `kept`, so either this sees the block or the submitter sees the hold gone and sets it again.
    impl.kept.store(false, std::memory_order_seq_cst);
    if (readersLocked(impl) != 0) {
        impl.kept.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    return std::move(impl.keepAlive);
}

// Queues an item behind everything already waiting and starts what may start.
void enqueueConcurrent(const std::shared_ptr<DispatchQueue>& queue, Item item) {
    auto& impl = DispatchInternals::impl(*queue);
    std::lock_guard lock(impl.mutex);
    impl.items.push_back(std::move(item));
    impl.blocked.store(true, std::memory_order_seq_cst);
    pumpConcurrentLocked(queue);
}

void finishConcurrent(const std::shared_ptr<DispatchQueue>& queue, bool exclusive, uint32_t readers) {
    auto& impl = DispatchInternals::impl(*queue);
    if (!exclusive) {
        const uint64_t left = impl.left.fetch_add(readers, std::memory_order_seq_cst) + readers;
        // Only the last reader out has to look at the queue, and only when something waits or
        // the queue holds itself. A reader counted in after that look sees to the hold itself.
        if (impl.entered.load(std::memory_order_seq_cst) != left) return;
        if (!impl.blocked.load(std::memory_order_seq_cst) && !impl.kept.load(std::memory_order_seq_cst))
            return;
    }
    std::shared_ptr<DispatchQueue> release;  // let go after the mutex: it may be the last reference
    std::lock_guard lock(impl.mutex);
    if (exclusive) impl.barrierRunning = false;
    if (impl.blocked.load(std::memory_order_relaxed)) pumpConcurrentLocked(queue);
    release = letGoLocked(impl);
}

struct ScopeExit {
    std::function<void()> action;
    ~ScopeExit() { action(); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------

int qosClassNumber(QoS qos) {
    switch (qos) {
        case QoS::Background:
            return 9;
        case QoS::Utility:
            return 17;
        case QoS::Default:
            return 21;
        case QoS::UserInitiated:
            return 25;
        case QoS::UserInteractive:
            return 33;
        case QoS::Unspecified:
            break;
    }
    return 0;
}

DispatchQueue::DispatchQueue(Kind kind, std::string label, QoS qos)
    : kind_(kind), label_(std::move(label)), qos_(qos), impl_(std::make_unique<Impl>()) {}

DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::serial(std::string label, QoS qos) {
    return DispatchInternals::make(Kind::Serial, std::move(label), qos);
}

std::shared_ptr<DispatchQueue> DispatchQueue::concurrent(std::string label, QoS qos) {
    return DispatchInternals::make(Kind::Concurrent, std::move(label), qos);
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    return SharedInstance<std::shared_ptr<DispatchQueue>, MainState>::get([] {
        return new std::shared_ptr<DispatchQueue>(
            DispatchInternals::make(Kind::Main, kMainQueueLabel, QoS::UserInteractive));
    });
}

// The platform's root-queue labels, so log formatters recognise a global queue by its label.
std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos) {
    using GlobalQueues = std::array<std::shared_ptr<DispatchQueue>, 6>;
    auto& queues = SharedInstance<GlobalQueues>::get([] {
        return new GlobalQueues{
            DispatchInternals::make(Kind::Global, "com.apple.root.default-priority", QoS::Unspecified),
            DispatchInternals::make(Kind::Global, "com.apple.root.low-priority", QoS::Background),
            DispatchInternals::make(Kind::Global, "com.apple.root.low-priority", QoS::Utility),
            DispatchInternals::make(Kind::Global, "com.apple.root.default-priority", QoS::Default),
            DispatchInternals::make(Kind::Global, "com.apple.root.high-priority", QoS::UserInitiated),
            DispatchInternals::make(Kind::Global, "com.apple.root.high-priority", QoS::UserInteractive),
        };
    });
    const auto index = static_cast<size_t>(qos);
    return queues[index < queues.size() ? index : 3];
}

void DispatchQueue::async(Block block) {
    switch (kind_) {
        case Kind::Serial: {
            // Fails here, where the caller can see it, rather than later on a worker.
            if (!block) throw std::bad_function_call();
            std::lock_guard lock(impl_->mutex);
            impl_->pending.push_back(SerialItem{std::move(block)});
            if (!impl_->running) {
                impl_->running = true;
                submitDrain(shared_from_this());
            }
            return;
        }
        case Kind::Concurrent:
            if (tryEnterReader(*this)) {
                startReader(*this, std::move(block));
            } else {
                enqueueConcurrent(shared_from_this(), Item{std::move(block)});
            }
            return;
        case Kind::Main:
            MainState::shared().push(std::move(block));
            return;
        case Kind::Global:
            submitGlobal(this, std::move(block));
            return;
    }
}

void DispatchQueue::async(DispatchGroup& group, Block block) {
    group.enter();
    // Pool jobs carry the group themselves: no wrapping closure to allocate for every block.
    if (kind_ == Kind::Global) {
        submitGlobal(this, std::move(block), group.state());
        return;
    }
    if (kind_ == Kind::Concurrent && tryEnterReader(*this)) {
        startReader(*this, std::move(block), group.state());
        return;
    }
    async([state = group.state(), block = std::move(block)] {
        block();
        DispatchGroup::leaveState(*state);
    });
}

void DispatchQueue::sync(const Block& block) {
    const int held = heldBySelf(this);
    switch (kind_) {
        case Kind::Serial: {
            if (held != 0) fatal("sync onto the queue this thread is already running would deadlock", label_);
            auto self = shared_from_this();
            SyncWaiter waiter;
            bool wait = false;
            {
                std::lock_guard lock(impl_->mutex);
                if (!impl_->running) {
                    impl_->running = true;
                    if (!impl_->pending.empty()) {  // cannot normally happen: queued work keeps `running`
                        impl_->pending.push_back(SerialItem{nullptr, &waiter});
                        submitDrain(self);
                        wait = true;
                    }
                } else {
                    impl_->pending.push_back(SerialItem{nullptr, &waiter});
                    wait = true;
                }
            }
            if (wait) waiter.acquire();
            ScopeExit release{[&] { releaseSerial(self); }};
            FrameScope frame(this, true);
            block();
            return;
        }
        case Kind::Concurrent: {
            if (held == 2) fatal("sync onto the queue this thread is already running would deadlock", label_);
            auto self = shared_from_this();
            SyncWaiter waiter;
            if (held == 1) {
                // A thread already reading on this queue reads again at once: a barrier queued
                // meanwhile waits for it anyway, and waiting behind that barrier would deadlock.
                impl_->entered.fetch_add(1, std::memory_order_seq_cst);
            } else if (!tryEnterReader(*this)) {
                enqueueConcurrent(self, Item{nullptr, &waiter, false});
                waiter.acquire();
            }
            ScopeExit release{[&] { finishConcurrent(self, false); }};
            FrameScope frame(this, false);
            block();
            return;
        }
        case Kind::Main: {
            if (isMainThread()) fatal("sync onto the main queue from the main thread would deadlock", label_);
            struct Completion {
                SyncWaiter done;
                std::exception_ptr error;
            };
            auto completion = std::make_shared<Completion>();
            MainState::shared().push([completion, &block] {
                try {
                    block();
                } catch (...) {
                    completion->error = std::current_exception();
                }
                completion->done.release();
            });
            completion->done.acquire();
            if (completion->error) std::rethrow_exception(completion->error);
            return;
        }
        case Kind::Global: {
            FrameScope frame(this, false);
            block();
            return;
        }
    }
}

void DispatchQueue::asyncBarrier(Block block) {
    if (kind_ != Kind::Concurrent) {
        async(std::move(block));  // serial queues order everything anyway; global queues have no barriers
        return;
    }
    enqueueConcurrent(shared_from_this(), Item{std::move(block), nullptr, true});
}

void DispatchQueue::syncBarrier(const Block& block) {
    if (kind_ != Kind::Concurrent) {
        sync(block);
        return;
    }
    if (heldBySelf(this) != 0)
        fatal("barrier sync onto the queue this thread is already running would deadlock", label_);
    auto self = shared_from_this();
    SyncWaiter waiter;
    enqueueConcurrent(self, Item{nullptr, &waiter, true});  // starts at once on an idle queue
    waiter.acquire();
    ScopeExit release{[&] { finishConcurrent(self, true); }};
    FrameScope frame(this, true);
    block();
}

void DispatchQueue::asyncAfter(double delaySeconds, Block block) {
    const double delay = detail::sanitizeDelay(delaySeconds);
    auto clock = Clock::current();
    if (kind_ == Kind::Main && dynamic_cast<VirtualClock*>(clock.get()) == nullptr) {
        if (auto executor = MainState::shared().currentExecutor()) {
            auto fire = [block] {
                FrameScope frame(DispatchQueue::main().get(), true);
                block();
            };
            if (executor->scheduleAfter(delay, std::move(fire))) return;
        }
    }
    detail::scheduleAt(clock, clock->monotonicSeconds() + delay, shared_from_this(), std::move(block));
}

void DispatchQueue::setSpecific(const void* key, std::shared_ptr<void> value) {
    std::lock_guard lock(impl_->specificsMutex);
    auto& list = impl_->specifics;
    auto it = std::find_if(list.begin(), list.end(), [key](const auto& entry) { return entry.first == key; });
    if (it != list.end()) {
        if (value) {
            it->second = std::move(value);
        } else {
            list.erase(it);
        }
    } else if (value) {
        list.emplace_back(key, std::move(value));
    }
}

std::shared_ptr<void> DispatchQueue::getSpecific(const void* key) {
    DispatchQueue* queue = current();
    if (queue == nullptr) return nullptr;
    std::lock_guard lock(queue->impl_->specificsMutex);
    for (const auto& entry : queue->impl_->specifics) {
        if (entry.first == key) return entry.second;
    }
    return nullptr;
}

DispatchQueue* DispatchQueue::current() {
    if (detail::tlsTop != nullptr) return detail::tlsTop->queue;
    // The main thread belongs to the main queue even between blocks, as on the platform.
    if (isMainThread()) {
        // The main queue is never destroyed; taking a counted copy on every
        // call (the log calls ask each time) would cost two atomic operations.
        static DispatchQueue* const mainQueue = main().get();
        return mainQueue;
    }
    return nullptr;
}

std::string DispatchQueue::currentLabel() {
    DispatchQueue* queue = current();
    return queue != nullptr ? queue->label_ : std::string();
}

QoS DispatchQueue::currentQoS() {
    DispatchQueue* queue = current();
    return queue != nullptr ? queue->qos_ : QoS::Unspecified;
}

}  // namespace platform
