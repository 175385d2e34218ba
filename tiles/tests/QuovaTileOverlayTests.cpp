#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "platform/dispatch/RunLoop.hpp"
#include "testsupport/tiles/FakeTileMapView.hpp"
#include "tiles/QuovaTileOverlay.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using platform::MKMapRect;
using testing::TilesTest;

constexpr double kWorld = 268435456.0;

class RecordingRendering : public QuovaTileOverlayRendering {
  public:
    int64_t getLastRequestedZoomLevel() override { return level; }
    void setNeedsDisplay() override { ++redraws; }
    int64_t level = 0;
    int redraws = 0;
};

class QuovaTileOverlayTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        QuovaTileOverlay::resetZoomOutClockForTesting();
    }
    std::shared_ptr<QuovaTileOverlay> make(int64_t maxTileZ = 19, int64_t shiftFrom = 9,
                                           int64_t shiftLevel = 2, const std::string& map = "OpenStreetMap") {
        auto overlay = QuovaTileOverlay::initOverlayForMap(map, maxTileZ, map + "Tiles",
                                                           "https://t.invalid/%1$@/%2$@/%3$@.png",
                                                           {"a", "b", "d", "e"}, shiftFrom, shiftLevel);
        overlay->setDelegate(view_);
        return overlay;
    }
    // The grid cell (column, row) of level z, as the map view asks it.
    static MKMapRect cell(int64_t column, int64_t row, int64_t z) {
        const double side = kWorld / std::pow(2.0, double(z));
        return {{double(column) * side, double(row) * side}, {side, side}};
    }
    static double scaleOfLevel(int64_t z) { return std::pow(2.0, double(z - 20)); }

    std::shared_ptr<tervolo::testsupport::FakeTileMapView> view_ =
        std::make_shared<tervolo::testsupport::FakeTileMapView>();
};

TEST(TileGridTest, ZoomLevelOfAZoomScale) {
    struct Case {
        double scale;
        int64_t level;
    } cases[] = {
        {1.0, 20},
        {1.0 / 32, 15},
        {0.7, 19},
        {std::pow(2.0, -20.5), 0},
        {std::pow(2.0, -25), 0},
        {0.0, 0},
        {-1.0, 0},
        {NAN, 0},
        {INFINITY, 0},
        {1e30, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scale);
        EXPECT_EQ(QuovaTileOverlay::zoomLevelForZoomScale(c.scale), c.level);
    }
}

