#include <gtest/gtest.h>

#include <GeographicLib/MGRS.hpp>
#include <GeographicLib/TransverseMercator.hpp>
#include <GeographicLib/UTMUPS.hpp>
#include <algorithm>
#include <cmath>
#include <optional>
#include <random>

#include "geodesy/Mgrs.hpp"

using namespace tervolo::geodesy;

namespace {

template <typename Body>
void expectMgrsError(Body body, MgrsError::Case kind, const std::string& message) {
    try {
        body();
        ADD_FAILURE() << "no error, expected " << message;
    } catch (const MgrsError& error) {
        EXPECT_EQ(error.kind(), kind);
        EXPECT_EQ(error.message(), message);
    }
}

TEST(MgrsTest, FromUtmTable) {
    struct Case {
        int64_t zone;
        Hemisphere hemisphere;
        double easting, northing;
        char32_t band, e100k, n100k;
        double e, n;
        const char* text;
    };
    const Case cases[] = {
        {31, Hemisphere::n, 448251.898291, 5411943.793808, U'U', U'D', U'Q', 48251.898291, 11943.793808,
         "31U DQ 48252 11944"},
        {56, Hemisphere::s, 334368.633648, 6250948.345385, U'H', U'L', U'H', 34368.633648, 50948.345385,
         "56H LH 34369 50948"},
        {4, Hemisphere::n, 512345, 2212345, U'Q', U'E', U'H', 12345, 12345, "04Q EH 12345 12345"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Utm utm(c.zone, c.hemisphere, c.easting, c.northing, wgs84TableDatum());
        const Mgrs mgrs = utm.toMGRS();
        EXPECT_EQ(mgrs.zone(), c.zone);
        EXPECT_EQ(mgrs.band(), c.band);
        EXPECT_EQ(mgrs.e100k(), c.e100k);
        EXPECT_EQ(mgrs.n100k(), c.n100k);
        EXPECT_NEAR(mgrs.easting(), c.e, 1e-9);
        EXPECT_NEAR(mgrs.northing(), c.n, 1e-9);
        EXPECT_EQ(mgrs.toString(5), c.text);
        EXPECT_EQ(mgrs.toString(), c.text);
        EXPECT_EQ(mgrs.description(), c.text);

        const Utm back = mgrs.toUTM();
        EXPECT_EQ(back.zone(), c.zone);
        EXPECT_EQ(back.hemisphere(), c.hemisphere);
        EXPECT_NEAR(back.easting(), c.easting, 1e-6);
        EXPECT_NEAR(back.northing(), c.northing, 1e-6);
    }
}

TEST(MgrsTest, TextWithFewerDigits) {
    const Mgrs paris(31, U'U', U'D', U'Q', 48251.898291, 11943.793808, wgs84TableDatum());
    EXPECT_EQ(paris.toString(3), "31U DQ 482 119");
    // 48251.9 → 4825 → 482 → 48 → 5: each step rounds, halves to even.
    EXPECT_EQ(paris.toString(1), "31U DQ 5 1");
    EXPECT_EQ(paris.toString(0), "31U DQ 0 0");
    // More digits than five are fractions of a metre, so the text reads back where it was.
    EXPECT_EQ(paris.toString(6), "31U DQ 482519 119438");
    EXPECT_EQ(paris.toString(8), "31U DQ 48251898 11943794");
    EXPECT_EQ(paris.toString(20), "31U DQ 48251898291000000000 11943793808000000000");
    for (unsigned precision = 5; precision <= 40; ++precision) {
        SCOPED_TRACE(precision);
        const Mgrs back = Mgrs::parse(paris.toString(precision));
        EXPECT_NEAR(back.easting(), paris.easting(), 0.5 * std::pow(10.0, 5.0 - std::min(precision, 11u)));
        EXPECT_NEAR(back.northing(), paris.northing(), 0.5 * std::pow(10.0, 5.0 - std::min(precision, 11u)));
    }
    // Successive roundings to even: 48251 → 4825 → 482.
    EXPECT_EQ(Mgrs(31, U'U', U'D', U'Q', 48251, 48250, wgs84TableDatum()).toString(3), "31U DQ 482 482");
    // Just under the next square: the digits stay at 99999 instead of losing one ("10000" would be 90 km
    // off).
    EXPECT_EQ(Mgrs(31, U'U', U'D', U'Q', 99999.6, 99999.4, wgs84TableDatum()).toString(5),
              "31U DQ 99999 99999");
    EXPECT_EQ(Mgrs(31, U'U', U'D', U'Q', 99951, 99949, wgs84TableDatum()).toString(3), "31U DQ 999 999");
}

TEST(MgrsTest, InitialiserChecksBandThenZone) {
    const Mgrs lower(31, U'u', U'd', U'q', 1, 2, wgs84TableDatum());
    EXPECT_EQ(lower.band(), U'U');
    EXPECT_EQ(lower.e100k(), U'D');
    EXPECT_EQ(lower.n100k(), U'Q');
    EXPECT_EQ(lower.toString(), "31U DQ 00001 00002");
    EXPECT_EQ(Mgrs(31, U'U', U'D', U'Q', 1, 2, Datum{"Custom"}).datum(), wgs84TableDatum());

    struct Case {
        int64_t zone;
        char32_t band;
        MgrsError::Case kind;
        const char* message;
    };
    const Case cases[] = {
        {31, U'I', MgrsError::Case::invalidBand, "Invalid band provided"},
        {31, U'O', MgrsError::Case::invalidBand, "Invalid band provided"},
        {31, U'A', MgrsError::Case::invalidBand, "Invalid band provided"},
        {31, 0x60, MgrsError::Case::invalidBand, "Invalid band provided"},
        {31, U'ß', MgrsError::Case::invalidBand, "Invalid band provided"},  // upper-cases to "SS"
        {61, U'I', MgrsError::Case::invalidBand, "Invalid band provided"},
        {61, U'U', MgrsError::Case::invalidZone, "Invalid zone provided"},
        {-1, U'U', MgrsError::Case::invalidZone, "Invalid zone provided"},
    };
    for (const auto& c : cases) {
        expectMgrsError([&] { Mgrs(c.zone, c.band, U'D', U'Q', 0, 0, wgs84TableDatum()); }, c.kind,
                        c.message);
    }
    // A square letter that upper-cases to two letters cannot be stored either.
    expectMgrsError([] { Mgrs(31, U'U', U'ß', U'Q', 0, 0, wgs84TableDatum()); }, MgrsError::Case::invalidBand,
                    "Invalid band provided");

    Mgrs zoned(31, U'U', U'D', U'Q', 0, 0, wgs84TableDatum());
    zoned.setZone(61);
    zoned.setZone(-3);
    EXPECT_EQ(zoned.zone(), 31);
}

TEST(MgrsTest, ToUtmRefusals) {
    struct Case {
        Mgrs mgrs;
        MgrsError::Case kind;
        const char* message;
    };
    const Case cases[] = {
        {Mgrs(31, U'U', U'J', U'Q', 0, 0, wgs84TableDatum()), MgrsError::Case::invalidEasting,
         "An invalid easting was provided"},
        {Mgrs(31, U'U', U'D', U'W', 0, 0, wgs84TableDatum()), MgrsError::Case::invalidNorthing,
         "An invalid northing was provided"},
        {Mgrs(31, U'U', U'D', 0x60, 0, 0, wgs84TableDatum()), MgrsError::Case::invalidNorthing,
         "An invalid northing was provided"},
        // Zone 0 has no letter sets.
        {Mgrs(0, U'U', U'D', U'Q', 0, 0, wgs84TableDatum()), MgrsError::Case::invalidZone,
         "Invalid zone provided"},
    };
    for (const auto& c : cases) {
        expectMgrsError([&] { c.mgrs.toUTM(); }, c.kind, c.message);
    }
    // A northing that is no distance cannot spin the 2,000-km search.
    EXPECT_THROW(Mgrs(31, U'U', U'D', U'Q', 0, -INFINITY, wgs84TableDatum()).toUTM(), UtmError);
    EXPECT_THROW(Mgrs(31, U'U', U'D', U'Q', 0, -1e300, wgs84TableDatum()).toUTM(), UtmError);
    EXPECT_THROW(Mgrs(31, U'U', U'D', U'Q', NAN, 0, wgs84TableDatum()).toUTM(), UtmError);

    expectMgrsError([] { Utm(0, Hemisphere::n, 500000, 5000000, wgs84TableDatum()).toMGRS(); },
                    MgrsError::Case::invalidZone, "Invalid zone provided");
    // Close to the pole the latitude is beyond every band.
    expectMgrsError([] { Utm(31, Hemisphere::n, 500000, 9990000, wgs84TableDatum()).toMGRS(); },
                    MgrsError::Case::invalidBand, "Invalid band provided");
    // Between the last bands and 88° (an index rounded toward zero made these bands C and X).
    for (const auto& [lat, lon] : {std::pair{-80.0000001, 3.0},
                                   {-80.5, 0.0},
                                   {-84.0, 6.0},
                                   {-87.9, 3.0},
                                   {84.0000001, 3.0},
                                   {84.5, 0.0},
                                   {87.9, 5.0}}) {
        SCOPED_TRACE(testing::Message() << lat << ", " << lon);
        // Projected in zone 31 without the UTM latitude limits: the band test alone must refuse them.
        double x, y;
        GeographicLib::TransverseMercator::UTM().Forward(3.0, lat, lon, x, y);
        const bool north = lat > 0.0;
        expectMgrsError(
            [&] {
                Utm(31, north ? Hemisphere::n : Hemisphere::s, x + 500000.0, north ? y : y + 10000000.0,
                    wgs84TableDatum())
                    .toMGRS();
            },
            MgrsError::Case::invalidBand, "Invalid band provided");
    }
}

// Band C far from the central meridian: the base of the row-letter cycles must lie below the band's
// southern edge across the whole easting range, which near 80° S is some 20° of longitude wide.
TEST(MgrsTest, SouthernBandsFarFromTheCentralMeridian) {
    const Utm fromText = Mgrs::parse("01C AL 99999 99999").toUTM();
    EXPECT_EQ(fromText.hemisphere(), Hemisphere::s);
    EXPECT_EQ(fromText.easting(), 199999.0);
    EXPECT_EQ(fromText.northing(), 1099999.0);

    for (const Utm& utm : {Utm(1, Hemisphere::s, 199999.5, 1099999.5, wgs84TableDatum()),
                           Utm(1, Hemisphere::s, 120000.0, 1100000.0, wgs84TableDatum()),
                           Utm(1, Hemisphere::s, 879999.0, 1100001.0, wgs84TableDatum()),
                           Utm(30, Hemisphere::s, 130000.0, 1999999.0, wgs84TableDatum())}) {
        SCOPED_TRACE(utm.toString(6));
        const Utm back = utm.toMGRS().toUTM();
        EXPECT_EQ(back.zone(), utm.zone());
        EXPECT_EQ(back.hemisphere(), utm.hemisphere());
        EXPECT_NEAR(back.easting(), utm.easting(), 1e-6);
        EXPECT_NEAR(back.northing(), utm.northing(), 1e-6);
    }
}

// Random UTM values over the whole range a Utm accepts: each has an MGRS form that reads back to it, or
// (beyond the bands) none at all. GeographicLib reads the same text to the same place.
TEST(MgrsTest, RoundTripOfRandomValidUtmValues) {
    std::mt19937_64 random(0x7e57);
    std::uniform_real_distribution<double> eastings(120000.0, 880000.0), northings(0.0, 10000000.0);
    std::uniform_int_distribution<int> zones(1, 60);
    int converted = 0;
    for (int i = 0; i < 40000; ++i) {
        const Utm utm(zones(random), i % 2 ? Hemisphere::s : Hemisphere::n, eastings(random),
                      northings(random), wgs84TableDatum());
        std::optional<Mgrs> mgrs;
        try {
            mgrs = utm.toMGRS();
        } catch (const MgrsError& error) {
            ASSERT_EQ(error.kind(), MgrsError::Case::invalidBand) << utm.toString(6);
            const double lat = utm.toLatLonE().lat();
            ASSERT_TRUE(lat < -80.0 || lat > 84.0) << utm.toString(6) << " lat " << lat;
            continue;
        }
        const Utm back = mgrs->toUTM();
        ASSERT_EQ(back.hemisphere(), utm.hemisphere()) << utm.toString(6);
        ASSERT_NEAR(back.easting(), utm.easting(), 1e-6) << utm.toString(6);
        ASSERT_NEAR(back.northing(), utm.northing(), 1e-6) << utm.toString(6);

        int zone, prec;
        bool north;
        double x, y;
        std::string text = mgrs->toString(5);
        std::erase(text, ' ');
        GeographicLib::MGRS::Reverse(text, zone, north, x, y, prec, false);
        const Utm parsed = Mgrs::parse(text).toUTM();
        ASSERT_NEAR(parsed.northing(), y, 1e-6) << text;
        ++converted;
    }
    EXPECT_GT(converted, 30000);
}

TEST(MgrsTest, ParserTable) {
    struct Case {
        const char* text;
        int64_t zone;
        char32_t band, e100k, n100k;
        double easting, northing;
    };
    const Case cases[] = {
        {"31U DQ 48251 11943", 31, U'U', U'D', U'Q', 48251, 11943},
        {"31UDQ4825111943", 31, U'U', U'D', U'Q', 48251, 11943},
        {" 31U DQ 4825111943\n", 31, U'U', U'D', U'Q', 48251, 11943},
        {"31u dq 482 119", 31, U'U', U'D', U'Q', 48200, 11900},
        {"31UDQ48254825", 31, U'U', U'D', U'Q', 48250, 48250},
        {"31UDQ 482 511", 31, U'U', U'D', U'Q', 48200, 51100},
        {"31U DQ 00482 00001", 31, U'U', U'D', U'Q', 482, 1},  // digits scaled by their count
        {"31UDQ0000000000", 31, U'U', U'D', U'Q', 0, 0},
        {"31UDQ482511119437", 31, U'U', U'D', U'Q', 48251.1, 11943.7},
        {"31U DQ 4.5 48251.5", 31, U'U', U'D', U'Q', 45000, 48251.5},
        {"04Q FJ 1 2", 4, U'Q', U'F', U'J', 10000, 20000},
        {"31U D 1 2", 31, U'U', U'D', 0x60, 10000, 20000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Mgrs m = Mgrs::parse(c.text);
        EXPECT_EQ(m.zone(), c.zone);
        EXPECT_EQ(m.band(), c.band);
        EXPECT_EQ(m.e100k(), c.e100k);
        EXPECT_EQ(m.n100k(), c.n100k);
        EXPECT_DOUBLE_EQ(m.easting(), c.easting);
        EXPECT_DOUBLE_EQ(m.northing(), c.northing);
        EXPECT_EQ(m.datum().name, "WGS84");
    }

    struct Refusal {
        const char* text;
        MgrsError::Case kind;
        const char* message;
    };
    const char* odd = "Grid provided has an odd number of digits";
    const char* notNumber = "The grid provided could not be converted to a number";
    const char* incomplete = "Data provided is incomplete or invalid";
    const Refusal refusals[] = {
        {"31UDQ482511194", MgrsError::Case::invalidGrid, odd},
        {"31U DQ 48251", MgrsError::Case::invalidGrid, odd},
        {"4Q FJ 12345 67890", MgrsError::Case::invalidZone, "Zone provided is not a number"},
        {"3aU DQ 1 2", MgrsError::Case::invalidZone, "Zone provided is not a number"},
        {"31 DQ 48251 11943", MgrsError::Case::invalidBand, "Invalid band provided"},
        {"99U DQ 1 2", MgrsError::Case::invalidZone, "Invalid zone provided"},
        {"31U DQ 12x 1", MgrsError::Case::invalidGrid, notNumber},
        // Values that the scaling could never bring into the square.
        {"31U DQ 0.0 1", MgrsError::Case::invalidGrid, notNumber},
        {"31U DQ -5 1", MgrsError::Case::invalidGrid, notNumber},
        {"31U DQ nan 1", MgrsError::Case::invalidGrid, notNumber},
        {"31U DQ 1 inf", MgrsError::Case::invalidGrid, notNumber},
        {"", MgrsError::Case::invalidFormat, incomplete},
        {"31UD", MgrsError::Case::invalidFormat, incomplete},
        {"31UDQ", MgrsError::Case::invalidFormat, incomplete},
        {"3 DQ 1 2", MgrsError::Case::invalidFormat, incomplete},
        {"31U  DQ 1", MgrsError::Case::invalidFormat, incomplete},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.text);
        expectMgrsError([&] { Mgrs::parse(r.text); }, r.kind, r.message);
    }
}

TEST(MgrsTest, TextValueTextRoundTrip) {
    for (const char* text :
         {"31U DQ 48252 11944", "56H LH 34369 50948", "04Q FJ 00001 99999", "60X VF 00000 00000"}) {
        EXPECT_EQ(Mgrs::parse(text).toString(), text);
    }
}

// The band is the one of toLatLonE()'s latitude, also right at the band edges, on every ellipsoid and
// over the whole easting range (the conversion decides most bands from a cheaper estimate).
TEST(MgrsTest, BandIsTheInverseLatitudesBand) {
    std::mt19937_64 random(0xba4d);
    std::uniform_real_distribution<double> eastings(120000.0, 880000.0), northings(0.0, 9300000.0);
    const auto expectBand = [](const Utm& utm) {
        const double lat = utm.toLatLonE().lat();
        if (lat < -80.0 || lat > 84.0) {
            // Beyond the bands there is no MGRS form.
            ASSERT_THROW(utm.toMGRS(), MgrsError) << utm.toString(6) << " lat " << lat;
            return;
        }
        const double index = std::min(std::floor(lat / 8.0 + 10.0), 20.0);
        ASSERT_EQ(utm.toMGRS().band(), static_cast<char32_t>(latBands[static_cast<size_t>(index)]))
            << utm.toString(6) << " " << utm.datum().name << " lat " << lat;
    };
    for (const Datum& datum : datumTable()) {
        for (int i = 0; i < 3000; ++i) {
            const Hemisphere hemisphere = i % 2 ? Hemisphere::s : Hemisphere::n;
            const double northing =
                hemisphere == Hemisphere::s ? 10000000.0 - northings(random) : northings(random);
            expectBand(Utm(31, hemisphere, eastings(random), northing, datum));
        }
        for (int edge = -72; edge <= 80; edge += 8) {
            for (double offset : {-0.3, -0.25, -0.05, -1e-6, -1e-10, 0.0, 1e-10, 1e-6, 0.05, 0.25, 0.3}) {
                for (double lon : {-2.999, -1.5, 0.0, 2.0, 2.999}) {
                    expectBand(LatLon(edge + offset, 3.0 + lon, datum).toUTM());
                }
            }
        }
    }
}

// Just north of a band's southern edge, on and far off the central meridian, in both hemispheres: the
// way back to UTM must pick the right 2,000-km cycle of row letters.
TEST(MgrsTest, RoundTripJustInsideEachBand) {
    for (int edge = -80; edge <= 72; edge += 8) {
        for (double offset : {1e-7, 1e-3, 0.05, 0.5}) {
            for (double fromMeridian : {-3.4, -2.0, 0.0, 1.0, 2.999}) {
                // Zone 29 (central meridian 9° W) is clear of the Norway and Svalbard exceptions.
                const double lat = edge + offset, lon = -9.0 + fromMeridian;
                SCOPED_TRACE(testing::Message() << lat << ", " << lon);
                const Utm utm = LatLon(lat, lon).toUTM();
                const Utm back = utm.toMGRS().toUTM();
                EXPECT_EQ(back.zone(), utm.zone());
                EXPECT_EQ(back.hemisphere(), utm.hemisphere());
                EXPECT_NEAR(back.easting(), utm.easting(), 1e-6);
                EXPECT_NEAR(back.northing(), utm.northing(), 1e-6);
            }
        }
    }
}

// GeographicLib's MGRS truncates the digits where ours rounds: compare letters and the truncated in-square
// distances of the same UTM input, at every precision from 1 to 5.
TEST(MgrsTest, MatchesGeographicLibAtRandomPoints) {
    std::mt19937_64 random(0x3a9f);
    std::uniform_real_distribution<double> latitudes(-80.0, 84.0), longitudes(-180.0, 180.0);
    for (int i = 0; i < 10000; ++i) {
        const double lat = latitudes(random), lon = longitudes(random);
        const Utm utm = LatLon(lat, lon).toUTM();
        const Mgrs mgrs = utm.toMGRS();
        const bool northp = utm.hemisphere() == Hemisphere::n;
        const std::string ours = mgrs.toString(5);
        for (int precision = 1; precision <= 5; ++precision) {
            std::string reference;
            GeographicLib::MGRS::Forward(static_cast<int>(utm.zone()), northp, utm.easting(), utm.northing(),
                                         precision, reference);
            SCOPED_TRACE(testing::Message() << lat << ", " << lon << " " << reference << " / " << ours);
            ASSERT_EQ(reference.size(), 5u + 2u * precision);
            ASSERT_EQ(reference.substr(0, 3), ours.substr(0, 3));  // zone and band
            ASSERT_EQ(reference.substr(3, 2), ours.substr(4, 2));  // square letters
            const double unit = std::pow(10.0, 5 - precision);
            const auto digits = [&](double metres) { return static_cast<long>(std::floor(metres / unit)); };
            ASSERT_EQ(std::stol(reference.substr(5, precision)), digits(mgrs.easting()));
            ASSERT_EQ(std::stol(reference.substr(5 + precision, precision)), digits(mgrs.northing()));
        }

        // Back to UTM, and the parser against GeographicLib's reading of the same text (south-west corner).
        const Utm back = mgrs.toUTM();
        ASSERT_EQ(back.zone(), utm.zone());
        ASSERT_EQ(back.hemisphere(), utm.hemisphere());
        ASSERT_NEAR(back.easting(), utm.easting(), 1e-6);
        ASSERT_NEAR(back.northing(), utm.northing(), 1e-6);

        std::string reference;
        GeographicLib::MGRS::Forward(static_cast<int>(utm.zone()), northp, utm.easting(), utm.northing(), 5,
                                     reference);
        int zone, prec;
        bool north;
        double x, y;
        GeographicLib::MGRS::Reverse(reference, zone, north, x, y, prec, false);
        const Utm parsed = Mgrs::parse(reference).toUTM();
        ASSERT_EQ(parsed.zone(), zone) << reference;
        ASSERT_EQ(parsed.hemisphere() == Hemisphere::n, north) << reference;
        ASSERT_NEAR(parsed.easting(), x, 1e-6) << reference;
        ASSERT_NEAR(parsed.northing(), y, 1e-6) << reference;
    }
}

}  // namespace
