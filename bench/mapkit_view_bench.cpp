// The map view's frames against their floors, each measured in the same run:
//  - warm frame: 1920×1080 with the base map, two circle overlays and 10,000 pins of which 500 are in
//    view, against a bare QPainter drawing the very cell images and pin pixmaps the frame drew
//    (counter "ratio", goal ≤ 1.5);
//  - pin sweep: the same frame with 100 to 10,000 pins, all in view, against the bare QPainter
//    drawing the same cells and pins ("ratio" per count, goal ≤ 1.1);
//  - culling: the same frame with 100,000 pins against 1,000 pins, 500 in view each ("ratio", ≤ 1.2);
//  - cold frame: the base map at zoom 5 over Europe drawn from nothing (every cell rendered on the
//    drawing threads) against the warm frame ("ratio", ≤ 30). The map data is inflated beforehand.
//  - world frame: the whole world in a 1280×800 view with 10,000 pins, all in view, against the same
//    frame with none: pins in one city (as a user's points mostly are, piled onto a few pixels) and
//    spread over the world ("added_ms" each; "world_moving_added_ms" while the view moves by half a
//    point every frame). Run with QT_SCALE_FACTOR=2 for pixel ratio 2.
#include <benchmark/benchmark.h>
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>

#include "platform/mapkit/qt/MKMapView.hpp"

namespace {

using namespace platform;
using Clock = std::chrono::steady_clock;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_mapkit_view";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

struct Delegate : MKMapViewDelegate {
    std::shared_ptr<MKOverlayRenderer> rendererForOverlay(
        MKMapViewModel&, const std::shared_ptr<MKOverlay>& overlay) override {
        auto renderer = std::make_shared<MKCircleRenderer>(std::dynamic_pointer_cast<MKCircle>(overlay));
        renderer->setFillColor(Color(1, 0, 0, 0.25));
        renderer->setStrokeColor(Color(1, 0, 0, 0.8));
        renderer->setLineWidth(2);
        return renderer;
    }
};

// One whole frame of `map` drawn into `target`.
double drawSeconds(MKMapView& map, QImage& target) {
    QPainter painter(&target);
    const auto start = Clock::now();
    map.drawMap(painter);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A 1920×1080 map at exactly zoom `zoom` over central Europe with `pins` pins, `visible` of them in view.
struct Scene {
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
    std::unique_ptr<MKMapView> map;
    QImage target{1920, 1080, QImage::Format_ARGB32_Premultiplied};

    Scene(int zoom, size_t pins, size_t visible, bool overlays) {
        application();
        map = std::make_unique<MKMapView>();
        map->resize(1920, 1080);
        map->setDelegate(delegate);
        const double scale = std::exp2(zoom - 20);
        const MKMapPoint middle = MKMapPointForCoordinate({50, 10});
        const MKMapRect view =
            MKMapRectMake(middle.x - 960 / scale, middle.y - 540 / scale, 1920 / scale, 1080 / scale);
        map->setVisibleMapRect(view);
        if (overlays) {
            map->addOverlay(std::make_shared<MKCircle>(CLLocationCoordinate2D{50, 10}, 300000),
                            MKOverlayLevel::AboveRoads);
            map->addOverlay(std::make_shared<MKCircle>(CLLocationCoordinate2D{48, 14}, 200000));
        }
        std::mt19937_64 random(5);
        std::uniform_real_distribution<double> inX(view.origin.x + 20 / scale,
                                                   MKMapRectGetMaxX(view) - 20 / scale);
        std::uniform_real_distribution<double> inY(view.origin.y + 45 / scale,
                                                   MKMapRectGetMaxY(view) - 5 / scale);
        std::uniform_real_distribution<double> anywhere(0, kMKMapWorldSide);
        std::vector<std::shared_ptr<MKAnnotation>> annotations;
        for (size_t i = 0; i < pins; ++i) {
            MKMapPoint point{inX(random), inY(random)};
            if (i >= visible) {
                do {
                    point = {anywhere(random), anywhere(random)};
                } while (MKMapRectContainsPoint(MKMapRectInset(view, -200 / scale, -200 / scale), point));
            }
            annotations.push_back(std::make_shared<MKPointAnnotation>(MKCoordinateForMapPoint(point)));
        }
        map->addAnnotations(annotations);
        MKBaseMap::shared().preload(MKBaseMap::detailForZoomLevel(zoom));
        map->waitForCells();
    }

    double frameSeconds() { return drawSeconds(*map, target); }
};

double bestOf(int runs, const std::function<double()>& run) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) best = std::min(best, run());
    return best;
}

