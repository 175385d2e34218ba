#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>
#include <cmath>
#include <random>

#include "geodesy/LatLon.hpp"

using namespace tervolo::geodesy;

namespace {

const Datum& datumNamed(const std::string& name) {
    for (const Datum& d : datumTable())
        if (d.name == name) return d;
    throw std::logic_error(name);
}

// Metres between two nearby positions (small-angle approximation, plenty for millimetre checks).
double metresBetween(const LatLon& p, const LatLon& q) {
    const double R = 6371000.0;
    const double dLat = (p.lat() - q.lat()) * M_PI / 180.0;
    const double dLon = (p.lon() - q.lon()) * M_PI / 180.0 * std::cos(p.lat() * M_PI / 180.0);
    return R * std::hypot(dLat, dLon);
}

TEST(LatLonTest, UnknownDatumBecomesWGS84) {
    const LatLon p(10, 20, Datum{"Custom", Ellipsoid::WGS84, {1, 2, 3, 4, 0, 0, 0}});
    EXPECT_EQ(p.datum(), wgs84TableDatum());
    EXPECT_EQ(p.datum().name, "WGS84");
    EXPECT_EQ(LatLon(10, 20, datumNamed("OSGB36")).datum().name, "OSGB36");
    EXPECT_EQ(p.datumStore().size(), 10u);
    EXPECT_EQ(p.wgs84Datum().name, "WGS84");
    // Out-of-range values are kept as given.
    EXPECT_EQ(LatLon(123, -500).lon(), -500);
}

TEST(LatLonTest, TextForms) {
    const LatLon p(51.5, -0.25);
    EXPECT_EQ(p.description(), "N 51° 30' 00.0000\", W 000° 15' 00.0000\"");
    EXPECT_EQ(p.toString(DMSFormat::degrees, 2), "N 51.50°, W 000.25°");
    EXPECT_EQ(p.toString(DMSFormat::degreesMinutes, 0, true), "N 51° 30', \nW 000° 15'");
}

TEST(LatLonTest, ParseTable) {
    struct Case {
        const char* text;
        double lat, lon;
    };
    const Case cases[] = {
        {"51.5, -0.25", 51.5, -0.25},
        {"N 51° 30', W 0° 15'", 51.5, -0.25},
        {"51°30'N, 0°15'W", 51.5, -0.25},
        {"  s 33.8688 ,\t e 151.2093\n", -33.8688, 151.2093},
        {"-33.8688, 151.2093", -33.8688, 151.2093},
        {"Lat 12.5 N, Lon 7 E", 12.5, 7},
        {"12 30 36 S, 77 1 48 W", -(12 + 30 / 60.0 + 36 / 3600.0), -(77 + 1 / 60.0 + 48 / 3600.0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const LatLon p = LatLon::parseLatLon(c.text);
        EXPECT_NEAR(p.lat(), c.lat, 1e-12);
        EXPECT_NEAR(p.lon(), c.lon, 1e-12);
        EXPECT_EQ(p.datum().name, "WGS84");
    }
}

TEST(LatLonTest, ParseRefusals) {
    for (const char* text :
         {"51.5", ", 3", "51.5,", " , ", "", "51 60, 0", "51 30, 0 15 60", "51°59'60\"N, 1E"}) {
        SCOPED_TRACE(text);
        try {
            LatLon::parseLatLon(text);
            ADD_FAILURE() << "no error";
        } catch (const LatLonError& error) {
            EXPECT_EQ(error.kind(), LatLonError::Case::parseError);
            EXPECT_EQ(error.message(), "Invalid string");
        }
    }
}

TEST(LatLonTest, OSGB36RoundTripWithinAMillimetre) {
    const Datum& osgb = datumNamed("OSGB36");
    double worst = 0.0;
    // Over Great Britain, both ways round.
    for (double lat = 49.5; lat <= 61.0; lat += 0.5) {
        for (double lon = -8.5; lon <= 2.0; lon += 0.5) {
            const LatLon start(lat, lon, osgb);
            const LatLon wgs = start.convertDatum(wgs84TableDatum());
            ASSERT_EQ(wgs.datum().name, "WGS84");
            // The two datums differ by about a hundred metres here.
            ASSERT_GT(metresBetween(start, wgs), 40.0);
            const LatLon back = wgs.convertDatum(osgb);
            ASSERT_EQ(back.datum().name, "OSGB36");
            worst = std::max(worst, metresBetween(start, back));

            const LatLon fromWgs(lat, lon);
            worst = std::max(
                worst, metresBetween(fromWgs, fromWgs.convertDatum(osgb).convertDatum(wgs84TableDatum())));
        }
    }
    // A position carries no height, so the ~50 m height change between the datums is dropped in the middle
    // of the round trip; along the differently tilted ellipsoid normals that alone moves the point by about
    // a millimetre. The transform itself inverts exactly (next check); with the seven values merely
    // negated on the way back the round trip would be off by 3.5 mm.
    EXPECT_LT(worst, 0.0011);

    const Vector p{3874938.849, 116218.624, 5047168.208};
    const Vector there = LatLon::applyTransform(p, osgb.transform);
    const Vector back = LatLon::applyInverseTransform(there, osgb.transform);
    EXPECT_LT((back - p).length(), 1e-8);
    EXPECT_GT((LatLon::applyTransform(there, osgb.transform.negated()) - p).length(), 0.002);
}

TEST(LatLonTest, ConversionBetweenTwoOtherDatumsLeavesTheReceiverAlone) {
    const LatLon ed50(48.0, 7.0, datumNamed("ED50"));
    const LatLon result = ed50.convertDatum(datumNamed("OSGB36"));
    EXPECT_EQ(ed50.datum().name, "ED50");
    EXPECT_EQ(ed50.lat(), 48.0);
    EXPECT_EQ(ed50.lon(), 7.0);
    const LatLon viaWGS84 = ed50.convertDatum(wgs84TableDatum()).convertDatum(datumNamed("OSGB36"));
    EXPECT_EQ(result.datum().name, "OSGB36");
    EXPECT_EQ(result.lat(), viaWGS84.lat());
    EXPECT_EQ(result.lon(), viaWGS84.lon());
    // WGS84 to WGS84 goes to cartesian and back.
    const LatLon same = LatLon(48.0, 7.0).convertDatum(wgs84TableDatum());
    EXPECT_NEAR(same.lat(), 48.0, 1e-9);
    EXPECT_NEAR(same.lon(), 7.0, 1e-12);
}

// EPSG Guidance Note 7-2, WGS 72 to WGS 84: the same published point in the position-vector
// convention (rz = +0.554") and in the coordinate-frame convention (rz = -0.554", rotations negated).
TEST(LatLonTest, SevenParameterTransformMatchesPublishedExample) {
    const Vector source{3657660.66, 255768.55, 5201382.11};
    const Vector expected{3657660.78, 255778.43, 5201387.75};
    const Transform positionVector{0, 0, 4.5, 0.219, 0, 0, 0.554};
    const Transform coordinateFrame{0, 0, 4.5, 0.219, 0, 0, -0.554};
    const Transform frameAsPositionVector{coordinateFrame.tx, coordinateFrame.ty,  coordinateFrame.tz,
                                          coordinateFrame.s,  -coordinateFrame.rx, -coordinateFrame.ry,
                                          -coordinateFrame.rz};
    for (const Transform& t : {positionVector, frameAsPositionVector}) {
        const Vector out = LatLon::applyTransform(source, t);
        // The published values have two decimals.
        EXPECT_NEAR(out.x, expected.x, 0.006);
        EXPECT_NEAR(out.y, expected.y, 0.006);
        EXPECT_NEAR(out.z, expected.z, 0.006);
    }
    // Read in the wrong convention the same numbers miss by metres.
    const Vector wrong = LatLon::applyTransform(source, coordinateFrame);
    EXPECT_GT(std::fabs(wrong.y - expected.y), 19.0);
    // The negated transform undoes it to well below a millimetre.
    const Vector back =
        LatLon::applyTransform(LatLon::applyTransform(source, positionVector), positionVector.negated());
    EXPECT_NEAR(back.x, source.x, 1e-4);
    EXPECT_NEAR(back.y, source.y, 1e-4);
    EXPECT_NEAR(back.z, source.z, 1e-4);
}

TEST(LatLonTest, PolarAxisGivesThePoles) {
    const Datum& wgs = wgs84TableDatum();
    struct Case {
        Vector v;
        double lat;
    };
    const Case cases[] = {
        {{0, 0, 6356752.314245}, 90.0},
        {{0, 0, -6356752.314245}, -90.0},
        {{-0.0, 0, 1000}, 90.0},
        {{0, 0, 0}, 0.0},
    };
    for (const auto& c : cases) {
        const LatLon p = LatLon::makeLatLonE(c.v, wgs);
        EXPECT_EQ(p.lat(), c.lat);
        EXPECT_EQ(p.lon(), 0.0);
    }
    // And the equator, where Bowring's cos β is 0 / 0.
    const LatLon equator = LatLon::makeLatLonE({6378137.0, 0, 0}, wgs);
    EXPECT_EQ(equator.lat(), 0.0);
    EXPECT_EQ(equator.lon(), 0.0);
}

TEST(LatLonTest, CartesianConversionsMatchGeographicLib) {
    const GeographicLib::Geocentric& oracle = GeographicLib::Geocentric::WGS84();
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> latitudes(-89.999, 89.999), longitudes(-180.0, 180.0);
    for (int i = 0; i < 20000; ++i) {
        const double lat = latitudes(random), lon = longitudes(random);
        double X, Y, Z;
        oracle.Forward(lat, lon, 0.0, X, Y, Z);
        const Vector c = LatLon(lat, lon).toCartesian();
        ASSERT_LT(std::fabs(c.x - X) + std::fabs(c.y - Y) + std::fabs(c.z - Z), 1e-6) << lat << " " << lon;

        const LatLon back = LatLon::makeLatLonE({X, Y, Z}, wgs84TableDatum());
        double olat, olon, h;
        oracle.Reverse(X, Y, Z, olat, olon, h);
        ASSERT_LT(metresBetween(back, LatLon(olat, olon)), 1e-6) << lat << " " << lon;
    }
}

}  // namespace
