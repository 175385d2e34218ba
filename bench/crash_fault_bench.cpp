// Time from a fault to the end of the faulting process with the crash
// reporter enabled (the report written, the image list read at crash time),
// against the same fault in the same process without the reporter: the
// kernel's own work of ending it. Each iteration forks a child of this
// process, which enables the reporter (or not), starts its busy threads,
// stamps the time into shared memory and writes through a null pointer; the
// iteration's time runs from that stamp until waitpid returns here.
//
// And the image record of an ELF image whose symbol hash pointer is damaged,
// against the same image intact: the damaged table claims 3.47 million
// buckets in a 1 MiB segment.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../crash/tests/ElfImageFixture.hpp"
#include "crash/AsyncElfImage.hpp"
#include "crash/QCrashReporter.hpp"

namespace {

using tervolo::crash::QCrashReporter;
using tervolo::crash::QCrashReporterConfig;

int64_t monotonicNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int countImages() {
    int count = 0;
    dl_iterate_phdr([](dl_phdr_info*, size_t, void* c) { return ++*static_cast<int*>(c), 0; }, &count);
    return count;
}

int* volatile gNull = nullptr;

[[noreturn]] void faultingChild(bool reporter, int busyThreads, bool loadsLater,
                                std::atomic<int64_t>* faultAt, const std::string& base) {
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (reporter) {
        static QCrashReporter crashReporter("bench", "1", std::nullopt,
                                            QCrashReporterConfig(0, 1, false, base));
        if (!crashReporter.enableCrashReporter()) _exit(3);
    }
    // Libraries loaded after the reporter made its list (as plug-ins are):
    // the crash handler reads their images from memory.
    if (loadsLater && dlopen("libQt6Core.so.6", RTLD_NOW | RTLD_GLOBAL) == nullptr) _exit(5);
    std::atomic<int> running{0};
    for (int i = 0; i < busyThreads; ++i) {
        std::thread([&running] {
            running.fetch_add(1);
            for (;;) asm volatile("" ::: "memory");
        }).detach();
    }
    while (running.load() < busyThreads) std::this_thread::yield();
    faultAt->store(monotonicNanoseconds());
    *gNull = 1;
    _exit(4);
}

// Arguments: reporter (0 or 1), busy threads besides the faulting one,
// libraries loaded after the reporter was enabled (0 or 1: Qt Core and the
// libraries it needs).
void BM_FaultToExit(benchmark::State& state) {
    const bool reporter = state.range(0) != 0;
    const int busyThreads = static_cast<int>(state.range(1));
    const bool loadsLater = state.range(2) != 0;
    char pattern[] = "/tmp/crash_fault_bench.XXXXXX";
    const std::string base = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    auto* faultAt = static_cast<std::atomic<int64_t>*>(
        mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    int signalled = 0;
    for (auto _ : state) {
        faultAt->store(0);
        const pid_t child = fork();
        if (child == 0) faultingChild(reporter, busyThreads, loadsLater, faultAt, base);
        int status = 0;
        waitpid(child, &status, 0);
        const int64_t end = monotonicNanoseconds();
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV) ++signalled;
        const int64_t start = faultAt->load();
        state.SetIterationTime(start > 0 ? double(end - start) / 1e9 : 0.0);
    }
    if (signalled != static_cast<int>(state.iterations()))
        state.SkipWithError("a child did not end by its fault");
    state.counters["images"] = countImages();
    munmap(faultAt, 4096);
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
}
BENCHMARK(BM_FaultToExit)
    ->ArgNames({"reporter", "busy", "later"})
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Args({0, 0, 1})
    ->Args({1, 0, 1})
    ->Args({0, 15, 1})
    ->Args({1, 15, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Argument: damaged hash (0 or 1).
void BM_ElfImageRecord(benchmark::State& state) {
    const tervolo::crash::testing::InMemoryElfImage image(state.range(0) != 0);
    tervolo::crash::qcrash_async_macho_t record;
    const uint64_t readsBefore = tervolo::crash::qcrash_async_task_read_calls();
    for (auto _ : state) {
        benchmark::DoNotOptimize(tervolo::crash::qcrash_async_elf_init(
            &record, "fixture.so", image.base(), image.programHeaders(), image.programHeaderCount()));
    }
    state.counters["reads"] = benchmark::Counter(
        double(tervolo::crash::qcrash_async_task_read_calls() - readsBefore) / double(state.iterations()));
    state.counters["symbols"] = double(record.elf.dynsym_count);
}
BENCHMARK(BM_ElfImageRecord)->ArgName("damaged")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
