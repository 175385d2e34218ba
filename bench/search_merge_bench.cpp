// The search's merge on every source answer: three sources of 1,000 results
// each (the user's own points filtered from a store of 10,000), merged and
// sorted by distance from the map centre, against the floor of sorting the
// same 3,000 results by distances computed beforehand. Reported as x_floor
// (CPU time of the benchmark thread).
#include <stdlib.h>
#include <time.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/NullSearchIndex.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "search/SearchResultMerge.hpp"

namespace {

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::points::QuovaPlacemark;

constexpr platform::CLLocationCoordinate2D kCenter{52.52, 13.405};
constexpr const char* kFilter = "lighthouse";  // one point in ten

double coordinate(std::mt19937& random, double from, double span) {
    return from + std::uniform_real_distribution<double>(0, span)(random);
}

QuovaMapPointStore& store() {
    static QuovaMapPointStore* made = [] {
        char pattern[] = "/tmp/tervolo-search-merge-bench-XXXXXX";
        const std::string root = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        platform::SearchIndex::setDefaultForTesting(std::make_shared<tervolo::bench::NullSearchIndex>());
        auto& store = QuovaMapPointStore::shared();
        const std::vector<std::string> words = {"Harbour",     "Pier",   "Caf\u00e9", "Park",   "Museum",
                                                "Stra\u00dfe", "Kirche", "Zoo",       "Bahnhof"};
        std::mt19937 random(42);
        std::vector<std::shared_ptr<QuovaMapPoint>> points;
        for (int i = 0; i < 10000; ++i) {
            std::string title =
                i % 10 == 0 ? std::string("Lighthouse") : words[static_cast<size_t>(i) % words.size()];
            title += " ";
            title += std::to_string(i);
            auto point = QuovaMapPoint::make(title);
            if (i % 2 == 0) point->setSubtitle("Street " + std::to_string(i));
            point->setUuid("UUID-" + std::to_string(i));
            point->setCoordinate({coordinate(random, 47, 8), coordinate(random, 6, 9)});
            points.push_back(point);
        }
        store.replacePointsForTesting(std::move(points));
        return &store;
    }();
    return *made;
}

std::vector<QuovaPlacemark> sourceResults(uint32_t seed, const std::string& source) {
    std::mt19937 random(seed);
    std::vector<QuovaPlacemark> results;
    for (int i = 0; i < 1000; ++i) {
        QuovaPlacemark place;
        place.title = source + " place " + std::to_string(i);
        place.address = "Some street " + std::to_string(i) + ", Some town";
        place.datasource = source;
        place.latitude = coordinate(random, 47, 8);
        place.longitude = coordinate(random, 6, 9);
        place.uniqueID = source + std::to_string(i);
        results.push_back(std::move(place));
    }
    return results;
}

const std::vector<QuovaPlacemark>& backend() {
    static const auto results = sourceResults(1, "backend");
    return results;
}
const std::vector<QuovaPlacemark>& geocoder() {
    static const auto results = sourceResults(2, "Geocoder");
    return results;
}

double floorNs = 0;

// CPU time of this thread, nanoseconds: the ratio stays meaningful on a
// machine shared with other work, where wall time swings.
double threadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

void BM_Floor_SortByPrecomputedDistance(benchmark::State& state) {
    const auto own = tervolo::search::ownPointResults(store().validPointsWithFilter(std::string(kFilter)));
    std::vector<QuovaPlacemark> all = backend();
    all.insert(all.end(), geocoder().begin(), geocoder().end());
    all.insert(all.end(), own.begin(), own.end());
    const platform::CLLocation center(kCenter.latitude, kCenter.longitude);
    std::vector<double> distances;
    for (const auto& place : all)
        distances.push_back(platform::CLLocation(place.latitude, place.longitude).distance(center));
    const double start = threadCpuNs();
    for (auto _ : state) {
        auto copy = all;
        tervolo::search::sortByDistance(copy, distances);
        benchmark::DoNotOptimize(copy.data());
    }
    floorNs = (threadCpuNs() - start) / static_cast<double>(state.iterations());
    state.counters["results"] = static_cast<double>(all.size());
}
BENCHMARK(BM_Floor_SortByPrecomputedDistance)->Unit(benchmark::kMillisecond);

void BM_MergeThreeSources(benchmark::State& state) {
    auto& points = store();
    size_t count = 0;
    const double start = threadCpuNs();
    for (auto _ : state) {
        auto own = tervolo::search::ownPointResults(points.validPointsWithFilter(std::string(kFilter)));
        // As the search does: the own points' list is made for this merge.
        auto merged = tervolo::search::mergeSearchResults(backend(), geocoder(), std::move(own), kCenter);
        count = merged.size();
        benchmark::DoNotOptimize(merged.data());
    }
    const double ns = (threadCpuNs() - start) / static_cast<double>(state.iterations());
    if (floorNs > 0) state.counters["x_floor"] = ns / floorNs;
    state.counters["results"] = static_cast<double>(count);
}
BENCHMARK(BM_MergeThreeSources)->Unit(benchmark::kMillisecond);

// The two halves of the merge, for reading the ratio: the store's own filter
// over its 10,000 points, and the merge and sort of the three lists alone.
void BM_Part_StoreFilter(benchmark::State& state) {
    const double start = threadCpuNs();
    for (auto _ : state) {
        auto own = tervolo::search::ownPointResults(store().validPointsWithFilter(std::string(kFilter)));
        benchmark::DoNotOptimize(own.data());
    }
    const double ns = (threadCpuNs() - start) / static_cast<double>(state.iterations());
    if (floorNs > 0) state.counters["x_floor"] = ns / floorNs;
}
BENCHMARK(BM_Part_StoreFilter)->Unit(benchmark::kMillisecond);

void BM_Part_MergeAndSort(benchmark::State& state) {
    const auto own = tervolo::search::ownPointResults(store().validPointsWithFilter(std::string(kFilter)));
    const double start = threadCpuNs();
    for (auto _ : state) {
        auto merged = tervolo::search::mergeSearchResults(backend(), geocoder(), own, kCenter);
        benchmark::DoNotOptimize(merged.data());
    }
    const double ns = (threadCpuNs() - start) / static_cast<double>(state.iterations());
    if (floorNs > 0) state.counters["x_floor"] = ns / floorNs;
}
BENCHMARK(BM_Part_MergeAndSort)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
