// Terminal logger against spdlog's colour console sink, both writing the same
// lines to /dev/null in the same run:
//
//   2024-05-01 13:45:07:123 Name[812:907] QuovaMapPointStore: loaded 42 points.
//
// Each iteration makes one record the way a log call does (text, caller
// snapshot, timestamp) and writes it: ours with one writev(2) per record,
// spdlog's stderr colour sink through its pattern formatter and fwrite +
// fflush on stderr. Descriptor 2 is /dev/null meanwhile.
// Plain lines and coloured error lines. The "ratio" lines printed at exit are
// ours / spdlog (below 1: ours is faster).

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/ansicolor_sink.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "logging/QLLogMessage.hpp"
#include "logging/QLTTYLogger.hpp"
#include "platform/foundation/Diagnostics.hpp"

namespace {

using tervolo::logging::QLLogFlag;
using tervolo::logging::QLLogLevel;
using tervolo::logging::QLLogMessage;
using tervolo::logging::QLTTYLogger;
using tervolo::logging::QLTTYTerminal;

// Nanoseconds per record of each benchmark, for the ratios at exit.
std::mutex gMutex;
std::map<std::string, double> gNanosPerRecord;

struct Ratios {
    ~Ratios() {
        std::lock_guard lock(gMutex);
        for (const char* kind : {"plain", "colour"}) {
            const auto ours = gNanosPerRecord.find(std::string("ours/") + kind);
            const auto theirs = gNanosPerRecord.find(std::string("spdlog/") + kind);
            if (ours == gNanosPerRecord.end() || theirs == gNanosPerRecord.end()) continue;
            std::printf("ratio %-6s ours/spdlog = %.2f (%.0f ns vs %.0f ns per record)\n", kind,
                        ours->second / theirs->second, ours->second, theirs->second);
        }
    }
} gRatios;

void record(const std::string& name, benchmark::State& state, std::chrono::steady_clock::duration elapsed) {
    if (state.iterations() == 0) return;
    std::lock_guard lock(gMutex);
    gNanosPerRecord[name] =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
        static_cast<double>(state.iterations());
}

// Standard error goes to /dev/null while a benchmark runs, so both loggers
// write to descriptor 2 exactly as they do in a program.
class StandardErrorToDevNull {
  public:
    StandardErrorToDevNull() : saved_(::dup(2)) {
        std::fflush(stderr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, 2);
        ::close(null);
    }
    ~StandardErrorToDevNull() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }

  private:
    int saved_;
};

std::shared_ptr<QLTTYLogger> makeLogger(bool colours) {
    // The console warning goes to a discarding sink, not the benchmark's output.
    platform::LineWriter::standardError().setSink([](std::string_view) {});
    auto logger =
        QLTTYLogger::make({2, "Name", 812, colours ? QLTTYTerminal::color256 : QLTTYTerminal::plain});
    platform::LineWriter::standardError().setSink(nullptr);
    if (colours) {
        logger->setColorsEnabled(true);  // default error profile: red foreground
        (void)logger->colorsEnabled();   // waits until the switch has run
    }
    return logger;
}

void oursTTY(benchmark::State& state, bool colours) {
    StandardErrorToDevNull redirect;
    auto logger = makeLogger(colours);
    const QLLogFlag flag = colours ? QLLogFlag::error : QLLogFlag::info;
    int64_t count = 42;
    const auto start = std::chrono::steady_clock::now();
    // Called on the benchmark thread: the logger's queue would add the same
    // hop to both sides' costs, and nothing else touches the logger here.
    for (auto _ : state) {
        auto message = std::make_shared<const QLLogMessage>(
            fmt::format("QuovaMapPointStore: loaded {} points.", count++), QLLogLevel::all, flag, 0, __FILE__,
            __func__, __LINE__, std::any{}, 3, std::nullopt);
        logger->logMessage(message);
    }
    record(colours ? "ours/colour" : "ours/plain", state, std::chrono::steady_clock::now() - start);
}

void spdlogTTY(benchmark::State& state, bool colours) {
    StandardErrorToDevNull redirect;
    auto sink = std::make_shared<spdlog::sinks::ansicolor_stderr_sink_mt>(
        colours ? spdlog::color_mode::always : spdlog::color_mode::never);
    spdlog::logger logger("tty", sink);
    // The same line layout: local time with milliseconds, name, pid and thread id.
    logger.set_pattern("%^%Y-%m-%d %H:%M:%S:%e Name[%P:%t] %v%$");
    logger.set_level(spdlog::level::trace);
    int64_t count = 42;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (colours) {
            logger.error("QuovaMapPointStore: loaded {} points.", count++);
        } else {
            logger.info("QuovaMapPointStore: loaded {} points.", count++);
        }
    }
    record(colours ? "spdlog/colour" : "spdlog/plain", state, std::chrono::steady_clock::now() - start);
}

void BM_OursPlain(benchmark::State& state) {
    oursTTY(state, false);
}
void BM_SpdlogPlain(benchmark::State& state) {
    spdlogTTY(state, false);
}
void BM_OursColour(benchmark::State& state) {
    oursTTY(state, true);
}
void BM_SpdlogColour(benchmark::State& state) {
    spdlogTTY(state, true);
}

BENCHMARK(BM_OursPlain);
BENCHMARK(BM_SpdlogPlain);
BENCHMARK(BM_OursColour);
BENCHMARK(BM_SpdlogColour);

}  // namespace
