// The point file: exact bytes written, strict reading, and the reading of
// files from the points folder.
#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

#include "platform/coding/DecodingError.hpp"
#include "platform/coding/EncodingError.hpp"
#include "platform/text/UUID.hpp"
#include "platform/text/Unicode.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/tests/PointsTestSupport.hpp"

namespace tervolo::points {
namespace {

using ::testing::ElementsAre;
using testing::goldenText;
using ::testing::HasSubstr;

class QuovaMapPointFileTest : public testing::PointsTest {};

std::shared_ptr<QuovaMapPoint> fullyPopulatedPoint() {
    auto point = QuovaMapPoint::make("Harbour / Pier");
    point->setSubtitle("Pier 3, \"Quay\"");
    point->setCoordinate({53.5511, 9.9937});
    point->setLastSavedByAppVersion("42");
    point->setUuid("0F5B3C9A-7D1E-4B6A-9C2D-1E2F3A4B5C6D");
    point->setHasHandcraftedTitle(true);
    point->setAlarmSound("bell");
    point->setAlarmCircleDiameter(250.5);
    point->setTags(std::vector<std::string>{"AB12", "Käse"});
    point->setCreatedAt(platform::Date{700000000.25});
    point->setLastSavedAt(platform::Date{700000100.5});
    point->setDeletedAt(platform::Date{700000200});
    point->setHiddenAt(platform::Date{-86400.125});
    point->setDataSourceName("OSM");
    point->setDataSourceUniqueID("node/123");
    point->setDataSourceURL("https://www.openstreetmap.org/node/123");
    point->setDataSourceImageURL("https://images.example.invalid/a.jpg");
    return point;
}

TEST_F(QuovaMapPointFileTest, FullyPopulatedPointIsWrittenByteExactAndReadsBack) {
    auto point = fullyPopulatedPoint();
    point->savePreservingLastModification(QuovaMapPointStore::shared());

    const std::string path = pointsFolder() + "0F5B3C9A-7D1E-4B6A-9C2D-1E2F3A4B5C6D.QuovaMapPoint";
    EXPECT_EQ(readText(path), goldenText("full.QuovaMapPoint"));

    auto read = QuovaMapPoint::initWithFilePath(path);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->encodedFile(), goldenText("full.QuovaMapPoint"));
    EXPECT_EQ(read->title(), "Harbour / Pier");
    EXPECT_EQ(read->coordinate().latitude, 53.5511);
    EXPECT_EQ(read->coordinate().longitude, 9.9937);
    EXPECT_EQ(read->hiddenAt(), platform::Date{-86400.125});
    EXPECT_EQ(read->tags(), (std::vector<std::string>{"AB12", "Käse"}));
}

TEST_F(QuovaMapPointFileTest, NewPointIsWrittenWithInvalidCoordinateAndEmptyTags) {
    auto point = QuovaMapPoint::make("New Location");
    point->setUuid("11111111-2222-4333-8444-555555555555");
    point->savePreservingLastModification(QuovaMapPointStore::shared());

    const std::string path = pointsFolder() + "11111111-2222-4333-8444-555555555555.QuovaMapPoint";
    EXPECT_EQ(readText(path), goldenText("new.QuovaMapPoint"));

    auto read = QuovaMapPoint::initWithFilePath(path);
    ASSERT_NE(read, nullptr);
    EXPECT_FALSE(platform::CLLocationCoordinate2DIsValid(read->coordinate()));
    EXPECT_EQ(read->tags(), std::vector<std::string>{});
    EXPECT_FALSE(read->alarmCircleDiameter().has_value());
}

// A minimal valid file; the rows below change one thing each.
const char* kMinimal =
    R"({"coordinate":[9.9937,53.5511],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})";

struct ReadCase {
    const char* name;
    std::string text;
    bool accepted;
};

TEST_F(QuovaMapPointFileTest, StrictReadingAcceptsAndRejectsWholeFiles) {
    const ReadCase cases[] = {
        {"minimal", kMinimal, true},
        {"members in another order",
         R"({"lastSavedAt":2,"createdAt":1,"hasHandcraftedTitle":true,"coordinate":[1,2],"title":"x"})",
         true},
        {"without uuid", kMinimal, true},
        {"unknown member",
         R"({"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2,"x":[{}]})", true},
        {"null optional members",
         R"({"title":null,"tags":null,"deletedAt":null,"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})",
         true},
        {"three coordinate elements",
         R"({"coordinate":[1,2,3],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", true},
        {"both solidus forms",
         R"({"title":"a\/b/c","coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})",
         true},
        {"integer where a number is expected",
         R"({"alarmCircleDiameter":100,"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})",
         true},
        {"missing coordinate", R"({"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", false},
        {"missing hasHandcraftedTitle", R"({"coordinate":[1,2],"createdAt":1,"lastSavedAt":2})", false},
        {"missing createdAt", R"({"coordinate":[1,2],"hasHandcraftedTitle":false,"lastSavedAt":2})", false},
        {"missing lastSavedAt", R"({"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1})", false},
        {"null required member",
         R"({"coordinate":null,"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", false},
        {"one coordinate element",
         R"({"coordinate":[1],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", false},
        {"coordinate element a string",
         R"({"coordinate":[1,"2"],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", false},
        {"coordinate an object",
         R"({"coordinate":{"a":1,"b":2},"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", false},
        {"string where a number is expected",
         R"({"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":"1","lastSavedAt":2})", false},
        {"number where a boolean is expected",
         R"({"coordinate":[1,2],"hasHandcraftedTitle":0,"createdAt":1,"lastSavedAt":2})", false},
        {"number inside tags",
         R"({"tags":["a",1],"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})",
         false},
        {"number as title",
         R"({"title":5,"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})",
         false},
        {"number too large for a double",
         R"({"coordinate":[1e400,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", false},
        {"case-different required name only",
         R"({"Coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})", false},
        {"an array, not an object", "[1,2]", false},
        {"truncated", R"({"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSa)", false},
        {"empty", "", false},
        {"deeply nested unknown member",
         std::string(
             R"({"coordinate":[1,2],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2,"x":)") +
             std::string(100000, '[') + std::string(100000, ']') + "}",
         false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        bool accepted = true;
        try {
            QuovaMapPoint::decode(std::string_view(row.text));
        } catch (const platform::DecodingError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, row.accepted);
    }
}

