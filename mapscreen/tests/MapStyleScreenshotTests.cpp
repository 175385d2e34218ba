// One picture per base map style, as the map screen shows it: tiles from the
// loopback tile server (tile styles), the map's own drawn world map (the map's
// own types), the sea-mark layer on top, the scale bar and the credit label.
// Written to <build>/screenshots/mapscreen/<style identifier>.png for a person
// to look at.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <cmath>

#include "MapStyleTestSupport.hpp"
#include "mapscreen/StylesAndLayers.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/ViewController.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/TileDownloadSession.hpp"

namespace mapstyle_test {
namespace {

using tervolo::testsupport::CannedReply;
using tervolo::testsupport::LoopbackTileServer;

// A transparent sea-mark tile with one buoy in its middle: red can on a dark ring.
std::string seaMarkTile() {
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(20, 20, 20), 2));
    painter.setBrush(QColor(220, 30, 30));
    painter.drawRect(QRectF(121, 112, 14, 22));
    painter.setBrush(QColor(30, 160, 60));
    painter.drawEllipse(QPointF(80, 180), 8, 8);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

class MapStyleScreenshotTest : public MapStyleTest {
  protected:
    static constexpr int kZoom = 5;

    void SetUp() override {
        MapStyleTest::SetUp();
        const std::string host = "tiles.test:" + std::to_string(server_.port());
        platform::Bundle::main().setInfoDictionaryForTesting(
            platform::PropertyValue::Dictionary{{"CFBundleName", "TervoloNG"},
                                                {"QuovaTileServerScheme", "http"},
                                                {"QuovaTileServerHost", host},
                                                {"QuovaSeaMarkTileServerScheme", "http"},
                                                {"QuovaSeaMarkTileServerHost", host}});
        tervolo::tiles::TileCacheManager::setSessionFactory(
            [](const std::string&, platform::URLSessionConfiguration configuration) {
                configuration.resolveHook = LoopbackTileServer::resolveHook();
                return tervolo::tiles::makeURLTileSession(configuration);
            });
        const std::string marks = seaMarkTile();
        const int n = 1 << kZoom;
        for (int x = 0; x < n; ++x) {
            for (int y = 0; y < n; ++y) {
                CannedReply reply;
                reply.headers = {{"Content-Type", "image/png"}};
                reply.body = marks;
                server_.script("/tiles/openseamap/" + std::to_string(kZoom) + "/" + std::to_string(x) + "/" +
                                   std::to_string(y) + ".png",
                               reply);
            }
        }

        host_->resize(1024, 640);
        map_->setGeometry(0, 0, 1024, 640);
        // The North Sea and the Baltic at exactly level 5.
        const double scale = std::exp2(kZoom - 20);
        const platform::MKMapPoint middle = platform::MKMapPointForCoordinate({57, 12});
        map_->setVisibleMapRect(
            {{middle.x - 512 / scale, middle.y - 320 / scale}, {1024 / scale, 640 / scale}});
        auto* scale_ = screen_->scale();
        scale_->move((1024 - scale_->width()) / 2, 640 - 16 - scale_->height());  // bottom centre
        scale_->maxLabel()->setText(QStringLiteral("500 km"));
        layers_ = std::make_unique<tervolo::mapscreen::StylesAndLayers>(*ownerless_);
        layers_->setMapView(map_);
        layers_->setUpOpenSeaMapOverlay();
        host_->show();
    }
    void TearDown() override {
        layers_.reset();
        MapStyleTest::TearDown();
    }

