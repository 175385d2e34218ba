// The point details screen's decisions without widgets: the coordinate format,
// the measures, the small map's rect, the source row, chips and what a save
// writes into the point.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>

#include "PointDetailsTestSupport.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "points/RecordFile.hpp"
#include "pointscreens/PointDetailsContent.hpp"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using namespace tervolo::pointscreens;
using tervolo::points::QuovaMapPoint;
using tervolo::points::QuovaPointTag;

namespace {

using ContentTest = pointscreens_test::PointDetailsTest;

TEST_F(ContentTest, StoredCoordinateFormatIsTakenOnlyAsAnIntegerFromOneToFive) {
    struct Case {
        const char* name;
        std::optional<platform::PropertyValue> stored;
        int64_t expected;
        std::string record;
    };
    const Case cases[] = {
        {"absent", std::nullopt, 2, "no coordinateFormat value found in Defaults"},
        {"0", platform::PropertyValue(int64_t{0}), 2, "no valid coordinateFormat found in Defaults"},
        {"6", platform::PropertyValue(int64_t{6}), 2, "no valid coordinateFormat found in Defaults"},
        {"\"x\"", platform::PropertyValue(std::string("x")), 2,
         "no coordinateFormat value found in Defaults"},
        {"1", platform::PropertyValue(int64_t{1}), 1, "found coordinateFormat 1 in Defaults"},
        {"5", platform::PropertyValue(int64_t{5}), 5, "found coordinateFormat 5 in Defaults"},
    };
    auto& defaults = platform::UserDefaults::standard();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        if (test.stored) {
            defaults.set("coordinateFormat", *test.stored);
        } else {
            defaults.remove("coordinateFormat");
        }
        log_->clear();
        EXPECT_EQ(coordinateFormatFromDefaults(defaults, 2), test.expected);
        EXPECT_THAT(log_->texts(), Contains(test.record));
    }
}

TEST_F(ContentTest, FormatCycleAndLabelSuffixes) {
    auto point = QuovaMapPoint::make("Kauppatori");
    point->setCoordinate({60.1675, 24.9525});
    struct Step {
        int64_t next;
        const char* suffix;  // null: neither suffix
    };
    const Step steps[] = {{3, nullptr}, {4, " (UTM)"}, {5, " (MGRS)"}, {1, nullptr}, {2, nullptr}};
    int64_t format = 2;
    for (const Step& step : steps) {
        format = nextCoordinateFormat(format);
        SCOPED_TRACE(format);
        EXPECT_EQ(format, step.next);
        const std::string text = coordinateLabelText(point.get(), format);
        const bool utm = text.ends_with(" (UTM)");
        const bool mgrs = text.ends_with(" (MGRS)");
        EXPECT_EQ(utm, step.suffix && std::string(step.suffix) == " (UTM)");
        EXPECT_EQ(mgrs, step.suffix && std::string(step.suffix) == " (MGRS)");
    }
    EXPECT_EQ(nextCoordinateFormat(0), 2);
    EXPECT_EQ(nextCoordinateFormat(9), 2);
    EXPECT_EQ(coordinateLabelText(nullptr, 2), "(unknown)");
}

TEST_F(ContentTest, MeasuresOfTheTextViewsAndClearButtons) {
    // The title's clear button is centred on a one-line title.
    EXPECT_EQ(clearButtonTopDistance(36, 20.0), 8.0);
    EXPECT_EQ(clearButtonTopDistance(36, std::nullopt), 8.0);
    EXPECT_EQ(clearButtonTopDistance(58, 20.0), 19.0);
    // Width W = 700: full width minus 10, the clear button's 20 off the title
    // and subtitle, half for the status line beside the map.
    EXPECT_EQ(textMeasureWidth(700, false, 20.0), 670.0);
    EXPECT_EQ(textMeasureWidth(700, false, std::nullopt), 690.0);
    EXPECT_EQ(textMeasureWidth(700, true, std::nullopt), 345.0);
}

