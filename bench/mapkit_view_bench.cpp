// The map view's frames against their floors, each measured in the same run:
//  - warm frame: 1920×1080 with the base map, two circle overlays and 10,000 pins of which 500 are in
//    view, against a bare QPainter drawing the very cell images and pin pixmaps the frame drew
//    (counter "ratio", goal ≤ 1.5);
//  - culling: the same frame with 100,000 pins against 1,000 pins, 500 in view each ("ratio", ≤ 1.2);
//  - cold frame: the base map at zoom 5 over Europe drawn from nothing (every cell rendered on the
//    drawing threads) against the warm frame ("ratio", ≤ 30). The map data is inflated beforehand.
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

    double frameSeconds() {
        QPainter painter(&target);
        const auto start = Clock::now();
        map->drawMap(painter);
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
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

}  // namespace