    // Draws frames, lets the downloads run and virtual time pass, until a frame
    // needs no cell and the tile managers are idle.
    bool settle() {
        QImage scratch(map_->size(), QImage::Format_ARGB32_Premultiplied);
        int quiet = 0;
        size_t requests = 0;
        return platform::RunLoop::runUntil(
            [&] {
                map_->waitForCells(5000);
                QPainter painter(&scratch);
                map_->drawMap(painter);
                painter.end();
                advance(0.25);
                size_t busy = 0;
                for (const auto& key : {std::string("OpenSeaMap"),
                                        std::string(tervolo::tiles::identifier(map_->mapStyle().value()))}) {
                    if (auto manager = tervolo::tiles::TileCacheManager::sharedInstanceForMap(key))
                        busy += manager->connectionCount();
                }
                const bool still = busy == 0 && server_.requestCount() == requests &&
                                   map_->lastFrameStats().cellsPending == 0;
                requests = server_.requestCount();
                quiet = still ? quiet + 1 : 0;
                return quiet >= 6;
            },
            30);
    }
    // Places the credit label at the bottom right, one line of its font per line of text.
    void placeCredit() {
        auto* credit = screen_->credit();
        QFont font = credit->font();
        font.setPointSizeF(9);
        credit->setFont(font);
        credit->setTextColor(QColor(0, 0, 0, 180));
        credit->setAlignment(Qt::AlignRight);
        const int lines = std::max(1, credit->numberOfLines());
        const int height = int(std::ceil(QFontMetricsF(font).lineSpacing() * lines)) + 4;
        credit->setGeometry(1024 - 8 - 420, 640 - 8 - height, 420, height);
        credit->raise();
    }
    QImage picture(double ratio) {
        QImage image(QSize(int(1024 * ratio), int(640 * ratio)), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::white);
        host_->render(&image);
        return image;
    }

