// Dispatch queue hop latency and throughput against the floor: a plain mutex + condition-variable
// queue with one worker thread, measured in the same run. Each dispatch benchmark reports
// "x_floor", its time per operation divided by the floor's (1.0 = as fast as the floor).
//
// The worker pools behind the queues are measured on 1,000,000 empty blocks against a reference
// pool built here: one mutex and condition variable, a worker per processor, one worker woken per
// empty-to-non-empty transition, each worker taking up to 64 blocks at a time. Those benchmarks
// report "x_pool", their time divided by the reference pool's in the same run.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchGroup.hpp"
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

// The reference pool: a worker per processor around one mutex-protected deque.
class ReferencePool {
  public:
    ReferencePool() {
        const unsigned count = std::max(2U, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < count; ++i) workers_.emplace_back([this] { run(); });
    }
    ~ReferencePool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        ready_.notify_all();
        for (auto& worker : workers_) worker.join();
    }
    void async(std::function<void()> block) {
        bool wasEmpty = false;
        {
            std::lock_guard lock(mutex_);
            wasEmpty = items_.empty();
            items_.push_back(std::move(block));
        }
        if (wasEmpty) ready_.notify_one();
    }

  private:
    void run() {
        std::vector<std::function<void()>> batch;
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [this] { return stop_ || !items_.empty(); });
            if (items_.empty()) return;
            while (!items_.empty() && batch.size() < 64) {
                batch.push_back(std::move(items_.front()));
                items_.pop_front();
            }
            lock.unlock();
            for (auto& block : batch) block();
            batch.clear();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> items_;
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

constexpr int kPoolBlocks = 1'000'000;

// Counts finished blocks; the last one hands back to the benchmark thread.
struct Countdown {
    std::atomic<int> left{kPoolBlocks};
    Signal done;
    void finishOne() {
        if (left.fetch_sub(1, std::memory_order_acq_rel) == 1) done.release();
    }
};

// Submits kPoolBlocks empty blocks and waits for all of them; ns per block.
template <class Submit>
double floodPool(benchmark::State& state, Submit submit) {
    double total = 0;
    for (auto _ : state) {
        Countdown countdown;
        const auto start = Clock::now();
        for (int i = 0; i < kPoolBlocks; ++i) submit([&countdown] { countdown.finishOne(); });
        countdown.done.acquire();
        total += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    }
    state.SetItemsProcessed(state.iterations() * kPoolBlocks);
    return total / static_cast<double>(state.iterations() * kPoolBlocks);
}

double referencePoolNs = 0;

void reportAgainst(benchmark::State& state, double ns, double reference) {
    if (reference > 0) state.counters["x_pool"] = ns / reference;
}

void BM_ReferencePool_Async(benchmark::State& state) {
    ReferencePool pool;
    referencePoolNs = floodPool(state, [&](std::function<void()> block) { pool.async(std::move(block)); });
}
BENCHMARK(BM_ReferencePool_Async)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Floods `queue` and reports its time against the reference pool's.
void floodQueue(benchmark::State& state, const std::shared_ptr<platform::DispatchQueue>& queue) {
    reportAgainst(state,
                  floodPool(state, [&](std::function<void()> block) { queue->async(std::move(block)); }),
                  referencePoolNs);
}

void BM_Pool_GlobalAsync(benchmark::State& state) {
    floodQueue(state, platform::DispatchQueue::global());
}
BENCHMARK(BM_Pool_GlobalAsync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Pool_ConcurrentAsync(benchmark::State& state) {
    floodQueue(state, platform::DispatchQueue::concurrent("bench.pool"));
}
BENCHMARK(BM_Pool_ConcurrentAsync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Pool_SerialAsync(benchmark::State& state) {
    floodQueue(state, platform::DispatchQueue::serial("bench.pool-serial"));
}
BENCHMARK(BM_Pool_SerialAsync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Into a group plus a wait for it, against the reference pool above (which counts its blocks down
// with one atomic, as a group must).
void BM_Pool_ConcurrentGroupWait(benchmark::State& state) {
    auto queue = platform::DispatchQueue::concurrent("bench.pool-group");
    double total = 0;
    for (auto _ : state) {
        platform::DispatchGroup group;
        const auto start = Clock::now();
        for (int i = 0; i < kPoolBlocks; ++i) queue->async(group, [] {});
        group.wait();
        total += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    }
    state.SetItemsProcessed(state.iterations() * kPoolBlocks);
    reportAgainst(state, total / static_cast<double>(state.iterations() * kPoolBlocks), referencePoolNs);
}
BENCHMARK(BM_Pool_ConcurrentGroupWait)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The runs above measure the reference once and each queue after it, so a burst of load on this
// shared machine lands on one side only. Here each of our rounds is paired with a reference round
// right before or after it, and each ratio is the median over the rounds of ours / reference.
void BM_Pool_Paired(benchmark::State& state) {
    constexpr int kRounds = 9;
    ReferencePool pool;
    auto global = platform::DispatchQueue::global();
    auto concurrent = platform::DispatchQueue::concurrent("bench.pool-paired");
    auto serial = platform::DispatchQueue::serial("bench.pool-paired-serial");
    const auto timed = [](auto&& body) {
        const auto start = Clock::now();
        body();
        return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    };
    const auto flood = [&](auto&& submit) {
        return timed([&] {
            Countdown countdown;
            for (int i = 0; i < kPoolBlocks; ++i) submit([&countdown] { countdown.finishOne(); });
            countdown.done.acquire();
        });
    };
    const auto onQueue = [&](const std::shared_ptr<platform::DispatchQueue>& queue) {
        return flood([&](std::function<void()> block) { queue->async(std::move(block)); });
    };
    const auto groupWait = [&] {
        return timed([&] {
            platform::DispatchGroup group;
            for (int i = 0; i < kPoolBlocks; ++i) concurrent->async(group, [] {});
            group.wait();
        });
    };
    const auto reference = [&] {
        return flood([&](std::function<void()> block) { pool.async(std::move(block)); });
    };
    const std::function<double()> sides[] = {
        [&] { return onQueue(global); },
        [&] { return onQueue(concurrent); },
        [&] { return onQueue(serial); },
        groupWait,
    };
    std::vector<double> ratios[std::size(sides)];
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            for (size_t side = 0; side < std::size(sides); ++side) {
                // Which side goes first alternates, so a trend within a pair cancels out.
                double ours = 0;
                double theirs = 0;
                if (round % 2 == 0) {
                    theirs = reference();
                    ours = sides[side]();
                } else {
                    ours = sides[side]();
                    theirs = reference();
                }
                ratios[side].push_back(ours / theirs);
            }
        }
    }
    const auto median = [](std::vector<double> values) {
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    state.counters["x_global"] = median(ratios[0]);
    state.counters["x_concurrent"] = median(ratios[1]);
    state.counters["x_serial"] = median(ratios[2]);
    state.counters["x_group"] = median(ratios[3]);
}
BENCHMARK(BM_Pool_Paired)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_Dispatch_SyncOnIdleQueue(benchmark::State& state) {
    auto queue = platform::DispatchQueue::serial("bench.sync");
    long n = 0;
    for (auto _ : state) queue->sync([&] { ++n; });
    benchmark::DoNotOptimize(n);
}
BENCHMARK(BM_Dispatch_SyncOnIdleQueue);

}  // namespace
