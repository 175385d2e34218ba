// The circle radius of the "My Location" screen: the sheet, the typed entry,
// the invalid-entry alert with its retry, and what applying a radius does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "location/RegionMapRect.hpp"
#include "location/ui/tests/UserLocationSettingsTestSupport.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/Locale.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "points/QuovaUserDefaults.hpp"

namespace location_ui_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::string kMark = " \u2714\uFE0F";

class UserLocationRadiusTest : public UserLocationSettingsTest {
  protected:
    static void useImperial() {
        platform::text::Locale::setCurrentForTesting(
            platform::text::Locale("en_US", platform::text::MeasurementSystem::US));
    }
    static std::optional<double> storedRadius() {
        return tervolo::points::QuovaUserDefaults::shared().userLocationRadius();
    }
    // Opens the radius sheet from its bar item and returns its titles.
    std::vector<std::string> openSheet(location::UserLocationSettingsViewController& screen) {
        screen.radiusBarButton()->trigger();
        settle();
        EXPECT_EQ(topAlertTitle(), "Circle Radius");
        return topTitles();
    }
    void expectShows(const platform::MKMapView& map, double metres) {
        const auto rect = *tervolo::location::mapRectForRegion(helsinki().coordinate(), metres);
        const auto visible = map.visibleMapRect();
        EXPECT_NEAR(platform::MKMapRectGetMidX(visible), platform::MKMapRectGetMidX(rect), 1);
        EXPECT_NEAR(platform::MKMapRectGetMidY(visible), platform::MKMapRectGetMidY(rect), 1);
        const bool widthFits = std::abs(visible.size.width - rect.size.width) < 1;
        const bool heightFits = std::abs(visible.size.height - rect.size.height) < 1;
        EXPECT_TRUE(widthFits || heightFits)
            << "visible " << visible.size.width << " × " << visible.size.height << ", region "
            << rect.size.width << " × " << rect.size.height;
    }
};

