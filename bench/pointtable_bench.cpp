// The point list's content recompute, run on every keystroke and on every
// location fix in distance order, against the floor of the point store's own
// filter and sort of the same points (the valid and the deleted list), with
// 10,000 points and 100 tags; and scrolling the list against laying out its
// visible rows alone. Each benchmark times both sides in the same loop and
// reports "x_floor", ours divided by the floor (1.0 = as fast as the floor).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "points/BestKnownLocation.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaPointTag.hpp"
#include "pointscreens/PointTableContent.hpp"
#include "pointscreens/PointTableViewController.hpp"
#include "pointscreens/QuovaMapPointCell.hpp"

namespace {

using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using tervolo::pointscreens::PointTableContent;
using Clock = std::chrono::steady_clock;

constexpr int kPoints = 10000;
constexpr int kTags = 100;

// Points with mixed titles (cafés, accents, CJK, Hebrew), 1 to 3 of 100 tags each, every 20th deleted,
// spread over southern Finland; fixed seed.
std::optional<PointTableContent::TagList>& tags() {
    static std::optional<PointTableContent::TagList> list = [] {
        // Private documents folder: the shared store reads it when first made.
        static std::string folder = [] {
            char pattern[] = "/tmp/pointtable_benchXXXXXX";
            const char* made = mkdtemp(pattern);
            return std::string(made ? made : "/tmp");
        }();
        setenv("XDG_DATA_HOME", folder.c_str(), 1);
        PointTableContent::TagList made;
        for (int i = 0; i < kTags; ++i)
            made.push_back(tervolo::points::QuovaPointTag::make("tag" + std::to_string(i)));
        std::mt19937 random(72);
        const char* const words[] = {
            "Cafe", "Café", "bar",  "Harbour",    "park",   "Église",   "Straße", "東京", "שוק",   "Museum",
            "old",  "new",  "york", "Kauppatori", "market", "Espresso", "apple",  "Zoo",  "depot", "gate"};
        std::vector<std::shared_ptr<QuovaMapPoint>> points;
        for (int i = 0; i < kPoints; ++i) {
            std::string title;
            for (int w = 0; w < 3; ++w) {
                if (w > 0) title += ' ';
                title += words[random() % std::size(words)];
            }
            auto point = QuovaMapPoint::make(title);
            point->setSubtitle(std::string(words[random() % std::size(words)]) + " street " +
                               std::to_string(i));
            point->setCoordinate({59.5 + (random() % 20000) / 10000.0, 21.0 + (random() % 60000) / 10000.0});
            std::vector<std::string> tagIds;
            for (unsigned t = 0; t < 1 + random() % 3; ++t) tagIds.push_back(made[random() % kTags]->uuid());
            point->setTags(tagIds);
            if (i % 20 == 0) point->setDeletedAt(platform::Date{1000.0});
            points.push_back(point);
        }
        QuovaMapPointStore::shared().replacePointsForTesting(std::move(points));
        return made;
    }();
    return list;
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_pointtable";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

// The floor: the store's valid and deleted queries with the search text, each sorted.
size_t storeFloor(const std::optional<std::string>& searchText, QuovaMapPointStore::SortOrder order) {
    const auto& store = QuovaMapPointStore::shared();
    auto valid = QuovaMapPointStore::sortedPoints(store.validPointsWithFilter(searchText), order);
    auto deleted = QuovaMapPointStore::sortedPoints(store.deletedPointsWithFilter(searchText), order);
    return valid.size() + deleted.size();
}

// One recompute per iteration, ours and the floor alternately.
void runRecompute(benchmark::State& state, const std::optional<std::string>& filter, int segment) {
    auto& tagList = tags();
    if (segment == 1)
        tervolo::points::setBestKnownLocationProvider([] { return platform::CLLocation(60.17, 24.94); });
    else
        tervolo::points::setBestKnownLocationProvider(nullptr);
    const auto parsed = tervolo::pointscreens::PointTableFilter::parse(filter);
    const auto order = PointTableContent::sortOrderForSegment(segment);
    PointTableContent content;
    double oursNs = 0, floorNs = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        content.cachePointStoreWithFilter(filter, segment, QuovaMapPointStore::shared(), tagList);
        benchmark::DoNotOptimize(content.numberOfSections());
        oursNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        start = Clock::now();
        benchmark::DoNotOptimize(storeFloor(parsed.searchText, order));
        floorNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    }
    state.counters["x_floor"] = oursNs / floorNs;
    state.counters["ours_ms"] = oursNs / 1e6 / static_cast<double>(state.iterations());
    state.counters["rows"] = static_cast<double>(content.pointCount());
    tervolo::points::setBestKnownLocationProvider(nullptr);
}

void BM_Recompute_Text_AZ(benchmark::State& state) {
    runRecompute(state, "cafe", 0);
}
void BM_Recompute_Tag_AZ(benchmark::State& state) {
    runRecompute(state, "#tag7", 0);
}
void BM_Recompute_TwoTagsAndText_AZ(benchmark::State& state) {
    runRecompute(state, "#tag3 #tag9 cafe", 0);
}
void BM_Recompute_Unfiltered_AZ(benchmark::State& state) {
    runRecompute(state, std::nullopt, 0);
}
void BM_Recompute_Fix_Distance(benchmark::State& state) {
    runRecompute(state, std::nullopt, 1);
}
void BM_Recompute_Text_LastChange(benchmark::State& state) {
    runRecompute(state, "cafe", 2);
}
BENCHMARK(BM_Recompute_Text_AZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Recompute_Tag_AZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Recompute_TwoTagsAndText_AZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Recompute_Unfiltered_AZ)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Recompute_Fix_Distance)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Recompute_Text_LastChange)->Unit(benchmark::kMillisecond)->UseRealTime();

