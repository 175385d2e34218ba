#include <cmath>
#include <filesystem>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"
#include "testsupport/tiles/FakeTileDownloadSession.hpp"
#include "testsupport/tiles/FakeTileMapView.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "testsupport/tiles/QImageGraphicsContext.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/TileOverlayRenderer.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using platform::MKMapRect;
using tervolo::testsupport::FakeTileSessions;
using tervolo::testsupport::LoopbackTileServer;
using tervolo::testsupport::QImageGraphicsContext;
using testing::TilesTest;

constexpr double kWorld = 268435456.0;

// The map view's side of a renderer: which areas it was asked to redraw.
class RecordingHost : public platform::MKOverlayRendererHost {
  public:
    void overlayRendererNeedsDisplay(const platform::MKOverlayRenderer&, const MKMapRect& rect,
                                     platform::MKZoomScale) override {
        std::lock_guard lock(mutex);
        rects.push_back(rect);
    }
    std::vector<MKMapRect> taken() {
        std::lock_guard lock(mutex);
        return std::exchange(rects, {});
    }
    std::mutex mutex;
    std::vector<MKMapRect> rects;
};

QColor probe(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

bool near(const QColor& a, const QColor& b, int tolerance = 6) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && a.alpha() > 240;
}

std::string png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// A tile whose four quarters have four colours.
QImage quarters(int size) {
    QImage image(size, size, QImage::Format_RGB32);
    QPainter painter(&image);
    const int half = size / 2;
    painter.fillRect(0, 0, half, half, QColor(200, 30, 30));
    painter.fillRect(half, 0, half, half, QColor(30, 200, 30));
    painter.fillRect(0, half, half, half, QColor(30, 30, 200));
    painter.fillRect(half, half, half, half, QColor(200, 200, 30));
    return image;
}

class TileOverlayRendererTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        QuovaTileOverlay::resetZoomOutClockForTesting();
        TileCacheManager::setSessionFactory(sessions_.factory());
    }
    void TearDown() override {
        sessions_.finishAllCancelled();
        platform::UserDefaults::standard().remove("shouldShowTileDebugInfo");
        TilesTest::TearDown();
    }
    // A source drawn from one level lower from level 9 on (shiftLevel 2), or never shifted (0), whose
    // servers stop at level 14: cells of level 15 are drawn from enlarged tiles on any screen.
    std::shared_ptr<TileOverlayRenderer> make(int64_t shiftLevel, int64_t maxTileZ = 14) {
        overlay_ = QuovaTileOverlay::initOverlayForMap(
            "Render", maxTileZ, "RenderTiles", "https://t.invalid/%1$@/%2$@/%3$@.png", {"a"}, 9, shiftLevel);
        overlay_->setDelegate(view_);
        renderer_ = TileOverlayRenderer::makeForOverlay(overlay_);
        // Cells for a plain screen: a dense one draws finer tiles (the finer-level test shows that).
        renderer_->setContentScaleFactor(1);
        manager_ = TileCacheManager::sharedInstanceForMap("Render");
        return renderer_;
    }
    static MKMapRect cell(int64_t column, int64_t row, int64_t z) {
        const double side = kWorld / std::pow(2.0, double(z));
        return {{double(column) * side, double(row) * side}, {side, side}};
    }
    static double scaleOfLevel(int64_t z) { return std::pow(2.0, double(z - 20)); }
    void storeFile(const std::string& storagePath, const std::string& bytes) {
        ASSERT_TRUE(
            manager_->storeTile({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, storagePath));
    }
    QImage draw(int64_t column, int64_t row, int64_t z, std::vector<std::string>* texts = nullptr) {
        QImageGraphicsContext context(cell(column, row, z), scaleOfLevel(z));
        renderer_->drawMapRect(cell(column, row, z), scaleOfLevel(z), context);
        if (texts) *texts = context.texts();
        return context.finish();
    }
    // As the map view draws a cell: a QPainter on a transparent premultiplied image, renderer space
    // scaled to the cell's pixels, through the map kit's Qt context.
    QImage drawOnMapCell(int64_t column, int64_t row, int64_t z) {
        QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        const MKMapRect rendererRect = renderer_->rectForMapRect(cell(column, row, z));
        painter.scale(scaleOfLevel(z), scaleOfLevel(z));
        painter.translate(-rendererRect.origin.x, -rendererRect.origin.y);
        platform::MKQtGraphicsContext context(painter);
        renderer_->drawMapRect(cell(column, row, z), scaleOfLevel(z), context);
        painter.end();
        return image;
    }
    size_t tasks() { return sessions_.allTasks().size(); }

    FakeTileSessions sessions_;
    std::shared_ptr<tervolo::testsupport::FakeTileMapView> view_ =
        std::make_shared<tervolo::testsupport::FakeTileMapView>();
    std::shared_ptr<QuovaTileOverlay> overlay_;
    std::shared_ptr<TileOverlayRenderer> renderer_;
    std::shared_ptr<TileCacheManager> manager_;
};

