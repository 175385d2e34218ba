// The map screen's map drawing a frame, against its floor, both measured in the same run: a 1920×1080
// map with 10,000 stored points in view, their pins tinted by their tags' colours, and 5,000 alarm
// circles (300 of them in view), the views and renderers made by the map screen as the map's delegate.
//  - warm frame (every cell drawn already) against a bare QPainter drawing the very cell images and
//    pin pixmaps that frame drew: counter "ratio", goal ≤ 1.5;
//  - first frame: the frame right after the points came onto the map, which asks the screen for all
//    10,000 pin views ("first_frame_ms", with "ratio" against the warm frame, for the record).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/MapFrameFloor.hpp"
#include "location/QuovaPinCircleOverlay.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/mapkit/qt/MKBaseMap.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"

namespace {

using namespace platform;
using tervolo::mapscreen::MainViewController;
using Clock = std::chrono::steady_clock;

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench_mapscreen_frame";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // Documents, caches and preferences in a folder of their own; hosts stay the default
        // .invalid ones, so nothing leaves the machine.
        const auto folder = std::filesystem::temp_directory_path() / "tervolo_mapscreen_frame_bench";
        std::filesystem::create_directories(folder);
        for (const char* variable : {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            qputenv(variable, QByteArray::fromStdString(folder.string()));
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Eight tags of eight colours, so the pins come in eight tints.
void installTags() {
    static const char* colors[] = {"255,59,48",  "52,199,89", "0,122,255",  "255,149,0",
                                   "175,82,222", "255,204,0", "90,200,250", "142,142,147"};
    std::vector<std::shared_ptr<tervolo::points::QuovaPointTag>> tags;
    for (int i = 0; i < 8; ++i) {
        auto tag = tervolo::points::QuovaPointTag::make("tag " + std::to_string(i));
        tag->setUuid("TAG-" + std::to_string(i));
        tag->setColorString(std::string(colors[i]));
        tags.push_back(tag);
    }
    tervolo::points::QuovaPointTagStore::shared().replaceTagsForTesting(tags);
}

// The map screen, loaded without a window, its services answering nothing; its map 1920×1080 at zoom 9
// over southern Germany in the map's own standard style.
struct Scene {
    std::shared_ptr<MainViewController> screen;
    QImage target;
    std::vector<std::shared_ptr<tervolo::points::QuovaMapPoint>> points;
    std::vector<std::shared_ptr<MKAnnotation>> annotations;
    std::vector<std::shared_ptr<MKOverlay>> circles;
    MKMapRect view;

    Scene() {
        application();
        installTags();
        MainViewController::Services services;
        services.installToolbarDelegate = [](MainViewController&, Toolbar&) {};
        services.bindPlugIn = [] {};
        services.authorizationStatus = [] { return CLAuthorizationStatus::denied; };
        services.loadVersionInfo = [](MainViewController::VersionDelivery) {};
        services.terminate = [] {};
        services.currentTileStatus = [] { return std::optional<std::string>(); };
        screen = std::make_shared<MainViewController>(std::move(services));
        QWidget* root = screen->view();
        root->resize(1920, 1080);
        auto* map = screen->mapView();
        // The map alone at the frame's size (the screen's column beside it does not draw into it).
        map->setParent(nullptr);
        map->resize(1920, 1080);
        map->setMapStyle(tervolo::tiles::QuovaBaseMapStyle::standard);
        const double scale = std::exp2(9 - 20);
        const MKMapPoint middle = MKMapPointForCoordinate({48.5, 11.0});
        view = MKMapRectMake(middle.x - 960 / scale, middle.y - 540 / scale, 1920 / scale, 1080 / scale);
        map->setVisibleMapRect(view);
        target = QImage(map->size(), QImage::Format_ARGB32_Premultiplied);

        std::mt19937_64 random(9);
        std::uniform_real_distribution<double> inX(view.origin.x + 20 / scale,
                                                   MKMapRectGetMaxX(view) - 20 / scale);
        std::uniform_real_distribution<double> inY(view.origin.y + 45 / scale,
                                                   MKMapRectGetMaxY(view) - 5 / scale);
        std::uniform_real_distribution<double> radius(300, 3000);
        std::uniform_int_distribution<int> tag(0, 8);  // 8: no tag, a red pin
        for (int i = 0; i < 10000; ++i) {
            auto point = tervolo::points::QuovaMapPoint::make("point " + std::to_string(i));
            point->setCoordinate(MKCoordinateForMapPoint({inX(random), inY(random)}));
            const int which = tag(random);
            if (which < 8) point->setTags(std::vector<std::string>{"TAG-" + std::to_string(which)});
            annotations.push_back(tervolo::mapscreen::QuovaMapPointAnnotation::forPoint(point));
            points.push_back(std::move(point));
        }
        // 300 of the circles in view, the rest elsewhere in the world: every overlay keeps cells of its
        // own, and 5,000 in view would need more cells than the map's shared cell cache holds
        // (192 MiB), so the frame could never be warm.
        std::uniform_real_distribution<double> anywhere(0, kMKMapWorldSide);
        for (int i = 0; i < 5000; ++i) {
            MKMapPoint centre{inX(random), inY(random)};
            if (i >= 300) {
                do {
                    centre = {anywhere(random), anywhere(random)};
                } while (MKMapRectContainsPoint(MKMapRectInset(view, -400 / scale, -400 / scale), centre));
            }
            circles.push_back(std::make_shared<tervolo::location::QuovaPinCircleOverlay>(
                MKCoordinateForMapPoint(centre), radius(random)));
        }
        MKBaseMap::shared().preload(MKBaseMap::detailForZoomLevel(9));
    }
    ~Scene() {
        if (screen && screen->mapView()) delete screen->mapView();
        tervolo::points::QuovaPointTagStore::shared().replaceTagsForTesting(std::nullopt);
    }
    MKMapView& map() { return *screen->mapView(); }

    double frameSeconds() {
        QPainter painter(&target);
        const auto start = Clock::now();
        map().drawMap(painter);
        return std::chrono::duration<double>(Clock::now() - start).count();
    }
};

void BM_MapScreenFrameAgainstBarePainter(benchmark::State& state) {
    Scene scene;
    // The first frame: the points and circles come onto the map and the screen makes every view.
    scene.map().addOverlays(scene.circles);
    scene.map().addAnnotations(scene.annotations);
    const double first = scene.frameSeconds();
    if (!scene.map().waitForCells()) state.SkipWithError("cells not drawn in time");
    scene.frameSeconds();
    if (scene.map().lastFrameStats().annotationsDrawn != 10000)
        state.SkipWithError("expected 10,000 pins in view");

    const tervolo::bench::BareMapFrame bare(scene.map(), [&] { scene.frameSeconds(); });
    double frame = 0;
    double floorSeconds = 0;
    for (auto _ : state) {
        frame = tervolo::bench::bestOf(30, [&] { return scene.frameSeconds(); });
        floorSeconds = tervolo::bench::bestOf(30, [&] { return bare.drawSeconds(scene.target); });
        state.SetIterationTime(frame);
    }
    state.counters["frame_ms"] = frame * 1e3;
    state.counters["floor_ms"] = floorSeconds * 1e3;
    state.counters["first_frame_ms"] = first * 1e3;
    state.counters["first_over_warm"] = first / frame;
    state.counters["pins"] = static_cast<double>(bare.pixmaps().size());
    state.counters["cells"] = static_cast<double>(bare.cells().size());
    state.counters["ratio"] = frame / floorSeconds;
}
BENCHMARK(BM_MapScreenFrameAgainstBarePainter)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
