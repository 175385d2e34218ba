// Lines per second written to a log file, next to spdlog's basic file sink
// writing the same lines in the same run.
//
// Every line is "yyyy/MM/dd HH:mm:ss:SSS  QuovaMapPointStore: loaded <i> points."
// in GMT: our default file formatter, and spdlog with the pattern
// "%Y/%m/%d %H:%M:%S:%e  %v" on UTC time. Each side makes its record (ours a
// QLLogMessage with its thread and queue snapshot, spdlog its log_msg),
// formats it and writes it to one growing file (no rolling, no pruning, no
// fsync):
//   - QLBufferedProxy: the file logger behind its buffering proxy, each
//     record made and handed over in turn on the logger's queue, the batch
//     in one block as a burst the registry delivers one record after the
//     other (the registry's own hops are measured by the QLLog run);
//   - QLFileLogger: the same without the proxy (one seek, write and offset
//     query per line);
//   - QLLog: records handed to a registry asynchronously, proxy installed,
//     timed until the registry has delivered all of them;
//   - Spdlog: a synchronous spdlog logger with basic_file_sink_mt.
// The ratio lines printed at exit are ours / spdlog in lines per second
// (higher is better for us), the paired ones also as time ours / spdlog
// (lower is better for us); the paired run alternates the proxy and spdlog
// batch by batch and reports median ratios, the figures that hold up on a
// loaded machine (see BM_LogFile_Paired).

#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "logging/QLBufferedProxy.hpp"
#include "logging/QLFileLogger.hpp"
#include "logging/QLLog.hpp"
#include "logging/QLLogFileManagerDefault.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/FileHandle.hpp"
#include "platform/foundation/FileManager.hpp"

namespace {

using namespace tervolo::logging;

constexpr int kBatch = 10000;
constexpr int kIterations = 40;

// A folder of its own for the run, removed at exit.
const std::string& benchFolder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/logfile_bench.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return folder;
}

std::map<std::string, double>& linesPerSecond() {
    static std::map<std::string, double> values;
    return values;
}

QLLogMessagePtr makeRecord(int i) {
    return std::make_shared<const QLLogMessage>(
        fmt::format("QuovaMapPointStore: loaded {} points.", i), QLLogLevel::all, QLLogFlag::info, 0,
        QLLogText::borrowed(__FILE__), QLLogText::borrowed(__func__), __LINE__, std::any{}, 3, std::nullopt);
}

// A file logger writing one growing file in `name`'s own folder.
std::shared_ptr<QLFileLogger> makeFileLogger(const std::string& name) {
    auto manager = std::make_shared<QLLogFileManagerDefault>(benchFolder() + "/" + name);
    manager->setMaximumNumberOfLogFiles(0);
    manager->setLogFilesDiskQuota(0);
    auto logger = std::make_shared<QLFileLogger>(manager);
    logger->setMaximumFileSize(0);
    logger->setRollingFrequency(0);
    (void)logger->maximumFileSize();  // the settings have landed
    return logger;
}

void BM_LogFile_QLBufferedProxy(benchmark::State& state) {
    auto logger = makeFileLogger("proxy");
    auto proxy = logger->wrapWithBuffer();
    const auto queue = proxy->loggerQueue();
    for (auto _ : state) {
        queue->sync([&] {
            for (int i = 0; i < kBatch; ++i) proxy->logMessage(makeRecord(i));
        });
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_LogFile_QLBufferedProxy)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);

// The floor of our side: making the records alone, nothing written.
void BM_LogFile_RecordsOnly(benchmark::State& state) {
    auto logger = makeFileLogger("floor");
    const auto queue = logger->loggerQueue();
    for (auto _ : state) {
        queue->sync([&] {
            for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(makeRecord(i));
        });
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_LogFile_RecordsOnly)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_LogFile_QLFileLogger(benchmark::State& state) {
    auto logger = makeFileLogger("plain");
    const auto queue = logger->loggerQueue();
    for (auto _ : state) {
        queue->sync([&] {
            for (int i = 0; i < kBatch; ++i) logger->logMessage(makeRecord(i));
        });
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_LogFile_QLFileLogger)->Iterations(kIterations / 4)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_LogFile_QLLog(benchmark::State& state) {
    auto logger = makeFileLogger("registry");
    auto proxy = logger->wrapWithBuffer();
    QLLog registry;
    registry.addLogger(proxy);
    const auto queue = proxy->loggerQueue();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) registry.log(true, makeRecord(i));
        // Delivery waits for the logger, so once the logging queue has passed
        // this point every record of the batch is in the proxy or the file.
        QLLog::loggingQueue()->sync([] {});
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    registry.removeAllLoggers();
    QLLog::loggingQueue()->sync([] {});
    queue->sync([] {});
}
BENCHMARK(BM_LogFile_QLLog)->Iterations(kIterations / 4)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_LogFile_Spdlog(benchmark::State& state) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(benchFolder() + "/spdlog.log", true);
    spdlog::logger logger("bench", sink);
    logger.set_pattern("%Y/%m/%d %H:%M:%S:%e  %v", spdlog::pattern_time_type::utc);
    logger.set_level(spdlog::level::info);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) logger.info("QuovaMapPointStore: loaded {} points.", i);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    logger.flush();
}
BENCHMARK(BM_LogFile_Spdlog)->Iterations(kIterations)->UseRealTime()->Unit(benchmark::kMillisecond);

