// The tile overlay renderer end to end on the real map view (offscreen): a
// tile style's overlay from the map manager, tiles from the loopback tile
// server, drawn by the map view's cells.
#include <cmath>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/TileOverlayRenderer.hpp"
#include "tiles/tests/TilesTestSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace tervolo::tiles {
namespace {

using platform::MKMapRect;
using tervolo::testsupport::LoopbackTileServer;
using testing::TilesTest;

QApplication& application() {
    return tervolo::testsupport::sharedTestApplication("tervolo_tiles_mapview_tests");
}

// What the map screen's map view answers for its tile overlays: the tiles in
// view from the map's thread-safe visible rect, and the renderer of a tile
// overlay, made as the map screen makes it.
class TileMapDelegate : public platform::MKMapViewDelegate, public QuovaTileOverlayDelegate {
  public:
    explicit TileMapDelegate(platform::MKMapView& map) : map_(map) {}

    std::shared_ptr<platform::MKOverlayRenderer> rendererForOverlay(
        platform::MKMapViewModel&, const std::shared_ptr<platform::MKOverlay>& overlay) override {
        auto tileOverlay = std::dynamic_pointer_cast<QuovaTileOverlay>(overlay);
        return tileOverlay ? TileOverlayRenderer::makeForOverlay(tileOverlay) : nullptr;
    }
    void needsToZoomOutFromLevel(int32_t zoomLevel, const std::shared_ptr<QuovaTileOverlay>&) override {
        zoomOuts.push_back(zoomLevel);
    }
    void statusForTileOverlay(const std::shared_ptr<QuovaTileOverlay>&, const std::string&) override {}
    std::optional<QuovaTileRect> tileRectForZoomLevel(int64_t zoomLevel) override {
        return tiles::tileRectForZoomLevel(map_.visibleMapRectSnapshot(), zoomLevel, 1);
    }
    int32_t axisTilesForZoomLevel(int32_t zoomLevel) override {
        return tiles::axisTilesForZoomLevel(zoomLevel);
    }
    void setNeedsMapRedraw() override { map_.update(); }

    std::vector<int32_t> zoomOuts;

  private:
    platform::MKMapView& map_;
};

class TileMapViewTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        QuovaMapManager::shared().resetForTesting();
        // The tile server host of the information dictionary, as a deployment sets it.
        platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
            {"QuovaTileServerScheme", "http"},
            {"QuovaTileServerHost", "tiles.test:" + std::to_string(server_.port())}});
        TileCacheManager::setSessionFactory(
            [](const std::string&, platform::URLSessionConfiguration configuration) {
                configuration.resolveHook = LoopbackTileServer::resolveHook();
                return makeURLTileSession(configuration);
            });
        map_.resize(768, 512);
        map_.setDelegate(delegate_);
    }
    void TearDown() override {
        QuovaMapManager::shared().resetForTesting();
        TilesTest::TearDown();
    }
    // The view around (column, row) of level z, at exactly that level's scale.
    void showTiles(double column, double row, int z) {
        const double scale = std::exp2(z - 20);
        const double side = 256.0 / scale;
        map_.setVisibleMapRect(
            {{column * side - map_.width() / 2.0 / scale, row * side - map_.height() / 2.0 / scale},
             {map_.width() / scale, map_.height() / scale}});
    }
    QImage frame() {
        EXPECT_TRUE(map_.waitForCells());
        QImage image(map_.size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        map_.drawMap(painter);
        return image;
    }
    // Lets the downloads run and virtual time pass until the renderer asked for its redraws.
    bool downloadsSettle(const std::string& mapKey, size_t requests) {
        auto manager = TileCacheManager::sharedInstanceForMap(mapKey);
        return platform::RunLoop::runUntil(
            [&] {
                time_->advance(0.25);
                return server_.requestCount() >= requests && manager->connectionCount() == 0 &&
                       hasSystemLineContaining("QuovaTileOverlay for " + mapKey + ": setNeedsRedraw");
            },
            15);
    }

    QApplication& application_ = application();  // before any widget
    LoopbackTileServer server_;
    platform::MKMapView map_;
    std::shared_ptr<TileMapDelegate> delegate_ = std::make_shared<TileMapDelegate>(map_);
};

