// Cost of a log call on the caller's thread and drain throughput of the
// registry, each next to spdlog's asynchronous logger doing the same work in
// the same run: the caller formats "QuovaMapPointStore: loaded {} points." and
// hands the record over; a null logger / null sink only counts it.
//
// Counters: "allocs" = heap allocations per call on the calling thread;
// "p50_ns" / "p999_ns" = per-call latency percentiles; "ratio" lines are
// printed at exit (ours / spdlog).

#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/base_sink.h>

#include <malloc.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "logging/QLAbstractLogger.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/dispatch/ProcessorCount.hpp"

// MARK: - Allocation counting (calling thread only)

// The replacement operators below pair malloc with free; GCC sees operator new
// inlined into call sites of operator delete and warns about a mismatch that
// is not there.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local uint64_t tAllocations = 0;
}

void* operator new(std::size_t size) {
    ++tAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace tervolo::logging;

// MARK: - The two null loggers

class NullLogger : public QLAbstractLogger {
  public:
    NullLogger() : QLAbstractLogger("bench.nullLogger") {}
    void logMessage(const QLLogMessagePtr&) override { count.fetch_add(1, std::memory_order_relaxed); }
    std::atomic<uint64_t> count{0};
};

class CountingSink : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
  public:
    std::atomic<uint64_t> count{0};
    std::atomic<bool> hold{false};

  protected:
    void sink_it_(const spdlog::details::log_msg&) override {
        while (hold.load(std::memory_order_acquire)) {
        }
        count.fetch_add(1, std::memory_order_relaxed);
    }
    void flush_() override {}
};

constexpr size_t kSpdlogQueue = 1 << 18;

struct Spdlog {
    std::shared_ptr<CountingSink> sink = std::make_shared<CountingSink>();
    std::shared_ptr<spdlog::details::thread_pool> pool =
        std::make_shared<spdlog::details::thread_pool>(kSpdlogQueue, 1);
    std::shared_ptr<spdlog::async_logger> logger =
        std::make_shared<spdlog::async_logger>("bench", sink, pool, spdlog::async_overflow_policy::block);

    // Waits until the worker has written `expected` records in total.
    void waitFor(uint64_t expected) const {
        while (sink->count.load(std::memory_order_relaxed) < expected) {
        }
    }
};

Spdlog& spdlogLogger() {
    static auto* s = new Spdlog();
    return *s;
}

std::shared_ptr<NullLogger>& nullLogger() {
    static auto* logger = [] {
        auto* l = new std::shared_ptr<NullLogger>(std::make_shared<NullLogger>());
        QLLog::sharedInstance().addLogger(*l);
        return l;
    }();
    return *logger;
}

// Ratios printed at exit: name -> (ours, reference).
std::map<std::string, std::pair<double, double>>& ratios() {
    static auto* r = new std::map<std::string, std::pair<double, double>>();
    return *r;
}
void record(const std::string& name, bool ours, double value) {
    auto& entry = ratios()[name];
    (ours ? entry.first : entry.second) = value;
}

// MARK: - Filtered call

void BM_Filtered_QLLog(benchmark::State& state) {
    nullLogger();
    setDynamicLogLevel(QLLogLevel{1});
    const uint64_t before = tAllocations;
    int64_t i = 0;
    for (auto _ : state) {
        QLLogInfo("QuovaMapPointStore: loaded {} points.", i);
        benchmark::DoNotOptimize(++i);
    }
    state.counters["allocs"] =
        static_cast<double>(tAllocations - before) / static_cast<double>(state.iterations());
    resetDynamicLogLevel();
}
BENCHMARK(BM_Filtered_QLLog);

void BM_Filtered_Spdlog(benchmark::State& state) {
    auto& s = spdlogLogger();
    s.logger->set_level(spdlog::level::err);
    const uint64_t before = tAllocations;
    int64_t i = 0;
    for (auto _ : state) {
        s.logger->info("QuovaMapPointStore: loaded {} points.", i);
        benchmark::DoNotOptimize(++i);
    }
    state.counters["allocs"] =
        static_cast<double>(tAllocations - before) / static_cast<double>(state.iterations());
    s.logger->set_level(spdlog::level::trace);
}
BENCHMARK(BM_Filtered_Spdlog);