TEST_F(UserLocationRadiusTest, SheetListsTheLocaleTableWithTheCurrentRadius) {
    const struct Case {
        const char* name;
        bool imperial;
        std::optional<double> stored;
        std::vector<std::string> titles;
    } cases[] = {
        {"metric, no radius",
         false,
         std::nullopt,
         {"(none)" + kMark, "100 m", "250 m", "500 m", "1 km", "2,5 km", "5 km", "15 km", "Custom ...",
          "Cancel"}},
        {"metric, radius 0",
         false,
         0.0,
         {"(none)" + kMark, "100 m", "250 m", "500 m", "1 km", "2,5 km", "5 km", "15 km", "Custom ...",
          "Cancel"}},
        {"metric, typed 300 m",
         false,
         300.0,
         {"(none)", "100 m", "250 m", "300 m" + kMark, "500 m", "1 km", "2,5 km", "5 km", "15 km",
          "Custom ...", "Cancel"}},
        {"imperial, no radius",
         true,
         std::nullopt,
         {"(none)" + kMark, "250 ft", "500 ft", "1000 ft", "1 mi", "3 mi", "5 mi", "10 mi", "Custom ...",
          "Cancel"}},
        {"imperial, metric 250 m",
         true,
         250.0,
         {"(none)", "250 ft", "500 ft", "820 ft" + kMark, "1000 ft", "1 mi", "3 mi", "5 mi", "10 mi",
          "Custom ...", "Cancel"}},
        {"imperial, table entry 1 mi",
         true,
         1609.344,
         {"(none)", "250 ft", "500 ft", "1000 ft", "1 mi" + kMark, "3 mi", "5 mi", "10 mi", "Custom ...",
          "Cancel"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        if (row.imperial) useImperial();
        if (row.stored) {
            tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(*row.stored);
        } else {
            platform::UserDefaults::standard().remove("userLocationRadius");
        }
        auto screen = open(helsinki());
        log_.clear();
        EXPECT_THAT(openSheet(*screen), ElementsAreArray(row.titles));
        EXPECT_EQ(recorder_->topAlert()->message(), "Please Select Circle Radius.");
        EXPECT_EQ(recorder_->topAlert()->popoverPresentationController()->barButtonItem(),
                  screen->radiusBarButton());
        EXPECT_THAT(logTexts(),
                    ElementsAre("radiusButton tapped", "display action sheet animation completed"));
        ASSERT_TRUE(recorder_->chooseAction("Cancel"));
        settle();
        EXPECT_TRUE(logged("Cancel button"));
        navigation_->dismiss(false);
        settle();
    }
}

TEST_F(UserLocationRadiusTest, ChoosingARadiusStoresItRedrawsAndZooms) {
    auto screen = open(helsinki());
    auto* map = screen->map();
    openSheet(*screen);
    ASSERT_TRUE(recorder_->chooseAction("250 m"));
    settle();
    EXPECT_TRUE(logged("radius 250.0 selected"));
    EXPECT_EQ(storedRadius(), 250);
    EXPECT_THAT(mapScreen_->calls, ElementsAre("refreshCircleOverlayForUserLocation"));
    ASSERT_NE(screen->halo(), nullptr);
    EXPECT_EQ(screen->halo()->radius(), 250);
    EXPECT_EQ(screen->halo()->coordinate(), helsinki().coordinate());
    EXPECT_EQ(map->overlays(), std::vector<std::shared_ptr<platform::MKOverlay>>{screen->halo()});
    expectShows(*map, 750);

    // The marked entry again: stored again, redrawn again, one circle.
    EXPECT_THAT(openSheet(*screen), ::testing::Contains("250 m" + kMark));
    ASSERT_TRUE(recorder_->chooseAction("250 m" + kMark));
    settle();
    EXPECT_EQ(mapScreen_->calls.size(), 2u);
    EXPECT_EQ(map->overlays().size(), 1u);

    // "(none)": 0 stored, the circle gone, 5 km around the position.
    openSheet(*screen);
    ASSERT_TRUE(recorder_->chooseAction("(none)"));
    settle();
    EXPECT_TRUE(logged("no radius selected"));
    EXPECT_EQ(storedRadius(), 0);
    EXPECT_EQ(screen->halo(), nullptr);
    EXPECT_TRUE(map->overlays().empty());
    EXPECT_EQ(mapScreen_->calls.size(), 3u);
    expectShows(*map, 5000);
}

TEST_F(UserLocationRadiusTest, WithoutAMapScreenTheSmallMapAndTheStoreStillChange) {
    auto screen = open(helsinki(), false);
    screen->applyUserLocationRadius(1000.0);
    EXPECT_EQ(storedRadius(), 1000);
    ASSERT_NE(screen->halo(), nullptr);
    EXPECT_THAT(mapScreen_->calls, IsEmpty());
    // None applies nothing at all.
    screen->applyUserLocationRadius(std::nullopt);
    EXPECT_EQ(storedRadius(), 1000);
    EXPECT_EQ(screen->halo()->radius(), 1000);
}

TEST_F(UserLocationRadiusTest, TypedEntriesAreStoredOrRefused) {
    const struct Case {
        const char* text;
        bool imperial;
        std::optional<double> stored;  // none: refused with the invalid-entry alert
        const char* valueLine;
    } cases[] = {
        {"300", false, 300.0, "Custom radius value double: 300.0"},
        {"12abc", false, 12.0, "Custom radius value double: 12.0"},
        {"100", true, 91.44, "Custom radius value double: 100.0"},
        {"abc", false, std::nullopt, "Custom radius value double: 0.0"},
        {"", false, std::nullopt, "Custom radius value double: 0.0"},
        {"inf", false, std::nullopt, "Custom radius value double: 0.0"},
        {"nan", false, std::nullopt, "Custom radius value double: 0.0"},
        {"1e400", false, std::nullopt, "Custom radius value double: inf"},
        {"0x10", false, std::nullopt, "Custom radius value double: 0.0"},
        {"-5", false, std::nullopt, "Custom radius value double: -5.0"},
        {"0", false, std::nullopt, "Custom radius value double: 0.0"},
        {"30000000", false, std::nullopt, "Custom radius value double: 30000000.0"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        platform::text::Locale::setCurrentForTesting(
            row.imperial ? platform::text::Locale("en_US", platform::text::MeasurementSystem::US)
                         : platform::text::Locale("en_GB", platform::text::MeasurementSystem::Metric));
        tervolo::points::QuovaUserDefaults::shared().setUserLocationRadius(500);
        mapScreen_->calls.clear();
        auto screen = open(helsinki());
        auto* map = screen->map();
        mapScreen_->calls.clear();
        const auto before = map->visibleMapRect();

        openSheet(*screen);
        ASSERT_TRUE(recorder_->chooseAction("Custom ..."));
        settle();
        EXPECT_TRUE(logged("Custom Radius Button"));
        ASSERT_EQ(topAlertTitle(), "Custom Radius");
        const auto alert = recorder_->topAlert();
        EXPECT_EQ(alert->message(),
                  std::string("You may submit a custom radius around your location, measured in ") +
                      (row.imperial ? "yards." : "meters."));
        ASSERT_EQ(alert->textFields().size(), 1u);
        EXPECT_EQ(platform::keyboardType(*alert->textFields().front()), platform::KeyboardType::numberPad);
        EXPECT_THAT(topTitles(), ElementsAre("Cancel", "Submit"));
        log_.clear();
        ASSERT_TRUE(recorder_->typeText(0, row.text));
        ASSERT_TRUE(recorder_->chooseAction("Submit"));
        settle();
        EXPECT_TRUE(logged(std::string("Custom radius value string: ") + row.text));
        EXPECT_TRUE(logged(row.valueLine));
        if (row.stored) {
            EXPECT_NEAR(storedRadius().value_or(-1), *row.stored, 1e-9);
            EXPECT_THAT(mapScreen_->calls, ElementsAre("refreshCircleOverlayForUserLocation"));
            ASSERT_NE(screen->halo(), nullptr);
            EXPECT_NEAR(screen->halo()->radius(), *row.stored, 1e-9);
            expectShows(*map, 3 * *row.stored);
            EXPECT_EQ(recorder_->topAlert(), nullptr);
        } else {
            EXPECT_EQ(storedRadius(), 500);
            EXPECT_THAT(mapScreen_->calls, IsEmpty());
            EXPECT_EQ(screen->halo()->radius(), 500);
            EXPECT_EQ(map->visibleMapRect(), before);
            EXPECT_EQ(topAlertTitle(), "Custom Radius Invalid");
            EXPECT_THAT(topTitles(), ElementsAre("Cancel", "Retry"));
            ASSERT_TRUE(recorder_->chooseAction("Cancel"));
            settle();
            EXPECT_TRUE(logged("Custom radius invalid: cancel button"));
        }
        navigation_->dismiss(false);
        settle();
    }
}

TEST_F(UserLocationRadiusTest, TheUnitIsTheLocalesAtOpeningOfTheEntry) {
    auto screen = open(helsinki());
    openSheet(*screen);
    ASSERT_TRUE(recorder_->chooseAction("Custom ..."));
    settle();
    // The locale changes while the entry is open: the entry stays in metres.
    useImperial();
    ASSERT_TRUE(recorder_->typeText(0, "100"));
    ASSERT_TRUE(recorder_->chooseAction("Submit"));
    settle();
    EXPECT_EQ(storedRadius(), 100);
}

TEST_F(UserLocationRadiusTest, RetryBringsTheEntryBackAfter300Milliseconds) {
    auto screen = open(helsinki());
    openSheet(*screen);
    ASSERT_TRUE(recorder_->chooseAction("Custom ..."));
    settle();
    ASSERT_TRUE(recorder_->typeText(0, "abc"));
    ASSERT_TRUE(recorder_->chooseAction("Submit"));
    settle();
    ASSERT_EQ(topAlertTitle(), "Custom Radius Invalid");
    ASSERT_TRUE(recorder_->chooseAction("Retry"));
    settle();
    EXPECT_TRUE(logged("Custom radius invalid: retry button"));
    EXPECT_EQ(recorder_->topAlert(), nullptr);
    environment_.advance(0.29);
    settle();
    EXPECT_EQ(recorder_->topAlert(), nullptr);
    environment_.advance(0.01);
    settle();
    ASSERT_EQ(topAlertTitle(), "Custom Radius");
    // The second entry counts like the first.
    ASSERT_TRUE(recorder_->typeText(0, "42"));
    ASSERT_TRUE(recorder_->chooseAction("Submit"));
    settle();
    EXPECT_EQ(storedRadius(), 42);

    // Cancel on the entry ends the road without storing.
    openSheet(*screen);
    ASSERT_TRUE(recorder_->chooseAction("Custom ..."));
    settle();
    ASSERT_TRUE(recorder_->chooseAction("Cancel"));
    settle();
    EXPECT_TRUE(logged("Custom radius: cancel button"));
    EXPECT_EQ(storedRadius(), 42);

    // A retry whose screen has gone meanwhile does nothing.
    openSheet(*screen);
    ASSERT_TRUE(recorder_->chooseAction("Custom ..."));
    settle();
    ASSERT_TRUE(recorder_->chooseAction("Submit"));
    settle();
    ASSERT_TRUE(recorder_->chooseAction("Retry"));
    settle();
    navigation_->dismiss(false);
    settle();
    // The recorder holds what it saw; a fresh one watches what comes now.
    recorder_.reset();
    navigation_.reset();
    const std::weak_ptr<location::UserLocationSettingsViewController> gone = screen;
    screen.reset();
    ASSERT_TRUE(gone.expired());
    recorder_ = std::make_unique<platform::PresentationRecorder>();
    environment_.advance(0.3);
    settle();
    EXPECT_TRUE(recorder_->entries().empty());
}

}  // namespace
}  // namespace location_ui_test
