#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/ThreadName.hpp"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/VirtualClock.hpp"
#include "platform/dispatch/detail/DispatchInternal.hpp"

namespace platform {

namespace {

using Block = DispatchQueue::Block;
using SteadyClock = std::chrono::steady_clock;

[[noreturn]] void fatal(const char* message, const std::string& label) {
    std::fprintf(stderr, "platform::DispatchQueue: %s (queue \"%s\")\n", message, label.c_str());
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------------------------------------
// Which queues the calling thread is running. A frame is pushed for every block a thread runs on
// behalf of a queue (worker blocks, inline sync blocks, main-queue blocks); the innermost one is the
// current queue, and every frame on the stack is a queue the thread holds.

struct Frame {
    DispatchQueue* queue;
    bool exclusive;  // serial, main or barrier: nobody else may run on the queue meanwhile
    Frame* previous;
};

thread_local Frame* tlsTop = nullptr;

class FrameScope {
  public:
    FrameScope(DispatchQueue* queue, bool exclusive) : frame_{queue, exclusive, tlsTop} { tlsTop = &frame_; }
    ~FrameScope() { tlsTop = frame_.previous; }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

  private:
    Frame frame_;
};

// 0: not held; 1: held shared (concurrent reader); 2: held exclusively.
int heldBySelf(const DispatchQueue* queue) {
    int held = 0;
    for (Frame* f = tlsTop; f != nullptr; f = f->previous) {
        if (f->queue == queue) held = std::max(held, f->exclusive ? 2 : 1);
    }
    return held;
}

// Workers of labelled queues carry the label of the queue they serve (cut to the 15 characters Linux
// keeps), so tools and log lines show it. Global-queue workers have a pool of their own and carry no
// name, like the platform's own workers; they are never renamed, so a cached thread name stays true.
thread_local uint64_t tlsRenameCount = 0;

void nameThread(const DispatchQueue& queue) {
    if (queue.kind() == DispatchQueue::Kind::Global) return;
    thread_local std::string current;
    std::string wanted = queue.label().substr(0, 15);
    if (wanted == current) return;
    current = std::move(wanted);
    pthread_setname_np(pthread_self(), current.c_str());
    ++tlsRenameCount;
}

// ---------------------------------------------------------------------------------------------
// Two elastic pools of worker threads: one serves the labelled (serial and concurrent) queues, one
// the global queues. Each keeps about one busy thread per
// processor; when queued work makes no progress for a while (every worker blocked in a wait), a
// monitor adds a thread, up to a hard cap, so blocking blocks cannot starve the pool. Idle workers
// exit after a few seconds, so idle queues cost no thread.

class WorkerPool {
  public:
    // Never destroyed: workers may outlive main().
    static WorkerPool& labelled() {
        return SharedInstance<WorkerPool, struct LabelledPool>::get([] { return new WorkerPool(true); });
    }
    static WorkerPool& global() {
        return SharedInstance<WorkerPool, struct GlobalPool>::get([] { return new WorkerPool(false); });
    }

    void submit(std::function<void()> task) {
        std::unique_lock lock(mutex_);
        if (!idle_.empty()) {
            // Hand the task straight to the most recently idled worker: it is the likeliest to be
            // still awake and cache-warm, and it need not take the pool lock again to find it.
            std::shared_ptr<Worker> worker = idle_.back();  // kept alive until notified
            idle_.pop_back();
            worker->task = std::move(task);
            worker->woken = true;
            lock.unlock();  // the worker wakes to a free lock
            worker->wake.notify_one();
            return;
        }
        tasks_.push_back(std::move(task));
        if (threads_ < softLimit_) {
            spawnLocked();
            return;
        }
        if (!monitorStarted_) {
            monitorStarted_ = true;
            std::thread([this] { monitorLoop(); }).detach();
        }
        monitor_.notify_one();
    }

  private:
    // Idle workers wait on the pool mutex, so a hand-over and a retirement can never cross.
    struct Worker {
        std::condition_variable wake;
        bool woken = false;          // guarded by the pool mutex
        std::function<void()> task;  // handed over by submit() while the worker is idle
    };

    explicit WorkerPool(bool labelled)
        : labelled_(labelled),
          softLimit_(std::max(2, static_cast<int>(std::thread::hardware_concurrency()))) {}

    void spawnLocked() {
        ++threads_;
        std::thread([this] {
            // A new thread inherits its creator's name; global workers start (and stay) unnamed.
            if (!labelled_) pthread_setname_np(pthread_self(), "");
            workerLoop();
        }).detach();
    }

    void workerLoop() {
        auto worker = std::make_shared<Worker>();
        Worker& self = *worker;
        std::unique_lock lock(mutex_);
        for (;;) {
            std::function<void()> task;
            if (!tasks_.empty()) {
                task = std::move(tasks_.front());
                tasks_.pop_front();
                lastProgress_ = SteadyClock::now();
                lock.unlock();
            } else {
                idle_.push_back(worker);
                if (!self.wake.wait_for(lock, kIdleExit, [&] { return self.woken; })) {
                    // Nobody picked this worker: it retires.
                    idle_.erase(std::find(idle_.begin(), idle_.end(), worker));
                    --threads_;
                    return;
                }
                self.woken = false;
                task = std::move(self.task);
                self.task = nullptr;
                lock.unlock();
            }
            task();
            task = nullptr;  // captured queues are released outside the pool lock
            lock.lock();
        }
    }

    void monitorLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            monitor_.wait(lock, [this] { return !tasks_.empty(); });
            monitor_.wait_for(lock, kStallCheck);
            if (!tasks_.empty() && threads_ < kHardLimit &&
                SteadyClock::now() - lastProgress_ >= kStallCheck) {
                spawnLocked();
            }
        }
    }

