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

}  // namespace
}  // namespace mapstyle_test
