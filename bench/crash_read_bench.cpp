// Reading a crash report file and formatting it as text, for a large report
// (20 threads × 512 symbolicated frames, about 350 KB) against a small one
// (about 2 KB) of the same make, scaled by the size ratio: the large report
// should cost no more per byte than the small one. Each round reads the large
// file once and the small one as many times as it takes to read the same
// bytes, in alternating order; the counters are medians over the rounds:
//   ms_per_256KiB  the large report's time per 256 KiB of file (wall clock)
//   cpu_ms_per_256KiB  the same in the thread's CPU time, which a loaded
//                  machine disturbs less
//   x_per_byte     the large report's time per byte / the small report's
// The fresh-process case is what the report tool pays once per report: a child process that
// starts, reads and formats one report of about 256 KiB (20 threads × 382 frames) and exits,
// against the bare start and exit of the same binary (no argument), in alternating order:
//   fresh_ms, bare_ms  medians of the child's wall time from spawn to its exit
//   added_ms       median over the rounds of fresh − bare: what reading and formatting add
//   fresh_cpu_ms, added_cpu_ms  the same in the child's user + system CPU time
// Most C++ symbols start with an underscore, and on this system each of them
// writes a line to the system log while formatting, so the run also shows
// what the system log writer costs per line.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "crash/QCrashReport.hpp"
#include "crash/QCrashReportTextFormatter.hpp"
#include "crash/tests/ReportFixture.hpp"

namespace {

using tervolo::crash::QCrashReport;
using tervolo::crash::QCrashReportTextFormatter;
using tervolo::crash::testing::ReportFixture;

constexpr uint64_t kImageBase = 0x7f0000000000;
constexpr uint64_t kImageSize = 0x400000;
constexpr int kImages = 12;

// Three symbol names in eight start with an underscore, as mangled C++ names do.
const char* const kSymbols[] = {
    "_ZN4tile4drawEv", "start_thread",      "_ZN4pool3runEv", "worker_main", "poll",
    "_ZN3log3logEv",   "pthread_cond_wait", "runloop_run",
};

std::vector<uint8_t> makeReport(int threads, int frames) {
    ReportFixture fixture;
    fixture.system.operating_system = QCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__OS_UNKNOWN;
    for (int i = 0; i < kImages; ++i) {
        fixture.addImage(kImageBase + static_cast<uint64_t>(i) * kImageSize, kImageSize,
                         "/usr/lib/libex" + std::to_string(i) + ".so",
                         std::vector<uint8_t>(16, static_cast<uint8_t>(i)), 16777223, 3);
    }
    uint64_t seed = 12345;
    for (int t = 0; t < threads; ++t) {
        auto* thread = fixture.addThread(static_cast<uint32_t>(t), t == 0);
        for (int f = 0; f < frames; ++f) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            const uint64_t image = (seed >> 33) % kImages;
            const uint64_t pc = kImageBase + image * kImageSize + ((seed >> 13) % kImageSize);
            fixture.addFrame(thread, pc, kSymbols[(t + f) % std::size(kSymbols)], pc - ((seed >> 7) % 0x400));
        }
        if (t == 0) {
            for (const char* name : {"rax", "rbx", "rcx", "rdx", "rdi", "rsi", "rbp", "rsp", "rip"})
                fixture.addRegister(thread, name, seed ^ reinterpret_cast<uintptr_t>(name));
        }
    }
    return fixture.file();
}

std::string writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                             "/tervolo-crash-read-" + std::to_string(::getpid()) + "-" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return path;
}

