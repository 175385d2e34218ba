// The Logger front end against spdlog, in the same run:
//  - a call below the level: ours must cost one level read and one
//    comparison, with the message never built; spdlog with the level above
//    the call;
//  - a line written: ours through the stream handler (timestamp, level, label,
//    metadata, source, message) to a stdio stream on /dev/null flushed per
//    line; spdlog's file sink on /dev/null with an equivalent pattern, flushed
//    per line.
// The "ratio" lines printed at exit are ours / spdlog (below 1: ours is faster).

#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "logging/Logger.hpp"
#include "logging/StdioOutputStream.hpp"
#include "logging/StreamLogHandler.hpp"

namespace {

using tervolo::logging::Logger;
using tervolo::logging::StdioOutputStream;
using tervolo::logging::StreamLogHandler;

std::mutex gMutex;
std::map<std::string, double> gNanosPerCall;

struct Ratios {
    ~Ratios() {
        std::lock_guard lock(gMutex);
        for (const char* kind : {"filtered", "line"}) {
            const auto ours = gNanosPerCall.find(std::string("ours/") + kind);
            const auto theirs = gNanosPerCall.find(std::string("spdlog/") + kind);
            if (ours == gNanosPerCall.end() || theirs == gNanosPerCall.end()) continue;
            std::printf("ratio %-8s ours/spdlog = %.2f (%.1f ns vs %.1f ns per call)\n", kind,
                        ours->second / theirs->second, ours->second, theirs->second);
        }
    }
} gRatios;

void record(const std::string& name, benchmark::State& state, std::chrono::steady_clock::duration elapsed) {
    if (state.iterations() == 0) return;
    std::lock_guard lock(gMutex);
    gNanosPerCall[name] =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
        static_cast<double>(state.iterations());
}

std::shared_ptr<StdioOutputStream> devNullStream() {
    static std::FILE* const file = std::fopen("/dev/null", "w");
    return std::make_shared<StdioOutputStream>(file, StdioOutputStream::FlushMode::always);
}

std::shared_ptr<spdlog::logger> spdlogger(spdlog::level::level_enum level) {
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>("/dev/null");
    auto logger = std::make_shared<spdlog::logger>("bench.label", sink);
    logger->set_pattern("%Y-%m-%dT%H:%M:%S%z %l %n : user=7 [bench] %v");
    logger->set_level(level);
    logger->flush_on(spdlog::level::trace);
    return logger;
}

void BM_Ours_Filtered(benchmark::State& state) {
    Logger logger("bench.label", [](const std::string& label) {
        return std::make_unique<StreamLogHandler>(label, devNullStream());
    });
    int counter = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        logger.debug([&] { return "count " + std::to_string(++counter); });
        benchmark::ClobberMemory();
    }
    record("ours/filtered", state, std::chrono::steady_clock::now() - start);
    if (counter != 0) state.SkipWithError("the message of a filtered call was built");
}
BENCHMARK(BM_Ours_Filtered);

void BM_Spdlog_Filtered(benchmark::State& state) {
    auto logger = spdlogger(spdlog::level::info);
    int counter = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        logger->debug("count {}", counter);
        benchmark::ClobberMemory();
    }
    record("spdlog/filtered", state, std::chrono::steady_clock::now() - start);
}
BENCHMARK(BM_Spdlog_Filtered);

void BM_Ours_Line(benchmark::State& state) {
    Logger logger("bench.label", [](const std::string& label) {
        return std::make_unique<StreamLogHandler>(label, devNullStream());
    });
    logger.setMetadataValue("user", "7");
    int counter = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        logger.info([&] { return "count " + std::to_string(++counter); }, std::nullopt, "bench");
    }
    record("ours/line", state, std::chrono::steady_clock::now() - start);
}
BENCHMARK(BM_Ours_Line);

void BM_Spdlog_Line(benchmark::State& state) {
    auto logger = spdlogger(spdlog::level::info);
    int counter = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) logger->info("count {}", ++counter);
    record("spdlog/line", state, std::chrono::steady_clock::now() - start);
}
BENCHMARK(BM_Spdlog_Line);

}  // namespace
