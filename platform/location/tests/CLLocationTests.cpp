#include <gtest/gtest.h>

#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <limits>

#include "platform/location/CLLocation.hpp"

namespace platform {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(CLLocationCoordinate2D, ValidityBoundsAreInclusiveAndNaNIsInvalid) {
    struct Row {
        double latitude, longitude;
        bool valid;
    };
    const Row rows[] = {
        {0, 0, true},          {90, 180, true},        {-90, -180, true},      {53.5511, 9.9937, true},
        {90.000001, 0, false}, {-90.000001, 0, false}, {0, 180.000001, false}, {0, -180.000001, false},
        {kNaN, 0, false},      {0, kNaN, false},       {-180, -180, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CLLocationCoordinate2DIsValid({row.latitude, row.longitude}), row.valid)
            << row.latitude << ", " << row.longitude;
    }
    EXPECT_EQ(kCLLocationCoordinate2DInvalid, (CLLocationCoordinate2D{-180, -180}));
    EXPECT_FALSE(CLLocationCoordinate2DIsValid(kCLLocationCoordinate2DInvalid));
}

TEST(CLLocation, DistanceIsTheWgs84Geodesic) {
    const auto& geodesic = GeographicLib::Geodesic::WGS84();
    struct Row {
        double latitude, longitude, azimuth, metres;
    };
    // Points placed at known geodesic distances with the oracle's direct
    // problem, including nearly antipodal ones where Vincenty fails.
    const Row rows[] = {
        {53.5511, 9.9937, 30, 24.999},        {53.5511, 9.9937, 210, 25.01}, {48.8583, 2.2945, 90, 1000},
        {-33.8688, 151.2093, 300, 5'000'000}, {0, 0, 89.9, 19'000'000},      {89.9, 0, 180, 100},
    };
    for (const auto& row : rows) {
        double latitude2 = 0, longitude2 = 0;
        geodesic.Direct(row.latitude, row.longitude, row.azimuth, row.metres, latitude2, longitude2);
        const CLLocation a(row.latitude, row.longitude);
        const CLLocation b(latitude2, longitude2);
        EXPECT_NEAR(a.distance(b), row.metres, 1e-6) << row.latitude << ", " << row.longitude;
        EXPECT_EQ(a.distance(b), b.distance(a));
    }
    // Nearly antipodal pair (Vincenty does not converge here).
    double s12 = 0;
    geodesic.Inverse(0, 0, 0.5, 179.7, s12);
    EXPECT_NEAR(CLLocation(0, 0).distance(CLLocation(0.5, 179.7)), s12, 1e-6);
    // Far from the sphere's answer: one degree of latitude at the equator.
    EXPECT_NEAR(CLLocation(0, 0).distance(CLLocation(1, 0)), 110574.389, 1e-3);
    EXPECT_EQ(CLLocation(10, 20).distance(CLLocation(10, 20)), 0.0);
}

TEST(CLLocation, DistanceWithAnInvalidCoordinateIsNaN) {
    const CLLocation valid(53.5511, 9.9937);
    const CLLocation invalid(kCLLocationCoordinate2DInvalid.latitude,
                             kCLLocationCoordinate2DInvalid.longitude);
    EXPECT_TRUE(std::isnan(valid.distance(invalid)));
    EXPECT_TRUE(std::isnan(invalid.distance(valid)));
    EXPECT_TRUE(std::isnan(valid.distance(CLLocation(kNaN, 0))));
}

TEST(CLLocation, DefaultsAndDescription) {
    const CLLocation bare(53.5511, 9.9937);
    EXPECT_EQ(bare.altitude(), 0);
    EXPECT_EQ(bare.horizontalAccuracy(), 0);
    EXPECT_LT(bare.verticalAccuracy(), 0);
    EXPECT_LT(bare.speed(), 0);
    EXPECT_LT(bare.course(), 0);

    const Date when = Date::fromUnix(1714571107.9);  // 2024-05-01 13:45:07.9 UTC
    const CLLocation fix({53.5511, 9.9937}, 35, 5, 3, 90, 1.5, when);
    EXPECT_EQ(fix.description(),
              "<+53.55110000,+9.99370000> +/- 5.00m alt 35.00m +/- 3.00m (speed 1.50 mps / course 90.00) @ "
              "2024-05-01 13:45:07 +0000");
    const CLLocation noAltitude({-33.8688, -70.5}, 0, 65, -1, when);
    EXPECT_EQ(noAltitude.description(),
              "<-33.86880000,-70.50000000> +/- 65.00m (speed -1.00 mps / course -1.00) @ 2024-05-01 13:45:07 "
              "+0000");
}

}  // namespace
}  // namespace platform