// Scrolling the list screen by one viewport per iteration, against the floor: as many point cells as
// fit in view, each given its next row's point, measured for its height and moved into place.
void BM_PointList_ScrollScreen(benchmark::State& state) {
    application();
    tags();
    auto list = std::make_shared<tervolo::pointscreens::PointTableViewController>();
    QWidget* view = list->view();
    view->resize(420, 720);
    list->cachePointStoreWithFilter(std::nullopt);
    auto* table = list->tableView();
    table->reloadData();
    view->show();
    table->layoutRows();
    const int width = table->viewport()->width();
    const double screen = table->viewport()->height();

    QWidget floorViewport;
    floorViewport.resize(width, static_cast<int>(screen));
    floorViewport.show();
    std::vector<tervolo::pointscreens::QuovaMapPointCell*> cells;
    const int visible = static_cast<int>(table->indexPathsForVisibleRows().size());
    for (int i = 0; i < visible; ++i) {
        cells.push_back(new tervolo::pointscreens::QuovaMapPointCell(
            platform::TableViewCell::Style::Subtitle,
            tervolo::pointscreens::QuovaMapPointCell::kReuseIdentifier, &floorViewport));
        cells.back()->show();
    }
    const auto& allPoints = QuovaMapPointStore::shared().points();

    double oursNs = 0, floorNs = 0;
    double y = 0;
    size_t next = 0;
    const double end = table->contentHeight() - screen;
    for (auto _ : state) {
        y += screen;
        if (y > end) y = 0;
        auto start = Clock::now();
        table->setContentOffset(y);
        oursNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();

        start = Clock::now();
        int top = 0;
        for (auto* cell : cells) {
            cell->setQuovaPoint(allPoints[next++ % allPoints.size()]);
            cell->setImage(tervolo::pointscreens::QuovaMapPointCell::rowImage());
            const int height =
                cell->heightForWidth(width) > 0 ? cell->heightForWidth(width) : cell->sizeHint().height();
            cell->setGeometry(0, top - static_cast<int>(next % 2), width, height);
            top += height;
        }
        floorNs += std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    }
    state.counters["x_floor"] = oursNs / floorNs;
    state.counters["cells"] = table->cellsCreated();
}
BENCHMARK(BM_PointList_ScrollScreen)->UseRealTime();

}  // namespace
