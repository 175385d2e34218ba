#include "platform/dispatch/detail/WorkerPool.hpp"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dispatch/SharedInstance.hpp"

namespace platform::detail {

namespace {

using SteadyClock = std::chrono::steady_clock;

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

}  // namespace

void submitToLabelledPool(std::function<void()> task) {
    WorkerPool::labelled().submit(std::move(task));
}

void submitToGlobalPool(std::function<void()> task) {
    WorkerPool::global().submit(std::move(task));
}

}  // namespace platform::detail
