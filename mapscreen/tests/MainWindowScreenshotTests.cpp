#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/mapscreen/MapScreenFixture.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/TileCacheManager.hpp"
#include "tiles/TileDownloadSession.hpp"

using tervolo::mapscreen::MainViewController;
using tervolo::testsupport::MapScreenFixture;

namespace {

// The whole window as the user sees it: the map screen at a size, with the
// status line, the search field open or closed, in the light or dark palette,
// at device pixel ratio 1 or 2.
class MainWindowScreenshotTest : public widgetkit_test::WidgetTest {
  protected:
    struct Shot {
        std::string name;
        QSize size;
        std::string status;
        bool searchOpen;
        bool dark;
        double pixelRatio;
        std::optional<tervolo::tiles::QuovaBaseMapStyle> style = std::nullopt;
    };

    void advance(double seconds) {
        environment_.advance(seconds);
        platform::RunLoop::runUntilIdle();
    }

    QImage take(const Shot& shot) {
        const QPalette previous = QApplication::palette();
        if (shot.dark) QApplication::setPalette(darkPalette());
        MapScreenFixture fixture;
        auto screen = fixture.showInWindow(shot.size);
        platform::RunLoop::runUntilIdle();
        // Europe, a little north of the Alps.
        screen->mapView()->setRegion(platform::MKCoordinateRegion{{48.5, 10.0}, {14.0, 24.0}}, false);
        if (shot.style) screen->mapView()->setMapStyle(*shot.style);
        screen->layoutMainView();
        if (!shot.status.empty()) fixture.tileStatus = shot.status;
        advance(1.4);
        if (shot.searchOpen) {
            fixture.searchController->setResultCount(2);
            screen->searchLocationButtonPressed(screen->searchButton());
            screen->searchBar()->setText(QStringLiteral("Brandenburger Tor"));
            advance(0.4);
        }
        screen->mapView()->waitForCells();
        QApplication::processEvents();

        QWidget* window = fixture.window();
        QImage image = widgetkit_test::render(*window, shot.pixelRatio);
        QApplication::setPalette(previous);
        return image;
    }

    static QPalette darkPalette() {
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(40, 40, 44));
        palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
        palette.setColor(QPalette::Base, QColor(28, 28, 30));
        palette.setColor(QPalette::Text, QColor(235, 235, 240));
        palette.setColor(QPalette::Button, QColor(50, 50, 54));
        palette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
        palette.setColor(QPalette::PlaceholderText, QColor(150, 150, 156));
        return palette;
    }

    tervolo::testsupport::TestEnvironment environment_;
};

TEST_F(MainWindowScreenshotTest, WritesTheWindowAtItsSizesAndLooks) {
    const Shot shots[] = {
        {"window-1280x800", {1280, 800}, "Tile cache: 12 of 40 tiles loaded, 3 downloading", false, false, 1},
        {"window-1280x800-search",
         {1280, 800},
         "Tile cache: 12 of 40 tiles loaded, 3 downloading",
         true,
         false,
         1},
        {"window-800x1000-search", {800, 1000}, "Tile cache: 12 of 40 tiles loaded", true, false, 1},
        {"window-800x1000-dark", {800, 1000}, "Tile cache: 12 of 40 tiles loaded", false, true, 1},
        {"window-1280x800-dark-search", {1280, 800}, "Tile cache: 12 of 40 tiles loaded", true, true, 1},
        {"window-1280x800-dpr2", {1280, 800}, "Tile cache: 12 of 40 tiles loaded", true, false, 2},
        {"window-800x600-cjk",
         {800, 600},
         "瓦片缓存：已加载 40 个中的 12 个，正在下载 3 个",
         false,
         false,
         1},
        {"window-800x600-rtl-search", {800, 600}, "ذاكرة البلاطات: تم تحميل 12 من 40", true, false, 1},
        {"window-500x800-long",
         {500, 800},
         "Tile cache: 1234 of 98765 tiles loaded, 321 downloading, 17 waiting for a free connection",
         false,
         false,
         1},
    };
    for (const Shot& shot : shots) {
        SCOPED_TRACE(shot.name);
        const QImage image = take(shot);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.width(), shot.size.width() * shot.pixelRatio);
        widgetkit_test::saveScreenshot(image, QString::fromStdString(shot.name));
    }
}

// The window in each base map style (offline: the tile styles show the map's
// own drawing under their credit line until tiles arrive).
TEST_F(MainWindowScreenshotTest, WritesTheWindowInEachStyle) {
    for (const auto style : tervolo::tiles::allCases()) {
        const Shot shot{"window-style-" + tervolo::tiles::identifier(style),
                        {1024, 700},
                        "Tile cache: 12 of 40 tiles loaded",
                        false,
                        false,
                        1,
                        style};
        SCOPED_TRACE(shot.name);
        const QImage image = take(shot);
        ASSERT_FALSE(image.isNull());
        widgetkit_test::saveScreenshot(image, QString::fromStdString(shot.name));
    }
}