    LoopbackTileServer server_;
    std::shared_ptr<platform::ViewController> ownerless_ = std::make_shared<platform::ViewController>();
    std::unique_ptr<tervolo::mapscreen::StylesAndLayers> layers_;
};

TEST_F(MapStyleScreenshotTest, OnePicturePerStyleWithTheSeaMarkLayerAndTheCredit) {
    for (const QuovaBaseMapStyle style : tervolo::tiles::allCases()) {
        const std::string id = tervolo::tiles::identifier(style);
        SCOPED_TRACE(id);
        map_->setMapStyle(style);
        layers_->removeLayerFor(tervolo::mapscreen::InfoLayerKey::openSeaMap);
        layers_->addLayerFor(tervolo::mapscreen::InfoLayerKey::openSeaMap);
        placeCredit();
        ASSERT_TRUE(settle());
        advance(0.3);  // the logo's fade
        const QImage image = picture(1);
        widgetkit_test::saveScreenshot(image, QString::fromStdString(id));

        const bool tiled = map_->currentTileOverlay() != nullptr;
        EXPECT_EQ(screen_->credit()->isVisible(), tiled);
        if (style == QuovaBaseMapStyle::openTopoMap) {
            EXPECT_EQ(screen_->credit()->shownLines().size(), 2);
            widgetkit_test::saveScreenshot(picture(2), QString::fromStdString(id + "@2x"));
        }
    }
    // Every sea-mark request was for the scripted level.
    for (const auto& request : server_.requests()) {
        if (request.path.starts_with("/tiles/openseamap/")) {
            EXPECT_TRUE(request.path.starts_with("/tiles/openseamap/5/")) << request.path;
        }
    }
}

// The credit names what the map shows: the tile source where its tiles show,
// the map's own world map (Natural Earth) where no tile could be had, both
// when both show.
TEST_F(MapStyleScreenshotTest, TheCreditNamesWhatTheMapShows) {
    const std::string osmCredit = "\u00a9 OpenStreetMap contributors";
    const std::string ownMap = "Natural Earth";
    struct Case {
        const char* name;
        QuovaBaseMapStyle style;
        bool tilesServed;  // every tile of the style, else none but one
        bool oneTileServed;
        std::string credit;
    } cases[] = {
        {"tiles", QuovaBaseMapStyle::osm, true, false, osmCredit},
        {"unreachable", QuovaBaseMapStyle::openCycleMap, false, false, ownMap},
        {"some tiles", QuovaBaseMapStyle::openCycleMapRetina, false, true,
         "\u00a9 OpenStreetMap contributors, Map style \u00a9 Thunderforest\n" + ownMap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.tilesServed) {
            CannedReply missing;
            missing.status = 404;
            server_.scriptAll(missing);
        }
        if (c.oneTileServed) {
            // The tile under the middle of the view (57° N, 12° E at level 5).
            CannedReply tile;
            tile.headers = {{"Content-Type", "image/png"}};
            tile.body = LoopbackTileServer::tilePNG(kZoom, 17, 9, 512);
            server_.script("/tiles/opencyclemap-2x/5/17/9.png", tile);
        }
        map_->setMapStyle(c.style);
        placeCredit();
        ASSERT_TRUE(settle());
        // On a loaded machine the one served tile can land after the map has settled
        // otherwise; the credit follows the next frames, so give it a few of them.
        for (int frame = 0; frame < 20 && screen_->credit()->text().toStdString() != c.credit; ++frame) {
            ASSERT_TRUE(settle());
        }
        EXPECT_EQ(screen_->credit()->text().toStdString(), c.credit);
        EXPECT_TRUE(screen_->credit()->isVisible());
        widgetkit_test::saveScreenshot(picture(1), QString::fromStdString(std::string("credit-") + c.name));
    }
}

// At a pixel ratio of 1 a tile style draws the tiles of the view's own level,
// pixel for pixel (no enlarged tiles of the level below); at 2 the shift of
// the tile source applies.
TEST_F(MapStyleScreenshotTest, TilesAreOfTheViewsOwnLevelAtRatioOne) {
    constexpr int kLevel = 10;
    const double scale = std::exp2(kLevel - 20);
    const platform::MKMapPoint middle = platform::MKMapPointForCoordinate({60.17, 24.94});
    map_->setVisibleMapRect({{middle.x - 512 / scale, middle.y - 320 / scale}, {1024 / scale, 640 / scale}});
    map_->setMapStyle(QuovaBaseMapStyle::osm);
    ASSERT_TRUE(settle());
    size_t own = 0;
    for (const auto& request : server_.requests()) {
        if (!request.path.starts_with("/tiles/osm-standard-cache/")) continue;
        EXPECT_TRUE(request.path.starts_with("/tiles/osm-standard-cache/10/")) << request.path;
        ++own;
    }
    EXPECT_GT(own, 0u);
    // Each tile's red top row lands on the first pixel row of its cell, one row high: not enlarged.
    const QImage image = picture(1);
    widgetkit_test::saveScreenshot(image, QStringLiteral("osm-level10-ratio1"));
    const double cell = 256;
    const double top = std::ceil((middle.y * scale - 320) / cell) * cell - (middle.y * scale - 320);
    const int row = int(std::lround(top));
    ASSERT_GT(row + 1, 0);
    ASSERT_LT(row + 1, image.height());
    const auto isNorthRow = [](const QColor& c) { return c.red() > 240 && c.green() < 15 && c.blue() < 15; };
    EXPECT_TRUE(isNorthRow(image.pixelColor(100, row))) << "the tile's top row";
    EXPECT_FALSE(isNorthRow(image.pixelColor(100, row + 1))) << "a tile drawn at twice its size";
    EXPECT_FALSE(isNorthRow(image.pixelColor(100, row + 128))) << "the lower half of an enlarged tile";

    // At ratio 2 tiles of the next finer level, 2 × 2 to a cell, so a tile pixel is about one device
    // pixel (the source's shift would enlarge tiles of level 9 to four device pixels a tile pixel).
    const auto overlay = map_->currentTileOverlay();
    ASSERT_TRUE(overlay);
    const double side = 256 / scale;
    const platform::MKMapRect cellRect{
        {std::floor(middle.x / side) * side, std::floor(middle.y / side) * side}, {side, side}};
    for (const auto& [ratio, level, count] : {std::tuple{1.0, 10u, 1u}, std::tuple{2.0, 11u, 4u}}) {
        const auto tiles = overlay->tilesInMapRect(cellRect, scale, ratio);
        ASSERT_EQ(tiles.size(), count) << ratio;
        EXPECT_EQ(tiles.front()->z(), level) << ratio;
    }
}

}  // namespace
}  // namespace mapstyle_test
