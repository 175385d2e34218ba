// Point list work per keystroke: filtering 10,000 points and sorting the
// result, against a floor of the same work with ASCII-only case folding and
// byte comparison, and against the original per-comparison sort keys (an NFC
// form or a geodesic computed anew in every comparison).
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/NullSearchIndex.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "platform/text/Unicode.hpp"
#include "points/BestKnownLocation.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace {

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using PointList = std::vector<std::shared_ptr<QuovaMapPoint>>;
using SortOrder = QuovaMapPointStore::SortOrder;

// A store of 10,000 points like a user's: mostly ASCII names, a fifth with
// accents or other non-ASCII letters, a tenth deleted, half with a subtitle.
QuovaMapPointStore& store() {
    static QuovaMapPointStore* made = [] {
        char pattern[] = "/tmp/tervolo-pointops-bench-XXXXXX";
        const std::string root = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", root.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        platform::SearchIndex::setDefaultForTesting(std::make_shared<tervolo::bench::NullSearchIndex>());
        auto& store = QuovaMapPointStore::shared();
        const std::vector<std::string> words = {
            "Harbour", "Pier",   "Caf\u00e9",          "Bar",     "Restaurant",
            "Park",    "Museum", "Stra\u00dfe",        "Kirche",  "M\u00fchle",
            "Zoo",     "apple",  "\u00c5ngstr\u00f6m", "Bahnhof", "Platz"};
        std::mt19937 random(42);
        std::vector<std::shared_ptr<QuovaMapPoint>> points;
        auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
        for (int i = 0; i < 10000; ++i) {
            std::string title = words[pick(words.size())] + " " + std::to_string(i);
            if (pick(5) != 0) {
                // Keep four in five titles plain ASCII.
                title.erase(std::remove_if(title.begin(), title.end(), [](char c) { return c & 0x80; }),
                            title.end());
            }
            auto point = QuovaMapPoint::make(title);
            if (pick(2) == 0) point->setSubtitle(words[pick(words.size())] + " " + std::to_string(pick(100)));
            point->setCoordinate({47.0 + static_cast<double>(pick(60000)) / 10000.0,
                                  6.0 + static_cast<double>(pick(90000)) / 10000.0});
            point->setLastSavedAt(platform::Date{static_cast<double>(pick(1000000))});
            if (pick(10) == 0) point->setDeletedAt(platform::Date{1});
            points.push_back(point);
        }
        store.replacePointsForTesting(std::move(points));
        tervolo::points::setBestKnownLocationProvider(
            [] { return std::optional(platform::CLLocation(52.52, 13.405)); });
        return &store;
    }();
    return *made;
}

constexpr const char* kFilter = "ar";  // matches about half the points

void BM_FilterAndSort(benchmark::State& state) {
    auto& points = store();
    const auto order = static_cast<SortOrder>(state.range(0));
    for (auto _ : state) {
        auto result = QuovaMapPointStore::sortedPoints(points.validPointsWithFilter(kFilter), order);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_FilterAndSort)
    ->ArgName("order")
    ->Arg(static_cast<int>(SortOrder::alphabetically))
    ->Arg(static_cast<int>(SortOrder::byDistance))
    ->Arg(static_cast<int>(SortOrder::byLastChange))
    ->Unit(benchmark::kMillisecond);

void BM_FilterOnly(benchmark::State& state) {
    auto& points = store();
    for (auto _ : state) {
        auto result = points.validPointsWithFilter(kFilter);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_FilterOnly)->Unit(benchmark::kMillisecond);

// The floor: ASCII case folding only, titles compared as raw bytes. Wrong for
// "Straße" or decomposed accents; it bounds what the Unicode rules cost.
bool asciiContains(const std::string& haystack, const std::string& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           }) != haystack.end();
}

void BM_Floor_AsciiFilterAndByteSort(benchmark::State& state) {
    auto& points = store();
    const std::string filter = kFilter;
    for (auto _ : state) {
        PointList result;
        for (const auto& point : points.points()) {
            if (point->deletedAt() || point->hiddenAt()) continue;
            if ((point->title() && asciiContains(*point->title(), filter)) ||
                (point->subtitle() && asciiContains(*point->subtitle(), filter))) {
                result.push_back(point);
            }
        }
        std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
            return a->title().value_or("") < b->title().value_or("");
        });
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_Floor_AsciiFilterAndByteSort)->Unit(benchmark::kMillisecond);

// The original's way: the keys made in every comparison.
void BM_PerComparisonKeys(benchmark::State& state) {
    auto& points = store();
    const auto input = points.validPointsWithFilter(kFilter);
    const platform::CLLocation here(52.52, 13.405);
    const bool byDistance = state.range(0) == static_cast<int>(SortOrder::byDistance);
    for (auto _ : state) {
        auto result = input;
        if (byDistance) {
            std::stable_sort(result.begin(), result.end(), [&](const auto& a, const auto& b) {
                return a->distance(here) < b->distance(here);
            });
        } else {
            std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
                return platform::text::compareCodePoints(a->title().value_or(""), b->title().value_or("")) <
                       0;
            });
        }
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(input.size()));
}
BENCHMARK(BM_PerComparisonKeys)
    ->ArgName("order")
    ->Arg(static_cast<int>(SortOrder::alphabetically))
    ->Arg(static_cast<int>(SortOrder::byDistance))
    ->Unit(benchmark::kMillisecond);

void BM_WithinDistance(benchmark::State& state) {
    auto& points = store();
    auto origin = QuovaMapPoint::make("origin");
    origin->setCoordinate({50.0, 10.5});
    for (auto _ : state) {
        auto result = points.validPointsWithinDistance(25.0, *origin);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_WithinDistance)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