// The button column over every base map style, in Qt's light palette and a dark desktop palette, at
// one and two pixels per point: each icon reads at 3:1 or more against what lies right behind its
// lines. Straight on the map, the blue lines were 1.5:1 on the satellite styles' land.
TEST_F(MainWindowScreenshotTest, ButtonsReadOverEveryStyle) {
    for (const bool dark : {false, true}) {
        for (const auto style : tervolo::tiles::allCases()) {
            const QPalette previous = QApplication::palette();
            QApplication::setPalette(dark ? tervolo::testsupport::darkDesktopPalette() : QPalette());
            {
                MapScreenFixture fixture;
                auto screen = fixture.showInWindow(QSize(900, 640));
                platform::RunLoop::runUntilIdle();
                screen->mapView()->setRegion(platform::MKCoordinateRegion{{48.5, 10.0}, {14.0, 24.0}}, false);
                screen->mapView()->setMapStyle(style);
                screen->layoutMainView();
                advance(1.4);
                screen->mapView()->waitForCells();
                QApplication::processEvents();
                for (const double ratio : {1.0, 2.0}) {
                    const std::string name = "window-buttons-" + tervolo::tiles::identifier(style) +
                                             (dark ? "-dark" : "-light") + (ratio == 2 ? "@2x" : "");
                    SCOPED_TRACE(name);
                    const QImage image = widgetkit_test::render(*fixture.window(), ratio);
                    widgetkit_test::saveScreenshot(image, QString::fromStdString(name));
                    for (QWidget* button :
                         {screen->zoomOutButton(), static_cast<QWidget*>(screen->searchButton())}) {
                        ASSERT_NE(button, nullptr);
                        const QPoint origin = button->mapTo(fixture.window(), QPoint(0, 0));
                        const double side = button->height() / 60.0;  // the icon's canvas is 60 wide
                        // Inside the ring, where neither icon draws: what the lines stand on.
                        const QPointF empty = QPointF(origin) + QPointF(30 * side, 17 * side);
                        const QColor behind = image.pixelColor((empty * ratio).toPoint());
                        EXPECT_GE(tervolo::testsupport::strongestContrast(
                                      image, QRectF(origin, QSizeF(button->size())), behind),
                                  3.0)
                            << button->objectName().toStdString();
                    }
                }
            }
            QApplication::setPalette(previous);
        }
    }
}

// The tile server goes down while the map shows OpenStreetMap tiles: once
// the tiles are given up, a small line beside the map's credits says that
// tiles can't be loaded; when the server is back, the tiles load after their
// cool-down and the line goes. Light and dark palette, device pixel ratio 2.
TEST_F(MainWindowScreenshotTest, SaysWhenTilesCannotBeLoadedUntilTheyLoadAgain) {
    using tervolo::testsupport::CannedReply;
    using tervolo::testsupport::LoopbackTileServer;
    LoopbackTileServer server;
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"CFBundleName", "TervoloNG"},
        {"QuovaTileServerScheme", "http"},
        {"QuovaTileServerHost", "tiles.test:" + std::to_string(server.port())}});
    tervolo::tiles::TileCacheManager::resetForTesting();
    tervolo::tiles::TileCacheManager::setSessionFactory(
        [](const std::string&, platform::URLSessionConfiguration configuration) {
            configuration.resolveHook = LoopbackTileServer::resolveHook();
            return tervolo::tiles::makeURLTileSession(configuration);
        });
    server.scriptAll(CannedReply::ofMode(CannedReply::Mode::resetBeforeReply));

    struct Shot {
        const char* name;
        bool dark;
        double pixelRatio;
        platform::CLLocationCoordinate2D center;  // each elsewhere: no tile of an earlier shot is on disk
    };
    const Shot shots[] = {{"window-tiles-cannot-load", false, 1, {48.5, 10.0}},
                          {"window-tiles-cannot-load-dark", true, 1, {-20.0, 135.0}},
                          {"window-tiles-cannot-load-dpr2", false, 2, {40.0, -100.0}}};
    for (const Shot& shot : shots) {
        SCOPED_TRACE(shot.name);
        tervolo::tiles::TileCacheManager::resetForTesting();
        server.scriptAll(CannedReply::ofMode(CannedReply::Mode::resetBeforeReply));
        const QPalette previous = QApplication::palette();
        if (shot.dark) QApplication::setPalette(darkPalette());
        MapScreenFixture fixture;
        auto screen = fixture.showInWindow(QSize(1024, 700));
        platform::RunLoop::runUntilIdle();
        screen->mapView()->setRegion(platform::MKCoordinateRegion{shot.center, {14.0, 24.0}}, false);
        screen->mapView()->setMapStyle(tervolo::tiles::QuovaBaseMapStyle::osm);
        screen->layoutMainView();
        auto* map = screen->mapView();
        // Frames drawn (each asks for its missing tiles), downloads answered, virtual time passing.
        auto runUntil = [&](const std::function<bool()>& done, double virtualSeconds) {
            for (double t = 0; t < virtualSeconds; t += 0.25) {
                map->waitForCells(2000);
                QImage scratch(map->size(), QImage::Format_ARGB32_Premultiplied);
                QPainter painter(&scratch);
                map->drawMap(painter);
                painter.end();
                platform::RunLoop::runUntil([] { return false; }, 0.02);
                advance(0.25);
                if (done()) return true;
            }
            return false;
        };
        ASSERT_TRUE(runUntil([&] { return !map->notice().isEmpty(); }, 20));
        EXPECT_EQ(map->notice(), QStringLiteral("Map tiles can't be loaded"));
        QWidget* notice = map->findSubview(QStringLiteral("MKMapNoticeLabel"));
        ASSERT_NE(notice, nullptr);
        EXPECT_TRUE(notice->isVisible());
        QApplication::processEvents();
        widgetkit_test::saveScreenshot(widgetkit_test::render(*fixture.window(), shot.pixelRatio),
                                       QString::fromLatin1(shot.name));
        QApplication::setPalette(previous);

        // Back again: the tiles load after their cool-down and the line goes.
        server.clearScriptAll();
        ASSERT_TRUE(runUntil([&] { return map->notice().isEmpty(); }, 90));
        EXPECT_FALSE(notice->isVisible());
    }
    tervolo::tiles::QuovaMapManager::shared().resetForTesting();
    tervolo::tiles::TileCacheManager::resetForTesting();
    tervolo::tiles::TileCacheManager::setSessionFactory(nullptr);
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
}

}  // namespace