TEST(TileGridTest, AxisTilesAndTheTileRectInView) {
    EXPECT_EQ(axisTilesForZoomLevel(0), 1);
    EXPECT_EQ(axisTilesForZoomLevel(1), 2);
    EXPECT_EQ(axisTilesForZoomLevel(15), 32768);
    EXPECT_EQ(axisTilesForZoomLevel(63), 1 << 30) << "clamped, never overflowing";
    struct Case {
        const char* name;
        MKMapRect visible;
        int64_t level;
        int64_t margin;
        int64_t minX, maxX, minY, maxY;
    } cases[] = {
        // The margin never leaves the grid: the one tile of level 0 is 0..0.
        {"world at 0", {{0, 0}, {kWorld, kWorld}}, 0, 0, 0, 0, 0, 0},
        {"world at 0 with a margin", {{0, 0}, {kWorld, kWorld}}, 0, 1, 0, 0, 0, 0},
        {"world at 1", {{0, 0}, {kWorld, kWorld}}, 1, 1, 0, 1, 0, 1},
        {"inside at 15", {{kWorld / 2, kWorld / 4}, {8192 * 3.5, 8192 * 2}}, 15, 1, 16383, 16388, 8191, 8195},
        {"inside at 15 without a margin",
         {{kWorld / 2, kWorld / 4}, {8192 * 3.5, 8192 * 2}},
         15,
         0,
         16384,
         16387,
         8192,
         8194},
        // The far edge on the world's edge keeps the last column and row in view, where wrapping it
        // to the first would leave max below min and no tile visible.
        {"right half at 2", {{kWorld / 2, 0}, {kWorld / 2, kWorld}}, 2, 1, 1, 3, 0, 3},
        {"across the antimeridian", {{kWorld - 8192, 0}, {16384, 8192}}, 15, 1, 32766, 32767, 0, 2},
        {"west of the world", {{-8192, 0}, {16384, 8192}}, 15, 1, 0, 2, 0, 2},
        {"not finite", {{NAN, INFINITY}, {NAN, 1}}, 3, 1, 0, 1, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto rect = tileRectForZoomLevel(c.visible, c.level, c.margin);
        EXPECT_EQ(rect.minX, c.minX);
        EXPECT_EQ(rect.maxX, c.maxX);
        EXPECT_EQ(rect.minY, c.minY);
        EXPECT_EQ(rect.maxY, c.maxY);
    }
    // Every tile of the right edge in view is inside the answer.
    const auto edge = tileRectForZoomLevel({{kWorld / 2, 0}, {kWorld / 2, kWorld}}, 2, 1);
    EXPECT_TRUE(edge.containsTile({3, 2, 2, 1.0}));
}

TEST(TileGridTest, TileRectContainsAndValidity) {
    QuovaTileRect rect(3, 5, 0, 0);
    EXPECT_TRUE(rect.containsTile({3, 0, 7, 1.0}));
    EXPECT_TRUE(rect.containsTile({5, 0, 0, 2.0}));
    EXPECT_FALSE(rect.containsTile({6, 0, 7, 1.0}));
    EXPECT_FALSE(rect.containsTile({4, 1, 7, 1.0}));
    EXPECT_TRUE(rect.isValid());
    EXPECT_FALSE(QuovaTileRect(0, 0, 0, 0).isValid());
    EXPECT_TRUE(QuovaTileRect(0, 0, 0, 1).isValid());
}

TEST_F(QuovaTileOverlayTest, MaximumZoomLevelByShift) {
    struct Case {
        int64_t shift;
        int32_t max;
    } cases[] = {{0, 19}, {1, 19}, {2, 20}, {3, 20}, {4, 21}, {-4, 19}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shift);
        EXPECT_EQ(make(19, 9, c.shift)->maxZoomLevel(), c.max);
    }
}

TEST_F(QuovaTileOverlayTest, TilesOfGridCellsWithAndWithoutTheShift) {
    auto overlay = make();
    EXPECT_EQ(overlay->boundingMapRect(), platform::MKMapRectWorld)
        << "the whole world, east and south edges too";
    EXPECT_TRUE(overlay->canReplaceMapContent());

    auto shifted = overlay->tilesInMapRect(cell(101, 77, 15), scaleOfLevel(15));
    ASSERT_EQ(shifted.size(), 1u);
    EXPECT_EQ(shifted[0]->z(), 14u);
    EXPECT_EQ(shifted[0]->x(), 50u);
    EXPECT_EQ(shifted[0]->y(), 38u);
    EXPECT_EQ(shifted[0]->xShift(), 1u);
    EXPECT_EQ(shifted[0]->yShift(), 1u);
    EXPECT_EQ(shifted[0]->quadrant(), QXTileQuadrant::QXTileQuadrantUseScale);
    EXPECT_EQ(shifted[0]->frame(), (MKMapRect{{101 * 8192.0, 77 * 8192.0}, {8192, 8192}}));

    auto whole = overlay->tilesInMapRect(cell(3, 4, 8), scaleOfLevel(8));
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0]->z(), 8u);
    EXPECT_EQ(whole[0]->x(), 3u);
    EXPECT_EQ(whole[0]->quadrant(), QXTileQuadrant::QXTileQuadrantWholeTile);
    EXPECT_EQ(whole[0]->xShift(), 0u);

    auto four = make(19, 12, 4, "Four")->tilesInMapRect(cell(7, 6, 12), scaleOfLevel(12));
    ASSERT_EQ(four.size(), 1u);
    EXPECT_EQ(four[0]->z(), 10u);
    EXPECT_EQ(four[0]->x(), 1u);
    EXPECT_EQ(four[0]->y(), 1u);
    EXPECT_EQ(four[0]->xShift(), 3u);
    EXPECT_EQ(four[0]->yShift(), 2u);

    for (int64_t shift : {0, 1, 3}) {
        auto tiles = make(19, 0, shift, "NoShift")->tilesInMapRect(cell(5, 5, 12), scaleOfLevel(12));
        ASSERT_EQ(tiles.size(), 1u);
        EXPECT_EQ(tiles[0]->z(), 12u) << shift;
    }
}