TEST_F(ContentTest, RegionRectRunsFromNorthWestToSouthEastCorner) {
    const platform::CLLocationCoordinate2D center{60.1675, 24.9525};
    for (double metres : {5000.0, 750.0}) {
        SCOPED_TRACE(metres);
        const platform::MKMapRect rect = mapRectForRegion(center, metres);
        const auto nw = platform::MKCoordinateForMapPoint(rect.origin);
        const auto se = platform::MKCoordinateForMapPoint(
            {rect.origin.x + rect.size.width, rect.origin.y + rect.size.height});
        EXPECT_GT(nw.latitude, center.latitude);
        EXPECT_LT(nw.longitude, center.longitude);
        EXPECT_LT(se.latitude, center.latitude);
        EXPECT_GT(se.longitude, center.longitude);
        // The rect's middle is the centre and its height spans `metres`.
        const auto middle = platform::MKCoordinateForMapPoint(
            {rect.origin.x + rect.size.width / 2, rect.origin.y + rect.size.height / 2});
        EXPECT_NEAR(middle.longitude, center.longitude, 1e-9);
        EXPECT_NEAR(middle.latitude, center.latitude, 1e-3);
        EXPECT_NEAR(rect.size.height * platform::MKMetersPerMapPointAtLatitude(center.latitude), metres,
                    metres * 0.01);
    }
    EXPECT_TRUE(isDrawableRadius(250));
    EXPECT_FALSE(isDrawableRadius(0));
    EXPECT_FALSE(isDrawableRadius(-5));
    EXPECT_FALSE(isDrawableRadius(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(isDrawableRadius(std::numeric_limits<double>::quiet_NaN()));
}

TEST_F(ContentTest, SourceRowsByName) {
    struct Case {
        const char* name;
        std::optional<std::string> source;
        std::optional<std::string> url;
        std::optional<std::string> placeID;
        bool hidden;
        const char* logo;
        std::optional<std::string> address;
        const char* title;
    };
    const std::string google = "https://www.google.com/maps/search/?api=1&query=48.0,11.575";
    const Case cases[] = {
        {"no source", std::nullopt, "https://example.org/", std::nullopt, true, "", std::nullopt, ""},
        {"another source", "Facebook", "https://example.org/", std::nullopt, true, "", std::nullopt, ""},
        {"yelp with address", "Yelp", "https://www.yelp.com/biz/x", std::nullopt, false, "yelp_logo.png",
         "https://www.yelp.com/biz/x", "Yelp ..."},
        {"yelp without address", "Yelp", std::nullopt, std::nullopt, false, "yelp_logo.png", std::nullopt,
         "Yelp ..."},
        {"osm", "OpenStreetMap", "http://osm.org/node/1", std::nullopt, false, "OSM_Logo.png",
         "http://osm.org/node/1", "OpenStreetMap ..."},
        {"osm without address", "OpenStreetMap", std::nullopt, std::nullopt, false, "OSM_Logo.png",
         std::nullopt, "OpenStreetMap ..."},
        {"a file address is not offered", "Yelp", "file:///etc/passwd", std::nullopt, false, "yelp_logo.png",
         std::nullopt, "Yelp ..."},
        {"a script address is not offered", "OpenStreetMap", "javascript:alert(1)", std::nullopt, false,
         "OSM_Logo.png", std::nullopt, "OpenStreetMap ..."},
        {"google without place id ignores the url", "Google", "https://example.org/", std::nullopt, false,
         "google_maps_logo.png", google, "Google Maps ..."},
        {"google with place id", "Google", std::nullopt, "ChIJ123", false, "google_maps_logo.png",
         google + "&query_place_id=ChIJ123", "Google Maps ..."},
        {"a place id cannot add parameters", "Google", std::nullopt, "x&api=2 y/#", false,
         "google_maps_logo.png", google + "&query_place_id=x%26api%3D2%20y%2F%23", "Google Maps ..."},
        {"names compare exactly", "yelp", "https://www.yelp.com/", std::nullopt, true, "", std::nullopt, ""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = QuovaMapPoint::make("Place");
        point->setCoordinate({48.0, 11.575});
        point->setDataSourceName(test.source);
        point->setDataSourceURL(test.url);
        point->setDataSourceUniqueID(test.placeID);
        const SourceRow row = sourceRowForPoint(*point);
        EXPECT_EQ(row.hidden, test.hidden);
        EXPECT_EQ(row.logoImageName.toStdString(), test.logo);
        EXPECT_EQ(row.address, test.address);
        EXPECT_EQ(row.seePageTitle, test.title);
        EXPECT_EQ(row.linkLabel, test.hidden ? "" : "Found on");
    }
    log_->clear();
    auto point = QuovaMapPoint::make("Place");
    point->setCoordinate({48.137, 11.575});
    point->setDataSourceName("Google");
    sourceRowForPoint(*point);
    EXPECT_THAT(
        log_->texts(),
        Contains("using Google Maps URL https://www.google.com/maps/search/?api=1&query=48.137,11.575"));
}

TEST_F(ContentTest, ChipsFindTagsWithoutLetterCaseAndKeepTheUnresolved) {
    auto tag = [](const std::string& title, const std::string& uuid, std::optional<std::string> color) {
        auto made = QuovaPointTag::make(title);
        made->setUuid(uuid);
        made->setColorString(std::move(color));
        return made;
    };
    const std::vector<std::shared_ptr<QuovaPointTag>> tags = {tag("work", "aaaa-1", "0,128,255"),
                                                              tag("Beach", "bbbb-2", "#FF8800"),
                                                              tag("Odd", "cccc-3", "purple")};
    const PointTagChips chips = chipsForTagIdentifiers({"BBBB-2", "gone-9", "aaaa-1", "CCCC-3"}, tags);
    ASSERT_EQ(chips.chips.size(), 3u);
    EXPECT_EQ(chips.chips[0].title, "Beach");
    EXPECT_EQ(chips.chips[0].identifier, "bbbb-2");
    ASSERT_TRUE(chips.chips[0].color);
    EXPECT_NEAR(chips.chips[0].color->components().red, 1.0, 1e-9);
    EXPECT_NEAR(chips.chips[0].color->components().green, 136.0 / 255, 1e-9);
    EXPECT_EQ(chips.chips[1].title, "work");
    ASSERT_TRUE(chips.chips[1].color);
    EXPECT_NEAR(chips.chips[1].color->components().blue, 1.0, 1e-9);
    EXPECT_EQ(chips.chips[2].title, "Odd");
    EXPECT_EQ(chips.chips[2].color, std::nullopt);  // neither decimal nor hex: the chip stays red
    EXPECT_THAT(chips.unresolved, ElementsAre("gone-9"));
}

// What a save writes into the point, one case per row.
TEST_F(ContentTest, SaveSemantics) {
    struct Case {
        const char* name;
        std::optional<std::string> title, subtitle;  // the point before
        bool handcrafted;
        std::optional<double> radius;
        std::vector<std::string> tags;
        PointEdits edits;
        std::optional<std::string> expectedTitle, expectedSubtitle;
        bool expectedHandcrafted;
        std::optional<double> expectedRadius;
        std::vector<std::string> expectedTags;
    };
    const Case cases[] = {
        {"subtitle only keeps the flag",
         "Cafe",
         "Old",
         false,
         std::nullopt,
         {},
         {"Cafe", "New", std::nullopt, std::vector<std::string>{}, {}},
         "Cafe",
         "New",
         false,
         std::nullopt,
         {}},
        {"a new title sets the flag",
         "Cafe",
         "Old",
         false,
         std::nullopt,
         {},
         {"Café Ursula", "Old", std::nullopt, std::vector<std::string>{}, {}},
         "Café Ursula",
         "Old",
         true,
         std::nullopt,
         {}},
        {"the same title retyped leaves it",
         "Cafe",
         std::nullopt,
         false,
         std::nullopt,
         {},
         {"Cafe", "", std::nullopt, std::vector<std::string>{}, {}},
         "Cafe",
         std::nullopt,
         false,
         std::nullopt,
         {}},
        {"an emptied title keeps the point's, so the point stays findable",
         "Cafe",
         "Old",
         false,
         std::nullopt,
         {},
         {"", "Old", std::nullopt, std::vector<std::string>{}, {}},
         "Cafe",
         "Old",
         false,
         std::nullopt,
         {}},
        {"chips in chip order",
         "Cafe",
         std::nullopt,
         true,
         std::nullopt,
         {"bbbb-2", "aaaa-1"},
         {"Cafe", "", std::nullopt, std::vector<std::string>{"aaaa-1", "bbbb-2"}, {}},
         "Cafe",
         std::nullopt,
         true,
         std::nullopt,
         {"aaaa-1", "bbbb-2"}},
        {"an unresolved identifier survives after the chips",
         "Cafe",
         std::nullopt,
         false,
         std::nullopt,
         {"gone-9", "aaaa-1"},
         {"Cafe", "", std::nullopt, std::vector<std::string>{"aaaa-1"}, {"gone-9"}},
         "Cafe",
         std::nullopt,
         false,
         std::nullopt,
         {"aaaa-1", "gone-9"}},
        {"an untouched absent radius stays absent",
         "Cafe",
         std::nullopt,
         false,
         std::nullopt,
         {},
         {"Cafe", "", std::nullopt, std::vector<std::string>{}, {}},
         "Cafe",
         std::nullopt,
         false,
         std::nullopt,
         {}},
        {"(none) stores 0",
         "Cafe",
         std::nullopt,
         false,
         250.0,
         {},
         {"Cafe", "", 0.0, std::vector<std::string>{}, {}},
         "Cafe",
         std::nullopt,
         false,
         0.0,
         {}},
        {"a radius never applied keeps the point's",
         "Cafe",
         std::nullopt,
         false,
         std::numeric_limits<double>::infinity(),
         {},
         {"Cafe", "", std::nullopt, std::vector<std::string>{}, {}},
         "Cafe",
         std::nullopt,
         false,
         std::numeric_limits<double>::infinity(),
         {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto point = QuovaMapPoint::make("x");
        point->setTitle(test.title);
        point->setSubtitle(test.subtitle);
        point->setHasHandcraftedTitle(test.handcrafted);
        point->setAlarmCircleDiameter(test.radius);
        point->setTags(test.tags);
        applyEdits(*point, test.edits);
        EXPECT_EQ(point->title(), test.expectedTitle);
        EXPECT_EQ(point->subtitle(), test.expectedSubtitle);
        EXPECT_EQ(point->hasHandcraftedTitle(), test.expectedHandcrafted);
        EXPECT_EQ(point->alarmCircleDiameter(), test.expectedRadius);
        EXPECT_EQ(point->tags(), test.expectedTags);
    }
    EXPECT_EQ(identifierListText({"A-1", "b-2"}), "[\"A-1\", \"b-2\"]");
    EXPECT_EQ(identifierListText({}), "[]");
}

TEST_F(ContentTest, SaveFailureNamesTheReason) {
    using namespace tervolo::points::recordfile;
    struct Case {
        const char* name;
        platform::Error error;
        const char* reason;
    };
    const Case cases[] = {
        {"too large",
         {kRecordFileErrorDomain, kRecordFileTooLarge, "it would be 1100300 bytes", 0, {}},
         "too large to be stored"},
        {"not encodable",
         {kRecordFileErrorDomain, kRecordFileNotEncodable, "number is not finite", 0, {}},
         "cannot be stored (number is not finite)"},
        {"full disk", platform::Error::file(ENOSPC, "write", "/x"), "The disk is full."},
        {"read-only", platform::Error::file(EROFS, "write", "/x"), "read-only"},
        {"permission", platform::Error::file(EACCES, "write", "/x"), "no permission"},
        {"folder is a file", platform::Error::file(ENOTDIR, "write", "/x"), "cannot be written to ("},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string message = saveFailureMessage(test.error);
        EXPECT_THAT(message, HasSubstr(test.reason));
        EXPECT_THAT(message, HasSubstr("Your changes are still on the screen."));
    }
}

TEST_F(ContentTest, StatusLineNamesBothDatesInTheUsersShortForm) {
    const std::string text = statusLineText(platform::Date{700000000.0}, platform::Date{700086400.0});
    EXPECT_THAT(text, StartsWith("Location first saved at "));
    EXPECT_THAT(text, HasSubstr(", last change: "));
    EXPECT_TRUE(text.ends_with("."));
    const QLocale locale = QLocale::system();
    const auto shortDate = [&](double seconds2001) {
        return locale
            .toString(
                QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds2001 + 978307200)).toLocalTime(),
                QLocale::ShortFormat)
            .toStdString();
    };
    EXPECT_EQ(text, "Location first saved at " + shortDate(700000000.0) +
                        ", last change: " + shortDate(700086400.0) + ".");
}

}  // namespace