// The two main contenders alternating batch by batch, so both see the same
// machine load; the ratio of each round is kept and the median reported.
//   "end to end": as the runs above, records made in the timed part;
//   "file writing": each side gets its records ready-made (ours QLLogMessage,
//   spdlog's sink a log_msg over the same message text) and only turning them
//   into lines in the file is timed: our file logger behind its proxy against
//   spdlog's basic file sink itself.
constexpr int kPairedBatch = 1000;  // ready-made records stay in cache

std::map<std::string, std::vector<double>>& pairedRatios() {
    static std::map<std::string, std::vector<double>> ratios;
    return ratios;
}

void BM_LogFile_Paired(benchmark::State& state) {
    auto logger = makeFileLogger("paired");
    auto proxy = logger->wrapWithBuffer();
    const auto queue = proxy->loggerQueue();
    auto sink =
        std::make_shared<spdlog::sinks::basic_file_sink_mt>(benchFolder() + "/paired-spdlog.log", true);
    // The logger hands its pattern on to the sink, which the second half uses alone.
    spdlog::logger reference("paired", sink);
    reference.set_pattern("%Y/%m/%d %H:%M:%S:%e  %v", spdlog::pattern_time_type::utc);

    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    std::vector<QLLogMessagePtr> records;
    std::vector<std::string> texts;
    std::vector<spdlog::details::log_msg> messages;
    records.reserve(kPairedBatch);
    texts.reserve(kPairedBatch);
    messages.reserve(kPairedBatch);
    for (auto _ : state) {
        // End to end.
        auto start = Clock::now();
        queue->sync([&] {
            for (int i = 0; i < kPairedBatch; ++i) proxy->logMessage(makeRecord(i));
        });
        auto middle = Clock::now();
        for (int i = 0; i < kPairedBatch; ++i) reference.info("QuovaMapPointStore: loaded {} points.", i);
        auto end = Clock::now();
        // Lines per second ours / theirs = their time / our time.
        pairedRatios()["end to end"].push_back(seconds(end - middle) / seconds(middle - start));

        // File writing.
        records.clear();
        texts.clear();
        messages.clear();
        for (int i = 0; i < kPairedBatch; ++i) {
            records.push_back(makeRecord(i));
            texts.push_back(records.back()->message());
        }
        for (const auto& text : texts) messages.emplace_back("paired", spdlog::level::info, text);
        start = Clock::now();
        queue->sync([&] {
            for (const auto& record : records) proxy->logMessage(record);
        });
        middle = Clock::now();
        for (const auto& message : messages) sink->log(message);
        end = Clock::now();
        pairedRatios()["file writing"].push_back(seconds(end - middle) / seconds(middle - start));
    }
    state.SetItemsProcessed(state.iterations() * kPairedBatch * 4);
    reference.flush();
}
BENCHMARK(BM_LogFile_Paired)->Iterations(20 * kIterations)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One producer writing 1,000,000 lines through the whole stack until they are
// on disk, the two sides alternating round by round:
//   ours: the QLLogInfo macro into the shared registry, one file logger
//   installed, behind its buffering proxy (OneProducer_Paired) or the plain
//   default file logger (OneProducer_Plain_Paired); the clock stops when
//   flushLog() returns (every record delivered, the buffer written, the file
//   flushed);
//   spdlog: an asynchronous logger (its default queue of 8192 slots, one
//   worker, blocking when full) with a basic file sink and the same pattern;
//   the clock stops when the worker has written every line and the sink is
//   flushed and closed (the thread pool joined, the sink released).
constexpr int kProducerLines = 1'000'000;
constexpr int kProducerRounds = 5;

