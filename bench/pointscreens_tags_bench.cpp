// Deleting a tag that 1,000 of 10,000 stored points carry, against its floor:
// writing the same 1,000 point files alone (the tag list changed in memory
// first, outside the timed part of the floor). The delete reports "x_floor",
// its time divided by the floor's (target at most 1.3): walking the 10,000
// points and comparing identifiers must cost little beside the writes.
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <QApplication>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench/NullSearchIndex.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "pointscreens/PointDetailsViewController.hpp"

namespace {

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::points::QuovaPointTag;
using tervolo::points::QuovaPointTagStore;

constexpr int kPoints = 10000;
constexpr int kCarriers = 1000;
double floorNs = 0;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_pointscreens_tags";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// 10,000 saved points in a private documents folder; every tenth is a carrier.
std::vector<std::shared_ptr<QuovaMapPoint>>& carriers() {
    static auto* made = [] {
        char pattern[] = "/tmp/tervolo-tags-bench-XXXXXX";
        const std::string root = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        platform::SearchIndex::setDefaultForTesting(std::make_shared<tervolo::bench::NullSearchIndex>());
        application();
        auto& store = QuovaMapPointStore::shared();
        std::vector<std::shared_ptr<QuovaMapPoint>> points;
        auto* carrying = new std::vector<std::shared_ptr<QuovaMapPoint>>();
        for (int i = 0; i < kPoints; ++i) {
            auto point = QuovaMapPoint::make("Point " + std::to_string(i));
            point->setCoordinate({60.0 + i * 1e-4, 25.0});
            point->setTags(std::vector<std::string>{"OTHER-TAG"});
            (void)point->savePreservingLastModification(store);
            points.push_back(point);
            if (i % (kPoints / kCarriers) == 0) carrying->push_back(point);
        }
        store.replacePointsForTesting(std::move(points));
        return carrying;
    }();
    return *made;
}

void tagCarriers(const std::string& uuid) {
    for (const auto& point : carriers()) point->setTags(std::vector<std::string>{"OTHER-TAG", uuid});
}

double nsPerIteration(double totalNs, const benchmark::State& state) {
    return totalNs / static_cast<double>(state.iterations());
}

// The floor: the carriers' files written, nothing else.
void BM_Floor_WriteCarrierFiles(benchmark::State& state) {
    auto& points = carriers();
    auto& store = QuovaMapPointStore::shared();
    double total = 0;
    for (auto _ : state) {
        for (const auto& point : points) point->setTags(std::vector<std::string>{"OTHER-TAG"});
        const auto start = std::chrono::steady_clock::now();
        for (const auto& point : points)
            benchmark::DoNotOptimize(point->savePreservingLastModification(store));
        total += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    }
    floorNs = nsPerIteration(total, state);
}
BENCHMARK(BM_Floor_WriteCarrierFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_DeleteTagEverywhere(benchmark::State& state) {
    carriers();
    auto screen = std::make_shared<tervolo::pointscreens::PointDetailsViewController>();
    double total = 0;
    int round = 0;
    for (auto _ : state) {
        auto tag = QuovaPointTag::make("Doomed" + std::to_string(round));
        tag->setUuid("DOOMED-" + std::to_string(round++));
        tag->setColorString("FF0000");
        QuovaPointTagStore::shared().addTag(tag);
        tagCarriers(tag->uuid());
        const auto start = std::chrono::steady_clock::now();
        screen->deleteTagEverywhere(tag);
        total += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    }
    const double ns = nsPerIteration(total, state);
    if (floorNs > 0) state.counters["x_floor"] = ns / floorNs;
}
BENCHMARK(BM_DeleteTagEverywhere)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
