#include <gtest/gtest.h>

#include <cmath>

#include "location/RegionMapRect.hpp"

namespace tervolo::location {
namespace {

using platform::MKMapPointForCoordinate;
using platform::MKMapRect;

TEST(RegionMapRectTest, AwayFromPolesAndMeridianItIsTheCornersRect) {
    // The plain corner arithmetic: region spans, north-west and south-east corners.
    for (const auto& [center, metres] :
         {std::pair{platform::CLLocationCoordinate2D{60.1699, 24.9384}, 5000.0},
          std::pair{platform::CLLocationCoordinate2D{-33.86, 151.21}, 750.0},
          std::pair{platform::CLLocationCoordinate2D{0, 0}, 45000.0}}) {
        SCOPED_TRACE(center.latitude);
        const auto region = platform::MKCoordinateRegionMakeWithDistance(center, metres, metres);
        const auto nw = MKMapPointForCoordinate({center.latitude + region.span.latitudeDelta / 2,
                                                 center.longitude - region.span.longitudeDelta / 2});
        const auto se = MKMapPointForCoordinate({center.latitude - region.span.latitudeDelta / 2,
                                                 center.longitude + region.span.longitudeDelta / 2});
        const auto rect = mapRectForRegion(center, metres);
        ASSERT_TRUE(rect.has_value());
        EXPECT_NEAR(rect->origin.x, nw.x, 1e-6);
        EXPECT_NEAR(rect->origin.y, nw.y, 1e-6);
        EXPECT_NEAR(rect->size.width, std::abs(se.x - nw.x), 1e-6);
        EXPECT_NEAR(rect->size.height, std::abs(se.y - nw.y), 1e-6);
        // The circle's centre lies in the middle east-west.
        EXPECT_NEAR(rect->origin.x + rect->size.width / 2, MKMapPointForCoordinate(center).x, 1e-6);
    }
}

TEST(RegionMapRectTest, NearThePolesTheBandSlidesInsideAndKeepsItsHeight) {
    const struct {
        double latitude;
        bool north;
    } cases[] = {{89.9, true}, {85.04, true}, {90, true}, {-89.0, false}, {-90, false}};
    for (const auto& row : cases) {
        SCOPED_TRACE(row.latitude);
        const auto rect = mapRectForRegion({row.latitude, 10}, 15000);
        ASSERT_TRUE(rect.has_value());
        EXPECT_GT(rect->size.height, 0);
        EXPECT_GT(rect->size.width, 0);
        EXPECT_TRUE(std::isfinite(rect->origin.y) && std::isfinite(rect->size.height));
        if (row.north) {
            EXPECT_NEAR(rect->origin.y, 0, 0.01);
        } else {
            EXPECT_NEAR(rect->origin.y + rect->size.height, platform::kMKMapWorldSide, 0.01);
        }
        EXPECT_LE(rect->size.width, platform::kMKMapWorldSide);
    }
}

TEST(RegionMapRectTest, AcrossTheMeridianItStartsAtTheWesternCorner) {
    const double metres = 100000;
    for (const double longitude : {179.9, -179.9, 180.0, -180.0}) {
        SCOPED_TRACE(longitude);
        const auto rect = mapRectForRegion({0, longitude}, metres);
        ASSERT_TRUE(rect.has_value());
        const auto region = platform::MKCoordinateRegionMakeWithDistance({0, longitude}, metres, metres);
        // Inside the world, as wide as the span, reaching east past the edge.
        EXPECT_GE(rect->origin.x, 0);
        EXPECT_LT(rect->origin.x, platform::kMKMapWorldSide);
        EXPECT_NEAR(rect->size.width, region.span.longitudeDelta / 360 * platform::kMKMapWorldSide, 1e-6);
        EXPECT_GT(rect->origin.x + rect->size.width, platform::kMKMapWorldSide);
        EXPECT_LT(rect->size.width, platform::kMKMapWorldSide / 100);
    }
}

TEST(RegionMapRectTest, NothingToShowForInvalidCentresOrDistances) {
    EXPECT_FALSE(mapRectForRegion(platform::kCLLocationCoordinate2DInvalid, 5000));
    EXPECT_FALSE(mapRectForRegion({NAN, 0}, 5000));
    EXPECT_FALSE(mapRectForRegion({91, 0}, 5000));
    for (const double metres : {0.0, -1.0, double(INFINITY), double(NAN)}) {
        SCOPED_TRACE(metres);
        EXPECT_FALSE(mapRectForRegion({60, 25}, metres));
    }
    // A tiny circle still gets a region with area: that of a metre.
    const auto tiny = mapRectForRegion({0, -180}, 6e-12);
    ASSERT_TRUE(tiny.has_value());
    EXPECT_EQ(*tiny, *mapRectForRegion({0, -180}, kMinimumRegionMetres));
    EXPECT_GT(tiny->size.height, 0);
    EXPECT_GT(tiny->size.width, 0);
    // The largest typed circle (20,000 km) gives three times that: the world's width.
    const auto huge = mapRectForRegion({60, 25}, 3 * 20000000.0);
    ASSERT_TRUE(huge.has_value());
    EXPECT_EQ(huge->origin.x, 0);
    EXPECT_EQ(huge->size.width, platform::kMKMapWorldSide);
    EXPECT_GT(huge->size.height, 0);
}

}  // namespace
}  // namespace tervolo::location