// What opening a pending report does: read the file, decode it, format it.
size_t readAndFormat(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    std::fseek(file, 0, SEEK_END);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::ftell(file)));
    std::fseek(file, 0, SEEK_SET);
    const size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    bytes.resize(read);
    const auto report = QCrashReport::create(bytes);
    if (!report) std::abort();  // the fixture's reports always decode
    const QCrashReportTextFormatter formatter(0, QCrashReportTextFormatter::kUTF8StringEncoding);
    return formatter.formatReport(*report, nullptr).size();
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void BM_CrashReport_ReadAndFormat(benchmark::State& state) {
    constexpr int kRounds = 15;
    const std::vector<uint8_t> large = makeReport(20, 512);
    const std::vector<uint8_t> small = makeReport(1, 24);
    const std::string largePath = writeFile("large", large);
    const std::string smallPath = writeFile("small", small);
    const double sizeRatio = static_cast<double>(large.size()) / static_cast<double>(small.size());
    const int smallRuns = std::max(1, static_cast<int>(sizeRatio + 0.5));
    using Clock = std::chrono::steady_clock;
    const auto threadCPUMs = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
    };
    const auto timed = [](auto&& body) {
        const auto start = Clock::now();
        body();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::vector<double> largeMs;
    std::vector<double> largeCPUMs;
    std::vector<double> ratios;
    size_t textBytes = 0;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            const auto runLarge = [&] {
                const double cpuStart = threadCPUMs();
                const double ms = timed([&] { textBytes = readAndFormat(largePath); });
                largeCPUMs.push_back(threadCPUMs() - cpuStart);
                return ms;
            };
            const auto runSmall = [&] {
                return timed([&] {
                    for (int i = 0; i < smallRuns; ++i) benchmark::DoNotOptimize(readAndFormat(smallPath));
                });
            };
            double ours = 0;
            double reference = 0;
            if (round % 2 == 0) {
                ours = runLarge();
                reference = runSmall();
            } else {
                reference = runSmall();
                ours = runLarge();
            }
            // Per byte on both sides: the small side read smallRuns × its size.
            const double largePerByte = ours / static_cast<double>(large.size());
            const double smallPerByte = reference / (static_cast<double>(smallRuns) * small.size());
            largeMs.push_back(ours);
            ratios.push_back(largePerByte / smallPerByte);
        }
    }
    std::remove(largePath.c_str());
    std::remove(smallPath.c_str());
    state.counters["report_KB"] = static_cast<double>(large.size()) / 1000.0;
    state.counters["small_report_KB"] = static_cast<double>(small.size()) / 1000.0;
    state.counters["text_KB"] = static_cast<double>(textBytes) / 1000.0;
    state.counters["ms_per_256KiB"] = median(largeMs) * (256.0 * 1024.0) / static_cast<double>(large.size());
    state.counters["cpu_ms_per_256KiB"] =
        median(largeCPUMs) * (256.0 * 1024.0) / static_cast<double>(large.size());
    state.counters["x_per_byte"] = median(ratios);
}
BENCHMARK(BM_CrashReport_ReadAndFormat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// One run of the report tool with stdout and stderr on /dev/null: wall and CPU milliseconds.
struct ChildTimes {
    double wallMs;
    double cpuMs;
};

extern "C" char** environ;

// TERVOLO_CRASH_FORMAT_TOOL runs another build of the tool instead (an older one, to compare).
const char* toolPath() {
    const char* other = std::getenv("TERVOLO_CRASH_FORMAT_TOOL");
    return other != nullptr && other[0] != '\0' ? other : CRASH_FORMAT_TOOL;
}

ChildTimes runTool(const std::string& path) {
    std::vector<char*> argv{const_cast<char*>(toolPath())};
    if (!path.empty()) argv.push_back(const_cast<char*>(path.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) std::abort();
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    // The formatting run must succeed; the bare start exits with its usage status.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != (path.empty() ? 2 : 0)) std::abort();
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec * 1e-3; };
    return {wall, ms(usage.ru_utime) + ms(usage.ru_stime)};
}

void BM_CrashReport_FreshProcess(benchmark::State& state) {
    constexpr int kRounds = 30;
    const std::vector<uint8_t> report = makeReport(20, 382);
    const std::string path = writeFile("fresh", report);
    std::vector<double> fresh, bare, added, freshCPU, bareCPU, addedCPU;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            ChildTimes withReport{};
            ChildTimes alone{};
            if (round % 2 == 0) {
                withReport = runTool(path);
                alone = runTool("");
            } else {
                alone = runTool("");
                withReport = runTool(path);
            }
            fresh.push_back(withReport.wallMs);
            bare.push_back(alone.wallMs);
            added.push_back(withReport.wallMs - alone.wallMs);
            freshCPU.push_back(withReport.cpuMs);
            bareCPU.push_back(alone.cpuMs);
            addedCPU.push_back(withReport.cpuMs - alone.cpuMs);
        }
    }
    std::remove(path.c_str());
    state.counters["report_KiB"] = static_cast<double>(report.size()) / 1024.0;
    state.counters["fresh_ms"] = median(fresh);
    state.counters["bare_ms"] = median(bare);
    state.counters["added_ms"] = median(added);
    state.counters["fresh_cpu_ms"] = median(freshCPU);
    state.counters["bare_cpu_ms"] = median(bareCPU);
    state.counters["added_cpu_ms"] = median(addedCPU);
}
BENCHMARK(BM_CrashReport_FreshProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