    static constexpr auto kIdleExit = std::chrono::seconds(5);
    static constexpr auto kStallCheck = std::chrono::milliseconds(20);
    static constexpr int kHardLimit = 512;

    const bool labelled_;
    std::mutex mutex_;
    std::condition_variable monitor_;
    std::deque<std::function<void()>> tasks_;    // only while no worker is idle
    std::vector<std::shared_ptr<Worker>> idle_;  // a stack: the last to idle is woken first
    const int softLimit_;
    int threads_ = 0;
    bool monitorStarted_ = false;
    SteadyClock::time_point lastProgress_ = SteadyClock::now();
};

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

// Main-queue state; the queue object itself is created lazily by DispatchQueue::main().
struct MainState {
    std::mutex mutex;
    std::condition_variable changed;  // items arrived or a waited-for item finished
    std::deque<Block> items;
    std::mutex executorMutex;
    std::shared_ptr<MainQueueExecutor> executor;

    static MainState& shared() { return SharedInstance<MainState>::get(); }
    std::shared_ptr<MainQueueExecutor> currentExecutor() {
        std::lock_guard lock(executorMutex);
        return executor;
    }
    void push(Block block) {
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
        Block block;
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

pid_t currentTid() {
    thread_local const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
    return tid;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct DispatchQueue::Impl {
    std::mutex mutex;
    std::deque<Item> items;
    bool running = false;         // serial: a drainer or a sync caller holds the queue
    int readers = 0;              // concurrent: plain blocks running
    bool barrierRunning = false;  // concurrent: a barrier block running

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
    WorkerPool::labelled().submit([queue = std::move(queue)] { drainSerial(queue); });
}

// Runs the queued blocks of a serial queue on a worker until the queue is empty or a sync caller is
// reached (the caller then takes the queue over).
void drainSerial(const std::shared_ptr<DispatchQueue>& queue) {
    auto& impl = DispatchInternals::impl(*queue);
    nameThread(*queue);
    FrameScope frame(queue.get(), true);
    std::deque<Item> batch;
    for (int round = 0;; ++round) {
        {
            std::lock_guard lock(impl.mutex);
            if (impl.items.empty()) {
                impl.running = false;
                return;
            }
            if (round == 64) {  // let other queues' work through the pool now and then
                submitDrain(queue);
                return;
            }
            batch.swap(impl.items);
        }
        while (!batch.empty()) {
            Item item = std::move(batch.front());
            batch.pop_front();
            if (item.waiter != nullptr) {
                {
                    std::lock_guard lock(impl.mutex);
                    impl.items.insert(impl.items.begin(), std::make_move_iterator(batch.begin()),
                                      std::make_move_iterator(batch.end()));
                }
                item.waiter->release();  // the queue now belongs to the sync caller
                return;
            }
            item.block();
        }
    }
}

// A sync caller gives the serial queue back.
void releaseSerial(const std::shared_ptr<DispatchQueue>& queue) {
    auto& impl = DispatchInternals::impl(*queue);
    std::lock_guard lock(impl.mutex);
    if (impl.items.empty()) {
        impl.running = false;
    } else {
        submitDrain(queue);
    }
}

void finishConcurrent(const std::shared_ptr<DispatchQueue>& queue, bool exclusive);

// Starts what may start on a concurrent queue: plain blocks up to the first barrier, or the barrier
// once the blocks before it have finished. Called with the queue's mutex held.
void pumpConcurrentLocked(const std::shared_ptr<DispatchQueue>& queue) {
    auto& impl = DispatchInternals::impl(*queue);
    while (!impl.items.empty() && !impl.barrierRunning) {
        if (impl.items.front().barrier && impl.readers > 0) break;
        Item item = std::move(impl.items.front());
        impl.items.pop_front();
        const bool exclusive = item.barrier;
        if (exclusive) {
            impl.barrierRunning = true;
        } else {
            ++impl.readers;
        }
        if (item.waiter != nullptr) {
            item.waiter->release();
        } else {
            WorkerPool::labelled().submit([queue, exclusive, block = std::move(item.block)] {
                nameThread(*queue);
                {
                    FrameScope frame(queue.get(), exclusive);
                    block();
                }
                finishConcurrent(queue, exclusive);
            });
        }
        if (exclusive) break;
    }
}

void finishConcurrent(const std::shared_ptr<DispatchQueue>& queue, bool exclusive) {
    auto& impl = DispatchInternals::impl(*queue);
    std::lock_guard lock(impl.mutex);
    if (exclusive) {
        impl.barrierRunning = false;
    } else {
        --impl.readers;
    }
    pumpConcurrentLocked(queue);
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
    static auto& queue = *new std::shared_ptr<DispatchQueue>(
        DispatchInternals::make(Kind::Main, kMainQueueLabel, QoS::UserInteractive));
    return queue;
}

// The platform's root-queue labels, so log formatters recognise a global queue by its label.
std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos) {
    static auto& queues = *new std::array<std::shared_ptr<DispatchQueue>, 6>{
        DispatchInternals::make(Kind::Global, "com.apple.root.default-priority", QoS::Unspecified),
        DispatchInternals::make(Kind::Global, "com.apple.root.low-priority", QoS::Background),
        DispatchInternals::make(Kind::Global, "com.apple.root.low-priority", QoS::Utility),
        DispatchInternals::make(Kind::Global, "com.apple.root.default-priority", QoS::Default),
        DispatchInternals::make(Kind::Global, "com.apple.root.high-priority", QoS::UserInitiated),
        DispatchInternals::make(Kind::Global, "com.apple.root.high-priority", QoS::UserInteractive),
    };
    const auto index = static_cast<size_t>(qos);
    return queues[index < queues.size() ? index : 3];
}

void DispatchQueue::async(Block block) {
    switch (kind_) {
        case Kind::Serial: {
            std::lock_guard lock(impl_->mutex);
            impl_->items.push_back(Item{std::move(block)});
            if (!impl_->running) {
                impl_->running = true;
                submitDrain(shared_from_this());
            }
            return;
        }
        case Kind::Concurrent: {
            std::lock_guard lock(impl_->mutex);
            impl_->items.push_back(Item{std::move(block)});
            pumpConcurrentLocked(shared_from_this());
            return;
        }
        case Kind::Main:
            MainState::shared().push(std::move(block));
            return;
        case Kind::Global:
            WorkerPool::global().submit([queue = shared_from_this(), block = std::move(block)] {
                nameThread(*queue);
                FrameScope frame(queue.get(), false);
                block();
            });
            return;
    }
}

void DispatchQueue::async(DispatchGroup& group, Block block) {
    group.enter();
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
                    if (!impl_->items.empty()) {  // cannot normally happen: queued work keeps `running`
                        impl_->items.push_back(Item{nullptr, &waiter});
                        submitDrain(self);
                        wait = true;
                    }
                } else {
                    impl_->items.push_back(Item{nullptr, &waiter});
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
            bool wait = false;
            {
                std::lock_guard lock(impl_->mutex);
                // A thread already reading on this queue reads again at once: a barrier queued
                // meanwhile waits for it anyway, and waiting behind that barrier would deadlock.
                if (held == 1 || (impl_->items.empty() && !impl_->barrierRunning)) {
                    ++impl_->readers;
                } else {
                    impl_->items.push_back(Item{nullptr, &waiter, false});
                    pumpConcurrentLocked(self);
                    wait = true;
                }
            }
            if (wait) waiter.acquire();
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
    std::lock_guard lock(impl_->mutex);
    impl_->items.push_back(Item{std::move(block), nullptr, true});
    pumpConcurrentLocked(shared_from_this());
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
    bool wait = false;
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->items.empty() && !impl_->barrierRunning && impl_->readers == 0) {
            impl_->barrierRunning = true;
        } else {
            impl_->items.push_back(Item{nullptr, &waiter, true});
            pumpConcurrentLocked(self);
            wait = true;
        }
    }
    if (wait) waiter.acquire();
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
    if (tlsTop != nullptr) return tlsTop->queue;
    // The main thread belongs to the main queue even between blocks, as on the platform.
    if (isMainThread()) return main().get();
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

// ---------------------------------------------------------------------------------------------
// Main queue and run loop.

bool isMainThread() {
    // getpid() is a system call on every invocation; the answer never changes
    // for a thread, and this test sits on the logging hot path.
    thread_local const bool onMainThread = currentTid() == ::getpid();
    return onMainThread;
}

void setMainQueueExecutor(std::shared_ptr<MainQueueExecutor> executor) {
    auto& state = MainState::shared();
    {
        std::lock_guard lock(state.executorMutex);
        state.executor = std::move(executor);
    }
    if (!state.empty()) {
        if (auto e = state.currentExecutor()) e->wakeUp();
    }
}

int drainMainQueue() {
    if (!isMainThread()) fatal("the main queue can only be drained on the main thread", kMainQueueLabel);
    auto& state = MainState::shared();
    size_t budget;
    {
        std::lock_guard lock(state.mutex);
        budget = state.items.size();
    }
    int ran = 0;
    while (budget-- > 0 && state.runOne()) ++ran;
    if (!state.empty()) {
        if (auto e = state.currentExecutor()) e->wakeUp();
    }
    return ran;
}

namespace RunLoop {

bool runUntil(std::function<bool()> condition, double timeoutSeconds) {
    if (!isMainThread())
        fatal("RunLoop::runUntil runs the main queue and must be called on the main thread", kMainQueueLabel);
    auto& state = MainState::shared();
    const double timeout = std::isnan(timeoutSeconds) ? 0.0 : std::clamp(timeoutSeconds, 0.0, 1e6);
    const auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                                   std::chrono::duration<double>(timeout));
    for (;;) {
        if (condition()) return true;
        if (state.runOne()) continue;
        const auto now = SteadyClock::now();
        if (now >= deadline) return condition();
        // The condition may also turn true through other threads without any main-queue work, so
        // look at it again at least every few milliseconds.
        std::unique_lock lock(state.mutex);
        state.changed.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(2)),
                                 [&] { return !state.items.empty(); });
    }
}

void runUntilIdle() {
    if (!isMainThread()) fatal("RunLoop::runUntilIdle must be called on the main thread", kMainQueueLabel);
    auto& state = MainState::shared();
    while (state.runOne()) {
    }
}

}  // namespace RunLoop

// ---------------------------------------------------------------------------------------------
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
        heap_.push_back(Pending{std::move(clock), std::move(entry)});
        std::push_heap(heap_.begin(), heap_.end(), later);
        changed_.notify_one();
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

uint64_t threadRenameCount() noexcept {
    return tlsRenameCount;
}

}  // namespace platform
