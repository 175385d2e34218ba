#include <gtest/gtest.h>
#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <random>

#include "platform/mapkit/MKGeometry.hpp"

namespace {

using namespace platform;

TEST(MKGeometry, KnownMapPoints) {
    struct Case {
        CLLocationCoordinate2D coordinate;
        MKMapPoint expected;
    };
    const Case cases[] = {
        {{0, 0}, {platform::kMKMapWorldSide / 2, platform::kMKMapWorldSide / 2}},
        {{kMKMaximumLatitude, -180}, {0, 0}},
        {{-kMKMaximumLatitude, 180}, {platform::kMKMapWorldSide, platform::kMKMapWorldSide}},
        {{kMKMaximumLatitude, 180}, {platform::kMKMapWorldSide, 0}},
        {{-kMKMaximumLatitude, -180}, {0, platform::kMKMapWorldSide}},
        // Beyond the projection's reach the latitude is clamped to the world's edge.
        {{90, 0}, {platform::kMKMapWorldSide / 2, 0}},
        {{-89.999, 90}, {platform::kMKMapWorldSide * 0.75, platform::kMKMapWorldSide}},
    };
    for (const auto& c : cases) {
        const MKMapPoint point = MKMapPointForCoordinate(c.coordinate);
        // 85.05112878 is the edge rounded to 8 decimals: within a few map points of it.
        EXPECT_NEAR(point.x, c.expected.x, 1e-6) << c.coordinate.latitude << "," << c.coordinate.longitude;
        EXPECT_NEAR(point.y, c.expected.y, 4) << c.coordinate.latitude << "," << c.coordinate.longitude;
    }
    EXPECT_EQ(MKMapPointForCoordinate({0, 0}), (MKMapPoint{134217728.0, 134217728.0}));
}

TEST(MKGeometry, CoordinateRoundTripWithinNanoDegrees) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> latitude(-85.0, 85.0);
    std::uniform_real_distribution<double> longitude(-180.0, 180.0);
    for (int i = 0; i < 10000; ++i) {
        const CLLocationCoordinate2D c{latitude(random), longitude(random)};
        const CLLocationCoordinate2D back = MKCoordinateForMapPoint(MKMapPointForCoordinate(c));
        ASSERT_NEAR(back.latitude, c.latitude, 1e-9);
        ASSERT_NEAR(back.longitude, c.longitude, 1e-9);
    }
}

TEST(MKGeometry, MapPointsPerMeterFollowsTheSecantOfLatitude) {
    const double equator = MKMapPointsPerMeterAtLatitude(0);
    EXPECT_NEAR(equator, platform::kMKMapWorldSide / (2 * M_PI * 6378137.0), 1e-12);
    EXPECT_NEAR(MKMapPointsPerMeterAtLatitude(60), 2 * equator, 1e-9);
    EXPECT_NEAR(MKMetersPerMapPointAtLatitude(60) * MKMapPointsPerMeterAtLatitude(60), 1.0, 1e-12);
    EXPECT_TRUE(std::isfinite(MKMapPointsPerMeterAtLatitude(90)));
}

TEST(MKGeometry, RectOperations) {
    const MKMapRect a = MKMapRectMake(0, 0, 10, 10);
    const MKMapRect b = MKMapRectMake(5, 5, 10, 10);
    const MKMapRect far = MKMapRectMake(20, 20, 1, 1);
    EXPECT_EQ(MKMapRectIntersection(a, b), MKMapRectMake(5, 5, 5, 5));
    EXPECT_TRUE(MKMapRectIsNull(MKMapRectIntersection(a, far)));
    // Touching edges share no area.
    EXPECT_FALSE(MKMapRectIntersectsRect(a, MKMapRectMake(10, 0, 5, 5)));
    EXPECT_EQ(MKMapRectUnion(a, b), MKMapRectMake(0, 0, 15, 15));
    EXPECT_EQ(MKMapRectUnion(MKMapRectNull, b), b);
    EXPECT_TRUE(MKMapRectContainsRect(MKMapRectWorld, a));
    EXPECT_FALSE(MKMapRectContainsRect(a, b));
    EXPECT_TRUE(MKMapRectContainsPoint(a, {0, 0}));
    EXPECT_FALSE(MKMapRectContainsPoint(a, {10, 5}));  // max edges are open
    EXPECT_TRUE(MKMapRectIsEmpty(MKMapRectNull));
    EXPECT_TRUE(MKMapRectIsEmpty(MKMapRectMake(1, 1, 0, 5)));
}

