#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>

#include <atomic>
#include <thread>

#include "MapStyleTestSupport.hpp"
#include "backend/MapStateSnapshot.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "tiles/TileGrid.hpp"

namespace mapstyle_test {
namespace {

using platform::MKMapType;
using platform::MKOverlayLevel;

std::shared_ptr<platform::MKCircle> circle(double latitude, double longitude) {
    return std::make_shared<platform::MKCircle>(platform::CLLocationCoordinate2D{latitude, longitude},
                                                200000);
}

// Counts the paints a widget gets.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

std::vector<std::shared_ptr<QuovaTileOverlay>> baseOverlaysOn(const QuovaMKMapView& map) {
    std::vector<std::shared_ptr<QuovaTileOverlay>> found;
    for (const auto& overlay : map.overlays()) {
        auto tile = std::dynamic_pointer_cast<QuovaTileOverlay>(overlay);
        if (tile && tile->map() != "OpenSeaMap") found.push_back(tile);
    }
    return found;
}

class QuovaMKMapViewTest : public MapStyleTest {};

// Each style from a fresh map: map type, the scale bar's light mode, the credit
// label, and the map's logo and attribution after their 0.3 s fade.
TEST_F(QuovaMKMapViewTest, EachStyleSetsTheMapTypeScaleBarCreditLabelAndLogo) {
    struct Case {
        QuovaBaseMapStyle style;
        MKMapType type;
        bool lightMode;
        bool creditShown;
        int creditLines;
        double logoAlpha;
    } cases[] = {
        {QuovaBaseMapStyle::standard, MKMapType::Standard, false, false, 0, 1},
        {QuovaBaseMapStyle::satellite, MKMapType::Satellite, true, false, 0, 1},
        {QuovaBaseMapStyle::hybrid, MKMapType::Hybrid, true, false, 0, 1},
        // The credit wraps to as many lines as its place beside the scale bar needs.
        {QuovaBaseMapStyle::osm, MKMapType::MutedStandard, false, true, 0, 0},
        {QuovaBaseMapStyle::osmRetina, MKMapType::MutedStandard, false, true, 0, 0},
        {QuovaBaseMapStyle::openTopoMap, MKMapType::MutedStandard, false, true, 0, 0},
        {QuovaBaseMapStyle::openCycleMap, MKMapType::MutedStandard, false, true, 0, 0},
        {QuovaBaseMapStyle::openCycleMapRetina, MKMapType::MutedStandard, false, true, 0, 0},
    };
    host_->show();
    for (const auto& c : cases) {
        const std::string id = tervolo::tiles::identifier(c.style);
        SCOPED_TRACE(id);
        // Another map screen each time, its views in the opposite state beforehand.
        auto* map = new QuovaMKMapView(host_.get());
        map->setGeometry(0, 0, 900, 600);
        map->setDelegate(screen_);
        map->setQuovaDelegate(screen_);
        map->show();
        screen_->scale()->setLightMode(!c.lightMode);
        screen_->credit()->setVisible(!c.creditShown);
        screen_->credit()->setText(QStringLiteral("stale"));
        screen_->credit()->setNumberOfLines(7);
        platform::setAlpha(map->findAppleLogoView(), 1 - c.logoAlpha);
        platform::setAlpha(map->findAppleLegalView(), 1 - c.logoAlpha);

        map->setMapStyle(c.style);
        EXPECT_EQ(map->mapStyle(), c.style);
        EXPECT_EQ(map->mapType(), c.type);
        EXPECT_EQ(screen_->scale()->lightMode(), c.lightMode);
        EXPECT_EQ(screen_->credit()->isVisible(), c.creditShown);
        EXPECT_EQ(screen_->credit()->numberOfLines(), c.creditLines);
        const auto configuration =
            tervolo::tiles::QuovaMapManager::shared().configurationForMapStyle(c.style);
        EXPECT_EQ(screen_->credit()->text().toStdString(),
                  configuration ? configuration->copyrightString : "");
        const auto base = map->currentTileOverlay();
        EXPECT_EQ(base != nullptr, c.creditShown);
        if (base) {
            EXPECT_EQ(base->map(), id);
            EXPECT_TRUE(base->canReplaceMapContent());
        }

        advance(0.15);  // half way: fading, not there yet
        EXPECT_GT(platform::presentationAlpha(map->findAppleLogoView()), 0.05);
        EXPECT_LT(platform::presentationAlpha(map->findAppleLogoView()), 0.95);
        advance(0.15);
        for (QWidget* view : {map->findAppleLogoView(), map->findAppleLegalView()}) {
            ASSERT_NE(view, nullptr);
            EXPECT_DOUBLE_EQ(platform::alpha(view), c.logoAlpha);
            EXPECT_NEAR(platform::presentationAlpha(view), c.logoAlpha, 1e-9);
            EXPECT_TRUE(view->isVisible()) << "faded, never hidden";
        }
        delete map;
    }
    // OpenTopoMap's attribution breaks into its two lines.
    map_->setMapStyle(QuovaBaseMapStyle::openTopoMap);
    EXPECT_EQ(screen_->credit()->shownLines().size(), 2);
}

// Asking for the style already shown does nothing at all; the first request
// after creation always runs.
TEST_F(QuovaMKMapViewTest, TheSameStyleTwiceDoesNothing) {
    map_->setMapStyle(QuovaBaseMapStyle::standard);  // the map type already is standard
    EXPECT_EQ(map_->mapStyle(), QuovaBaseMapStyle::standard);
    EXPECT_FALSE(screen_->credit()->isVisibleTo(host_.get()));

    map_->setMapStyle(QuovaBaseMapStyle::osm);
    map_->addOverlay(circle(50, 10));
    const auto before = map_->overlays();
    systemLog_->clear();
    screen_->credit()->setText(QStringLiteral("changed by someone else"));

    map_->setMapStyle(QuovaBaseMapStyle::osm);
    EXPECT_EQ(map_->overlays(), before);
    EXPECT_EQ(countSystemLines("TileCacheManager: flushing download queues"), 0u);
    EXPECT_EQ(screen_->credit()->text(), QStringLiteral("changed by someone else"));
}

// OpenStreetMap to OpenTopoMap: one base overlay, at index 0, under the
// sea-mark layer and the circles, which keep their order; all above the
// labels; one repaint, and each renderer asked for once more.
TEST_F(QuovaMKMapViewTest, SwitchingTileStylesRestacksTheOverlaysInOneBatch) {
    host_->show();
    map_->setVisibleMapRect(platform::MKMapRectWorld);
    map_->setMapStyle(QuovaBaseMapStyle::osm);
    const auto osm = map_->currentTileOverlay();
    ASSERT_TRUE(osm);
    auto seaMarks = QuovaTileOverlay::initOverlayForMap("OpenSeaMap", 19, "OpenSeaMapTiles",
                                                        "https://seamarks.tervolo.invalid/%1$@/%2$@/%3$@.png",
                                                        {"a"}, 10, 2);
    seaMarks->setReplaceMapContent(false);
    map_->insertOverlayAbove(seaMarks, osm);
    const auto low = circle(10, 10);
    const auto first = circle(20, 20);
    const auto second = circle(30, 30);
    map_->addOverlay(low, MKOverlayLevel::AboveRoads);
    map_->addOverlay(first);
    map_->addOverlay(second);
    QApplication::processEvents();

    PaintCounter paints;
    map_->installEventFilter(&paints);
    screen_->rendererQuestions.clear();
    map_->setMapStyle(QuovaBaseMapStyle::openTopoMap);
    QApplication::processEvents();

    const auto topo = map_->currentTileOverlay();
    ASSERT_TRUE(topo);
    EXPECT_EQ(topo->map(), "OpenTopoMap");
    EXPECT_EQ(baseOverlaysOn(*map_).size(), 1u);
    const std::vector<std::shared_ptr<platform::MKOverlay>> expected{topo, low, seaMarks, first, second};
    EXPECT_EQ(map_->overlays(), expected);
    EXPECT_TRUE(map_->overlaysInLevel(MKOverlayLevel::AboveRoads).empty());
    EXPECT_EQ(paints.paints, 1);
    for (const auto& overlay : expected) EXPECT_EQ(screen_->questionsFor(overlay.get()), 1u);
    EXPECT_EQ(screen_->rendererQuestions.size(), expected.size());
    EXPECT_EQ(screen_->credit()->shownLines().size(), 2);
    EXPECT_NE(screen_->credit()->text().indexOf(QStringLiteral("OpenTopoMap")), -1);

    // The register keeps the OpenStreetMap overlay, and going back reuses it.
    map_->setMapStyle(QuovaBaseMapStyle::osm);
    EXPECT_EQ(map_->currentTileOverlay(), osm);
    EXPECT_EQ(map_->overlays().front(), osm);

    // A map style of the map's own removes the base overlay and keeps the rest.
    map_->setMapStyle(QuovaBaseMapStyle::satellite);
    EXPECT_EQ(map_->currentTileOverlay(), nullptr);
    EXPECT_EQ(map_->overlays().size(), 4u);
}

// A switch between tile styles resets the download state of every overlay in
// the register, also of those not on the map.
TEST_F(QuovaMKMapViewTest, EveryRegisteredCacheManagerIsReset) {
    for (auto style :
         {QuovaBaseMapStyle::osm, QuovaBaseMapStyle::openTopoMap, QuovaBaseMapStyle::openCycleMap})
        map_->setMapStyle(style);
    ASSERT_EQ(tervolo::tiles::QuovaMapManager::shared().allTileOverlays().size(), 3u);
    systemLog_->clear();
    map_->setMapStyle(QuovaBaseMapStyle::osmRetina);
    // The new style's overlay is made first, so it is reset with the three others.
    EXPECT_EQ(countSystemLines("TileCacheManager: flushing download queues"), 4u);

    // A map style of the map's own resets nothing.
    systemLog_->clear();
    map_->setMapStyle(QuovaBaseMapStyle::hybrid);
    EXPECT_EQ(countSystemLines("TileCacheManager: flushing download queues"), 0u);
}

// Two base overlays at once: neither counts as the base map, and a switch
// removes neither.
TEST_F(QuovaMKMapViewTest, TwoBaseOverlaysGiveNoCurrentOverlay) {
    auto& manager = tervolo::tiles::QuovaMapManager::shared();
    const auto osm = manager.baseMapOverlayForMapView(map_->tileOverlayDelegate(), QuovaBaseMapStyle::osm);
    const auto cycle =
        manager.baseMapOverlayForMapView(map_->tileOverlayDelegate(), QuovaBaseMapStyle::openCycleMap);
    map_->addOverlay(osm);
    EXPECT_EQ(map_->currentTileOverlay(), osm);
    map_->addOverlay(cycle);
    EXPECT_EQ(map_->currentTileOverlay(), nullptr);

    map_->setMapStyle(QuovaBaseMapStyle::satellite);
    EXPECT_EQ(map_->overlays().size(), 2u);
    map_->setMapStyle(QuovaBaseMapStyle::openTopoMap);
    EXPECT_EQ(baseOverlaysOn(*map_).size(), 3u);
    EXPECT_EQ(map_->currentTileOverlay(), nullptr);
}

// A tile switch that finds no overlay or configuration changes nothing: the
// base overlay stays, no cache manager is reset, the map type, label and logo
// stay, and the style is not recorded.
TEST_F(QuovaMKMapViewTest, AFailedTileSwitchChangesNothing) {
    map_->setMapStyle(QuovaBaseMapStyle::osm);
    map_->addOverlay(circle(50, 10));
    advance(0.3);
    const auto before = map_->overlays();
    systemLog_->clear();

    // The map's own types have no tile configuration.
    EXPECT_FALSE(map_->setTiledBaseMap(QuovaBaseMapStyle::hybrid));
    EXPECT_EQ(map_->overlays(), before);
    EXPECT_EQ(countSystemLines("TileCacheManager: flushing download queues"), 0u);
    EXPECT_EQ(map_->mapType(), MKMapType::MutedStandard);
    EXPECT_EQ(map_->mapStyle(), QuovaBaseMapStyle::osm);
    EXPECT_TRUE(screen_->credit()->isVisibleTo(host_.get()));
    EXPECT_EQ(screen_->credit()->numberOfLines(), 0);
    advance(0.3);
    EXPECT_DOUBLE_EQ(platform::alpha(map_->findAppleLogoView()), 0.0);
}

// Without the screen's views (or without a screen) the steps that need them are skipped.
TEST_F(QuovaMKMapViewTest, MissingScaleBarAndCreditLabelAreSkipped) {
    screen_->withViews = false;
    map_->setMapStyle(QuovaBaseMapStyle::openTopoMap);
    EXPECT_EQ(map_->mapStyle(), QuovaBaseMapStyle::openTopoMap);
    EXPECT_EQ(screen_->credit()->text(), QString());
    map_->setQuovaDelegate({});
    map_->setMapStyle(QuovaBaseMapStyle::satellite);
    EXPECT_EQ(map_->mapType(), MKMapType::Satellite);
}

TEST_F(QuovaMKMapViewTest, TileEngineQuestions) {
    struct Axis {
        int32_t level;
        int32_t tiles;
    } axes[] = {{0, 1}, {1, 2}, {19, 524288}};
    const auto delegate = map_->tileOverlayDelegate();
    for (const auto& a : axes) {
        SCOPED_TRACE(a.level);
        EXPECT_EQ(QuovaMKMapView::axisTilesForZoomLevel(a.level), a.tiles);
        EXPECT_EQ(delegate->axisTilesForZoomLevel(a.level), a.tiles);
    }

    // The whole world at level 1, widened by one tile and kept in the grid.
    map_->setVisibleMapRect(platform::MKMapRectWorld);
    const auto world = delegate->tileRectForZoomLevel(1);
    ASSERT_TRUE(world);
    EXPECT_EQ(std::make_tuple(world->minX, world->maxX, world->minY, world->maxY),
              std::make_tuple(0, 1, 0, 1));
    // A small view: its tiles plus one on every side.
    const double side = platform::kMKMapWorldSide / 64;  // one tile of level 6
    map_->setVisibleMapRect({{10.25 * side, 20.25 * side}, {2 * side, side}});
    const auto visible = map_->visibleMapRect();
    const auto small = delegate->tileRectForZoomLevel(6);
    ASSERT_TRUE(small);
    EXPECT_EQ(std::make_tuple(small->minX, small->maxX, small->minY, small->maxY),
              std::make_tuple(int64_t(visible.origin.x / side) - 1,
                              int64_t(platform::MKMapRectGetMaxX(visible) / side) + 1,
                              int64_t(visible.origin.y / side) - 1,
                              int64_t(platform::MKMapRectGetMaxY(visible) / side) + 1));

    // Zoom out by 1.5 whatever level and overlay.
    for (int32_t level : {3, 25}) {
        const double distance = map_->camera().centerCoordinateDistance;
        delegate->needsToZoomOutFromLevel(level, nullptr);
        EXPECT_NEAR(map_->camera().centerCoordinateDistance, distance * 1.5, distance * 1e-9);
    }
}

// The compass hooks reach the map's delegate when it is also the screen.
TEST_F(QuovaMKMapViewTest, CompassHooksReachTheMapDelegate) {
    map_->setVisibleMapRect({{1e8, 1e8}, {1e6, 1e6}});
    map_->beginUserGesture();
    map_->rotateTo(30);
    map_->endUserGesture();
    map_->beginUserGesture();
    map_->rotateTo(0);
    map_->endUserGesture();
    EXPECT_EQ(screen_->compassCalls, (std::vector<std::string>{"added platform::MKCompassView",
                                                               "will remove platform::MKCompassView"}));

    // A delegate that is not the screen gets nothing (and nothing breaks).
    auto plain = std::make_shared<platform::MKMapViewDelegate>();
    map_->setDelegate(plain);
    map_->beginUserGesture();
    map_->rotateTo(45);
    map_->endUserGesture();
    EXPECT_EQ(screen_->compassCalls.size(), 2u);
}

// A shared point's upload reads the style and zoom the map published.
TEST_F(QuovaMKMapViewTest, PublishesTheMapStateForSharing) {
    map_->setVisibleMapRect(platform::MKMapRectWorld);
    map_->setMapStyle(QuovaBaseMapStyle::openTopoMap);
    auto state = tervolo::backend::MapStateSnapshot::current();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->mapStyleIndex, 5);
    EXPECT_EQ(state->boundsWidthPoints, 900);
    EXPECT_DOUBLE_EQ(state->visibleMapWidth, platform::MKMapRectGetWidth(map_->visibleMapRect()));
    map_->setVisibleMapRect({{1e8, 1e8}, {9e5, 6e5}});
    EXPECT_DOUBLE_EQ(tervolo::backend::MapStateSnapshot::current()->visibleMapWidth,
                     platform::MKMapRectGetWidth(map_->visibleMapRect()));
    host_.reset();
    EXPECT_FALSE(tervolo::backend::MapStateSnapshot::current());
}

}  // namespace
}  // namespace mapstyle_test