TEST_F(QuovaTileOverlayTest, AreasCoverWholeCellsColumnByColumnAndWrap) {
    auto overlay = make(19, 30, 0);
    // Two by three cells at level 10: column by column, rows ascending.
    const double side = kWorld / 1024;
    auto tiles = overlay->tilesInMapRect({{side * 4, side * 6}, {side * 2, side * 3}}, scaleOfLevel(10));
    ASSERT_EQ(tiles.size(), 6u);
    std::vector<std::pair<uint64_t, uint64_t>> order;
    for (auto& t : tiles) order.emplace_back(t->x(), t->y());
    EXPECT_EQ(order,
              (std::vector<std::pair<uint64_t, uint64_t>>{{4, 6}, {4, 7}, {4, 8}, {5, 6}, {5, 7}, {5, 8}}));
    // Half a cell to the east: the partly covered column is listed too.
    EXPECT_EQ(overlay->tilesInMapRect({{side * 4, side * 6}, {side * 1.5, side}}, scaleOfLevel(10)).size(),
              2u);
    EXPECT_EQ(
        overlay->tilesInMapRect({{side * 4.25, side * 6.25}, {side / 2, side / 2}}, scaleOfLevel(10)).size(),
        1u);
    // x = -256 at scale 1 is the world's last column.
    auto west = make(20, 30, 0, "Level20")->tilesInMapRect({{-256, 0}, {256, 256}}, 1.0);
    ASSERT_EQ(west.size(), 1u);
    EXPECT_EQ(west[0]->x(), (uint64_t(1) << 20) - 1);
    // A column of the next world copy wraps back to the first.
    auto east = overlay->tilesInMapRect({{kWorld, side}, {side, side}}, scaleOfLevel(10));
    ASSERT_EQ(east.size(), 1u);
    EXPECT_EQ(east[0]->x(), 0u);
    EXPECT_EQ(east[0]->frame().origin.x, kWorld);
    EXPECT_EQ(view_->axisQuestions.load(), 48) << "24 questions after each creation";
}

TEST_F(QuovaTileOverlayTest, InputsThatWouldBeUndefinedAreRefused) {
    auto overlay = make(19, 30, 0);
    EXPECT_TRUE(overlay->tilesInMapRect(cell(0, 0, 10), 0.0).empty());
    EXPECT_TRUE(overlay->tilesInMapRect(cell(0, 0, 10), NAN).empty());
    EXPECT_TRUE(overlay->tilesInMapRect({{NAN, 0}, {10, 10}}, 1.0).empty());
    // Far west of every world copy: nothing, never a huge unsigned column.
    EXPECT_TRUE(overlay->tilesInMapRect({{-3 * kWorld, 0}, {256, 256}}, 1.0).empty());
    // The whole world at level 19 would be 2^38 tiles.
    EXPECT_TRUE(overlay->tilesInMapRect(platform::MKMapRectWorld, scaleOfLevel(19)).empty());
    EXPECT_TRUE(hasSystemLineContaining("tiles are too many"));
    EXPECT_EQ(overlay->tilesInMapRect({{0, 0}, {kWorld / 16, kWorld / 16}}, scaleOfLevel(10)).size(), 4096u);
}

