// Time to write a live crash report of a 16-thread process (every thread
// parked, its stack walked and symbolicated, the images listed), against
// the plain floor of the same work's unwinding: glibc's backtrace() of the
// calling thread repeated 16 times.
#include <benchmark/benchmark.h>
#include <execinfo.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crash/QCrashReporter.hpp"

namespace {

using tervolo::crash::QCrashReporter;
using tervolo::crash::QCrashReporterConfig;

__attribute__((noinline)) void parkedLevel(int depth, std::atomic<bool>* stop, std::atomic<int>* ready) {
    if (depth > 0) {
        parkedLevel(depth - 1, stop, ready);
        asm volatile("" ::: "memory");
        return;
    }
    ready->fetch_add(1);
    while (!stop->load()) std::this_thread::yield();
}

class SixteenThreads {
  public:
    SixteenThreads() {
        for (int i = 0; i < 15; ++i) threads_.emplace_back([this] { parkedLevel(20, &stop_, &ready_); });
        while (ready_.load() < 15) std::this_thread::yield();
    }
    ~SixteenThreads() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<int> ready_{0};
    std::vector<std::thread> threads_;
};

void BM_LiveReport16Threads(benchmark::State& state) {
    const SixteenThreads threads;
    QCrashReporter reporter("bench", "1", std::nullopt,
                            QCrashReporterConfig(0, static_cast<uint64_t>(state.range(0)), false, "/tmp"));
    size_t bytes = 0;
    for (auto _ : state) {
        auto report = reporter.generateLiveReport();
        bytes = report ? report->size() : 0;
        benchmark::DoNotOptimize(report);
    }
    state.counters["report_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LiveReport16Threads)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Backtrace16(benchmark::State& state) {
    const SixteenThreads threads;
    void* frames[512];
    for (auto _ : state) {
        for (int i = 0; i < 16; ++i) benchmark::DoNotOptimize(backtrace(frames, 512));
    }
}
BENCHMARK(BM_Backtrace16)->Unit(benchmark::kMillisecond);

}  // namespace
