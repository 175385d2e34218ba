#include <filesystem>

#include <gtest/gtest.h>

#include "platform/foundation/Bundle.hpp"
#include "testsupport/tiles/FakeTileMapView.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/TileGrid.hpp"
#include "tiles/tests/TilesTestSupport.hpp"

namespace tervolo::tiles {
namespace {

using testing::TilesTest;

class QuovaMapManagerTest : public TilesTest {
  protected:
    void SetUp() override {
        TilesTest::SetUp();
        QuovaMapManager::shared().resetForTesting();
    }
    void TearDown() override {
        QuovaMapManager::shared().resetForTesting();
        TilesTest::TearDown();
    }
    std::vector<std::string> debugLines() { return frameworkLog_->texts(); }
    QuovaMapManager& manager_ = QuovaMapManager::shared();
};

TEST_F(QuovaMapManagerTest, StylesIdentifiersAndDisplayNames) {
    struct Case {
        QuovaBaseMapStyle style;
        int64_t raw;
        const char* identifier;
        const char* displayName;
    } cases[] = {
        {QuovaBaseMapStyle::standard, 0, "Standard", "Standard"},
        {QuovaBaseMapStyle::satellite, 1, "Satellite", "Satellite"},
        {QuovaBaseMapStyle::hybrid, 2, "Hybrid", "Hybrid"},
        {QuovaBaseMapStyle::osm, 3, "OpenStreetMap", "OpenStreetMap"},
        {QuovaBaseMapStyle::osmRetina, 4, "OpenStreetMapRetina", "OpenStreetMap Retina"},
        {QuovaBaseMapStyle::openTopoMap, 5, "OpenTopoMap", "OpenTopoMap"},
        {QuovaBaseMapStyle::openCycleMap, 6, "OpenCycleMap", "OpenCycleMap"},
        {QuovaBaseMapStyle::openCycleMapRetina, 7, "OpenCycleMapRetina", "OpenCycleMap Retina"},
    };
    ASSERT_EQ(allCases().size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.identifier);
        EXPECT_EQ(allCases()[i], c.style);
        EXPECT_EQ(int64_t(c.style), c.raw);
        EXPECT_EQ(identifier(c.style), c.identifier);
        EXPECT_EQ(displayName(c.style), c.displayName);
        EXPECT_EQ(styleWithIdentifier(c.identifier), c.style);
    }
    EXPECT_FALSE(styleWithIdentifier("OpenStreetMap Retina"));
    EXPECT_FALSE(styleWithIdentifier("openstreetmap"));
    EXPECT_FALSE(styleWithIdentifier(""));
}

TEST_F(QuovaMapManagerTest, ConfigurationTable) {
    struct Case {
        QuovaBaseMapStyle style;
        int64_t maxTileZ;
        const char* folder;
        const char* path;
        int64_t shiftFrom, shiftLevel;
        int32_t maxZoomLevel;
        const char* copyright;
    } cases[] = {
        {QuovaBaseMapStyle::osm, 19, "OpenStreetMapTiles", "/tiles/osm-standard-cache/%1$@/%2$@/%3$@.png", 9,
         2, 20, "© OpenStreetMap contributors"},
        {QuovaBaseMapStyle::osmRetina, 20, "OpenStreetMapTiles-2x",
         "/tiles/osm-standard-cache-2x/%1$@/%2$@/%3$@.png", 0, 0, 20, "© OpenStreetMap contributors"},
        {QuovaBaseMapStyle::openTopoMap, 17, "OpenTopoMapTiles", "/tiles/opentopomap/%1$@/%2$@/%3$@.png", 9,
         2, 18, "© OpenStreetMap contributors, SRTM\nMap Display © OpenTopoMap (CC-BY-SA)"},
        {QuovaBaseMapStyle::openCycleMap, 20, "OpenCycleMapTiles", "/tiles/opencyclemap/%1$@/%2$@/%3$@.png",
         9, 2, 21, "© OpenStreetMap contributors, Map style © Thunderforest"},
        {QuovaBaseMapStyle::openCycleMapRetina, 20, "OpenCycleMapTiles2x",
         "/tiles/opencyclemap-2x/%1$@/%2$@/%3$@.png", 0, 0, 20,
         "© OpenStreetMap contributors, Map style © Thunderforest"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(identifier(c.style));
        auto configuration = manager_.configurationForMapStyle(c.style);
        ASSERT_TRUE(configuration);
        EXPECT_EQ(configuration->style, c.style);
        EXPECT_EQ(configuration->minTileZ, 3);
        EXPECT_EQ(configuration->maxTileZ, c.maxTileZ);
        EXPECT_EQ(configuration->tempDirPrefix, c.folder);
        EXPECT_EQ(configuration->tileDownloadURLPattern,
                  std::string("https://tiles.tervolo.invalid") + c.path);
        EXPECT_EQ(configuration->tileDownloadPrefixes, (std::vector<std::string>{"a", "b", "d", "e"}));
        EXPECT_EQ(configuration->retinaShiftFrom, c.shiftFrom);
        EXPECT_EQ(configuration->retinaShiftLevel, c.shiftLevel);
        EXPECT_EQ(configuration->copyrightString, c.copyright);
        auto overlay = QuovaTileOverlay::initOverlayForMap(identifier(c.style), configuration->maxTileZ,
                                                           c.folder, configuration->tileDownloadURLPattern,
                                                           {}, c.shiftFrom, c.shiftLevel);
        EXPECT_EQ(overlay->maxZoomLevel(), c.maxZoomLevel);
    }
    for (auto style :
         {QuovaBaseMapStyle::standard, QuovaBaseMapStyle::satellite, QuovaBaseMapStyle::hybrid}) {
        EXPECT_FALSE(manager_.configurationForMapStyle(style));
    }
    auto lines = debugLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "no tile overlay configuration available for map style Satellite"),
              lines.end());
}