TEST_F(TileOverlayRendererTest, AWholeTileIsDrawnNorthUpIntoItsCellWhateverItsPixelSize) {
    make(0);
    EXPECT_EQ(countSystemLines("TileOVerlayRenderer initialized"), 1u);
    for (int size : {256, 512}) {
        SCOPED_TRACE(size);
        storeFile("8-3-4", LoopbackTileServer::tilePNG(8, 3, 4, size));
        renderer_->tileWasStored(*tile(8, 3, 4));
        const QImage image = draw(3, 4, 8);
        EXPECT_TRUE(near(probe(image, 128, 0), QColor(255, 0, 0))) << "the north row is at the top";
        EXPECT_TRUE(near(probe(image, 5, 255), LoopbackTileServer::tileColor(8, 3, 4)));
        EXPECT_TRUE(near(probe(image, 250, 128), LoopbackTileServer::tileColor(8, 3, 4)));
        EXPECT_TRUE(near(probe(image, 255, 255), LoopbackTileServer::tileColor(8, 3, 4)))
            << "the whole box is filled";
    }
}

TEST_F(TileOverlayRendererTest, CellsOfALowerTileAreItsQuartersAndShareOneCacheEntry) {
    make(2);
    for (int size : {256, 512}) {
        SCOPED_TRACE(size);
        renderer_->tileCacheWasCleared();
        storeFile("14-50-38", png(quarters(size)));
        struct Case {
            int64_t column, row;
            QColor colour;
        } cases[] = {{100, 76, QColor(200, 30, 30)},
                     {101, 76, QColor(30, 200, 30)},
                     {100, 77, QColor(30, 30, 200)},
                     {101, 77, QColor(200, 200, 30)}};
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.column << "," << c.row);
            const QImage image = draw(c.column, c.row, 15);
            for (auto [x, y] : {std::pair{2, 2}, {128, 128}, {253, 253}}) {
                EXPECT_TRUE(near(probe(image, x, y), c.colour)) << x << "," << y;
            }
        }
        EXPECT_EQ(renderer_->zoomedTileCount(), 1u);
        EXPECT_TRUE(renderer_->hasZoomedTile("14-50-38-2"));
        EXPECT_EQ(countSystemLines("zoomed tile for key 14-50-38-2 not found - rendering & caching"),
                  size == 256 ? 1u : 2u);
    }
}

