// Tile lists asked from many drawing threads while overlays are created;
// cells of cached lower tiles drawn from many threads while the tiles are
// stored anew and the cache is cleared.
#include <atomic>
#include <cmath>
#include <thread>

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "platform/mapkit/qt/MKQtGraphicsContext.hpp"
#include "testsupport/tiles/FakeTileMapView.hpp"
#include "testsupport/tiles/LoopbackTileServer.hpp"
#include "tiles/QuovaTileOverlay.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/TileOverlayRenderer.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using platform::MKMapRect;
using testing::TilesTest;

class QuovaTileOverlayConcurrencyTest : public TilesTest {
  protected:
    std::shared_ptr<QuovaTileOverlay> make(int64_t maxTileZ, int64_t shiftFrom, int64_t shiftLevel,
                                           const std::string& map) {
        auto overlay = QuovaTileOverlay::initOverlayForMap(map, maxTileZ, map + "Tiles",
                                                           "https://t.invalid/%1$@/%2$@/%3$@.png", {"a", "b"},
                                                           shiftFrom, shiftLevel);
        overlay->setDelegate(view_);
        return overlay;
    }
    static MKMapRect cell(int64_t column, int64_t row, int64_t z) {
        const double side = platform::MKMapRectWorld.size.width / std::pow(2.0, double(z));
        return {{double(column) * side, double(row) * side}, {side, side}};
    }
    static double scaleOfLevel(int64_t z) { return std::pow(2.0, double(z - 20)); }
    std::shared_ptr<tervolo::testsupport::FakeTileMapView> view_ =
        std::make_shared<tervolo::testsupport::FakeTileMapView>();
};

TEST_F(QuovaTileOverlayConcurrencyTest, TilesFromEightThreadsWhileAnotherOverlayIsCreated) {
    auto overlay = make(19, 9, 2, "OpenStreetMap");
    auto manager = TileCacheManager::sharedInstanceForMap("OpenStreetMap");
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::atomic<size_t> total{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 300; ++i) {
                const int64_t z = 3 + (i + t) % 17;
                auto tiles = overlay->tilesInMapRect(cell(i % 7, t, z), scaleOfLevel(z));
                total += tiles.size();
                (void)manager->tileStateForTile(*tiles.at(0));
            }
        });
    }
    go = true;
    for (int i = 0; i < 20; ++i) make(19, 9, 2, "Concurrent" + std::to_string(i % 3));
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(total.load(), 8u * 300u);
}

// The zoomed cache hands one decoded tile to every thread that draws one of
// its cells; storing the tile anew or clearing the cache drops the entry
// while other threads may still be painting from it.
TEST_F(QuovaTileOverlayConcurrencyTest, CellsOfSharedLowerTilesDrawnFromEightThreadsWhileTheyAreReplaced) {
    auto overlay = make(19, 9, 2, "Shared");
    auto renderer = TileOverlayRenderer::makeForOverlay(overlay);
    auto manager = TileCacheManager::sharedInstanceForMap("Shared");
    const std::string png = tervolo::testsupport::LoopbackTileServer::tilePNG(14, 50, 38);
    const QColor colour = tervolo::testsupport::LoopbackTileServer::tileColor(14, 50, 38);
    auto store = [&](int64_t x) {
        ASSERT_TRUE(manager->storeTile({reinterpret_cast<const uint8_t*>(png.data()), png.size()},
                                       tileStoragePath(14, uint64_t(x), 38)));
    };
    for (int64_t x = 50; x < 52; ++x) store(x);
    std::atomic<bool> go{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 40; ++i) {
                // Columns 100..103, rows 76..77 at level 15: the four cells of two lower tiles.
                const int64_t column = 100 + (i + t) % 4;
                const int64_t row = 76 + (i / 4 + t) % 2;
                QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
                image.fill(Qt::transparent);
                QPainter painter(&image);
                const double scale = scaleOfLevel(15) * 64.0 / 256.0;
                painter.scale(scale, scale);
                const MKMapRect rect = cell(column, row, 15);
                painter.translate(-rect.origin.x, -rect.origin.y);
                platform::MKQtGraphicsContext context(painter);
                renderer->drawMapRect(rect, scaleOfLevel(15), context);
                painter.end();
                const QColor middle = image.pixelColor(32, 32);
                if (middle.alpha() != 0 && (std::abs(middle.red() - colour.red()) > 6 ||
                                            std::abs(middle.green() - colour.green()) > 6 ||
                                            std::abs(middle.blue() - colour.blue()) > 6)) {
                    ++wrong;
                }
            }
        });
    }
    go = true;
    for (int i = 0; i < 20; ++i) {
        store(50 + i % 2);
        renderer->tileWasStored(*tile(14, uint64_t(50 + i % 2), 38));
        if (i % 5 == 4) renderer->tileCacheWasCleared();
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(renderer->zoomedTileCount(), 2u);
}

}  // namespace
}  // namespace tervolo::tiles
