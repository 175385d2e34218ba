// Tile lists for one 256-pixel cell and for a 1920x1080 viewport at level 15:
// the tile overlay against the plain slippy-map tile range worked out inline
// (the reference), in the same run. The overlay's figures carry "x_inline",
// their time over the reference's for the same area (goal: at most 2).
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "testsupport/tiles/FakeTileMapView.hpp"
#include "tiles/TileGrid.hpp"

namespace {

constexpr double kScale = 1.0 / 32;  // level 15
const double kCell = 256.0 / kScale;
std::map<std::string, double> referenceNanoseconds;

platform::MKMapRect area(const std::string& name) {
    if (name == "cell") return {{1234 * kCell, 987 * kCell}, {kCell, kCell}};
    return {{1234 * kCell + 100, 987 * kCell + 50}, {1920 / kScale, 1080 / kScale}};
}

// The reference: a tile record (frame, x, y, z) per cell of the range.
struct PlainTile {
    platform::MKMapRect frame;
    uint64_t x, y, z;
};

void BM_InlineSlippyRange(benchmark::State& state, std::string name) {
    const platform::MKMapRect rect = area(name);
    const int64_t n = int64_t(1) << 15;
    size_t tiles = 0;
    for (auto _ : state) {
        std::vector<std::shared_ptr<PlainTile>> list;
        const int64_t x0 = int64_t(std::floor(rect.origin.x / kCell));
        const int64_t x1 = int64_t(std::ceil((rect.origin.x + rect.size.width) / kCell));
        const int64_t y0 = int64_t(std::floor(rect.origin.y / kCell));
        const int64_t y1 = int64_t(std::ceil((rect.origin.y + rect.size.height) / kCell));
        list.reserve(size_t((x1 - x0) * (y1 - y0)));
        for (int64_t x = x0; x < x1; ++x) {
            for (int64_t y = y0; y < y1; ++y) {
                list.push_back(std::make_shared<PlainTile>(
                    PlainTile{{{double(x) * kCell, double(y) * kCell}, {kCell, kCell}},
                              uint64_t(x % n),
                              uint64_t(y % n),
                              15}));
            }
        }
        tiles = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["tiles"] = double(tiles);
}

void BM_TilesInMapRect(benchmark::State& state, std::string name) {
    auto view = std::make_shared<tervolo::testsupport::FakeTileMapView>();
    auto overlay = tervolo::tiles::QuovaTileOverlay::initOverlayForMap(
        "Bench", 19, "BenchTiles", "https://t.invalid/%1$@/%2$@/%3$@.png", {}, 30, 0);
    overlay->setDelegate(view);
    const platform::MKMapRect rect = area(name);
    size_t tiles = 0;
    for (auto _ : state) {
        auto list = overlay->tilesInMapRect(rect, kScale);
        tiles = list.size();
        benchmark::DoNotOptimize(list);
    }
    state.counters["tiles"] = double(tiles);
}

struct RatioReporter : benchmark::ConsoleReporter {
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> copy = runs;
        for (auto& run : copy) {
            const std::string name = run.benchmark_name();
            const std::string areaName = name.substr(name.find('/') + 1);
            const double perIteration = run.GetAdjustedRealTime();
            if (name.starts_with("BM_InlineSlippyRange")) {
                referenceNanoseconds[areaName] = perIteration;
            } else if (referenceNanoseconds[areaName] > 0) {
                run.counters["x_inline"] = benchmark::Counter(perIteration / referenceNanoseconds[areaName]);
            }
        }
        ConsoleReporter::ReportRuns(copy);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (const char* name : {"cell", "viewport"}) {
        benchmark::RegisterBenchmark((std::string("BM_InlineSlippyRange/") + name).c_str(),
                                     BM_InlineSlippyRange, std::string(name));
        benchmark::RegisterBenchmark((std::string("BM_TilesInMapRect/") + name).c_str(), BM_TilesInMapRect,
                                     std::string(name));
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