TEST(MKGeometry, WrapAcrossTheAntimeridian) {
    const MKMapRect wrapping = MKMapRectMake(platform::kMKMapWorldSide - 100, 50, 300, 10);
    EXPECT_TRUE(MKMapRectSpans180thMeridian(wrapping));
    EXPECT_EQ(MKMapRectRemainder(wrapping), MKMapRectMake(0, 50, 200, 10));
    EXPECT_FALSE(MKMapRectSpans180thMeridian(MKMapRectMake(0, 0, 100, 100)));
    EXPECT_TRUE(MKMapRectIsNull(MKMapRectRemainder(MKMapRectMake(0, 0, 100, 100))));
    EXPECT_EQ(MKMapPointWrapX(-1), platform::kMKMapWorldSide - 1);
    EXPECT_EQ(MKMapPointWrapX(platform::kMKMapWorldSide), 0);
    EXPECT_EQ(MKMapPointWrapX(2.5 * platform::kMKMapWorldSide), platform::kMKMapWorldSide / 2);
    EXPECT_EQ(MKMapPointWrapX(-1e-300), 0);
}

TEST(MKGeometry, RegionAndRectRoundTrip) {
    const MKCoordinateRegion regions[] = {
        {{60.17, 24.94}, {2.0, 4.0}},
        {{0, 0}, {10, 10}},
        {{-33.9, 151.2}, {0.01, 0.02}},
    };
    for (const auto& region : regions) {
        const MKMapRect rect = MKMapRectForCoordinateRegion(region);
        // North-west corner first: the origin is the rect's minimum.
        EXPECT_GT(rect.size.width, 0);
        EXPECT_GT(rect.size.height, 0);
        const MKCoordinateRegion back = MKCoordinateRegionForMapRect(rect);
        EXPECT_NEAR(back.center.latitude, region.center.latitude, 1e-9);
        EXPECT_NEAR(back.center.longitude, region.center.longitude, 1e-9);
        EXPECT_NEAR(back.span.latitudeDelta, region.span.latitudeDelta, 1e-9);
        EXPECT_NEAR(back.span.longitudeDelta, region.span.longitudeDelta, 1e-9);
    }
    // The whole world.
    const MKCoordinateRegion world = MKCoordinateRegionForMapRect(MKMapRectWorld);
    EXPECT_NEAR(world.span.longitudeDelta, 360, 1e-9);
    EXPECT_NEAR(world.span.latitudeDelta, 2 * kMKMaximumLatitude, 1e-6);
    // A region across the antimeridian starts inside the world and reaches past its east edge.
    const MKMapRect across = MKMapRectForCoordinateRegion({{0, 179}, {1, 4}});
    EXPECT_GE(across.origin.x, 0);
    EXPECT_TRUE(MKMapRectSpans180thMeridian(across));
}

TEST(MKGeometry, RegionWithDistanceAgainstTheGeodesic) {
    const auto& geodesic = GeographicLib::Geodesic::WGS84();
    const double meters = 10000;
    for (const double latitude : {0.0, 60.0, 80.0}) {
        const MKCoordinateRegion region = MKCoordinateRegionMakeWithDistance({latitude, 25}, meters, meters);
        double northSouth = 0;
        geodesic.Inverse(latitude - region.span.latitudeDelta / 2, 25,
                         latitude + region.span.latitudeDelta / 2, 25, northSouth);
        double eastWest = 0;
        geodesic.Inverse(latitude, 25 - region.span.longitudeDelta / 2, latitude,
                         25 + region.span.longitudeDelta / 2, eastWest);
        // The documented tolerance of the spherical formula: 0.7 %.
        EXPECT_NEAR(northSouth, meters, meters * 0.007) << latitude;
        EXPECT_NEAR(eastWest, meters, meters * 0.007) << latitude;
    }
    // Spans stay within the globe; at a pole every longitude is in reach.
    const MKCoordinateRegion huge = MKCoordinateRegionMakeWithDistance({0, 0}, 1e9, 1e9);
    EXPECT_EQ(huge.span.latitudeDelta, 180);
    EXPECT_EQ(huge.span.longitudeDelta, 360);
    EXPECT_EQ(MKCoordinateRegionMakeWithDistance({90, 0}, 1000, 1000).span.longitudeDelta, 360);
}

TEST(MKGeometry, MetersBetweenMapPoints) {
    const MKMapPoint a = MKMapPointForCoordinate({60, 25});
    const MKMapPoint b = MKMapPointForCoordinate({60, 25.01});
    // 0.01° of longitude at 60° on the sphere: 556.6 m.
    EXPECT_NEAR(MKMetersBetweenMapPoints(a, b), 0.01 * M_PI / 180 * 6378137.0 * 0.5, 0.01);
}

}  // namespace