// The map view's Qt context gets the decoded tile itself (a cell of a lower
// tile as a view of its pixels); any other context gets the map kit's bitmap.
// Both must put the same pixels into the cell.
TEST_F(TileOverlayRendererTest, TheMapViewsQtContextDrawsTheSamePixelsAsABitmapContext) {
    QImage translucent(256, 256, QImage::Format_ARGB32);
    translucent.fill(QColor(20, 120, 220, 128));
    QPainter(&translucent).fillRect(0, 0, 128, 64, QColor(250, 10, 10, 200));
    struct Case {
        const char* name;
        int64_t shift;
        std::string bytes;
        std::string storagePath;
        int64_t column, row, z;
    } cases[] = {
        {"whole 256", 0, LoopbackTileServer::tilePNG(8, 3, 4, 256), "8-3-4", 3, 4, 8},
        {"whole 512", 0, LoopbackTileServer::tilePNG(8, 3, 4, 512), "8-3-4", 3, 4, 8},
        {"whole translucent", 0, png(translucent), "8-3-4", 3, 4, 8},
        {"north-west cell", 2, png(quarters(256)), "14-50-38", 100, 76, 15},
        {"south-east cell of 512", 2, png(quarters(512)), "14-50-38", 101, 77, 15},
        {"north-east translucent cell", 2, png(translucent), "14-50-38", 101, 76, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        make(c.shift);
        storeFile(c.storagePath, c.bytes);
        renderer_->tileCacheWasCleared();
        const QImage painted = drawOnMapCell(c.column, c.row, c.z);
        const QImage bitmap = draw(c.column, c.row, c.z);
        ASSERT_EQ(painted.size(), bitmap.size());
        int worst = 0;
        for (int y = 0; y < painted.height(); ++y) {
            for (int x = 0; x < painted.width(); ++x) {
                const QRgb a = painted.pixel(x, y);
                const QRgb b = bitmap.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
            }
        }
        EXPECT_LE(worst, 1);
        EXPECT_GT(qAlpha(painted.pixel(128, 128)), 0) << "drawn at all";
    }
}

TEST_F(TileOverlayRendererTest, StatesDecideWhatIsDrawnQueuedAndDownloaded) {
    make(0);
    const auto waiting = tile(10, 1, 1, cell(1, 1, 10));
    // One slot: the first ask runs, the second waits.
    manager_->downloadTileAsync(tile(10, 9, 9), nullptr, {}, 0);
    manager_->downloadTileAsync(waiting, nullptr, {}, 0);
    ASSERT_EQ(manager_->tileStateForTile(*tile(10, 9, 9)), 3u);
    ASSERT_EQ(manager_->tileStateForTile(*waiting), 2u);
    for (auto [column, row] : {std::pair{9, 9}, {1, 1}}) {
        const QImage image = draw(column, row, 10);
        EXPECT_EQ(probe(image, 128, 128).alpha(), 0) << "not drawn";
    }
    EXPECT_EQ(manager_->dirtyTiles().size(), 2u) << "queued for the redraw";

    // Outdated: drawn from the old bytes, and one download posted.
    storeFile("10-5-5", LoopbackTileServer::tilePNG(10, 5, 5));
    age(manager_->tempDir() + "/10-5-5.image", 8 * 86400);
    const size_t before = tasks();
    EXPECT_TRUE(near(probe(draw(5, 5, 10), 128, 128), LoopbackTileServer::tileColor(10, 5, 5)));
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(tasks(), before + 1);

    // Missing: canDraw and draw each want it; one request is posted.
    EXPECT_TRUE(renderer_->canDrawMapRect(cell(6, 6, 10), scaleOfLevel(10)));
    draw(6, 6, 10);
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(tasks(), before + 2);
    EXPECT_FALSE(hasSystemLineContaining("tile 10-6-6 is already"));

    // Beyond the source's levels nothing can be drawn.
    EXPECT_FALSE(renderer_->canDrawMapRect(cell(0, 0, 20), scaleOfLevel(20)));
}

TEST_F(TileOverlayRendererTest, ACachedFileThatDoesNotDecodeIsDeletedAndAskedForAgain) {
    make(0);
    storeFile("10-2-2", "<html>captive portal</html>");
    const size_t before = tasks();
    const QImage image = draw(2, 2, 10);
    EXPECT_EQ(probe(image, 128, 128).alpha(), 0);
    EXPECT_EQ(manager_->tileStateForTile(*tile(10, 2, 2)), 0u);
    EXPECT_FALSE(std::filesystem::exists(manager_->tempDir() + "/10-2-2.image"));
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(tasks(), before + 1);
}

TEST_F(TileOverlayRendererTest, DebugLabelAndTheZoomLevelLine) {
    // Text needs the fonts of a GUI application (offscreen).
    static int argc = 1;
    static char name[] = "tervolo_tiles_tests";
    static char* argv[] = {name, nullptr};
    static auto* application = QGuiApplication::instance() ? nullptr : new QGuiApplication(argc, argv);
    (void)application;
    make(2);
    storeFile("14-50-38", png(quarters(256)));
    std::vector<std::string> texts;
    draw(101, 77, 15, &texts);
    EXPECT_TRUE(texts.empty());
    platform::UserDefaults::standard().set("shouldShowTileDebugInfo", platform::PropertyValue(int64_t(1)));
    const QImage labelled = draw(101, 77, 15, &texts);
    EXPECT_EQ(texts, (std::vector<std::string>{"50 / 38 / 14 @2x"}));
    EXPECT_TRUE(near(probe(labelled, 0, 128), QColor(0, 0, 0), 40)) << "the tile's box is outlined";
    std::filesystem::create_directories(TILES_SCREENSHOT_DIR);
    ASSERT_TRUE(labelled.save(QString(TILES_SCREENSHOT_DIR) + "/tiles_debug_label.png"));
    EXPECT_EQ(countSystemLines("storing lastRequestedZoomLevel 15"), 1u) << "two draws at one level log once";
    EXPECT_EQ(renderer_->getLastRequestedZoomLevel(), 15);
    EXPECT_EQ(overlay_->currentZoomLevel(), 15);
}

TEST_F(TileOverlayRendererTest, TheZoomedCacheIsPurgedByAgeAndBoundedInCountAndBytes) {
    make(2);
    const std::string lower = png(quarters(256));
    auto drawLower = [&](int64_t x) {
        storeFile(tileStoragePath(14, uint64_t(x), 0), lower);
        draw(2 * x, 0, 15);
    };
    for (int64_t x = 0; x < 101; ++x) drawLower(x);
    EXPECT_EQ(countSystemLines("starting cache purge"), 1u);
    EXPECT_EQ(renderer_->zoomedTileCount(), 101u) << "young entries survive the purge";
    for (int64_t x = 101; x < 140; ++x) drawLower(x);
    EXPECT_EQ(renderer_->zoomedTileCount(), TileOverlayRenderer::kZoomedCacheCapacity);
    EXPECT_LE(renderer_->zoomedTileBytes(), TileOverlayRenderer::kZoomedCacheBytes);
    EXPECT_FALSE(renderer_->hasZoomedTile("14-0-0-2")) << "the least recently used left first";
    EXPECT_TRUE(renderer_->hasZoomedTile("14-139-0-2"));
    time_->advance(6.0);
    drawLower(140);
    EXPECT_EQ(renderer_->zoomedTileCount(), 1u);
    EXPECT_EQ(countSystemLines("1 tiles remaining after cache purge"), 1u);
}

TEST_F(TileOverlayRendererTest, StoringATileAnewOrClearingTheCacheDropsImagesOfTheOldBytes) {
    make(2);
    storeFile("14-50-38", png(quarters(256)));
    draw(101, 77, 15);
    ASSERT_TRUE(renderer_->hasZoomedTile("14-50-38-2"));
    // The tile expired and comes anew from the server: its next draw shows the new bytes.
    age(manager_->tempDir() + "/14-50-38.image", TileDiskCache::kExpirySeconds + 1);
    manager_->downloadTileAsync(tile(14, 50, 38), renderer_, cell(101, 77, 15), scaleOfLevel(15));
    ASSERT_FALSE(sessions_.allTasks().empty());
    auto task = sessions_.allTasks().back();
    tervolo::testsupport::FakeTileDownloadSession::finish(
        task, tervolo::testsupport::httpReply(task->url, 200, LoopbackTileServer::tilePNG(14, 50, 38)));
    EXPECT_FALSE(renderer_->hasZoomedTile("14-50-38-2"));
    EXPECT_TRUE(near(probe(draw(101, 77, 15), 128, 128), LoopbackTileServer::tileColor(14, 50, 38)));
    EXPECT_TRUE(renderer_->hasZoomedTile("14-50-38-2"));
    overlay_->clearTileCache();
    EXPECT_EQ(renderer_->zoomedTileCount(), 0u);
}

class TileRendererLoopTest : public TilesTest {};

// The map view's loop on the model: ask and draw a 3x3 viewport, let the
// loopback server answer, redraw what the renderer asks to redraw.
TEST_F(TileRendererLoopTest, FirstPassBlankThenEveryCellDrawnFromDiskWithAtMostOneFlushPerSecond) {
    LoopbackTileServer server;
    server.setLatency(0.01);
    TileCacheManager::setSessionFactory(
        [](const std::string&, platform::URLSessionConfiguration configuration) {
            configuration.resolveHook = LoopbackTileServer::resolveHook();
            return makeURLTileSession(configuration);
        });
    auto view = std::make_shared<tervolo::testsupport::FakeTileMapView>();
    const int64_t z = 10;
    const double side = kWorld / 1024;
    view->setVisibleMapRect({{550 * side, 330 * side}, {3 * side, 3 * side}});
    auto overlay = QuovaTileOverlay::initOverlayForMap("Loop", 19, "LoopTiles", server.pattern(),
                                                       {"a", "b", "d", "e"}, 30, 0);
    overlay->setDelegate(view);
    auto renderer = TileOverlayRenderer::makeForOverlay(overlay);
    RecordingHost host;
    renderer->setHost(&host);
    const double scale = std::pow(2.0, double(z - 20));
    auto cellAt = [&](int i) {
        return MKMapRect{{(550 + i % 3) * side, (330 + i / 3) * side}, {side, side}};
    };

    QImage screen(768, 768, QImage::Format_ARGB32_Premultiplied);
    auto pass = [&] {
        screen.fill(QColor(230, 230, 230));
        QPainter painter(&screen);
        int drawn = 0;
        for (int i = 0; i < 9; ++i) {
            if (!renderer->canDrawMapRect(cellAt(i), scale)) continue;
            QImageGraphicsContext context(cellAt(i), scale);
            renderer->drawMapRect(cellAt(i), scale, context);
            const QImage image = context.finish();
            painter.drawImage((i % 3) * 256, (i / 3) * 256, image);
            drawn +=
                near(probe(image, 128, 128), LoopbackTileServer::tileColor(int(z), 550 + i % 3, 330 + i / 3))
                    ? 1
                    : 0;
        }
        return drawn;
    };

    EXPECT_EQ(pass(), 0) << "the first pass is blank";
    EXPECT_EQ(renderer->getLastRequestedZoomLevel(), z);
    platform::RunLoop::runUntilIdle();  // the posted downloads reach the manager
    auto manager = TileCacheManager::sharedInstanceForMap("Loop");
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] { return manager->connectionCount() == 0 && server.requestCount() >= 9; }, 10));
    EXPECT_EQ(server.requestCount(), 9u) << "one request per tile";
    // Replies are still being handled on the sessions' queues: let virtual
    // time run until every cell was asked to redraw (its tile's frame, or
    // the whole overlay one second after the last download).
    std::vector<MKMapRect> asked;
    auto covered = [&](int i) {
        return std::any_of(asked.begin(), asked.end(), [&](const MKMapRect& rect) {
            return platform::MKMapRectIsNull(rect) || platform::MKMapRectContainsRect(rect, cellAt(i));
        });
    };
    const double start = time_->clock().monotonicSeconds();
    ASSERT_TRUE(platform::RunLoop::runUntil(
        [&] {
            time_->advance(0.25);
            for (const auto& rect : host.taken()) asked.push_back(rect);
            for (int i = 0; i < 9; ++i) {
                if (!covered(i)) return false;
            }
            return hasSystemLineContaining("QuovaTileOverlay for Loop: setNeedsRedraw");
        },
        10));
    const double elapsed = time_->clock().monotonicSeconds() - start;
    EXPECT_LE(double(countSystemLines("Redrawing dirty tiles.")), std::floor(elapsed) + 1)
        << "at most one flush per second";
    EXPECT_EQ(pass(), 9) << "the second pass draws every cell from disk";
    EXPECT_EQ(server.requestCount(), 9u);
    renderer->setHost(nullptr);

    std::filesystem::create_directories(TILES_SCREENSHOT_DIR);
    ASSERT_TRUE(screen.save(QString(TILES_SCREENSHOT_DIR) + "/tiles_renderer_viewport.png"));
}

}  // namespace
}  // namespace tervolo::tiles
