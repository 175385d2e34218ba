#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "geodesy/DoubleQuovaAdditions.hpp"
#include "geodesy/QuovaCoordinateFormat.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/Locale.hpp"
#include "testsupport/TemporaryFolder.hpp"

using namespace tervolo::geodesy;
using platform::CLLocationCoordinate2D;

namespace {

std::string describe(double lat, double lon, int64_t format) {
    return quovaCoordinateDescriptionWithFormat(CLLocationCoordinate2D{lat, lon}, format);
}

TEST(CoordinateFormatTest, RawValues) {
    EXPECT_FALSE(quovaCoordinateFormatFromRawValue(0));
    EXPECT_FALSE(quovaCoordinateFormatFromRawValue(6));
    EXPECT_FALSE(quovaCoordinateFormatFromRawValue(-1));
    const QuovaCoordinateFormat all[] = {
        QuovaCoordinateFormat::decimal, QuovaCoordinateFormat::decimalWithHemisphere,
        QuovaCoordinateFormat::sexagesimal, QuovaCoordinateFormat::utm, QuovaCoordinateFormat::mgrs};
    for (int64_t raw = 1; raw <= 5; ++raw) {
        EXPECT_EQ(quovaCoordinateFormatFromRawValue(raw), all[raw - 1]);
        EXPECT_EQ(rawValue(all[raw - 1]), raw);
    }
}

TEST(CoordinateFormatTest, TextTable) {
    struct Case {
        double lat, lon;
        int64_t format;
        const char* expected;
    };
    const Case cases[] = {
        {47.376887, 8.541694, 1, "47.376887, 8.541694"},
        {-33.8688, 151.2093, 1, "-33.868800, 151.209300"},
        // A value that rounds to zero prints as zero, without a minus.
        {-0.0, -0.0, 1, "0.000000, 0.000000"},
        {-0.0000004, -1e-300, 1, "0.000000, 0.000000"},
        {-0.0000006, -0.0000005001, 1, "-0.000001, -0.000001"},
        {47.376887, 8.541694, 2, "47.376887 N, 8.541694 E"},
        {-33.8688, -70.5, 2, "33.868800 S, 70.500000 W"},
        // Negative zero is northern and prints without a minus.
        {-0.0, -0.0, 2, "0.000000 N, 0.000000 E"},
        {-0.5, -0.25, 3, "0° 30' 0.000\" S, 0° 15' 0.000\" W"},
        {0, 0, 3, "0° 0' 0.000\" N, 0° 0' 0.000\" E"},
        {47.5, 8.541694, 3, "47° 30' 0.000\" N, 8° 32' 30.098\" E"},
        {-47.5, 180, 3, "47° 30' 0.000\" S, 180° 0' 0.000\" E"},
        // Seconds that round to 60 carry into minutes and degrees.
        {47.9999999, -12.99999999, 3, "48° 0' 0.000\" N, 13° 0' 0.000\" W"},
        {48.8583, 2.2945, 4, "31 N 448252 5411944"},
        {-33.8688, 151.2093, 4, "56 S 334369 6250948"},
        {48.8583, 2.2945, 5, "31U DQ 48252 11944"},
        {-33.8688, 151.2093, 5, "56H LH 34369 50948"},
        // Longitude 180 is the meridian of −180, in zone 1.
        {0, 180, 4, "01 N 166021 0"},
        {0, 180, 5, "01N AA 66021 00000"},
        {85, 0, 4, "(no valid UTM coordinates)"},
        {-80.5, 0, 5, "(no valid MGRS coordinates)"},
        {47, 8, 0, "(unknown)"},
        {47, 8, 6, "(unknown)"},
        {91, 8, 1, "(unknown)"},
        {NAN, 8, 1, "(unknown)"},
        {0, -180.0001, 4, "(unknown)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lat << ", " << c.lon << " format " << c.format);
        EXPECT_EQ(describe(c.lat, c.lon, c.format), c.expected);
    }
    EXPECT_EQ(quovaCoordinateDescriptionWithFormat({48.8583, 2.2945}, QuovaCoordinateFormat::mgrs),
              "31U DQ 48252 11944");
}

class LocalizedTest : public testing::Test {
  protected:
    void SetUp() override {
        const std::string folder = temporary_.file("resources/translations/de");
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/Localizable.json")
            << R"json({"(unknown)": "(unbekannt)", "(no valid UTM coordinates)": "(keine UTM-Koordinaten)",
                  "E": "O", "NNE": "NNO", "ENE": "ONO"})json";
        platform::Bundle::main().setResourcesDirectory(temporary_.file("resources"));
        platform::Bundle::main().setLanguageForTesting("de");
    }
    void TearDown() override {
        platform::Bundle::main().setLanguageForTesting(std::nullopt);
        platform::Bundle::main().setResourcesDirectory(std::nullopt);
        platform::Bundle::main().reload();
    }
    tervolo::testsupport::TemporaryFolder temporary_;
};