TEST_F(QuovaMapPointFileTest, ReadingFollowsTheFormatRules) {
    // Longitude first; elements after the second are ignored.
    auto point = QuovaMapPoint::decode(std::string_view(
        R"({"coordinate":[9.9937,53.5511,7],"hasHandcraftedTitle":false,"createdAt":-3.5,"lastSavedAt":2})"));
    EXPECT_EQ(point->coordinate().longitude, 9.9937);
    EXPECT_EQ(point->coordinate().latitude, 53.5511);
    EXPECT_EQ(point->createdAt(), platform::Date{-3.5});
    // A file without tags reads back as none, not as the new point's empty list.
    EXPECT_FALSE(point->tags().has_value());
    EXPECT_FALSE(point->uuid().has_value());

    // Names are compared case-sensitively: "Title" is an unknown member.
    auto other = QuovaMapPoint::decode(std::string_view(
        R"({"Title":"Shout","title":"quiet","Tags":["x"],"coordinate":[1,2],"hasHandcraftedTitle":true,"createdAt":1,"lastSavedAt":2})"));
    EXPECT_EQ(other->title(), "quiet");
    EXPECT_FALSE(other->tags().has_value());
}

TEST_F(QuovaMapPointFileTest, NegativeInstantsAreWrittenNegativeAndReadBackUnchanged) {
    auto point = QuovaMapPoint::make("Old");
    point->setCreatedAt(platform::Date{-978307200.0});  // 1970-01-01
    point->setLastSavedAt(platform::Date{-0.001});
    point->setDeletedAt(platform::Date{-1234567.875});
    const std::string text = point->encodedFile();
    EXPECT_THAT(text, HasSubstr(R"("createdAt":-978307200,"lastSavedAt":-0.001,"deletedAt":-1234567.875)"));
    auto read = QuovaMapPoint::decode(std::string_view(text));
    EXPECT_EQ(read->createdAt(), point->createdAt());
    EXPECT_EQ(read->lastSavedAt(), point->lastSavedAt());
    EXPECT_EQ(read->deletedAt(), point->deletedAt());
}

TEST_F(QuovaMapPointFileTest, NumbersRoundTripExactly) {
    const double values[] = {0.1,  1e-05,     5e-324, 1.7976931348623157e308, 9007199254740993.0,
                             -0.0, 123456.789};
    for (double value : values) {
        SCOPED_TRACE(value);
        auto point = QuovaMapPoint::make("n");
        point->setAlarmCircleDiameter(value);
        point->setCoordinate({value, -value});
        auto read = QuovaMapPoint::decode(std::string_view(point->encodedFile()));
        EXPECT_EQ(*read->alarmCircleDiameter(), value);
        EXPECT_EQ(std::signbit(*read->alarmCircleDiameter()), std::signbit(value));
        EXPECT_EQ(read->coordinate().latitude, value);
        EXPECT_EQ(read->coordinate().longitude, -value);
    }
}

TEST_F(QuovaMapPointFileTest, NonFiniteNumbersAreRefusedNotWrittenAsNull) {
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        auto point = QuovaMapPoint::make("x");
        point->setAlarmCircleDiameter(bad);
        EXPECT_THROW(point->encodedFile(), platform::EncodingError);
        auto other = QuovaMapPoint::make("y");
        other->setCoordinate({bad, 1});
        EXPECT_THROW(other->encodedFile(), platform::EncodingError);
    }
}