TEST_F(QuovaTileOverlayTest, TooFarInAsksTheMapToZoomOutAtMostEveryFifthOfASecond) {
    auto overlay = make();  // maximum level 20
    ASSERT_TRUE(overlay->tilesInMapRect(cell(0, 0, 21), scaleOfLevel(21)).empty());
    EXPECT_EQ(countSystemLines("TileOverlay can't fulfill tile request: zoom level 21 > maxZoom 20"), 1u);
    EXPECT_EQ(countSystemLines("zoomed in too far - returning empty array of tiles in map rect"), 1u);
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(view_->zoomOuts(), (std::vector<int32_t>{21}));
    time_->advance(0.1);
    overlay->tilesInMapRect(cell(0, 0, 21), scaleOfLevel(21));
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(view_->zoomOuts().size(), 1u);
    time_->advance(0.2);
    overlay->tilesInMapRect(cell(0, 0, 22), scaleOfLevel(22));
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(view_->zoomOuts(), (std::vector<int32_t>{21, 22}));
}

TEST_F(QuovaTileOverlayTest, WithoutDelegateTilesAreNotWrappedAndNoZoomOutIsAsked) {
    auto overlay = make(19, 30, 0);
    overlay->setDelegate({});
    auto east = overlay->tilesInMapRect({{kWorld, 0}, {kWorld / 1024, kWorld / 1024}}, scaleOfLevel(10));
    ASSERT_EQ(east.size(), 1u);
    EXPECT_EQ(east[0]->x(), 1024u);
    EXPECT_TRUE(overlay->tilesInMapRect(cell(0, 0, 25), scaleOfLevel(25)).empty());
    platform::RunLoop::runUntilIdle();
    EXPECT_TRUE(view_->zoomOuts().empty());
    EXPECT_FALSE(overlay->tileRectForZoomLevel(3));
}

TEST_F(QuovaTileOverlayTest, AnOverlayCreatedLaterClearsTheSharedAxisCounts) {
    auto first = make(19, 30, 0);
    first->tilesInMapRect(cell(0, 0, 3), scaleOfLevel(3));
    EXPECT_EQ(view_->axisQuestions.load(), 24);
    first->tilesInMapRect(cell(0, 0, 3), scaleOfLevel(3));
    EXPECT_EQ(view_->axisQuestions.load(), 24) << "asked once per creation";
    auto second = make(19, 30, 0, "Other");
    first->tilesInMapRect(cell(0, 0, 3), scaleOfLevel(3));
    EXPECT_EQ(view_->axisQuestions.load(), 48);
}

TEST_F(QuovaTileOverlayTest, TheOverlayPassesTheManagersQuestionsOn) {
    auto overlay = make();
    auto manager = TileCacheManager::sharedInstanceForMap("OpenStreetMap");
    ASSERT_TRUE(manager);
    EXPECT_EQ(manager->delegate().get(), overlay.get());
    auto rendering = std::make_shared<RecordingRendering>();
    EXPECT_EQ(overlay->currentZoomLevel(), 0);
    overlay->setRenderer(rendering);
    rendering->level = 12;
    EXPECT_EQ(overlay->currentZoomLevel(), 12);
    view_->setVisibleMapRect(cell(100, 200, 12));
    EXPECT_TRUE(manager->isTileVisible({100, 200, 12, 1.0}));
    EXPECT_TRUE(manager->isTileVisible({101, 201, 12, 1.0}));
    EXPECT_FALSE(manager->isTileVisible({103, 200, 12, 1.0}));
    overlay->setNeedsDisplay();
    EXPECT_EQ(rendering->redraws, 1);
    EXPECT_EQ(countSystemLines("QuovaTileOverlay for OpenStreetMap: setNeedsRedraw"), 1u);
    manager->updateStatusStringWithRunningCount(1, 2);
    EXPECT_EQ(overlay->statusString(), "Waiting for 1 map tiles to download, 2 more in queue");
    overlay->clearTileCache();
    EXPECT_EQ(countSystemLines("clearing cache for overlay OpenStreetMap"), 1u);
    EXPECT_EQ(countSystemLines("TilecacheManager: received clearCacheDirs"), 1u);
}

}  // namespace
}  // namespace tervolo::tiles
