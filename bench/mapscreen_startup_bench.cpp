// The map screen's start with the user's points against its floor, both measured in the same run:
// from loading 10,000 point files (half of them with an alarm circle) through the screen's view loading
// (every valid point's pin and circle put on the map) to the first frame of its map, against reading and
// parsing the same files alone. Counters: "ratio" start / floor (goal ≤ 2), the split "load_ms" (the
// point store reading the folder), "view_ms" (the view loading without it), "frame_ms" (the first frame),
// and "scaling": the start with 10,000 points over the start with 1,000 (goal ≤ 12: linear).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "mapscreen/MainViewController.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "platform/text/Numbers.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace {

using tervolo::mapscreen::MainViewController;
using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaMapPointStore;
using Clock = std::chrono::steady_clock;

// A search index that takes every request and keeps nothing: the store hands it all its points at
// load, and what the system index does with them is not the map screen's work.
class DiscardingSearchIndex : public platform::SearchIndex {
  public:
    void indexSearchableItems(std::vector<platform::SearchableItem>, CompletionHandler done) override {
        if (done) done(std::nullopt);
    }
    void deleteSearchableItemsWithIdentifiers(std::vector<std::string>, CompletionHandler done) override {
        if (done) done(std::nullopt);
    }
    std::optional<platform::SearchableItem> item(const std::string&) const override { return std::nullopt; }
    std::vector<platform::SearchableItem> allItems() const override { return {}; }
};

const std::filesystem::path& benchFolder() {
    static const auto folder = std::filesystem::temp_directory_path() / "tervolo_mapscreen_startup_bench";
    return folder;
}

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_mapscreen_startup";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // Caches and preferences of its own; no host is reachable (the default .invalid ones), and the
        // search index keeps nothing, so only the screen's own work and the files are measured.
        std::filesystem::create_directories(benchFolder());
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((benchFolder() / "cache").string()));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((benchFolder() / "config").string()));
        platform::SearchIndex::setDefaultForTesting(std::make_shared<DiscardingSearchIndex>());
        return new QApplication(argc, argv);
    }();
    return *app;
}

// The documents folder of a store of `count` points; written once.
std::filesystem::path pointsFolder(int count) {
    const auto documents = benchFolder() / ("documents-" + std::to_string(count));
    ::setenv("XDG_DATA_HOME", documents.string().c_str(), 1);
    const auto folder = std::filesystem::path(QuovaMapPoint::documentDirectory());
    size_t present = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++present;
    if (present == static_cast<size_t>(count)) return folder;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::mt19937_64 random(static_cast<uint64_t>(count));
    std::uniform_real_distribution<double> latitude(35, 70);
    std::uniform_real_distribution<double> longitude(-10, 40);
    std::uniform_real_distribution<double> radius(100, 2000);
    for (int i = 0; i < count; ++i) {
        auto point = QuovaMapPoint::make("Point " + std::to_string(i));
        point->ensureUUID();
        point->setCoordinate({latitude(random), longitude(random)});
        point->setSubtitle("Street " + std::to_string(i) + ", 00100 City");
        if (i % 2 == 0) point->setAlarmCircleDiameter(radius(random));
        std::ofstream(folder / (*point->uuid() + QuovaMapPoint::kFileExtension), std::ios::binary)
            << point->encodedFile();
    }
    return folder;
}

MainViewController::Services quietServices() {
    MainViewController::Services services;
    services.installToolbarDelegate = [](MainViewController&, platform::Toolbar&) {};
    services.bindPlugIn = [] {};
    services.authorizationStatus = [] { return platform::CLAuthorizationStatus::denied; };
    services.loadVersionInfo = [](MainViewController::VersionDelivery) {};
    services.trackEvent = [](const std::string&, const std::map<std::string, std::string>&) {};
    return services;
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct StartTimes {
    double load = 0;
    double view = 0;
    double frame = 0;
    double total() const { return load + view + frame; }
};

// One start of the screen over the folder of `count` points, best of `rounds`.
StartTimes start(int count, int rounds, benchmark::State& state) {
    pointsFolder(count);
    StartTimes best{1e9, 1e9, 1e9};
    for (int round = 0; round < rounds; ++round) {
        QuovaMapPointStore::resetSharedForTesting();
        auto screen = std::make_shared<MainViewController>(quietServices());
        StartTimes times;
        auto at = Clock::now();
        const size_t loaded = QuovaMapPointStore::shared().points().size();
        times.load = seconds(at);
        at = Clock::now();
        QWidget* view = screen->view();
        times.view = seconds(at);
        at = Clock::now();
        QImage target(view->size(), QImage::Format_ARGB32_Premultiplied);
        {
            QPainter painter(&target);
            screen->mapView()->drawMap(painter);
        }
        times.frame = seconds(at);
        if (loaded != static_cast<size_t>(count) || screen->mapView()->annotationCount() != loaded) {
            state.SkipWithError("the screen did not put every point on the map");
        }
        if (times.total() < best.total()) best = times;
        screen->mapView()->waitForCells();  // the drawing threads finish before the screen goes
    }
    return best;
}

// Reading and parsing the same files, nothing else.
double floorTime(int count, int rounds) {
    const auto folder = pointsFolder(count);
    double best = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const auto at = Clock::now();
        size_t parsed = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (QuovaMapPoint::initWithFilePath(entry.path().string())) ++parsed;
        }
        best = std::min(best, seconds(at));
        benchmark::DoNotOptimize(parsed);
    }
    return best;
}

void BM_StartUpWithPointsAgainstReadingTheFiles(benchmark::State& state) {
    application();
    StartTimes large;
    StartTimes small;
    double floor = 0;
    for (auto _ : state) {
        large = start(10000, 5, state);
        floor = floorTime(10000, 5);
        small = start(1000, 5, state);
        state.SetIterationTime(large.total());
    }
    state.counters["start_ms"] = large.total() * 1e3;
    state.counters["load_ms"] = large.load * 1e3;
    state.counters["view_ms"] = large.view * 1e3;
    state.counters["frame_ms"] = large.frame * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["ratio"] = large.total() / floor;
    state.counters["start_1000_ms"] = small.total() * 1e3;
    state.counters["scaling"] = large.total() / small.total();
}
BENCHMARK(BM_StartUpWithPointsAgainstReadingTheFiles)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