// CPU time of every thread of the process: on a loaded machine it follows the
// work done more closely than the wall clock does.
double processCPUSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void runOneProducerPaired(benchmark::State& state, bool behindProxy) {
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    const std::string side = behindProxy ? "producer" : "producer-plain";
    const std::string label =
        behindProxy ? "one producer, 1M lines to disk" : "plain, one producer, 1M lines";
    auto fileLogger = makeFileLogger(side);
    std::shared_ptr<QLLogger> installed = fileLogger;
    if (behindProxy) installed = fileLogger->wrapWithBuffer();
    auto& registry = QLLog::sharedInstance();
    registry.addLogger(installed);
    registry.flushLog();
    const auto fileSize = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? static_cast<double>(info.st_size) : 0.0;
    };
    const std::string ourPath = fileLogger->currentLogFileInfo()->filePath();
    double ourBytes = 0;
    double spdlogBytes = 0;
    double ourWrites = 0;
    int round = 0;
    for (auto _ : state) {
        const double sizeBefore = fileSize(ourPath);
        const uint64_t writesBefore = platform::FileHandle::writeCallCount();
        const double cpuStart = processCPUSeconds();
        auto start = Clock::now();
        for (int i = 0; i < kProducerLines; ++i) QLLogInfo("QuovaMapPointStore: loaded {} points.", i);
        registry.flushLog();
        auto middle = Clock::now();
        const double cpuMiddle = processCPUSeconds();
        ourWrites = static_cast<double>(platform::FileHandle::writeCallCount() - writesBefore);
        {
            auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(
                benchFolder() + "/" + side + "-spdlog-" + std::to_string(round) + ".log", true);
            auto pool =
                std::make_shared<spdlog::details::thread_pool>(spdlog::details::default_async_q_size, 1);
            auto logger = std::make_shared<spdlog::async_logger>("producer", sink, pool,
                                                                 spdlog::async_overflow_policy::block);
            logger->set_pattern("%Y/%m/%d %H:%M:%S:%e  %v", spdlog::pattern_time_type::utc);
            for (int i = 0; i < kProducerLines; ++i) logger->info("QuovaMapPointStore: loaded {} points.", i);
            logger.reset();
            pool.reset();  // joins the worker once the queue is empty
        }
        auto end = Clock::now();
        const double cpuEnd = processCPUSeconds();
        // Both sides wrote every line: the bytes of a round are the same on both.
        ourBytes = fileSize(ourPath) - sizeBefore;
        spdlogBytes = fileSize(benchFolder() + "/" + side + "-spdlog-" + std::to_string(round) + ".log");
        // Lines per second ours / theirs = their time / our time.
        pairedRatios()[label].push_back(seconds(end - middle) / seconds(middle - start));
        pairedRatios()[label + ", CPU time"].push_back((cpuEnd - cpuMiddle) / (cpuMiddle - cpuStart));
        ++round;
    }
    state.SetItemsProcessed(state.iterations() * kProducerLines * 2);
    state.counters["our_MB_per_round"] = ourBytes / 1e6;
    state.counters["spdlog_MB_per_round"] = spdlogBytes / 1e6;
    // write(2) calls of our side in the last round (the file's handle; nothing else writes files then).
    state.counters["our_writes_per_round"] = ourWrites;
    registry.removeLogger(installed);
    registry.flushLog();
}

void BM_LogFile_OneProducer_Paired(benchmark::State& state) {
    runOneProducerPaired(state, true);
}
BENCHMARK(BM_LogFile_OneProducer_Paired)
    ->Iterations(kProducerRounds)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same with the plain default file logger installed, no proxy.
void BM_LogFile_OneProducer_Plain_Paired(benchmark::State& state) {
    runOneProducerPaired(state, false);
}
BENCHMARK(BM_LogFile_OneProducer_Plain_Paired)
    ->Iterations(kProducerRounds)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

class LinesReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end()) linesPerSecond()[run.benchmark_name()] = items->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double lines(const std::string& prefix) {
    for (const auto& [name, value] : linesPerSecond()) {
        if (name.rfind(prefix, 0) == 0) return value;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    LinesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double reference = lines("BM_LogFile_Spdlog");
    std::printf("\nLines per second, ours / spdlog basic file sink (higher is better for us):\n");
    for (const char* ours : {"BM_LogFile_QLBufferedProxy", "BM_LogFile_QLFileLogger", "BM_LogFile_QLLog"}) {
        const double value = lines(ours);
        if (value > 0 && reference > 0) {
            std::printf("  %-28s %12.0f / %12.0f = %.2f\n", ours, value, reference, value / reference);
        }
    }
    for (auto& [name, ratios] : pairedRatios()) {
        std::sort(ratios.begin(), ratios.end());
        // The same median the other way round, as time ours / spdlog (lower is better for us): the
        // form in which throughput goals are set.
        std::printf(
            "  %s vs spdlog, %-12s median of %zu alternating rounds = %.2f (quartiles %.2f, "
            "%.2f); time ours / spdlog = %.2f\n",
            name.rfind("plain", 0) == 0 ? "QLFileLogger" : "QLBufferedProxy", name.c_str(), ratios.size(),
            ratios[ratios.size() / 2], ratios[ratios.size() / 4], ratios[ratios.size() * 3 / 4],
            1.0 / ratios[ratios.size() / 2]);
    }
    benchmark::Shutdown();
    platform::FileManager::defaultManager().removeItem(benchFolder());
    return 0;
}
