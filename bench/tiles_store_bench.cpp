// Storing downloaded tiles: the disk cache's temporary file + rename against
// the floor, a plain open/write/close of the same bytes into the same folder.
// Each iteration writes one batch both ways, one after the other, so both see
// the same disk and page-cache state even on a busy machine. "of_floor" is
// the store's rate over the floor's (goal: at least 0.7). Set
// TERVOLO_BENCH_DIR to a tmpfs folder to separate the rename and folder costs.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "tiles/TileDiskCache.hpp"

namespace {

constexpr int kTiles = 100;
const std::vector<uint8_t> kBytes(24 * 1024, 0x5a);  // a typical 256-pixel PNG tile

std::string scratch() {
    static const std::string folder = [] {
        const char* base = std::getenv("TERVOLO_BENCH_DIR");
        std::string pattern = std::string(base ? base : "/var/tmp") + "/tiles-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_StoreTileAgainstPlainWrite(benchmark::State& state) {
    const std::string plainFolder = scratch() + "/plain";
    std::filesystem::create_directories(plainFolder);
    tervolo::tiles::TileDiskCache cache("StoreTiles", scratch());
    double floorSeconds = 0;
    double storeSeconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kTiles; ++i) {
            const std::string path = plainFolder + "/12-" + std::to_string(i) + "-7.image";
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0 || ::write(fd, kBytes.data(), kBytes.size()) != ssize_t(kBytes.size())) std::abort();
            ::close(fd);
        }
        floorSeconds += secondsSince(start);
        start = std::chrono::steady_clock::now();
        for (int i = 0; i < kTiles; ++i) {
            if (!cache.storeTile(kBytes, "12-" + std::to_string(i) + "-7")) std::abort();
        }
        storeSeconds += secondsSince(start);
    }
    const double tiles = double(state.iterations()) * kTiles;
    state.counters["store_tiles_per_s"] = tiles / storeSeconds;
    state.counters["floor_tiles_per_s"] = tiles / floorSeconds;
    state.counters["of_floor"] = floorSeconds / storeSeconds;
}

}  // namespace

BENCHMARK(BM_StoreTileAgainstPlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(scratch(), ignored);
    return 0;
}
