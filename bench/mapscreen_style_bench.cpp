// A base map style switch on the map screen's map view against its floor, both
// measured in the same run: OpenStreetMap → OpenTopoMap on a 1280×800 map with
// 10,000 alarm circles (500 in view), until the next frame is drawn (every
// overlay back on the map with a new renderer, the cells in view asked for), against taking the same overlays
// off and putting them back in the same order with the map view's own calls and drawing that frame. Counter
// "ratio": switch / floor, goal ≤ 1.3.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>

#include "mapscreen/QuovaMKMapView.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/TileOverlayRenderer.hpp"

namespace {

using namespace platform;
using tervolo::mapscreen::QuovaMKMapView;
using tervolo::tiles::QuovaBaseMapStyle;
using Clock = std::chrono::steady_clock;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_mapscreen_style";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // Tile caches in a folder of their own; the tile host stays the default .invalid one, so no
        // request leaves the machine (and none is run: the main queue is not pumped).
        const auto folder = std::filesystem::temp_directory_path() / "tervolo_mapscreen_style_bench";
        std::filesystem::create_directories(folder);
        qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(folder.string()));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(folder.string()));
        return new QApplication(argc, argv);
    }();
    return *app;
}

// The map screen's renderers: tiles for tile overlays, a translucent red fill for the circles.
struct Delegate : MKMapViewDelegate {
    std::shared_ptr<MKOverlayRenderer> rendererForOverlay(
        MKMapViewModel&, const std::shared_ptr<MKOverlay>& overlay) override {
        if (auto tile = std::dynamic_pointer_cast<tervolo::tiles::QuovaTileOverlay>(overlay))
            return tervolo::tiles::TileOverlayRenderer::makeForOverlay(tile);
        auto renderer = std::make_shared<MKCircleRenderer>(std::dynamic_pointer_cast<MKCircle>(overlay));
        renderer->setFillColor(Color(1, 0, 0, 0.25));
        return renderer;
    }
};

struct Scene {
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
    std::unique_ptr<QuovaMKMapView> map;
    QImage target{1280, 800, QImage::Format_ARGB32_Premultiplied};

    Scene() {
        application();
        map = std::make_unique<QuovaMKMapView>();
        map->resize(1280, 800);
        map->setDelegate(delegate);
        const double scale = std::exp2(8 - 20);
        const MKMapPoint middle = MKMapPointForCoordinate({50, 10});
        const MKMapRect view =
            MKMapRectMake(middle.x - 640 / scale, middle.y - 400 / scale, 1280 / scale, 800 / scale);
        map->setVisibleMapRect(view);
        std::mt19937_64 random(7);
        std::uniform_real_distribution<double> inX(view.origin.x, MKMapRectGetMaxX(view));
        std::uniform_real_distribution<double> inY(view.origin.y, MKMapRectGetMaxY(view));
        std::uniform_real_distribution<double> radius(200, 3000);
        std::vector<std::shared_ptr<MKOverlay>> circles;
        // A user's points lie all over the world; 500 of them in view.
        std::uniform_real_distribution<double> anywhere(0, kMKMapWorldSide);
        const MKMapRect margin = MKMapRectInset(view, -50 / scale, -50 / scale);
        for (int i = 0; i < 10000; ++i) {
            MKMapPoint point{inX(random), inY(random)};
            if (i >= 500) {
                do {
                    point = {anywhere(random), anywhere(random)};
                } while (MKMapRectContainsPoint(margin, point));
            }
            circles.push_back(std::make_shared<MKCircle>(MKCoordinateForMapPoint(point), radius(random)));
        }
        map->addOverlays(circles);
        map->setMapStyle(QuovaBaseMapStyle::osm);
        frame();
        settle();
    }

    // The next frame: every overlay's renderer asked for, the cells it needs asked of the drawing
    // threads, and what is cached composited.
    void frame() {
        QPainter painter(&target);
        map->drawMap(painter);
    }
    // Lets the drawing threads finish what the last frames asked for (not measured), so each
    // measurement starts from the same quiet map.
    void settle() { map->waitForCells(); }
};

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_StyleSwitchAgainstRestackingFloor(benchmark::State& state) {
    Scene scene;
    auto& manager = tervolo::tiles::QuovaMapManager::shared();
    const auto osm =
        manager.baseMapOverlayForMapView(scene.map->tileOverlayDelegate(), QuovaBaseMapStyle::osm);
    const auto topo =
        manager.baseMapOverlayForMapView(scene.map->tileOverlayDelegate(), QuovaBaseMapStyle::openTopoMap);
    // Back to OpenStreetMap at the bottom after the floor (not measured).
    auto restore = [&] {
        auto all = scene.map->overlays();
        std::vector<std::shared_ptr<MKOverlay>> rest(all.begin() + 1, all.end());
        scene.map->removeOverlays(all);
        scene.map->insertOverlay(osm, 0, MKOverlayLevel::AboveLabels);
        scene.map->addOverlays(rest);
        scene.frame();
        scene.settle();
    };
    double best = 1e9;
    double floor = 1e9;
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            // The switch: what a choice in the style sheet does.
            auto start = Clock::now();
            scene.map->setMapStyle(QuovaBaseMapStyle::openTopoMap);
            scene.frame();
            best = std::min(best, seconds(start));
            if (scene.map->overlays().front() != topo || scene.map->overlays().size() != 10001)
                state.SkipWithError("the switch did not put OpenTopoMap at the bottom");
            // Back to OpenStreetMap through the map view (not measured).
            scene.settle();
            scene.map->setMapStyle(QuovaBaseMapStyle::osm);
            scene.frame();
            scene.settle();

            // The floor: the same overlays off and on again with the map view's own calls, and the frame.
            start = Clock::now();
            auto all = scene.map->overlays();
            std::vector<std::shared_ptr<MKOverlay>> rest(all.begin() + 1, all.end());
            scene.map->removeOverlays(all);
            scene.map->insertOverlay(topo, 0, MKOverlayLevel::AboveLabels);
            scene.map->addOverlays(rest);
            scene.frame();
            floor = std::min(floor, seconds(start));
            scene.settle();
            restore();
        }
        state.SetIterationTime(best);
    }
    state.counters["switch_ms"] = best * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["ratio"] = best / floor;
}
BENCHMARK(BM_StyleSwitchAgainstRestackingFloor)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);

}  // namespace
