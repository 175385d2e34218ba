#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "PointsOnMapTestSupport.hpp"
#include "platform/foundation/PropertyValue.hpp"
#include "testsupport/logging/LogRecorder.hpp"

namespace points_on_map_test {
namespace {

using platform::PropertyValue;
using Dictionary = PropertyValue::Dictionary;

// A complete legacy element with only the required keys.
Dictionary element(const std::string& title, const std::string& uid, double latitude = 60.1699,
                   double longitude = 24.9384) {
    return Dictionary{{"Title", title}, {"lat", latitude}, {"long", longitude}, {"UID", uid}};
}
Dictionary without(Dictionary element, const std::string& key) {
    element.erase(key);
    return element;
}
Dictionary with(Dictionary element, const std::string& key, PropertyValue value) {
    element[key] = std::move(value);
    return element;
}

class LegacyImportTest : public PointsOnMapTest {
  protected:
    // A start of the screen over a store of its own with `legacy` as the "Points" entry (none: no entry).
    void start(const std::optional<PropertyValue::List>& legacy) {
        if (legacy) {
            platform::UserDefaults::standard().set("Points", *legacy);
        } else {
            platform::UserDefaults::standard().remove("Points");
        }
        QuovaMapPointStore::resetSharedForTesting();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        controller_ = fixture_->makeController();
        controller_->view();
        platform::RunLoop::runUntilIdle();
    }
    static PointPtr stored(const std::string& title) {
        PointPtr found;
        for (const auto& point : QuovaMapPointStore::shared().points()) {
            if (point->title() == title) found = point;
        }
        return found;
    }
    void clearDocuments() {
        std::filesystem::remove_all(QuovaMapPoint::documentDirectory());
        QuovaMapPointStore::resetSharedForTesting();
    }
};

TEST_F(LegacyImportTest, EachElementIsImportedOrSkippedByItsKeys) {
    struct Case {
        const char* name;
        PropertyValue value;
        bool imported;
        double createdAt = 0;  // seconds since 2001
        bool handcrafted = false;
    };
    const Dictionary plain = element("Sauna", "700000000.5abc");
    const Case cases[] = {
        {"the four required keys", plain, true, 700000000.5},
        {"no Title", without(plain, "Title"), false},
        {"no lat", without(plain, "lat"), false},
        {"no long", without(plain, "long"), false},
        {"no UID", without(plain, "UID"), false},
        {"lat as text", with(plain, "lat", "60.1699"), false},
        {"Title as a number", with(plain, "Title", 7), false},
        {"UID as a number", with(plain, "UID", 700000000), false},
        {"integer degrees are numbers too", with(plain, "lat", 60), true, 700000000.5},
        {"hasHandcraftedTitle YES", with(plain, "hasHandcraftedTitle", "YES"), true, 700000000.5, true},
        {"hasHandcraftedTitle yes", with(plain, "hasHandcraftedTitle", "yes"), true, 700000000.5, false},
        {"hasHandcraftedTitle as a bool", with(plain, "hasHandcraftedTitle", true), true, 700000000.5, false},
        {"UID without a number", element("Sauna", "ABC-700"), true, 0},
        {"UID that walks out of the folder", element("Sauna", "../evil"), false},
        {"UID with a slash", element("Sauna", "a/b"), false},
        {"UID dot-dot", element("Sauna", ".."), false},
        {"latitude beyond the pole", element("Sauna", "42", 95.0, 10.0), false},
        {"longitude beyond the antimeridian", element("Sauna", "42", 60.0, -181.0), false},
        {"not a dictionary", PropertyValue("Sauna"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearDocuments();
        start(PropertyValue::List{c.value});
        const PointPtr point = stored("Sauna");
        ASSERT_EQ(point != nullptr, c.imported);
        EXPECT_EQ(QuovaMapPointStore::shared().points().size(), c.imported ? 1u : 0u);
        EXPECT_EQ(controller_->mapView()->annotationCount(), c.imported ? 1u : 0u);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(QuovaMapPoint::documentDirectory()) /
                                             ".." / "evil.QuovaMapPoint"));
        if (!point) continue;
        EXPECT_TRUE(std::filesystem::exists(fileOf(*point)));
        EXPECT_DOUBLE_EQ(point->createdAt().secondsSince2001, c.createdAt);
        EXPECT_EQ(point->hasHandcraftedTitle(), c.handcrafted);
        EXPECT_FALSE(point->subtitle().has_value());
        EXPECT_EQ(point->lastSavedAt(), platform::Date::now());
        // Imported points are neither selected nor geocoded.
        EXPECT_TRUE(controller_->mapView()->selectedAnnotations().empty());
        EXPECT_TRUE(geocoder_->requests().empty());
    }
}

TEST_F(LegacyImportTest, OptionalKeysFillTheirFieldsAndTheLegacyStampsStayInTheFile) {
    const platform::Date saved{500000000.0};
    Dictionary full = element("Harbour", "600000000-1");
    full["Subtitle"] = "Kauppatori";
    full["dataSourceURL"] = "https://example.invalid/harbour";
    full["dataSourceUniqueID"] = "osm-42";
    full["alarmSound"] = "bell";
    full["lastSavedByAppVersion"] = "3.2";
    full["dataSource"] = 3;
    full["alarmCircleDiameter"] = 150.0;
    full["lastSavedAt"] = saved;
    Dictionary mistyped = element("Pier", "600000001");
    mistyped["dataSource"] = "3";
    mistyped["alarmCircleDiameter"] = "150";
    mistyped["lastSavedAt"] = "yesterday";
    mistyped["Subtitle"] = 5;
    start(PropertyValue::List{full, mistyped});

    const PointPtr harbour = stored("Harbour");
    ASSERT_NE(harbour, nullptr);
    EXPECT_EQ(harbour->subtitle(), "Kauppatori");
    EXPECT_EQ(harbour->dataSourceURL(), "https://example.invalid/harbour");
    EXPECT_EQ(harbour->dataSourceUniqueID(), "osm-42");
    EXPECT_EQ(harbour->alarmSound(), "bell");
    EXPECT_EQ(harbour->dataSourceName(), "OSM");
    EXPECT_EQ(harbour->alarmCircleDiameter(), 150.0);
    EXPECT_DOUBLE_EQ(harbour->createdAt().secondsSince2001, 600000000.0);
    // What the file holds: the legacy stamps, not the import's.
    const auto reread = QuovaMapPoint::initWithFilePath(fileOf(*harbour).string());
    ASSERT_NE(reread, nullptr);
    EXPECT_EQ(reread->lastSavedAt(), saved);
    EXPECT_EQ(reread->lastSavedByAppVersion(), "3.2");
    EXPECT_EQ(reread->subtitle(), "Kauppatori");
    // Its alarm circle is on the map.
    EXPECT_NE(controller_->haloForPoint(harbour), nullptr);

    const PointPtr pier = stored("Pier");
    ASSERT_NE(pier, nullptr);
    EXPECT_FALSE(pier->dataSourceName().has_value());
    EXPECT_FALSE(pier->alarmCircleDiameter().has_value());
    EXPECT_FALSE(pier->subtitle().has_value());
    EXPECT_EQ(pier->lastSavedAt(), platform::Date::now());
    EXPECT_EQ(controller_->haloForPoint(pier), nullptr);
    EXPECT_EQ(controller_->mapView()->annotationCount(), 2u);
}

TEST_F(LegacyImportTest, AnIdentifierAlreadyStoredOrRepeatedIsNeverImportedAgain) {
    // The entry stays in the user defaults: once the user has deleted every
    // imported point, the next start imports again, and must not bring them back.
    const PropertyValue::List legacy{element("Sauna", "100"), element("Sauna copy", "100"),
                                     element("Island", "200")};
    start(legacy);
    EXPECT_EQ(QuovaMapPointStore::shared().points().size(), 2u);
    EXPECT_EQ(stored("Sauna copy"), nullptr);
    for (const auto& point : std::vector<PointPtr>(QuovaMapPointStore::shared().points())) {
        QuovaMapPointStore::shared().deletePoint(point);
    }
    const std::string deletedFile = [&] {
        std::ifstream in(fileOf(*stored("Sauna")));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();

    fixture_->events.clear();
    start(legacy);
    EXPECT_EQ(fixture_->events.front(), "pointCount count=0");
    EXPECT_EQ(QuovaMapPointStore::shared().points().size(), 2u);
    EXPECT_TRUE(QuovaMapPointStore::shared().validPointsWithFilter(std::nullopt).empty());
    EXPECT_EQ(controller_->mapView()->annotationCount(), 0u);
    std::ifstream in(fileOf(*stored("Sauna")));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), deletedFile);
}

TEST_F(LegacyImportTest, WithoutAnEntryNothingHappensAndAnEmptyListImportsNothing) {
    // A valid point stored before and deleted since: not shown by the import.
    auto gone = storedPoint("Gone", kHelsinki);
    QuovaMapPointStore::shared().deletePoint(gone);
    {
        tervolo::testsupport::SharedLogRecording log;
        start(std::nullopt);
        const auto texts = log.texts();
        EXPECT_NE(std::find(texts.begin(), texts.end(), "importLegacyDataFromDefauls"), texts.end());
        EXPECT_EQ(std::find(texts.begin(), texts.end(), "Found previously registered points!"), texts.end());
    }
    EXPECT_EQ(controller_->mapView()->annotationCount(), 0u);
    {
        tervolo::testsupport::SharedLogRecording log;
        start(PropertyValue::List{});
        const auto texts = log.texts();
        EXPECT_NE(std::find(texts.begin(), texts.end(), "Found previously registered points!"), texts.end());
    }
    EXPECT_EQ(QuovaMapPointStore::shared().points().size(), 1u);
    EXPECT_EQ(controller_->mapView()->annotationCount(), 0u);
}

}  // namespace
}  // namespace points_on_map_test
