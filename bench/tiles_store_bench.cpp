// Storing downloaded tiles: the disk cache's temporary file + rename against
// the floor, a plain open/write/close of the same bytes into the same folder,
// measured in the same run. The store figure carries "of_floor" (tiles/s of
// the store divided by tiles/s of the floor; the goal is at least 0.7).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tiles/TileDiskCache.hpp"

namespace {

constexpr int kTiles = 200;
const std::vector<uint8_t> kBytes(24 * 1024, 0x5a);  // a typical 256-pixel PNG tile

std::string scratch() {
    static const std::string folder = [] {
        const char* base = std::getenv("TERVOLO_BENCH_DIR");  // e.g. a tmpfs folder to separate dirent costs
        std::string pattern = std::string(base ? base : "/var/tmp") + "/tiles-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

void BM_PlainWriteFloor(benchmark::State& state) {
    const std::string folder = scratch() + "/plain";
    std::filesystem::create_directories(folder);
    int64_t tiles = 0;
    for (auto _ : state) {
        for (int i = 0; i < kTiles; ++i) {
            const std::string path = folder + "/12-" + std::to_string(i) + "-7.image";
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0 || ::write(fd, kBytes.data(), kBytes.size()) != ssize_t(kBytes.size())) std::abort();
            ::close(fd);
        }
        tiles += kTiles;
    }
    state.counters["tiles_per_s"] = benchmark::Counter(double(tiles), benchmark::Counter::kIsRate);
}

void BM_StoreTile(benchmark::State& state) {
    tervolo::tiles::TileDiskCache cache("StoreTiles", scratch());
    int64_t tiles = 0;
    for (auto _ : state) {
        for (int i = 0; i < kTiles; ++i) {
            if (!cache.storeTile(kBytes, "12-" + std::to_string(i) + "-7")) std::abort();
        }
        tiles += kTiles;
    }
    state.counters["tiles_per_s"] = benchmark::Counter(double(tiles), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Run the floor and the store alternately and report the ratio of their
    // rates, so both see the same disk and page-cache state.
    struct Reporter : benchmark::ConsoleReporter {
        double floorRate = 0;
        void ReportRuns(const std::vector<Run>& runs) override {
            std::vector<Run> copy = runs;
            for (auto& run : copy) {
                const double rate = double(run.iterations) * kTiles / run.real_accumulated_time;
                if (run.benchmark_name().find("Floor") != std::string::npos) {
                    floorRate = rate;
                } else if (floorRate > 0) {
                    run.counters["of_floor"] = benchmark::Counter(rate / floorRate);
                }
            }
            ConsoleReporter::ReportRuns(copy);
        }
    } reporter;
    benchmark::RegisterBenchmark("BM_PlainWriteFloor", BM_PlainWriteFloor)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_StoreTile", BM_StoreTile)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(scratch(), ignored);
    return 0;
}
