// Tile lists asked from many drawing threads while overlays are created.
#include <atomic>
#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "testsupport/tiles/FakeTileMapView.hpp"
#include "tiles/QuovaTileOverlay.hpp"
#include "tiles/TileGrid.hpp"
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

}  // namespace
}  // namespace tervolo::tiles
