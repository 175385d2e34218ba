// Dispatch queue hop latency and throughput against the floor: a plain mutex + condition-variable
// queue with one worker thread, measured in the same run. Each dispatch benchmark reports
// "x_floor", its time per operation divided by the floor's (1.0 = as fast as the floor).

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchQueue.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// The floor: one worker thread draining a mutex-protected deque.
class PlainQueue {
  public:
    PlainQueue() : worker_([this] { run(); }) {}
    ~PlainQueue() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        ready_.notify_one();
        worker_.join();
    }
    void async(std::function<void()> block) {
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(block));
        }
        ready_.notify_one();
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return stop_ || !items_.empty(); });
            if (items_.empty()) return;
            auto block = std::move(items_.front());
            items_.pop_front();
            lock.unlock();
            block();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> items_;
    bool stop_ = false;
    std::thread worker_;
};

// Hand-back from the queue to the benchmark thread (a mutex and condition variable, like the floor).
class Signal {
  public:
    void release() {
        std::lock_guard lock(mutex_);
        set_ = true;
        changed_.notify_one();
    }
    void acquire() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return set_; });
        set_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool set_ = false;
};

double floorHopNs = 0;
double floorThroughputNs = 0;

constexpr int kBatch = 10000;

template <class Q>
double hop(benchmark::State& state, Q& queue) {
    Signal back;
    const auto start = Clock::now();
    for (auto _ : state) {
        queue.async([&] { back.release(); });
        back.acquire();
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
           static_cast<double>(state.iterations());
}

template <class Q>
double throughput(benchmark::State& state, Q& queue) {
    Signal done;
    long sink = 0;
    const auto start = Clock::now();
    for (auto _ : state) {
        for (int i = 0; i < kBatch - 1; ++i) queue.async([&sink] { ++sink; });
        queue.async([&] {
            ++sink;
            done.release();
        });
        done.acquire();
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(state.iterations() * kBatch);
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
           static_cast<double>(state.iterations() * kBatch);
}

struct DispatchAdapter {
    std::shared_ptr<platform::DispatchQueue> queue;
    void async(std::function<void()> block) { queue->async(std::move(block)); }
};

void BM_Floor_HopLatency(benchmark::State& state) {
    PlainQueue queue;
    floorHopNs = hop(state, queue);
}
BENCHMARK(BM_Floor_HopLatency)->UseRealTime();

void BM_Dispatch_HopLatency(benchmark::State& state) {
    DispatchAdapter queue{platform::DispatchQueue::serial("bench.hop")};
    const double ns = hop(state, queue);
    if (floorHopNs > 0) state.counters["x_floor"] = ns / floorHopNs;
}
BENCHMARK(BM_Dispatch_HopLatency)->UseRealTime();

// A hop between two serial queues and back, as work handed from one subsystem queue to another.
void BM_Dispatch_PingPongBetweenQueues(benchmark::State& state) {
    auto a = platform::DispatchQueue::serial("bench.ping");
    auto b = platform::DispatchQueue::serial("bench.pong");
    Signal back;
    for (auto _ : state) {
        a->async([&] { b->async([&] { back.release(); }); });
        back.acquire();
    }
}
BENCHMARK(BM_Dispatch_PingPongBetweenQueues)->UseRealTime();

void BM_Floor_Throughput(benchmark::State& state) {
    PlainQueue queue;
    floorThroughputNs = throughput(state, queue);
}
BENCHMARK(BM_Floor_Throughput)->UseRealTime();

void BM_Dispatch_SerialThroughput(benchmark::State& state) {
    DispatchAdapter queue{platform::DispatchQueue::serial("bench.throughput")};
    const double ns = throughput(state, queue);
    if (floorThroughputNs > 0) state.counters["x_floor"] = ns / floorThroughputNs;
}
BENCHMARK(BM_Dispatch_SerialThroughput)->UseRealTime();

void BM_Dispatch_SyncOnIdleQueue(benchmark::State& state) {
    auto queue = platform::DispatchQueue::serial("bench.sync");
    long n = 0;
    for (auto _ : state) queue->sync([&] { ++n; });
    benchmark::DoNotOptimize(n);
}
BENCHMARK(BM_Dispatch_SyncOnIdleQueue);

}  // namespace