bool near(const QColor& a, const QColor& b, int tolerance = 8) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST_F(TileMapViewTest, ATileStyleShowsTilesFromTheServerNorthUpAfterOnePassOfDownloads) {
    const int z = 6;
    showTiles(36.5, 18.5, z);  // Finland and the Baltic
    auto overlay =
        QuovaMapManager::shared().baseMapOverlayForMapView(delegate_, QuovaBaseMapStyle::osmRetina);
    ASSERT_TRUE(overlay);
    map_.addOverlay(overlay, platform::MKOverlayLevel::AboveRoads);

    const QImage first = frame();
    // A cell without its tile shows the base map: never a tile colour.
    EXPECT_FALSE(near(first.pixelColor(384, 256), LoopbackTileServer::tileColor(z, 36, 18)));
    platform::RunLoop::runUntilIdle();  // the posted downloads reach the manager
    ASSERT_TRUE(downloadsSettle("OpenStreetMapRetina", 6));
    const size_t requests = server_.requestCount();
    for (const auto& request : server_.requests()) {
        EXPECT_TRUE(request.path.starts_with("/tiles/osm-standard-cache-2x/6/")) << request.path;
    }

    const QImage second = frame();
    // The view's centre is the middle of tile (36, 18); its north row (red) is 128 points up.
    EXPECT_TRUE(near(second.pixelColor(384, 256), LoopbackTileServer::tileColor(z, 36, 18)));
    EXPECT_TRUE(near(second.pixelColor(384, 256 - 128), QColor(255, 0, 0), 60));
    EXPECT_TRUE(near(second.pixelColor(384, 256 - 126), LoopbackTileServer::tileColor(z, 36, 18)));
    EXPECT_TRUE(near(second.pixelColor(384 + 200, 256), LoopbackTileServer::tileColor(z, 37, 18)));
    EXPECT_EQ(server_.requestCount(), requests) << "the second pass drew from disk";

    map_.show();
    QDir().mkpath(QStringLiteral(TILES_SCREENSHOT_DIR));
    EXPECT_TRUE(map_.grab().save(QStringLiteral(TILES_SCREENSHOT_DIR "/tiles_map_view_osm_retina_z6.png")));
}

// On a screen of pixel ratio 1 a style with the shift to lower tiles draws the
// tiles of the view's own level, pixel for pixel: enlarged tiles of the level
// below would look blocky. (On a dense screen the shift applies: the
// renderer's own tests draw those cells from the lower tile's quarters.)
TEST_F(TileMapViewTest, AShiftedStyleDrawsTheViewsOwnLevelAtRatioOne) {
    const int z = 12;
    showTiles(2200.5, 1343.5, z);
    auto overlay = QuovaMapManager::shared().baseMapOverlayForMapView(delegate_, QuovaBaseMapStyle::osm);
    ASSERT_TRUE(overlay);
    map_.addOverlay(overlay, platform::MKOverlayLevel::AboveRoads);
    frame();
    platform::RunLoop::runUntilIdle();
    ASSERT_TRUE(downloadsSettle("OpenStreetMap", 9));
    for (const auto& request : server_.requests()) {
        EXPECT_TRUE(request.path.starts_with("/tiles/osm-standard-cache/12/")) << request.path;
    }
    const QImage image = frame();
    // The view's centre is the middle of tile (2200, 1343); its north row (red, one pixel) is 128
    // points up, and the tile to the east is its own.
    const QColor own = LoopbackTileServer::tileColor(z, 2200, 1343);
    EXPECT_TRUE(near(image.pixelColor(384, 256), own));
    EXPECT_TRUE(near(image.pixelColor(384, 256 - 128), QColor(255, 0, 0), 60));
    EXPECT_TRUE(near(image.pixelColor(384, 256 - 127), own)) << "one row, not two";
    EXPECT_TRUE(near(image.pixelColor(384 + 200, 256), LoopbackTileServer::tileColor(z, 2201, 1343)));
    map_.show();
    QDir().mkpath(QStringLiteral(TILES_SCREENSHOT_DIR));
    EXPECT_TRUE(map_.grab().save(QStringLiteral(TILES_SCREENSHOT_DIR "/tiles_map_view_osm_z12.png")));
}