void BM_WarmFrameAgainstBarePainter(benchmark::State& state) {
    Scene scene(6, 10000, 500, true);
    scene.map->setRecordsDrawing(true);
    scene.frameSeconds();
    scene.map->setRecordsDrawing(false);
    const auto cells = scene.map->drawnCells();
    const auto pixmaps = scene.map->drawnPixmaps();
    if (pixmaps.size() != 500) state.SkipWithError("expected 500 pins in view");
    const QColor water = MKBaseMap::paletteForMapType(MKMapType::Standard).water;
    auto floor = [&] {
        QPainter painter(&scene.target);
        const auto start = Clock::now();
        painter.fillRect(scene.target.rect(), water);
        for (const auto& cell : cells) painter.drawImage(cell.target, cell.image, cell.source);
        for (const auto& pin : pixmaps) painter.drawPixmap(pin.topLeft, pin.pixmap);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double frame = 0;
    double bare = 0;
    for (auto _ : state) {
        frame = bestOf(20, [&] { return scene.frameSeconds(); });
        bare = bestOf(20, floor);
        state.SetIterationTime(frame);
    }
    state.counters["frame_ms"] = frame * 1e3;
    state.counters["floor_ms"] = bare * 1e3;
    state.counters["cells"] = static_cast<double>(cells.size());
    state.counters["ratio"] = frame / bare;
}
BENCHMARK(BM_WarmFrameAgainstBarePainter)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The warm frame of BM_WarmFrameAgainstBarePainter with `pins` pins, all in view and spread over it,
// against the bare QPainter drawing the same cells and pictures: where many markers are shown from
// the pixels an earlier frame kept, it pays only where that is cheaper than drawing each.
void BM_WarmFramePinSweep(benchmark::State& state) {
    const auto pins = static_cast<size_t>(state.range(0));
    Scene scene(6, pins, pins, true);
    scene.map->setRecordsDrawing(true);
    scene.frameSeconds();
    scene.map->setRecordsDrawing(false);
    const auto cells = scene.map->drawnCells();
    const auto pixmaps = scene.map->drawnPixmaps();
    if (pixmaps.size() != pins) state.SkipWithError("expected every pin in view");
    const QColor water = MKBaseMap::paletteForMapType(MKMapType::Standard).water;
    auto floor = [&] {
        QPainter painter(&scene.target);
        const auto start = Clock::now();
        painter.fillRect(scene.target.rect(), water);
        for (const auto& cell : cells) painter.drawImage(cell.target, cell.image, cell.source);
        for (const auto& pin : pixmaps) painter.drawPixmap(pin.topLeft, pin.pixmap);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double frame = 1e9;
    double bare = 1e9;
    for (auto _ : state) {
        // In turns, so both see the same machine.
        for (int turn = 0; turn < 4; ++turn) {
            frame = std::min(frame, bestOf(5, [&] { return scene.frameSeconds(); }));
            bare = std::min(bare, bestOf(5, floor));
        }
        state.SetIterationTime(frame);
    }
    state.counters["frame_ms"] = frame * 1e3;
    state.counters["floor_ms"] = bare * 1e3;
    state.counters["from_layer"] = scene.map->lastFrameStats().annotationsFromLayer;
    state.counters["ratio"] = frame / bare;
}
BENCHMARK(BM_WarmFramePinSweep)
    ->Arg(100)
    ->Arg(255)
    ->Arg(256)
    ->Arg(500)
    ->Arg(2000)
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_CullingManyPinsAgainstFew(benchmark::State& state) {
    Scene many(6, 100000, 500, false);
    Scene few(6, 1000, 500, false);
    double manyFrame = 0;
    double fewFrame = 0;
    for (auto _ : state) {
        manyFrame = bestOf(20, [&] { return many.frameSeconds(); });
        fewFrame = bestOf(20, [&] { return few.frameSeconds(); });
        state.SetIterationTime(manyFrame);
    }
    state.counters["pins100k_ms"] = manyFrame * 1e3;
    if (many.map->lastFrameStats().annotationsDrawn != 500 ||
        few.map->lastFrameStats().annotationsDrawn != 500) {
        state.SkipWithError("expected 500 pins in view");
    }
    state.counters["pins1k_ms"] = fewFrame * 1e3;
    state.counters["ratio"] = manyFrame / fewFrame;
}
BENCHMARK(BM_CullingManyPinsAgainstFew)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ColdBaseMapAgainstWarm(benchmark::State& state) {
    Scene scene(5, 0, 0, false);
    double cold = 1e9;
    double warm = 0;
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            scene.map->clearCellCache();
            const auto start = Clock::now();
            scene.map->waitForCells();
            scene.frameSeconds();
            cold = std::min(cold, std::chrono::duration<double>(Clock::now() - start).count());
        }
        warm = bestOf(20, [&] { return scene.frameSeconds(); });
        state.SetIterationTime(cold);
    }
    state.counters["cold_ms"] = cold * 1e3;
    state.counters["warm_ms"] = warm * 1e3;
    state.counters["ratio"] = cold / warm;
}
BENCHMARK(BM_ColdBaseMapAgainstWarm)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// The whole world in view, with `coordinates` as pins; frames drawn at the view's own pixel ratio.
struct WorldScene {
    std::unique_ptr<MKMapView> map;
    QImage target;