TEST_F(QuovaMapManagerTest, TheTileServerIsASetting) {
    platform::Bundle::main().setInfoDictionaryForTesting(platform::PropertyValue::Dictionary{
        {"QuovaTileServerHost", "localhost:8080"}, {"QuovaTileServerScheme", "http"}});
    EXPECT_EQ(manager_.configurationForMapStyle(QuovaBaseMapStyle::osm)->tileDownloadURLPattern,
              "http://localhost:8080/tiles/osm-standard-cache/%1$@/%2$@/%3$@.png");
}

TEST_F(QuovaMapManagerTest, OverlaysAreMadeOncePerMapViewAndStyle) {
    auto mapView = std::make_shared<tervolo::testsupport::FakeTileMapView>();
    auto osm = manager_.baseMapOverlayForMapView(mapView, QuovaBaseMapStyle::osm);
    ASSERT_TRUE(osm);
    EXPECT_EQ(osm->map(), "OpenStreetMap");
    EXPECT_TRUE(osm->canReplaceMapContent());
    EXPECT_EQ(osm->delegate(), mapView);
    auto firstManager = TileCacheManager::sharedInstanceForMap("OpenStreetMap");
    EXPECT_EQ(manager_.baseMapOverlayForMapView(mapView, QuovaBaseMapStyle::osm), osm);
    EXPECT_EQ(TileCacheManager::sharedInstanceForMap("OpenStreetMap"), firstManager) << "no second manager";

    // A second map view gets its own overlay, whose manager replaces the first.
    auto other = std::make_shared<tervolo::testsupport::FakeTileMapView>();
    auto second = manager_.baseMapOverlayForMapView(other, QuovaBaseMapStyle::osm);
    EXPECT_NE(second, osm);
    EXPECT_EQ(second->map(), "OpenStreetMap");
    EXPECT_NE(TileCacheManager::sharedInstanceForMap("OpenStreetMap"), firstManager);

    EXPECT_FALSE(manager_.baseMapOverlayForMapView(mapView, QuovaBaseMapStyle::hybrid));
    auto lines = debugLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Can't create overlay for mapView with style Hybrid"),
              lines.end());

    // Stored only under a style identifier, and never over an overlay already there.
    auto stray =
        QuovaTileOverlay::initOverlayForMap("SeaMarks", 18, "SeaMarkTiles", "https://t.invalid/", {}, 0, 0);
    manager_.storeTileOverlay(stray, mapView);
    auto again = manager_.createTileOverlayForMapView(mapView, QuovaBaseMapStyle::osm);
    manager_.storeTileOverlay(again, mapView);
    EXPECT_EQ(manager_.baseMapOverlayForMapView(mapView, QuovaBaseMapStyle::osm), osm);
    EXPECT_EQ(manager_.allTileOverlays().size(), 2u);
}

TEST_F(QuovaMapManagerTest, ClearingEveryOverlayEmptiesEveryCacheFolder) {
    auto mapView = std::make_shared<tervolo::testsupport::FakeTileMapView>();
    manager_.baseMapOverlayForMapView(mapView, QuovaBaseMapStyle::osm);
    manager_.baseMapOverlayForMapView(mapView, QuovaBaseMapStyle::openTopoMap);
    for (const char* key : {"OpenStreetMap", "OpenTopoMap"}) {
        ASSERT_TRUE(
            TileCacheManager::sharedInstanceForMap(key)->storeTile(std::vector<uint8_t>{1, 2}, "3-1-1"));
    }
    auto all = manager_.allTileOverlays();
    ASSERT_EQ(all.size(), 2u);
    for (auto& overlay : all) overlay->clearTileCache();
    EXPECT_FALSE(std::filesystem::exists(documents() + "/OpenStreetMapTiles"));
    EXPECT_FALSE(std::filesystem::exists(documents() + "/OpenTopoMapTiles"));
}

}  // namespace
}  // namespace tervolo::tiles
