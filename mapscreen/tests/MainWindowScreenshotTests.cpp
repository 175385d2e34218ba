#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>

#include <memory>
#include <optional>
#include <string>

#include "mapscreen/MainViewController.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/ui/tests/WidgetKitTestSupport.hpp"
#include "testsupport/TestEnvironment.hpp"
#include "testsupport/mapscreen/MapScreenFixture.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"

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

}  // namespace