    explicit WorldScene(const std::vector<CLLocationCoordinate2D>& coordinates) {
        application();
        map = std::make_unique<MKMapView>();
        map->resize(1280, 800);
        map->setVisibleMapRect(MKMapRectWorld);
        std::vector<std::shared_ptr<MKAnnotation>> annotations;
        annotations.reserve(coordinates.size());
        for (const auto& coordinate : coordinates) {
            annotations.push_back(std::make_shared<MKPointAnnotation>(coordinate));
        }
        map->addAnnotations(annotations);
        const qreal ratio = map->devicePixelRatioF();
        target = QImage(QSize(1280, 800) * ratio, QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(ratio);
        map->waitForCells();
    }

    double frameSeconds() { return drawSeconds(*map, target); }
};

void BM_WorldFrame10kPinsAgainstNone(benchmark::State& state) {
    // A grid of 100 × 100 points around Helsinki, as the start-up benchmark stores.
    std::vector<CLLocationCoordinate2D> city;
    for (int i = 0; i < 10000; ++i) city.push_back({60.0 + (i % 100) * 0.004, 24.7 + (i / 100) * 0.006});
    std::vector<CLLocationCoordinate2D> world;
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> latitude(-70, 75);
    std::uniform_real_distribution<double> longitude(-179, 179);
    for (int i = 0; i < 10000; ++i) world.push_back({latitude(random), longitude(random)});
    WorldScene none({});
    WorldScene inCity(city);
    WorldScene overWorld(world);
    // The floor of the pins alone: a bare QPainter drawing the very pictures the city's frame drew.
    inCity.map->setRecordsDrawing(true);
    inCity.frameSeconds();
    inCity.map->setRecordsDrawing(false);
    const auto pins = inCity.map->drawnPixmaps();
    auto barePins = [&] {
        QPainter painter(&inCity.target);
        const auto start = Clock::now();
        for (const auto& pin : pins) painter.drawPixmap(pin.topLeft, pin.pixmap);
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double noneFrame = 0;
    double cityFrame = 0;
    double worldFrame = 0;
    double pinsFloor = 0;
    // Frames whose pins cannot be shown from the last frame's pixels: the view moves by half a point
    // between them, so each one draws every pin again.
    const MKMapRect worldShown = overWorld.map->visibleMapRect();
    const double halfPoint = worldShown.size.width / 1280 / 2;
    int moves = 0;
    auto movedFrame = [&](WorldScene& scene) {
        scene.map->setVisibleMapRect(MKMapRectOffset(worldShown, (++moves % 2) * halfPoint, 0));
        return scene.frameSeconds();
    };
    double movedFrameSeconds = 0;
    double movedNoneSeconds = 0;
    for (auto _ : state) {
        noneFrame = bestOf(10, [&] { return none.frameSeconds(); });
        cityFrame = bestOf(10, [&] { return inCity.frameSeconds(); });
        worldFrame = bestOf(10, [&] { return overWorld.frameSeconds(); });
        pinsFloor = bestOf(10, barePins);
        movedFrameSeconds = bestOf(10, [&] { return movedFrame(overWorld); });
        movedNoneSeconds = bestOf(10, [&] { return movedFrame(none); });
        state.SetIterationTime(cityFrame);
    }
    state.counters["world_moving_added_ms"] = (movedFrameSeconds - movedNoneSeconds) * 1e3;
    state.counters["city_pins_floor_ms"] = pinsFloor * 1e3;
    if (inCity.map->lastFrameStats().annotationsDrawn != 10000 ||
        overWorld.map->lastFrameStats().annotationsDrawn < 10000) {
        state.SkipWithError("expected every pin in view");
    }
    state.counters["none_ms"] = noneFrame * 1e3;
    state.counters["city_ms"] = cityFrame * 1e3;
    state.counters["world_ms"] = worldFrame * 1e3;
    state.counters["city_added_ms"] = (cityFrame - noneFrame) * 1e3;
    state.counters["world_added_ms"] = (worldFrame - noneFrame) * 1e3;
    state.counters["pixel_ratio"] = inCity.map->devicePixelRatioF();
}
BENCHMARK(BM_WorldFrame10kPinsAgainstNone)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
