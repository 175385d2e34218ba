// The point's constructors, distance, ordering, tag colour and legacy
// data-source codes.
#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <GeographicLib/Geodesic.hpp>

#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTag.hpp"
#include "points/QuovaPointTagStore.hpp"
#include "points/QuovaStringRepresentation.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

class QuovaMapPointOperationsTest : public testing::PointsTest {};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST_F(QuovaMapPointOperationsTest, TitleConstructorGivesTheInitialValues) {
    auto point = QuovaMapPoint::make("Harbour");
    EXPECT_EQ(point->title(), "Harbour");
    ASSERT_TRUE(point->tags().has_value());
    EXPECT_TRUE(point->tags()->empty());
    EXPECT_FALSE(point->alarmCircleDiameter().has_value());
    EXPECT_FALSE(point->hasHandcraftedTitle());
    EXPECT_FALSE(platform::CLLocationCoordinate2DIsValid(point->coordinate()));
    EXPECT_EQ(point->createdAt(), point->lastSavedAt());
    EXPECT_EQ(point->createdAt().secondsSince2001, kStartSeconds2001);
    EXPECT_FALSE(point->uuid().has_value());
}

TEST_F(QuovaMapPointOperationsTest, PlacemarkConstructorCopiesTheResult) {
    QuovaPlacemark placemark{"Harbour", "Pier 3, Hamburg",       "OSM",       9.9937, 53.5511,
                             "node/1",  "https://osm.example/1", std::nullopt};
    auto point = QuovaMapPoint::make(placemark);
    EXPECT_EQ(point->title(), "Harbour");
    EXPECT_EQ(point->subtitle(), "Pier 3, Hamburg");
    EXPECT_EQ(point->coordinate(), platform::CLLocationCoordinate2DMake(53.5511, 9.9937));
    EXPECT_EQ(point->dataSourceName(), "OSM");
    EXPECT_EQ(point->dataSourceUniqueID(), "node/1");
    EXPECT_EQ(point->dataSourceURL(), "https://osm.example/1");
    EXPECT_FALSE(point->dataSourceImageURL().has_value());
    EXPECT_FALSE(point->hasHandcraftedTitle());

    // The coordinate is not validated: one off the globe is kept as given.
    placemark.latitude = 95;
    EXPECT_EQ(QuovaMapPoint::make(placemark)->coordinate().latitude, 95);
}

TEST_F(QuovaMapPointOperationsTest, PlacemarkWithNonFiniteCoordinateGivesASavablePoint) {
    for (auto [lat, lon] : {std::pair{kNaN, 9.0}, std::pair{53.0, kInf}, std::pair{-kInf, kNaN}}) {
        QuovaPlacemark placemark{"Odd", "", "Apple", lon, lat, std::nullopt, std::nullopt, std::nullopt};
        auto point = QuovaMapPoint::make(placemark);
        EXPECT_EQ(point->coordinate(), platform::kCLLocationCoordinate2DInvalid);
        EXPECT_NO_THROW(point->encodedFile());
    }
}

TEST_F(QuovaMapPointOperationsTest, ShorturlConstructorTakesOnlyFiniteDecimalsOnTheGlobe) {
    struct Row {
        const char* latitude;
        const char* longitude;
        bool made;
    };
    const Row rows[] = {
        {"52.5", "13.4", true},    {"-90", "180", true},       {"1e1", "-1.5e2", true},
        {"52,5", "13.4", false},   {" 52.5", "13.4", false},   {"52.5 ", "13.4", false},
        {"52.5", "", false},       {"nan", "13.4", false},     {"52.5", "inf", false},
        {"0x1p3", "13.4", false},  {"1e400", "13.4", false},   {"90.0001", "13.4", false},
        {"52.5", "-180.5", false}, {"52.5", "13.4abc", false},
    };
    for (const auto& row : rows) {
        Shorturl record;
        record.title = "Shared";
        record.latitude = row.latitude;
        record.longitude = row.longitude;
        record.dataSourceName = "Yelp";
        record.dataSourceURL = "https://yelp.example/x";
        auto point = QuovaMapPoint::make(record);
        EXPECT_EQ(point != nullptr, row.made) << row.latitude << " / " << row.longitude;
        if (!point) continue;
        EXPECT_EQ(point->title(), "Shared");
        EXPECT_EQ(point->coordinate(),
                  platform::CLLocationCoordinate2DMake(std::stod(row.latitude), std::stod(row.longitude)));
        EXPECT_EQ(point->dataSourceName(), "Yelp");
        EXPECT_EQ(point->dataSourceURL(), "https://yelp.example/x");
        EXPECT_FALSE(point->dataSourceUniqueID().has_value());
        EXPECT_FALSE(point->subtitle().has_value());
    }
    // The record's own reading refuses a position off the globe as well.
    Shorturl offTheGlobe;
    offTheGlobe.latitude = "95";
    offTheGlobe.longitude = "13.4";
    EXPECT_EQ(offTheGlobe.coordinate(), std::nullopt);
}