// Where a tile style replaces the map and a cell has no tile (the server is
// unreachable, the tile given up on), the drawn base map shows in that cell,
// never a plain background.
TEST_F(TileMapViewTest, WithTheServerStoppedEveryCellShowsTheBaseMap) {
    const int z = 6;
    showTiles(36.5, 18.5, z);
    const QImage baseOnly = frame();
    ASSERT_TRUE(platform::RunLoop::runUntil([&] { return map_.waitForCells(); }, 10));
    const QImage reference = frame();

    server_.stop();
    auto overlay =
        QuovaMapManager::shared().baseMapOverlayForMapView(delegate_, QuovaBaseMapStyle::osmRetina);
    ASSERT_TRUE(overlay);
    map_.addOverlay(overlay, platform::MKOverlayLevel::AboveRoads);
    for (int pass = 0; pass < 8; ++pass) {
        frame();
        platform::RunLoop::runUntilIdle();
        time_->advance(1.0);
    }
    const QImage stopped = frame();
    int differing = 0;
    for (int y = 8; y < stopped.height(); y += 16) {
        for (int x = 8; x < stopped.width(); x += 16) {
            if (!near(stopped.pixelColor(x, y), reference.pixelColor(x, y), 2)) ++differing;
        }
    }
    EXPECT_EQ(differing, 0) << "cells without a tile show the base map";

    map_.show();
    QDir().mkpath(QStringLiteral(TILES_SCREENSHOT_DIR));
    EXPECT_TRUE(
        map_.grab().save(QStringLiteral(TILES_SCREENSHOT_DIR "/tiles_map_view_server_stopped_z6.png")));
}

// Tiles the server has hide the base map in their cells; the cells of tiles
// it refuses show the base map.
TEST_F(TileMapViewTest, CellsWithTheirTileHideTheBaseMapAndTheOthersShowIt) {
    const int z = 6;
    showTiles(36.5, 18.5, z);
    const QImage reference = frame();
    for (int x = 35; x <= 38; x += 2) {
        for (int y = 17; y <= 19; ++y) {
            server_.script(
                "/tiles/osm-standard-cache-2x/6/" + std::to_string(x) + "/" + std::to_string(y) + ".png",
                tervolo::testsupport::CannedReply::text("gone", 404));
        }
    }
    auto overlay =
        QuovaMapManager::shared().baseMapOverlayForMapView(delegate_, QuovaBaseMapStyle::osmRetina);
    ASSERT_TRUE(overlay);
    map_.addOverlay(overlay, platform::MKOverlayLevel::AboveRoads);
    frame();
    platform::RunLoop::runUntilIdle();
    ASSERT_TRUE(downloadsSettle("OpenStreetMapRetina", 6));
    const QImage image = frame();
    // Column 36 is in the middle of the view, 37 right of it, 35 left of it.
    EXPECT_TRUE(near(image.pixelColor(384, 256), LoopbackTileServer::tileColor(z, 36, 18)));
    EXPECT_TRUE(near(image.pixelColor(384 + 200, 256), reference.pixelColor(384 + 200, 256), 2));
    EXPECT_TRUE(near(image.pixelColor(384 - 200, 300), reference.pixelColor(384 - 200, 300), 2));
    map_.show();
    QDir().mkpath(QStringLiteral(TILES_SCREENSHOT_DIR));
    EXPECT_TRUE(
        map_.grab().save(QStringLiteral(TILES_SCREENSHOT_DIR "/tiles_map_view_some_tiles_missing_z6.png")));
}

}  // namespace
}  // namespace tervolo::tiles
