#include <gtest/gtest.h>

#include <GeographicLib/UTMUPS.hpp>
#include <cmath>
#include <random>

#include "geodesy/Utm.hpp"

using namespace tervolo::geodesy;

namespace {

template <typename Body>
void expectUtmError(Body body, UtmError::Case kind, const std::string& message) {
    try {
        body();
        ADD_FAILURE() << "no error, expected " << message;
    } catch (const UtmError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_EQ(error.message(), message);
    }
}

const std::string kEasting = "Invalid Easting provided. Easting must be between 120,000 and 880,000";
const std::string kNorthing = "Invalid Northing provided. Northing must be between 0 and 10,000,000";
const std::string kZone = "Invalid Zone provided.  Zone must be between 0 and 60";
const std::string kSpaces = "Invalid UTM Coordinate provided.  Ensure you have spaces between the items";
const std::string kFields =
    "Invalid UTM Coordinate provided. The system could not parse the zone, easting or northing fields";

TEST(UtmTest, ForwardTable) {
    struct Case {
        double lat, lon;
        int64_t zone;
        Hemisphere hemisphere;
        double easting, northing;  // NaN: not checked
        double convergence, scale;
    };
    const Case cases[] = {
        {48.8583, 2.2945, 31, Hemisphere::n, 448251.898291, 5411943.793808, -0.531313019, 0.999632897298},
        {0, 0, 31, Hemisphere::n, 166021.443081, 0, 0, 1.000981061508},
        {-33.8688, 151.2093, 56, Hemisphere::s, 334368.633648, 6250948.345385, 0.998171856, 0.999938200532},
        // Norway: band V east of 3° belongs to zone 32.
        {60, 5, 32, Hemisphere::n, 276979.926401, 6658157.202407, -3.465515341, NAN},
        {59, 4, 32, Hemisphere::n, 212909.817028, 6550799.931997, NAN, NAN},
        // Svalbard: band X zones 31, 33, 35, 37.
        {78, 8, 31, Hemisphere::n, 615914.524877, 8663320.201404, 4.891274426, NAN},
        {78, 10, 33, Hemisphere::n, 384085.475123, 8663320.201404, -4.891274426, NAN},
        {78, 22, 35, Hemisphere::n, 384085.475123, NAN, NAN, NAN},
        {78, 34, 37, Hemisphere::n, 384085.475123, NAN, NAN, NAN},
        {78, 15, 33, Hemisphere::n, 500000, 8658369.585827, 0, 0.9996},
        {84, 0, 31, Hemisphere::n, 465005.344939, 9329005.182447, NAN, NAN},
        {-80, 0, 31, Hemisphere::s, 441867.784867, 1116915.044052, NAN, NAN},
        // Longitude −180 and 180 are one meridian, in zone 1.
        {0, -180, 1, Hemisphere::n, 166021.443081, 0, NAN, NAN},
        {0, 180, 1, Hemisphere::n, 166021.443081, 0, NAN, NAN},
        {-0.0, 3, 31, Hemisphere::n, 500000, 0, NAN, NAN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lat << ", " << c.lon);
        const Utm utm = LatLon(c.lat, c.lon).toUTM();
        EXPECT_EQ(utm.zone(), c.zone);
        EXPECT_EQ(utm.hemisphere(), c.hemisphere);
        EXPECT_NEAR(utm.easting(), c.easting, 1.5e-6);
        if (!std::isnan(c.northing)) {
            EXPECT_NEAR(utm.northing(), c.northing, 1.5e-6);
        }
        if (!std::isnan(c.convergence)) {
            EXPECT_NEAR(*utm.convergence(), c.convergence, 1.5e-9);
        }
        if (!std::isnan(c.scale)) {
            EXPECT_NEAR(*utm.scale(), c.scale, 1.5e-12);
        }
        EXPECT_EQ(utm.datum().name, "WGS84");
    }
    const Utm paris = LatLon(48.8583, 2.2945).toUTM();
    EXPECT_EQ(paris.toString(0), "31 N 448252 5411944");
    EXPECT_EQ(paris.toString(), "31 N 448252 5411944");
    EXPECT_EQ(paris.description(), "31 N 448252 5411944");
    const Utm centre = LatLon(78, 15).toUTM();
    EXPECT_EQ(centre.easting(), 500000.0);
    EXPECT_EQ(*centre.convergence(), 0.0);
    EXPECT_EQ(*centre.scale(), 0.9996);
}

TEST(UtmTest, ForwardRefusals) {
    const std::string limits = "Outside UTM Limits";
    for (const auto& [lat, lon] : {std::pair{84.0000001, 0.0},
                                   {-80.0000001, 0.0},
                                   {NAN, 0.0},
                                   {85.0, 0.0},
                                   {0.0, NAN},
                                   {0.0, INFINITY},
                                   {0.0, -INFINITY},
                                   {0.0, 180.5},
                                   {0.0, -181.0}}) {
        SCOPED_TRACE(testing::Message() << lat << ", " << lon);
        expectUtmError([lat = lat, lon = lon] { LatLon(lat, lon).toUTM(); }, UtmError::Case::badLatLon,
                       limits);
    }
}

// Inputs at the edges of the double range, with GeographicLib's answer as the expected value.
TEST(UtmTest, ForwardAtTheEdgesOfTheDoubleRange) {
    struct Case {
        double lat, lon;
    };
    const Case cases[] = {
        // Latitudes whose radians underflow to −0: still southern, so the false northing applies.
        {-4.94e-324, 10.0},
        {-1.4e-322, 10.0},
        {-1e-320, -75.0},
        {4.94e-324, 10.0},
        // The largest longitudes below 180 belong to zone 60.
        {0.0, 179.99999999999997},
        {45.0, 179.99999999999997},
        {-45.0, std::nextafter(180.0, 0.0)},
        {10.0, std::nextafter(-174.0, 0.0)},
        {10.0, -174.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lat << ", " << c.lon);
        int zone;
        bool northp;
        double x, y, gamma, k;
        GeographicLib::UTMUPS::Forward(c.lat, c.lon, zone, northp, x, y, gamma, k);
        const Utm utm = LatLon(c.lat, c.lon).toUTM();
        EXPECT_EQ(utm.zone(), zone);
        EXPECT_EQ(utm.hemisphere() == Hemisphere::n, northp);
        EXPECT_NEAR(utm.easting(), x, 1e-6);
        EXPECT_NEAR(utm.northing(), y, 1e-6);
    }
    EXPECT_EQ(LatLon(-4.94e-324, 10).toUTM().toString(), "32 S 611281 10000000");
    // Negative zero is the equator on its northern side (as the coordinate formats have it).
    EXPECT_EQ(LatLon(-0.0, 10).toUTM().toString(), "32 N 611281 0");
}

TEST(UtmTest, InverseGivesThePositionBack) {
    struct Case {
        int64_t zone;
        Hemisphere hemisphere;
        double easting, northing, lat, lon;
    };
    const Case cases[] = {
        {31, Hemisphere::n, 448251.898291, 5411943.793808, 48.8583, 2.2945},
        {56, Hemisphere::s, 334368.633648, 6250948.345385, -33.8688, 151.2093},
        {32, Hemisphere::n, 276979.926401, 6658157.202407, 60, 5},
    };
    for (const auto& c : cases) {
        const LatLon p = Utm(c.zone, c.hemisphere, c.easting, c.northing, wgs84TableDatum()).toLatLonE();
        EXPECT_NEAR(p.lat(), c.lat, 1e-10);
        EXPECT_NEAR(p.lon(), c.lon, 1e-10);
        EXPECT_EQ(p.datum().name, "WGS84");
    }
}

TEST(UtmTest, InitialiserChecksInOrder) {
    struct Case {
        int64_t zone;
        double easting, northing;
        UtmError::Case kind;
        const std::string& message;
    };
    const Case cases[] = {
        {31, 119999.9, 5000000, UtmError::Case::invalidEasting, kEasting},
        {31, 880000.1, 5000000, UtmError::Case::invalidEasting, kEasting},
        {31, NAN, 5000000, UtmError::Case::invalidEasting, kEasting},
        {31, 500000, -0.1, UtmError::Case::invalidNorthing, kNorthing},
        {31, 500000, 10000000.1, UtmError::Case::invalidNorthing, kNorthing},
        {31, 500000, NAN, UtmError::Case::invalidNorthing, kNorthing},
        {61, 500000, 0, UtmError::Case::invalidZone, kZone},
        {-1, 500000, 0, UtmError::Case::invalidZone, kZone},
        {99, 100, 0, UtmError::Case::invalidEasting, kEasting},
    };
    for (const auto& c : cases) {
        expectUtmError([&] { Utm(c.zone, Hemisphere::n, c.easting, c.northing, wgs84TableDatum()); }, c.kind,
                       c.message);
    }
    // Bounds are inclusive.
    EXPECT_NO_THROW(Utm(60, Hemisphere::s, 880000, 10000000, wgs84TableDatum()));
    EXPECT_NO_THROW(Utm(0, Hemisphere::n, 120000, 0, wgs84TableDatum()));

    const Utm custom(31, Hemisphere::n, 500000, 0, Datum{"Custom", Ellipsoid::WGS84, {1, 0, 0, 0, 0, 0, 0}});
    EXPECT_EQ(custom.datum(), wgs84TableDatum());
    EXPECT_EQ(custom.datumStore().size(), 10u);
    EXPECT_FALSE(custom.convergence().has_value());

    Utm zoned(31, Hemisphere::n, 500000, 0, wgs84TableDatum());
    zoned.setZone(61);
    zoned.setZone(-1);
    EXPECT_EQ(zoned.zone(), 31);
    zoned.setZone(5);
    EXPECT_EQ(zoned.zone(), 5);
    EXPECT_EQ(zoned.toString(), "05 N 500000 0");
}

TEST(UtmTest, TextRoundsBeforePrintingWholeMetres) {
    const Utm utm(31, Hemisphere::s, 448251.8985, 5411943.4999, wgs84TableDatum());
    EXPECT_EQ(utm.toString(0), "31 S 448252 5411943");
    // Rounded to three decimals first (5411943.5), then printed without decimals: the two roundings add up.
    EXPECT_EQ(utm.toString(3), "31 S 448252 5411944");
    EXPECT_EQ(utm.toString(400), "31 S 448252 5411943");
}

TEST(UtmTest, ParserTable) {
    const Utm parsed = Utm::parseUTM("  31 n 448251.9 5411943.8 \n");
    EXPECT_EQ(parsed.zone(), 31);
    EXPECT_EQ(parsed.hemisphere(), Hemisphere::n);
    EXPECT_EQ(parsed.easting(), 448251.9);
    EXPECT_EQ(parsed.northing(), 5411943.8);
    EXPECT_EQ(Utm::parseUTM("+5 S 5e5 1.5E6").toString(), "05 S 500000 1500000");
    EXPECT_EQ(Utm::parseUTM("31\tN\u00a0448251 5411943").easting(), 448251.0);
    EXPECT_EQ(Utm::parseUTM("31 N 448251 5411943", Datum{"Custom"}).datum().name, "WGS84");

    struct Case {
        const char* text;
        UtmError::Case kind;
        const std::string& message;
    };
    const Case cases[] = {
        {"31N 448251 5411943", UtmError::Case::badString, kSpaces},
        {"31 N 448251 5411943 7", UtmError::Case::badString, kSpaces},
        {"", UtmError::Case::badString, kSpaces},
        {"31 X 448251 5411943", UtmError::Case::badString, kFields},
        {"3a N 448251 5411943", UtmError::Case::badString, kFields},
        {"31.0 N 448251 5411943", UtmError::Case::badString, kFields},
        {"31 N 448,251 5411943", UtmError::Case::badString, kFields},
        {"99999999999999999999 N 448251 5411943", UtmError::Case::badString, kFields},
        {"31 N 100 5411943", UtmError::Case::invalidEasting, kEasting},
        {"31 N nan 5411943", UtmError::Case::invalidEasting, kEasting},
        {"31 N 500000 inf", UtmError::Case::invalidNorthing, kNorthing},
        {"61 N 500000 0", UtmError::Case::invalidZone, kZone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        expectUtmError([&] { Utm::parseUTM(c.text); }, c.kind, c.message);
    }
}

TEST(UtmTest, TextValueTextRoundTrip) {
    for (const char* text : {"31 N 448252 5411944", "05 S 120000 10000000", "60 N 880000 0"}) {
        EXPECT_EQ(Utm::parseUTM(text).toString(), text);
    }
}

// GeographicLib as the oracle over the whole UTM range (seeded, so failures reproduce).
TEST(UtmTest, MatchesGeographicLibAtRandomPoints) {
    std::mt19937_64 random(0x5eed);
    std::uniform_real_distribution<double> latitudes(-80.0, 84.0), longitudes(-180.0, 180.0);
    int checked = 0;
    for (int i = 0; i < 20000; ++i) {
        const double lat = latitudes(random), lon = longitudes(random);
        int zone;
        bool northp;
        double x, y, gamma, k;
        GeographicLib::UTMUPS::Forward(lat, lon, zone, northp, x, y, gamma, k);
        const Utm utm = LatLon(lat, lon).toUTM();
        ASSERT_EQ(utm.zone(), zone) << lat << " " << lon;
        ASSERT_EQ(utm.hemisphere() == Hemisphere::n, northp) << lat << " " << lon;
        // Ours is rounded to 6 decimals (half a micrometre) on top of the series' own error.
        ASSERT_NEAR(utm.easting(), x, 1e-6) << lat << " " << lon;
        ASSERT_NEAR(utm.northing(), y, 1e-6) << lat << " " << lon;
        ASSERT_NEAR(*utm.convergence(), gamma, 1e-9) << lat << " " << lon;
        ASSERT_NEAR(*utm.scale(), k, 1e-9) << lat << " " << lon;

        double olat, olon;
        GeographicLib::UTMUPS::Reverse(zone, northp, utm.easting(), utm.northing(), olat, olon);
        const LatLon back = utm.toLatLonE();
        ASSERT_NEAR(back.lat(), olat, 1e-9);
        ASSERT_NEAR(back.lon(), olon, 1e-9);

        // UTM → position → UTM returns to the same coordinates within a micrometre: at most one unit of the
        // sixth decimal both are rounded to (plus the spacing of Doubles near 10^7 m).
        const Utm again = back.toUTM();
        ASSERT_EQ(again.zone(), utm.zone());
        ASSERT_NEAR(again.easting(), utm.easting(), 1e-6 + 2e-9);
        ASSERT_NEAR(again.northing(), utm.northing(), 1e-6 + 2e-9);
        ++checked;
    }
    EXPECT_EQ(checked, 20000);
}

}  // namespace
