#include <gtest/gtest.h>

#include "tiles/ConnectionInfo.hpp"
#include "tiles/QuovaImageTile.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using testing::FixedViewDelegate;
using testing::TilesTest;

TEST(QuovaImageTileTest, StoragePathAndURLFillOnlyTheThreePlaceholders) {
    QuovaImageTile tile({0, 0, 256, 256}, 2200, 1343, 12, QXTileQuadrant::QXTileQuadrantWholeTile, 0, 0);
    EXPECT_EQ(tile.storagePath(), "12-2200-1343");
    EXPECT_EQ(tile.overlayPath(), (QuovaTilePath{2200, 1343, 12, 1.0}));
    struct Case {
        const char* pattern;
        const char* url;
    } cases[] = {
        {"https://tiles.example/osm/%1$@/%2$@/%3$@.png", "https://tiles.example/osm/12/2200/1343.png"},
        {"https://t.example/%3$@/%1$@-%2$@@2x.png", "https://t.example/1343/12-2200@2x.png"},
        // Anything that is not exactly a placeholder stays as it stands; a
        // pattern is never a format.
        {"https://t.example/%@/%d/%4$@/%1$s/%%/%n", "https://t.example/%@/%d/%4$@/%1$s/%%/%n"},
        {"%1$@", "12"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(tile.urlStringWithPattern(c.pattern), c.url);
    }
}

TEST(QuovaImageTileTest, TileAboveIsTheParentWithTheQuadrantOfTheChild) {
    struct Case {
        uint64_t z, x, y;
        QXTileQuadrant quadrant;
        bool exists;
        uint64_t aboveX, aboveY;
        QXTileQuadrant aboveQuadrant;
    } cases[] = {
        {12, 2201, 1343, QXTileQuadrant::QXTileQuadrantWholeTile, true, 1100, 671,
         QXTileQuadrant::QXTileQuadrantSE},
        {12, 2200, 1342, QXTileQuadrant::QXTileQuadrantWholeTile, true, 1100, 671,
         QXTileQuadrant::QXTileQuadrantNW},
        {12, 2201, 1342, QXTileQuadrant::QXTileQuadrantWholeTile, true, 1100, 671,
         QXTileQuadrant::QXTileQuadrantNE},
        {12, 2200, 1343, QXTileQuadrant::QXTileQuadrantWholeTile, true, 1100, 671,
         QXTileQuadrant::QXTileQuadrantSW},
        {12, 2200, 1343, QXTileQuadrant::QXTileQuadrantUseScale, false, 0, 0, {}},
        {0, 0, 0, QXTileQuadrant::QXTileQuadrantWholeTile, false, 0, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.z << "/" << c.x << "/" << c.y);
        QuovaImageTile tile({1, 2, 3, 4}, c.x, c.y, c.z, c.quadrant, 0, 0);
        auto above = tile.tileAbove();
        ASSERT_EQ(bool(above), c.exists);
        if (!above) continue;
        EXPECT_EQ(above->z(), c.z - 1);
        EXPECT_EQ(above->x(), c.aboveX);
        EXPECT_EQ(above->y(), c.aboveY);
        EXPECT_EQ(above->quadrant(), c.aboveQuadrant);
        EXPECT_EQ(above->frame(), (MapRect{1, 2, 3, 4}));
        EXPECT_EQ(above->xShift(), 0u);
    }
}

TEST(QuovaImageTileTest, DescriptionNamesCoordinatesFrameAndQuadrant) {
    QuovaImageTile tile({827392, 630784.4, 8192, 8191.6}, 50, 38, 14, QXTileQuadrant::QXTileQuadrantUseScale,
                        1, 1);
    EXPECT_EQ(tile.description(),
              "coordinates: x=50/y=38/z=14, origin: 827392/630784 / width: 8192 / height: 8192 / quadrant: "
              "QXTileQuadrantUseScale");
    tile.setQuadrant(static_cast<QXTileQuadrant>(6));
    EXPECT_EQ(tile.quadrantDescription(), "(unspecified)");
    EXPECT_EQ(quadrantName(0), "QXTileQuadrantNW");
}

TEST(ConnectionInfoTest, StateNames) {
    EXPECT_STREQ(stateStringForState(1), "waiting");
    EXPECT_STREQ(stateStringForState(2), "running");
    EXPECT_STREQ(stateStringForState(0), "INVALID");
    EXPECT_STREQ(stateStringForState(3), "INVALID");
}

TEST(ConnectionInfoTest, OrderIsVisibleFirstThenNewestFirst) {
    struct Case {
        bool aVisible;
        double aRequested;
        bool bVisible;
        double bRequested;
        int expected;
    } cases[] = {
        {false, 100, true, 5, 1},  // only b visible: b first, whatever the times
        {true, 5, false, 100, -1}, {false, 100, false, 50, -1}, {false, 50, false, 100, 1},
        {true, 50, true, 100, 1},  {true, 70, true, 70, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compareDownloadOrder(c.aVisible, c.aRequested, c.bVisible, c.bRequested), c.expected);
    }
}

class ConnectionInfoVisibilityTest : public TilesTest {};

TEST_F(ConnectionInfoVisibilityTest, VisibleOnlyAtTheDrawnLevelInsideTheRectAndWhileTheManagerLives) {
    auto view = std::make_shared<FixedViewDelegate>(12, QuovaTileRect(3, 5, 0, 0));
    auto manager = TileCacheManager::initWithMap("Visibility", "http://t.invalid/%1$@/%2$@/%3$@.png", {},
                                                 "VisTiles", view);
    ASSERT_TRUE(manager);
    auto record = [&](int64_t x, int64_t y, int64_t z, double requestedAt) {
        auto r = std::make_shared<ConnectionInfo>();
        r->setDelegate(manager);
        r->setOverlayPath({x, y, z, 1.0});
        r->setRequestedAt(requestedAt);
        return r;
    };
    EXPECT_TRUE(record(3, 0, 12, 0)->isVisible());
    EXPECT_TRUE(record(5, 0, 12, 0)->isVisible());
    EXPECT_FALSE(record(6, 0, 12, 0)->isVisible());
    EXPECT_FALSE(record(4, 1, 12, 0)->isVisible());
    EXPECT_FALSE(record(4, 0, 11, 0)->isVisible());  // a lower level (a shifted source) is never in view

    auto older = record(9, 9, 12, 10);
    auto visible = record(4, 0, 12, 1);
    EXPECT_EQ(older->compare(*visible), 1);
    EXPECT_EQ(visible->compare(*older), -1);
    EXPECT_EQ(visible->storagePath(), "12-4-0");

    auto orphan = record(4, 0, 12, 0);
    TileCacheManager::resetForTesting();
    manager.reset();
    EXPECT_FALSE(orphan->isVisible());
}

}  // namespace
}  // namespace tervolo::tiles