TEST_F(QuovaMapPointFileTest, TextsAreEscapedAndInvalidUTF8IsRefused) {
    const struct {
        std::string title;
        std::string written;  // the title member's JSON text
    } cases[] = {
        {"a/b", R"("a\/b")"},
        {"say \"hi\" \\ bye", R"("say \"hi\" \\ bye")"},
        {"line\nbreak\ttab\x01", R"("line\nbreak\ttab\u0001")"},
        {"Käse 🧀", "\"Käse 🧀\""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.title);
        auto point = QuovaMapPoint::make(row.title);
        const std::string text = point->encodedFile();
        EXPECT_THAT(text, HasSubstr("{\"title\":" + row.written + ","));
        EXPECT_EQ(QuovaMapPoint::decode(std::string_view(text))->title(), row.title);
    }
    for (const std::string bad : {"\xff", "a\xc3", "\xed\xa0\x80", "\xc0\xaf"}) {
        auto point = QuovaMapPoint::make(bad);
        EXPECT_THROW(point->encodedFile(), platform::EncodingError);
    }
}

TEST_F(QuovaMapPointFileTest, InitWithFilePathLogsOnlyForFilesThatReadButDoNotDecode) {
    const std::string folder = QuovaMapPoint::documentDirectory();
    EXPECT_EQ(folder, pointsFolder());
    writeText(folder + "bad.QuovaMapPoint",
              R"({"coordinate":[1],"hasHandcraftedTitle":false,"createdAt":1,"lastSavedAt":2})");
    log_->clear();

    EXPECT_EQ(QuovaMapPoint::initWithFilePath(folder + "missing.QuovaMapPoint"), nullptr);
    EXPECT_EQ(QuovaMapPoint::initWithFilePath(folder), nullptr);  // a folder cannot be read
    EXPECT_EQ(QuovaMapPoint::initWithFilePath(folder + "bad.QuovaMapPoint"), nullptr);
    EXPECT_THAT(log_->texts(logging::QLLogFlag::info),
                ElementsAre(::testing::AllOf(
                    ::testing::StartsWith("Can't decode file \"" + folder + "bad.QuovaMapPoint\": "),
                    ::testing::HasSubstr("coordinate"))));
}

TEST_F(QuovaMapPointFileTest, DocumentDirectoryLeavesAnExistingNonFolderAlone) {
    std::filesystem::create_directories(documents());
    writeText(documents() + "/points", "not a folder");
    EXPECT_EQ(QuovaMapPoint::documentDirectory(), pointsFolder());
    EXPECT_EQ(readText(documents() + "/points"), "not a folder");
    EXPECT_TRUE(log_->texts().empty());
}

TEST_F(QuovaMapPointFileTest, IdentifierThatCouldLeaveTheFolderIsNeverUsedAsAFileName) {
    const std::string hostile[] = {"../../escaped",        "/tmp/escaped",       "..", ".", "a/b",
                                   std::string("x\0y", 3), std::string(300, 'A')};
    for (const std::string& uuid : hostile) {
        SCOPED_TRACE(uuid);
        nlohmann::json file = {{"uuid", uuid},         {"title", "evil"},
                               {"coordinate", {1, 2}}, {"hasHandcraftedTitle", false},
                               {"createdAt", 1},       {"lastSavedAt", 2}};
        auto point = QuovaMapPoint::decode(file);
        EXPECT_FALSE(point->uuid().has_value());
    }
    // A point given such an identifier in memory gets a fresh one when saved,
    // and the file lands inside the points folder.
    auto point = QuovaMapPoint::make("evil");
    point->setUuid("../../escaped");
    point->savePreservingLastModification(QuovaMapPointStore::shared());
    ASSERT_TRUE(point->uuid().has_value());
    EXPECT_EQ(point->uuid()->size(), 36u);
    EXPECT_THAT(entries(pointsFolder()), ElementsAre(*point->uuid() + ".QuovaMapPoint"));
    EXPECT_FALSE(std::filesystem::exists(root_ + "/data/escaped.QuovaMapPoint"));
}

TEST_F(QuovaMapPointFileTest, EnsureUUIDKeepsAnyUsableIdentifier) {
    auto point = QuovaMapPoint::make("p");
    point->setUuid("");
    point->ensureUUID();
    ASSERT_TRUE(point->uuid().has_value());
    EXPECT_TRUE(platform::UUID::fromString(*point->uuid()).has_value());
    EXPECT_EQ(*point->uuid(), platform::text::uppercased(*point->uuid()));

    point->setUuid("not-a-uuid");
    point->ensureUUID();
    EXPECT_EQ(point->uuid(), "not-a-uuid");
}

TEST_F(QuovaMapPointFileTest, DescriptionNamesTitleSubtitleAndValidCoordinate) {
    auto point = QuovaMapPoint::make("Harbour");
    point->setSubtitle("Pier 3");
    point->setCoordinate({53.5511, 9.9937});
    EXPECT_EQ(point->description(), "Harbour, Pier 3, Long: 9.9937, Lat: 53.5511");
    point->setCoordinate({0.00001, 10});
    EXPECT_EQ(point->description(), "Harbour, Pier 3, Long: 10.0, Lat: 1e-05");
    point->setTitle(std::nullopt);
    point->setSubtitle(std::nullopt);
    point->setCoordinate(platform::kCLLocationCoordinate2DInvalid);
    EXPECT_EQ(point->description(), "(unknown)");
}

}  // namespace
}  // namespace tervolo::points
