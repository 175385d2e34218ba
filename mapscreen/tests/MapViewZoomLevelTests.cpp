#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mapscreen/MapViewZoomLevel.hpp"
#include "platform/dispatch/RunLoop.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/mapkit/TileZoomLevel.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/mapkit/RecordingMapViewDelegate.hpp"

namespace tervolo::mapscreen {
namespace {

using platform::MKMapRectMake;

constexpr double kWorld = 268435456.0;

class MapViewZoomLevelTest : public ::testing::Test {
  protected:
    void SetUp() override { map.setDelegate(delegate); }

    // Shows `visibleWidth` map points across a view `boundsWidth` points wide, centred in the world.
    void show(double boundsWidth, double visibleWidth, double boundsHeight = 500) {
        map.setBoundsSize({boundsWidth, boundsHeight});
        const double visibleHeight = visibleWidth * boundsHeight / boundsWidth;
        map.setVisibleMapRect(MKMapRectMake(kWorld / 2 - visibleWidth / 2, kWorld / 2 - visibleHeight / 2,
                                            visibleWidth, visibleHeight));
        platform::RunLoop::runUntilIdle();
        delegate->clear();
    }

    testsupport::VirtualClockScope time;
    std::shared_ptr<testsupport::RecordingMapViewDelegate> delegate =
        std::make_shared<testsupport::RecordingMapViewDelegate>();
    platform::MKMapViewModel map;
};

TEST(TileZoomLevelRule, FromBoundsAndVisibleWidth) {
    // log2f of 1 / 2^7.5 is exactly -7.5: the half rounds up, to -7.
    const double halfStep = 1000 * std::pow(2.0, 7.5);
    ASSERT_EQ(std::log2(static_cast<float>(1000 / halfStep)), -7.5f);
    struct Case {
        double bounds;
        double visible;
        std::optional<int64_t> level;
    } cases[] = {
        {1000, 1000, 20},  {2000, 1000, 21},     {1000, 256000, 12},
        {1024, kWorld, 2}, {1000, halfStep, 13}, {1000, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bounds) + " / " + std::to_string(c.visible));
        EXPECT_EQ(platform::tileZoomLevel(c.bounds, c.visible), c.level);
    }
}

TEST_F(MapViewZoomLevelTest, ZoomLevelOfTheMapOnScreen) {
    struct Case {
        double bounds;
        double visible;
        int64_t level;
    } cases[] = {
        {1000, 1000, 20},
        {2000, 1000, 21},
        {1000, 256000, 12},
        {1024, kWorld, 2},
        {1000, 1000 * std::pow(2.0, 7.5), 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bounds) + " / " + std::to_string(c.visible));
        show(c.bounds, c.visible, 400);
        ASSERT_NEAR(map.visibleMapRect().size.width, c.visible, 1e-6 * c.visible);
        EXPECT_EQ(quovaZoomLevel(map), c.level);
    }
}

TEST_F(MapViewZoomLevelTest, TileRectOfTheVisibleArea) {
    struct Case {
        const char* name;
        double bounds;
        platform::MKMapRect visible;
        std::optional<int64_t> zoomLevel;
        int64_t margin;
        int64_t minX, maxX, minY, maxY;
    } cases[] = {
        // The whole world in a square view.
        {"world, level 1, margin 1", 512, MKMapRectMake(0, 0, kWorld, kWorld), 1, 1, 0, 1, 0, 1},
        {"world, level 0, margin 0", 512, MKMapRectMake(0, 0, kWorld, kWorld), 0, 0, 0, 0, 0, 0},
        // The far edge on the world's edge stays on the last column instead of wrapping to the first.
        {"right half, level 2, margin 1", 512, MKMapRectMake(kWorld / 2, 0, kWorld / 2, kWorld / 2), 2, 1, 1,
         3, 0, 3},
        // No level given: the current one (512 points over 2^20 map points is level 9, 512 tiles).
        {"current level, margin 0", 512, MKMapRectMake(kWorld / 2, kWorld / 2, kWorld / 256, kWorld / 256),
         std::nullopt, 0, 256, 258, 256, 258},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        map.setBoundsSize({c.bounds, c.bounds});
        map.setVisibleMapRect(c.visible);
        ASSERT_NEAR(map.visibleMapRect().origin.x, c.visible.origin.x, 1e-3);
        ASSERT_NEAR(map.visibleMapRect().size.width, c.visible.size.width, 1e-3);
        const auto rect = tileRect(map, c.zoomLevel, c.margin);
        EXPECT_EQ(rect.minX, c.minX);
        EXPECT_EQ(rect.maxX, c.maxX);
        EXPECT_EQ(rect.minY, c.minY);
        EXPECT_EQ(rect.maxY, c.maxY);
    }
}

TEST_F(MapViewZoomLevelTest, ZoomByAFactorScalesTheCameraDistanceAnimated) {
    show(800, 800 * 64);
    for (double factor : {2.0, 0.5}) {
        SCOPED_TRACE(factor);
        const platform::MKMapCamera before = map.camera();
        const double width = map.visibleMapRect().size.width;
        zoom(map, factor);
        EXPECT_NEAR(map.camera().centerCoordinateDistance, before.centerCoordinateDistance * factor,
                    1e-9 * before.centerCoordinateDistance);
        EXPECT_NEAR(map.visibleMapRect().size.width, width * factor, 1e-6 * width);
        EXPECT_NEAR(map.camera().centerCoordinate.latitude, before.centerCoordinate.latitude, 1e-9);
        EXPECT_NEAR(map.camera().centerCoordinate.longitude, before.centerCoordinate.longitude, 1e-9);
        EXPECT_EQ(delegate->calls, (std::vector<std::string>{"willChange animated=1"}));
        time.clock().advance(1.0);
        platform::RunLoop::runUntilIdle();
        delegate->clear();
    }
    // Factors with no distance to go to leave the camera where it is, without a region change.
    const double distance = map.camera().centerCoordinateDistance;
    for (double factor : {0.0, -2.0, double(NAN), double(INFINITY)}) {
        zoom(map, factor);
        EXPECT_DOUBLE_EQ(map.camera().centerCoordinateDistance, distance);
    }
    EXPECT_TRUE(delegate->calls.empty());
}

}  // namespace
}  // namespace tervolo::mapscreen
