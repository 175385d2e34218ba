// The tile overlay renderer end to end on the real map view (offscreen): a
// tile style's overlay from the map manager, tiles from the loopback tile
// server, drawn by the map view's cells.
#include <cmath>
#include <fstream>
#include <map>
#include <set>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QWindow>

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/ui/ApplicationLifecycle.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "testsupport/ui/TestApplication.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/TileOverlayRenderer.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

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

// On a screen of pixel ratio 2 the map asks the tiles one level finer than
// the view's own, 2 × 2 to a cell, so one tile pixel covers about one device
// pixel (at most 1.5 at any zoom between two levels) instead of four; ratio 1
// keeps the view's own level. One view, not on a level's exact scale.
TEST_F(TileMapViewTest, ARatioTwoScreenDrawsTilesOneLevelFinerSoATilePixelStaysAboutOneDevicePixel) {
    const int z = 14;
    const double viewScale = std::exp2(z - 20) * 1.3;  // between levels 14 and 15, nearer 14
    const platform::MKMapPoint middle = platform::MKMapPointForCoordinate({60.17, 24.94});
    map_.setVisibleMapRect(
        {{middle.x - map_.width() / 2.0 / viewScale, middle.y - map_.height() / 2.0 / viewScale},
         {map_.width() / viewScale, map_.height() / viewScale}});
    auto overlay = QuovaMapManager::shared().baseMapOverlayForMapView(delegate_, QuovaBaseMapStyle::osm);
    ASSERT_TRUE(overlay);
    map_.addOverlay(overlay, platform::MKOverlayLevel::AboveRoads);
    auto manager = TileCacheManager::sharedInstanceForMap("OpenStreetMap");
    ASSERT_TRUE(manager);

    std::map<double, QImage> pictures;
    for (const auto& [ratio, level] : {std::pair{1.0, 14}, std::pair{2.0, 15}}) {
        SCOPED_TRACE(ratio);
        // What the overlay asks at the cells' power-of-two scale, and what one of its tile pixels
        // covers on the screen: the tile's side in map points over 256, times view points per map
        // point, times device pixels per view point.
        const double drawScale = std::exp2(z - 20);
        EXPECT_EQ(overlay->tileZoomLevel(drawScale, ratio), level);
        const double tilePixel = platform::MKMapSizeWorld.width / std::exp2(level) / 256 * viewScale * ratio;
        EXPECT_NEAR(tilePixel, 1.3, 1e-9);
        EXPECT_LE(tilePixel, 1.5);

        const size_t before = server_.requestCount();
        // Frames at this ratio until every cell is drawn (waitForCells would draw at the view's own).
        auto draw = [&, pixelRatio = ratio] {
            QImage image(map_.size() * pixelRatio, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(pixelRatio);
            for (int frame = 0; frame < 3000; ++frame) {
                QPainter painter(&image);
                map_.drawMap(painter);
                painter.end();
                if (map_.lastFrameStats().cellsPending == 0) break;
                platform::RunLoop::runUntil([] { return false; }, 0.01);
            }
            EXPECT_EQ(map_.lastFrameStats().cellsPending, 0);
            return image;
        };
        draw();
        platform::RunLoop::runUntilIdle();
        ASSERT_TRUE(platform::RunLoop::runUntil(
            [&] {
                time_->advance(0.25);
                return server_.requestCount() > before && manager->connectionCount() == 0;
            },
            15));
        platform::RunLoop::runUntil([] { return false; }, 0.1);
        time_->advance(2.0);
        platform::RunLoop::runUntil([] { return false; }, 0.1);
        const auto requests = server_.requests();
        for (size_t i = before; i < requests.size(); ++i) {
            EXPECT_TRUE(
                requests[i].path.starts_with("/tiles/osm-standard-cache/" + std::to_string(level) + "/"))
                << requests[i].path;
        }
        const QImage image = draw();
        // The tile under the view's centre, of the level asked, fills it.
        const platform::MKMapRect tileFrame{{0, 0}, {platform::MKMapSizeWorld.width / std::exp2(level), 0}};
        const auto column = int(std::floor(middle.x / tileFrame.size.width));
        const auto row = int(std::floor(middle.y / tileFrame.size.width));
        const QPoint centre(image.width() / 2, image.height() / 2);
        EXPECT_TRUE(near(image.pixelColor(centre), LoopbackTileServer::tileColor(level, column, row), 12));
        // Its north row (red, one tile pixel) is at most two device pixels thick.
        const double northY =
            (row * tileFrame.size.width - (middle.y - map_.height() / 2.0 / viewScale)) * viewScale * ratio;
        int redRows = 0;
        for (int y = std::max(0, int(northY) - 3); y <= int(northY) + 3 && y < image.height(); ++y) {
            const QColor c = image.pixelColor(centre.x(), y);
            redRows += c.red() > 200 && c.green() < 80 && c.blue() < 80 ? 1 : 0;
        }
        EXPECT_GE(redRows, 1);
        EXPECT_LE(redRows, 2);
        pictures[ratio] = image;
    }
    // The source's last level stays the last (beyond it the shift enlarges it), and a source of
    // tiles of twice the pixels (no shift) keeps the view's own level on a dense screen.
    auto retina = QuovaMapManager::shared().baseMapOverlayForMapView(delegate_, QuovaBaseMapStyle::osmRetina);
    ASSERT_TRUE(retina);
    const struct {
        const std::shared_ptr<QuovaTileOverlay>& source;
        int view;
        double ratio;
        int64_t level;
    } levels[] = {{overlay, 18, 2.0, 19}, {overlay, 19, 2.0, 19}, {overlay, 20, 2.0, 19},
                  {overlay, 20, 1.0, 19}, {retina, 14, 2.0, 14},  {retina, 14, 1.0, 14}};
    for (const auto& row : levels) {
        EXPECT_EQ(row.source->tileZoomLevel(std::exp2(row.view - 20), row.ratio), row.level)
            << row.source->map() << " at level " << row.view << ", ratio " << row.ratio;
    }

    // Side by side at the same size on the screen: ratio 1 (each pixel doubled) and ratio 2.
    QImage both(pictures[2.0].width() * 2 + 16, pictures[2.0].height(), QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::white);
    QPainter painter(&both);
    QImage one = pictures[1.0].scaled(pictures[2.0].size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    one.setDevicePixelRatio(1);
    QImage two = pictures[2.0];
    two.setDevicePixelRatio(1);
    painter.drawImage(0, 0, one);
    painter.drawImage(one.width() + 16, 0, two);
    painter.end();
    QDir().mkpath(QStringLiteral(TILES_SCREENSHOT_DIR));
    EXPECT_TRUE(both.save(QStringLiteral(TILES_SCREENSHOT_DIR "/tiles_ratio1_and_ratio2_side_by_side.png")));
}

// The tile server goes down while the map shows tiles and comes back; the
// map's window is panned, minimised and restored, deactivated and activated
// as a person would. A tile that failed is asked again at once when another
// tile loads or the window comes back, never more than three times in any
// minute, and the source says tiles cannot be loaded exactly while tiles in
// view are missing. Virtual time throughout: the map draws a frame, the
// downloads are answered, a quarter of a second passes.
class TileOutageTest : public TileMapViewTest {
  protected:
    static constexpr int kZoom = 6;
    static constexpr const char* kMapKey = "OpenStreetMapRetina";

    void SetUp() override {
        TileMapViewTest::SetUp();
        log_.open(TILES_SCREENSHOT_DIR "/tiles_outage_request_log.txt", std::ios::app);
    }
    void start(double column, double row) {
        showTiles(column, row, kZoom);
        overlay_ =
            QuovaMapManager::shared().baseMapOverlayForMapView(delegate_, QuovaBaseMapStyle::osmRetina);
        ASSERT_TRUE(overlay_);
        map_.addOverlay(overlay_, platform::MKOverlayLevel::AboveRoads);
        map_.show();
        manager_ = TileCacheManager::sharedInstanceForMap(kMapKey);
    }
    // The map draws and its downloads are answered for `seconds` of virtual time.
    void pump(double seconds) {
        for (double t = 0; t < seconds; t += 0.25) {
            frame();
            platform::RunLoop::runUntil([] { return false; }, 0.02);
            QApplication::processEvents();
            settleRequests();
            time_->advance(0.25);
            now_ += 0.25;
        }
        frame();
        platform::RunLoop::runUntil([] { return false; }, 0.02);
        settleRequests();
    }
    // Waits until every request the server saw so far was answered and handled.
    void settleRequests() {
        platform::RunLoop::runUntil([&] { return manager_->connectionCount() == 0; }, 5);
        const auto requests = server_.requests();
        for (size_t i = seen_; i < requests.size(); ++i) asked_[requests[i].path].push_back(now_);
        seen_ = requests.size();
    }
    // The tiles the map asked for that are in view now: their paths on the server.
    std::set<std::string> askedInView() {
        std::set<std::string> paths;
        for (const auto& path : tilesInView()) {
            if (asked_.count(path) != 0) paths.insert(path);
        }
        return paths;
    }
    // The tiles of the view: their paths on the server.
    std::set<std::string> tilesInView() {
        std::set<std::string> paths;
        const auto rect = tiles::tileRectForZoomLevel(map_.visibleMapRectSnapshot(), kZoom, 0);
        for (int64_t x = rect.minX; x <= rect.maxX; ++x) {
            for (int64_t y = rect.minY; y <= rect.maxY; ++y)
                paths.insert("/tiles/osm-standard-cache-2x/6/" + std::to_string(x) + "/" + std::to_string(y) +
                             ".png");
        }
        return paths;
    }
    bool loaded(const std::string& path) {
        int z = 0, x = 0, y = 0;
        std::sscanf(path.c_str(), "/tiles/osm-standard-cache-2x/%d/%d/%d.png", &z, &x, &y);
        return manager_->tileStateForTile(*tile(uint64_t(z), uint64_t(x), uint64_t(y))) == 1;
    }
    size_t count(const std::set<std::string>& paths, const std::function<bool(const std::string&)>& test) {
        size_t n = 0;
        for (const auto& path : paths) n += test(path) ? 1 : 0;
        return n;
    }
    // No tile asked more than three times within any 60 s.
    void expectTheBoundHeld() {
        for (const auto& [path, times] : asked_) {
            for (size_t i = 3; i < times.size(); ++i)
                EXPECT_GE(times[i] - times[i - 3], 60.0 - 0.25)
                    << path << " asked a fourth time within a minute, at " << ::testing::PrintToString(times);
        }
    }
    void note(const std::string& what, const std::set<std::string>& failed) {
        log_ << "t=" << now_ << " s: " << what << "; requests " << server_.requestCount()
             << ", failed tiles in view " << count(failed, [&](const std::string& p) { return !loaded(p); })
             << " of " << failed.size() << " missing, notice "
             << (manager_->tilesCannotBeLoaded() ? "shown" : "hidden") << "\n";
    }

    // The map started over the outage's area while the tile server resets every connection
    // before it replies.
    void startInOutage() {
        server_.scriptAll(tervolo::testsupport::CannedReply::ofMode(
            tervolo::testsupport::CannedReply::Mode::resetBeforeReply));
        start(36.5, 18.5);
    }

    void minimiseAndRestore(bool downAtRestore);

    std::shared_ptr<QuovaTileOverlay> overlay_;
    std::shared_ptr<TileCacheManager> manager_;
    std::map<std::string, std::vector<double>> asked_;  // virtual seconds of each request
    size_t seen_ = 0;
    double now_ = 0;
    std::ofstream log_;
};

TEST_F(TileOutageTest, ATileLoadedAfterAPanAsksTheFailedTilesInViewAgainAtOnce) {
    log_ << "-- outage, then a pan that loads a new row\n";
    startInOutage();
    pump(3.0);
    const std::set<std::string> failed = askedInView();
    ASSERT_GT(failed.size(), 6u);
    for (const auto& path : failed) EXPECT_EQ(asked_[path].size(), 2u) << path;
    EXPECT_TRUE(manager_->tilesCannotBeLoaded());
    note("tiles given up", failed);

    server_.clearScriptAll();
    pump(10.0);
    note("server back, 10 s later", failed);
    EXPECT_EQ(count(failed, [&](const std::string& p) { return loaded(p); }), 0u) << "resting: nothing asks";

    showTiles(36.5, 20.5, kZoom);  // two rows south: a new row comes into view and loads
    pump(1.0);
    note("1 s after the pan", failed);
    std::set<std::string> stillInView;
    for (const auto& path : tilesInView()) {
        if (failed.count(path) != 0) stillInView.insert(path);
    }
    ASSERT_FALSE(stillInView.empty());
    EXPECT_EQ(count(stillInView, [&](const std::string& p) { return loaded(p); }), stillInView.size())
        << "every failed tile in view loads right after the pan";
    EXPECT_FALSE(manager_->tilesCannotBeLoaded());
    expectTheBoundHeld();
}

// Minimised during the outage and restored after it, or during it: either
// way every failed tile in view is asked again at once, the notice stays
// while they are missing, and the bound holds them back no longer than a
// minute after their first request.
void TileOutageTest::minimiseAndRestore(bool downAtRestore) {
    platform::ApplicationLifecycle lifecycle(*QCoreApplication::instance(), {},
                                             platform::NotificationCenter::defaultCenter());
    log_ << "-- minimise during the outage, restore " << (downAtRestore ? "during" : "after") << " it\n";
    startInOutage();
    lifecycle.setMainWindow(&map_);
    lifecycle.applicationFocusChanged(true);  // the application is active
    pump(3.0);
    const std::set<std::string> failed = askedInView();
    ASSERT_GT(failed.size(), 6u);
    EXPECT_TRUE(manager_->tilesCannotBeLoaded());
    note("tiles given up", failed);

    map_.windowHandle()->setWindowStates(Qt::WindowMinimized);
    QApplication::processEvents();
    ASSERT_TRUE(lifecycle.isInBackground());
    pump(5.0);
    if (!downAtRestore) server_.clearScriptAll();
    pump(5.0);
    note("minimised", failed);
    const size_t before = server_.requestCount();

    map_.windowHandle()->setWindowStates(Qt::WindowNoState);
    QApplication::processEvents();
    ASSERT_TRUE(lifecycle.isActive());
    EXPECT_TRUE(manager_->tilesCannotBeLoaded()) << "nothing loaded yet: the notice stays";
    pump(1.0);
    note("1 s after the restore", failed);
    EXPECT_GE(server_.requestCount(), before + failed.size()) << "every failed tile asked again";
    if (downAtRestore) {
        EXPECT_TRUE(manager_->tilesCannotBeLoaded()) << "still missing: the notice stays";
        server_.clearScriptAll();
        pump(30.0);
        note("server back for 30 s", failed);
        EXPECT_TRUE(manager_->tilesCannotBeLoaded()) << "the bound holds them back";
        pump(20.0);
        note("a minute after the first requests", failed);
    }
    EXPECT_EQ(count(failed, [&](const std::string& p) { return loaded(p); }), failed.size());
    EXPECT_FALSE(manager_->tilesCannotBeLoaded());
    expectTheBoundHeld();
    lifecycle.setMainWindow(nullptr);
}

TEST_F(TileOutageTest, RestoringTheWindowAfterTheOutageLoadsTheFailedTilesAtOnce) {
    minimiseAndRestore(false);
}

TEST_F(TileOutageTest, RestoringTheWindowDuringTheOutageKeepsTheNoticeUntilTheTilesLoad) {
    minimiseAndRestore(true);
}

TEST_F(TileOutageTest, ActivatingTheWindowAgainAsksTheFailedTilesAgain) {
    log_ << "-- outage, then the window deactivated and activated\n";
    startInOutage();
    pump(3.0);
    const std::set<std::string> failed = askedInView();
    EXPECT_TRUE(manager_->tilesCannotBeLoaded());
    server_.clearScriptAll();
    pump(5.0);
    EXPECT_EQ(count(failed, [&](const std::string& p) { return loaded(p); }), 0u);

    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&map_, &deactivate);
    pump(1.0);
    EXPECT_EQ(count(failed, [&](const std::string& p) { return loaded(p); }), 0u)
        << "losing the focus asks nothing";
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&map_, &activate);
    pump(1.0);
    note("1 s after the activation", failed);
    EXPECT_EQ(count(failed, [&](const std::string& p) { return loaded(p); }), failed.size());
    EXPECT_FALSE(manager_->tilesCannotBeLoaded());
    expectTheBoundHeld();
}

}  // namespace
}  // namespace tervolo::tiles