// MARK: - Enabled asynchronous call (caller's cost)

// Calls are made in batches; between batches, with the clock stopped, the
// consumer drains, so neither queue grows without bound and neither producer
// is slowed by a full queue.
constexpr int kBatch = 2000;

void BM_AsyncCall_QLLog(benchmark::State& state) {
    auto& logger = nullLogger();
    const uint64_t before = tAllocations;
    int64_t i = 0;
    for (auto _ : state) {
        for (int k = 0; k < kBatch; ++k) QLLogInfo("QuovaMapPointStore: loaded {} points.", ++i);
        state.PauseTiming();
        QLLog::sharedInstance().flushLog();
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(logger->count.load());
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["allocs"] = static_cast<double>(tAllocations - before) / static_cast<double>(i);
    state.counters["ns_per_call"] =
        benchmark::Counter(static_cast<double>(i), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AsyncCall_QLLog)->UseRealTime();

void BM_AsyncCall_Spdlog(benchmark::State& state) {
    auto& s = spdlogLogger();
    uint64_t expected = s.sink->count.load();
    const uint64_t before = tAllocations;
    int64_t i = 0;
    for (auto _ : state) {
        for (int k = 0; k < kBatch; ++k) s.logger->info("QuovaMapPointStore: loaded {} points.", ++i);
        state.PauseTiming();
        expected += kBatch;
        s.waitFor(expected);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["allocs"] = static_cast<double>(tAllocations - before) / static_cast<double>(i);
    state.counters["ns_per_call"] =
        benchmark::Counter(static_cast<double>(i), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AsyncCall_Spdlog)->UseRealTime();

// Per-call latency percentiles: each call timed on its own (the two clock
// reads around it included, alike for both), in batches with the consumer
// drained (clock stopped) in between.
constexpr int kLatencyCalls = 200'000;

template <typename Call>
void timeBatch(std::vector<double>& samples, int first, Call&& call) {
    for (int k = 0; k < kBatch; ++k) {
        const auto start = std::chrono::steady_clock::now();
        call(first + k);
        const auto end = std::chrono::steady_clock::now();
        samples.push_back(std::chrono::duration<double, std::nano>(end - start).count());
    }
}

double percentile(std::vector<double>& samples, size_t perMille) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() * perMille / 1000];
}

template <typename Call, typename Drain>
void latencyRun(benchmark::State& state, Call call, Drain drain) {
    std::vector<double> samples;
    samples.reserve(kLatencyCalls);
    for (auto _ : state) {
        samples.clear();
        for (int n = 0; n < kLatencyCalls; n += kBatch) {
            timeBatch(samples, n, call);
            drain();
        }
    }
    state.counters["p50_ns"] = percentile(samples, 500);
    state.counters["p999_ns"] = percentile(samples, 999);
}

void qllogCall(int n) {
    QLLogInfo("QuovaMapPointStore: loaded {} points.", n);
}
void qllogDrain() {
    QLLog::sharedInstance().flushLog();
}

void BM_AsyncCallLatency_QLLog(benchmark::State& state) {
    nullLogger();
    latencyRun(state, qllogCall, qllogDrain);
}
BENCHMARK(BM_AsyncCallLatency_QLLog)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same calls made inside a block of a serial queue: the caller's queue
// is found from the block's own frame.
void BM_AsyncCallLatencyInQueueBlock_QLLog(benchmark::State& state) {
    nullLogger();
    auto queue = platform::DispatchQueue::serial("bench.caller");
    queue->sync([&] { latencyRun(state, qllogCall, qllogDrain); });
}
BENCHMARK(BM_AsyncCallLatencyInQueueBlock_QLLog)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_AsyncCallLatency_Spdlog(benchmark::State& state) {
    auto& s = spdlogLogger();
    uint64_t expected = s.sink->count.load();
    latencyRun(
        state, [&](int n) { s.logger->info("QuovaMapPointStore: loaded {} points.", n); },
        [&] {
            expected += kBatch;
            s.waitFor(expected);
        });
}
BENCHMARK(BM_AsyncCallLatency_Spdlog)->Iterations(1)->Unit(benchmark::kMillisecond);

// The ratio lines: the three kinds of call alternate batch by batch, so a
// machine busy with other work slows each side alike (timed one after the
// other, the sides met different loads and the ratios swung by 2x from run
// to run).
void BM_AsyncCallLatency_Paired(benchmark::State& state) {
    nullLogger();
    auto& s = spdlogLogger();
    uint64_t expected = s.sink->count.load();
    auto queue = platform::DispatchQueue::serial("bench.caller");
    std::vector<double> ours, inBlock, theirs;
    for (auto* samples : {&ours, &inBlock, &theirs}) samples->reserve(kLatencyCalls);
    for (auto _ : state) {
        for (int n = 0; n < kLatencyCalls; n += kBatch) {
            timeBatch(ours, n, qllogCall);
            qllogDrain();
            queue->sync([&] { timeBatch(inBlock, n, qllogCall); });
            qllogDrain();
            timeBatch(theirs, n, [&](int i) { s.logger->info("QuovaMapPointStore: loaded {} points.", i); });
            expected += kBatch;
            s.waitFor(expected);
        }
    }
    struct Side {
        const char* name;
        std::vector<double>& samples;
    };
    const double theirsP50 = percentile(theirs, 500);
    const double theirsP999 = percentile(theirs, 999);
    for (const Side& side :
         {Side{"async call latency", ours}, Side{"async call latency in a queue block", inBlock}}) {
        record(std::string(side.name) + " p50", true, percentile(side.samples, 500));
        record(std::string(side.name) + " p99.9", true, percentile(side.samples, 999));
        record(std::string(side.name) + " p50", false, theirsP50);
        record(std::string(side.name) + " p99.9", false, theirsP999);
    }
    state.counters["p50_ns"] = percentile(ours, 500);
    state.counters["spdlog_p50_ns"] = theirsP50;
}
BENCHMARK(BM_AsyncCallLatency_Paired)->Iterations(1)->Unit(benchmark::kMillisecond);

// MARK: - Drain throughput

// The records are queued while the consumer is held; the clock runs from the
// release until the null logger has seen them all.
constexpr int kDrainRecords = 100'000;

void drainQLLog(benchmark::State& state, int processors) {
    platform::setProcessorCountForTesting(processors);
    QLLog registry;  // reads the processor count when made
    auto logger = std::make_shared<NullLogger>();
    registry.addLogger(logger);
    for (auto _ : state) {
        state.PauseTiming();
        platform::DispatchSemaphore release(0);
        QLLog::loggingQueue()->async([&] { release.wait(); });
        for (int i = 0; i < kDrainRecords; ++i) {
            logMessageCore([i] { return fmt::format("QuovaMapPointStore: loaded {} points.", i); },
                           QLLogLevel::all, QLLogFlag::info, 0, __FILE__, __func__, __LINE__, {}, true,
                           registry);
        }
        state.ResumeTiming();
        release.signal();
        registry.flushLog();
    }
    state.SetItemsProcessed(state.iterations() * kDrainRecords);
    registry.removeAllLoggers();
    registry.flushLog();
    platform::setProcessorCountForTesting(std::nullopt);
}

void BM_Drain_QLLog_Serial(benchmark::State& state) {
    drainQLLog(state, 1);
}
BENCHMARK(BM_Drain_QLLog_Serial)->UseRealTime()->Unit(benchmark::kMillisecond);
void BM_Drain_QLLog_Parallel(benchmark::State& state) {
    drainQLLog(state, 4);
}
BENCHMARK(BM_Drain_QLLog_Parallel)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Drain_Spdlog(benchmark::State& state) {
    auto& s = spdlogLogger();
    uint64_t expected = s.sink->count.load();
    for (auto _ : state) {
        state.PauseTiming();
        s.sink->hold.store(true);
        s.logger->info("held");  // the worker blocks on this one
        for (int i = 0; i < kDrainRecords; ++i) s.logger->info("QuovaMapPointStore: loaded {} points.", i);
        expected += kDrainRecords + 1;
        state.ResumeTiming();
        s.sink->hold.store(false, std::memory_order_release);
        s.waitFor(expected);
    }
    state.SetItemsProcessed(state.iterations() * kDrainRecords);
}
BENCHMARK(BM_Drain_Spdlog)->UseRealTime()->Unit(benchmark::kMillisecond);

// MARK: - Memory per queued record

// Heap in use per record while the records wait for a held consumer: ours
// the record, its text and its place in the hand-over; spdlog's slot in its
// preallocated queue (the same line fits the slot's own buffer). Records
// made first use up the memory finished records left for reuse, which the
// heap counted already: the figure is what each further record adds.
constexpr int kQueuedRecords = 100'000;
constexpr int kReusableRecords = 20'000;

// Blocks the allocator maps on their own (large or widely aligned ones) count too.
size_t heapInUse() {
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void BM_QueuedMemory_QLLog(benchmark::State& state) {
    auto& logger = nullLogger();
    QLLog::sharedInstance().flushLog();
    for (auto _ : state) {
        platform::DispatchSemaphore release(0);
        QLLog::loggingQueue()->async([&] { release.wait(); });
        for (int i = 0; i < kReusableRecords; ++i) QLLogInfo("QuovaMapPointStore: loaded {} points.", i);
        const size_t before = heapInUse();
        for (int i = 0; i < kQueuedRecords; ++i) QLLogInfo("QuovaMapPointStore: loaded {} points.", i);
        const size_t after = heapInUse();
        release.signal();
        QLLog::sharedInstance().flushLog();
        const double perRecord = static_cast<double>(after - before) / kQueuedRecords;
        state.counters["bytes_per_record"] = perRecord;
        record("bytes per queued record", true, perRecord);
    }
    benchmark::DoNotOptimize(logger->count.load());
}
BENCHMARK(BM_QueuedMemory_QLLog)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_QueuedMemory_Spdlog(benchmark::State& state) {
    for (auto _ : state) {
        const double perRecord = sizeof(spdlog::details::async_msg);
        state.counters["bytes_per_record"] = perRecord;
        record("bytes per queued record", false, perRecord);
    }
}
BENCHMARK(BM_QueuedMemory_Spdlog)->Iterations(1);

// Collects the mean times of the paired runs for the ratio lines.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const std::string name = run.benchmark_name();
            const bool ours = name.find("QLLog") != std::string::npos;
            double perItem = run.GetAdjustedRealTime();
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end() && items->second.value > 0) perItem = 1e9 / items->second.value;
            if (name.rfind("BM_Filtered", 0) == 0) record("filtered call ns", ours, perItem);
            if (name.rfind("BM_AsyncCall_", 0) == 0) record("enabled async call ns", ours, perItem);
            if (name == "BM_Drain_Spdlog/real_time") {
                record("drain ns/record (serial path)", false, perItem);
                record("drain ns/record (parallel path)", false, perItem);
            }
            if (name.rfind("BM_Drain_QLLog_Serial", 0) == 0)
                record("drain ns/record (serial path)", true, perItem);
            if (name.rfind("BM_Drain_QLLog_Parallel", 0) == 0) {
                record("drain ns/record (parallel path)", true, perItem);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios, ours / spdlog async logger (lower is better for us):\n");
    for (const auto& [name, values] : ratios()) {
        if (values.first > 0 && values.second > 0) {
            std::printf("  %-36s %10.1f / %10.1f = %.2f\n", name.c_str(), values.first, values.second,
                        values.first / values.second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