TEST_F(LocalizedTest, WordsAndLettersAreTranslatedNumbersAreNot) {
    EXPECT_EQ(describe(47.5, 8.25, 2), "47.500000 N, 8.250000 O");
    EXPECT_EQ(describe(47.5, 8.25, 3), "47° 30' 0.000\" N, 8° 15' 0.000\" O");
    EXPECT_EQ(describe(91, 0, 1), "(unbekannt)");
    EXPECT_EQ(describe(85, 0, 4), "(keine UTM-Koordinaten)");
    EXPECT_EQ(describe(85, 0, 5), "(no valid MGRS coordinates)");  // no translation: the key
    EXPECT_EQ(bearingDescription(22.5), "NNO");
    EXPECT_EQ(bearingDescription(67.5), "ONO");
    // N and S are never looked up.
    EXPECT_EQ(bearingDescription(0), "N");
}

TEST(CoordinateFormatTest, UserDefault) {
    tervolo::testsupport::TemporaryFolder temporary;
    auto& defaults = platform::UserDefaults::standard();
    EXPECT_FALSE(storedCoordinateFormat());
    storeCoordinateFormat(QuovaCoordinateFormat::sexagesimal);
    EXPECT_EQ(defaults.integerValue("coordinateFormat"), 3);
    EXPECT_EQ(storedCoordinateFormat(), QuovaCoordinateFormat::sexagesimal);
    // Another store on the same file sees it (the value is persisted).
    platform::UserDefaults reopened(defaults.filePath());
    EXPECT_EQ(storedCoordinateFormat(reopened), QuovaCoordinateFormat::sexagesimal);

    defaults.set("coordinateFormat", platform::PropertyValue(7));
    EXPECT_FALSE(storedCoordinateFormat());
    defaults.set("coordinateFormat", platform::PropertyValue("2"));
    EXPECT_FALSE(storedCoordinateFormat());
}

TEST(DoubleAdditionsTest, ToInt) {
    EXPECT_EQ(toInt(2.9), 2);
    EXPECT_EQ(toInt(-2.9), -2);
    EXPECT_EQ(toInt(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(toInt(9223372036854775808.0), std::nullopt);
    EXPECT_EQ(toInt(1e19), std::nullopt);
    EXPECT_EQ(toInt(-1e19), std::nullopt);
    EXPECT_EQ(toInt(NAN), std::nullopt);
    EXPECT_EQ(toInt(INFINITY), std::nullopt);
}

TEST(DoubleAdditionsTest, BearingTable) {
    struct Case {
        double bearing;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {0, "N"},   {11.24, "N"},          {11.25, "NNE"},       {90, "E"},
        {180, "S"}, {202.5, "SSW"},        {348.74, "NNW"},      {348.75, "N"},
        {360, "N"}, {360.5, std::nullopt}, {-0.1, std::nullopt}, {NAN, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bearing);
        EXPECT_EQ(bearingDescription(c.bearing), c.expected);
    }
}

TEST(DoubleAdditionsTest, DistanceInTheUsersLocale) {
    platform::text::Locale::setCurrentForTesting(platform::text::Locale("de_DE"));
    EXPECT_EQ(distanceDescription(-1), std::nullopt);
    EXPECT_EQ(distanceDescription(0), "0 m");
    EXPECT_EQ(distanceDescription(999.6), "1.000 m");
    EXPECT_EQ(distanceDescription(1000), "1,0 km");
    EXPECT_EQ(distanceDescription(12345), "12,3 km");
    platform::text::Locale::setCurrentForTesting(platform::text::Locale("en_US"));
    EXPECT_EQ(distanceDescription(250), "820 ft");
    EXPECT_EQ(distanceDescription(1500), "0.9 mi");
    EXPECT_TRUE(distanceDescription(INFINITY).has_value());
    platform::text::Locale::setCurrentForTesting(std::nullopt);
}

}  // namespace