TEST_F(QuovaMapPointOperationsTest, DistanceIsTheWGS84GeodesicOrInfinity) {
    auto point = QuovaMapPoint::make("Harbour");
    EXPECT_EQ(point->distance(platform::CLLocation(53.5, 10.0)), kInf);

    point->setCoordinate({53.5511, 9.9937});
    double expected = 0;
    GeographicLib::Geodesic::WGS84().Inverse(52.52, 13.405, 53.5511, 9.9937, expected);
    EXPECT_NEAR(point->distance(platform::CLLocation(52.52, 13.405)), expected, 1e-6);
    EXPECT_EQ(point->distance(platform::CLLocation(53.5511, 9.9937)), 0.0);
}

TEST_F(QuovaMapPointOperationsTest, OrderingByTitleLeavesUntitledPointsIncomparable) {
    auto titled = [](std::optional<std::string> title) {
        auto point = QuovaMapPoint::make("");
        point->setTitle(std::move(title));
        return point;
    };
    struct Row {
        std::optional<std::string> a;
        std::optional<std::string> b;
        bool less;
    };
    const Row rows[] = {
        {"b", "c", true},
        {"c", "b", false},
        {"B", "a", true},
        {"Zoo", "apple", true},
        {"a", "a", false},
        {std::nullopt, "a", false},
        {"a", std::nullopt, false},
        {"ab", "abc", true},
        {"Caf\u00e9", "Cafe\u0301", false},  // canonically equal
        {"\uff5e", "\U0001F600", true},      // code point, not UTF-16 order
    };
    for (const auto& row : rows) {
        auto a = titled(row.a);
        auto b = titled(row.b);
        EXPECT_EQ(*a < *b, row.less) << row.a.value_or("(none)") << " < " << row.b.value_or("(none)");
        EXPECT_EQ(*b > *a, row.less);
        EXPECT_EQ(*b <= *a, !row.less);
    }
    // Untitled: neither before nor after; equality is identity all the same.
    auto untitled = titled(std::nullopt);
    auto other = titled("m");
    EXPECT_TRUE(*untitled <= *other && *untitled >= *other);
    EXPECT_FALSE(*untitled == *other);
    auto twin = titled("m");
    EXPECT_FALSE(*twin == *other);
    EXPECT_TRUE(*other == *other);
}

TEST_F(QuovaMapPointOperationsTest, TagColorComesFromTheLastTagInTheStore) {
    auto tag = [](const char* uuid, std::optional<std::string> color) {
        auto made = QuovaPointTag::make("t");
        made->setUuid(uuid);
        made->setColorString(std::move(color));
        return made;
    };
    auto& store = QuovaPointTagStore::shared();
    store.replaceTagsForTesting(std::vector<std::shared_ptr<QuovaPointTag>>{
        tag("AAAA-DEC", "255,75,0"), tag("BBBB-HEX", "FF4B00FF"), tag("CCCC-NONE", std::nullopt),
        tag("DDDD-BAD", "not a colour"), tag("AAAA-DEC", "0,0,255")});
    const auto orange = quovaInitWithDecimalString("255,75,0")->components();

    struct Row {
        std::optional<std::vector<std::string>> tags;
        std::optional<platform::Color::RGBA> color;
    };
    const Row rows[] = {
        {std::vector<std::string>{"BBBB-HEX", "aaaa-dec"},
         orange},  // last one, letter case ignored, first match
        {std::vector<std::string>{"AAAA-DEC", "BBBB-HEX"}, orange},  // through the hex reader
        {std::vector<std::string>{"AAAA-DEC", "CCCC-NONE"}, std::nullopt},
        {std::vector<std::string>{"DDDD-BAD"}, std::nullopt},
        {std::vector<std::string>{"AAAA-DEC", "EEEE-GONE"}, std::nullopt},
        {std::vector<std::string>{}, std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        auto point = QuovaMapPoint::make("p");
        point->setTags(row.tags);
        const auto color = point->tagColor();
        ASSERT_EQ(color.has_value(), row.color.has_value());
        if (color) {
            EXPECT_EQ(color->components(), *row.color);
        }
    }

    auto point = QuovaMapPoint::make("p");
    point->setTags(std::vector<std::string>{"AAAA-DEC"});
    store.replaceTagsForTesting(std::vector<std::shared_ptr<QuovaPointTag>>{});
    EXPECT_FALSE(point->tagColor().has_value());
    store.replaceTagsForTesting(std::nullopt);
    EXPECT_FALSE(point->tagColor().has_value());
}

TEST_F(QuovaMapPointOperationsTest, LegacyDataSourceCodes) {
    const std::pair<int64_t, std::optional<std::string>> rows[] = {
        {1, "Facebook"}, {2, "Google"},     {3, "OSM"},        {4, "Qype"},       {5, "VBB"},
        {6, "Yelp"},     {0, std::nullopt}, {7, std::nullopt}, {-1, std::nullopt}};
    for (const auto& [code, name] : rows) {
        auto point = QuovaMapPoint::make("p");
        point->setDataSourceName("before");
        point->setDataSource(code);
        EXPECT_EQ(point->dataSourceName(), name) << code;
    }
}

}  // namespace
}  // namespace tervolo::points
