// The point details screen's actions: the radius sheet and the typed radius,
// the directions sheet, copying the coordinate, the source page, trash and
// share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>

#include <limits>

#include "PointDetailsTestSupport.hpp"
#include "geodesy/DoubleQuovaAdditions.hpp"
#include "geodesy/QuovaCoordinateFormat.hpp"
#include "platform/text/Locale.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/Pasteboard.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/ShareSheetController.hpp"
#include "points/BestKnownLocation.hpp"
#include "testsupport/FakeDesktopApplications.hpp"
#include "widgets/hud/HUD.hpp"
#include "widgets/hud/HUDController.hpp"

using tervolo::pointscreens::PointDetailsViewController;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

const platform::text::Locale kMetric("fi_FI");
const platform::text::Locale kImperial("en_US");

class DetailsActionsTest : public pointscreens_test::PointDetailsTest {
  protected:
    void SetUp() override {
        PointDetailsTest::SetUp();
        recorder_ = std::make_unique<platform::PresentationRecorder>();
        platform::text::Locale::setCurrentForTesting(kMetric);
    }
    void TearDown() override {
        tervolo::points::setBestKnownLocationProvider({});
        platform::text::Locale::setCurrentForTesting(std::nullopt);
        recorder_.reset();
        PointDetailsTest::TearDown();
    }

    bool logged(const std::string& text) {
        const auto texts = log_->texts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
    // The titles of the alert or sheet on top, "" when none is shown.
    std::string topAlertTitle() const {
        auto alert = recorder_->topAlert();
        return alert ? alert->title() : "";
    }
    void tap(const std::shared_ptr<platform::BarButtonItem>& item) {
        ASSERT_NE(item, nullptr);
        item->trigger();
        settle();
    }
    void choose(const std::string& title) {
        ASSERT_TRUE(recorder_->chooseAction(title)) << title;
        settle();
    }
    size_t presentedCount(const std::string& className) const {
        const auto names = recorder_->presentedClassNames();
        return static_cast<size_t>(std::count(names.begin(), names.end(), className));
    }
    std::shared_ptr<tervolo::points::QuovaMapPoint> pointWithRadius(std::optional<double> radius) {
        auto point = savedPoint("Kauppatori", std::string("Market square"));
        point->setAlarmCircleDiameter(radius);
        return point;
    }

    std::unique_ptr<platform::PresentationRecorder> recorder_;
};

// --- the radius sheet ----------------------------------------------------------

TEST_F(DetailsActionsTest, RadiusSheetListsTheLocaleTableWithTheCurrentRadiusMarked) {
    // A radius that is no entry shows as the distance text says it in the
    // user's locale ("328 ft" in the United States).
    platform::text::Locale::setCurrentForTesting(kImperial);
    const std::string hundredMetres = tervolo::geodesy::distanceDescription(100).value_or("");
    struct Case {
        const char* name;
        platform::text::Locale locale;
        std::optional<double> radius;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"metric without radius",
         kMetric,
         std::nullopt,
         {"(none) \u2714\uFE0F", "100 m", "250 m", "500 m", "1 km", "2,5 km", "5 km", "15 km", "Custom ...",
          "Cancel"}},
        {"metric, a typed 300 m",
         kMetric,
         300.0,
         {"(none)", "100 m", "250 m", "300 m \u2714\uFE0F", "500 m", "1 km", "2,5 km", "5 km", "15 km",
          "Custom ...", "Cancel"}},
        {"imperial, 100 m",
         kImperial,
         100.0,
         {"(none)", "250 ft", hundredMetres + " \u2714\uFE0F", "500 ft", "1000 ft", "1 mi", "3 mi", "5 mi",
          "10 mi", "Custom ...", "Cancel"}},
        {"metric, a stored radius that is not finite",
         kMetric,
         std::numeric_limits<double>::infinity(),
         {"(none) \u2714\uFE0F", "100 m", "250 m", "500 m", "1 km", "2,5 km", "5 km", "15 km", "Custom ...",
          "Cancel"}},
        {"metric, a table entry", kMetric, 2500.0,
         std::vector<std::string>{"(none)", "100 m", "250 m", "500 m", "1 km", "2,5 km \u2714\uFE0F", "5 km",
                                  "15 km", "Custom ...", "Cancel"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        platform::text::Locale::setCurrentForTesting(test.locale);
        ASSERT_EQ(hundredMetres.empty(), false);
        auto screen = present(pointWithRadius(test.radius));
        log_->clear();
        tap(screen->radiusButton());
        auto sheet = recorder_->topAlert();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->title(), "Circle Radius");
        EXPECT_EQ(sheet->message(), "Please Select Circle Radius.");
        EXPECT_EQ(sheet->preferredStyle(), platform::AlertController::Style::actionSheet);
        EXPECT_EQ(sheet->popoverPresentationController()->barButtonItem(), screen->radiusButton());
        EXPECT_EQ(recorder_->actionTitles(), test.expected);
        EXPECT_TRUE(logged("radiusButton tapped"));
        EXPECT_TRUE(logged("display action sheet animation completed"));
        choose("Cancel");
        EXPECT_TRUE(logged("Cancel button"));
        EXPECT_FALSE(screen->pointHasBeenEdited());
    }
}

TEST_F(DetailsActionsTest, ChoosingARowAppliesItAndNoneSavesZero) {
    auto point = pointWithRadius(std::nullopt);
    auto screen = present(point);
    tap(screen->radiusButton());
    choose("250 m");
    EXPECT_TRUE(logged("radius 250.0 selected"));
    EXPECT_EQ(screen->newRadius(), 250.0);
    ASSERT_NE(screen->halo(), nullptr);
    EXPECT_EQ(screen->halo()->radius(), 250.0);
    EXPECT_TRUE(screen->pointHasBeenEdited());

    // The sheet now marks the choice on the screen, not the point's own.
    tap(screen->radiusButton());
    EXPECT_THAT(recorder_->actionTitles(), Contains("250 m \u2714\uFE0F"));
    choose("(none)");
    EXPECT_TRUE(logged("no radius selected"));
    EXPECT_EQ(screen->newRadius(), 0.0);
    EXPECT_EQ(screen->halo(), nullptr);

    screen->dismissView();
    settle();
    EXPECT_EQ(point->alarmCircleDiameter(), 0.0);
    EXPECT_NE(fileText(*point).find("\"alarmCircleDiameter\""), std::string::npos);
}

// --- the typed radius ---------------------------------------------------------------

TEST_F(DetailsActionsTest, CustomEntriesAreReadInTheLocaleUnitOrRefused) {
    struct Case {
        const char* text;
        platform::text::Locale locale;
        std::optional<double> expected;  // none: refused
    };
    const Case cases[] = {
        {"100", kMetric, 100.0}, {"100", kImperial, 91.44}, {"12abc", kMetric, 12.0},
        {" 2.5", kMetric, 2.5},  {"abc", kMetric, {}},      {"0", kMetric, {}},
        {"-5", kMetric, {}},     {"1e999", kMetric, {}},    {"nan", kMetric, {}},
        {"", kMetric, {}},       {"20000001", kMetric, {}}, {"20000000", kMetric, 20000000.0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text);
        platform::text::Locale::setCurrentForTesting(test.locale);
        auto screen = present(pointWithRadius(std::nullopt));
        tap(screen->radiusButton());
        choose("Custom ...");
        EXPECT_TRUE(logged("Custom Radius Button"));
        auto prompt = recorder_->topAlert();
        ASSERT_NE(prompt, nullptr);
        EXPECT_EQ(prompt->title(), "Custom Radius");
        EXPECT_EQ(prompt->message(),
                  std::string("You may submit a custom radius around this location, measured in ") +
                      (test.locale.usesMetricSystem() ? "meters." : "yards."));
        ASSERT_EQ(prompt->textFields().size(), 1u);
        EXPECT_EQ(platform::keyboardType(*prompt->textFields().front()), platform::KeyboardType::numberPad);
        ASSERT_TRUE(recorder_->typeText(0, test.text));
        choose("Submit");
        EXPECT_TRUE(logged(std::string("Custom radius value string: ") + test.text));
        if (test.expected) {
            EXPECT_EQ(screen->newRadius(), test.expected);
            EXPECT_TRUE(screen->pointHasBeenEdited());
            EXPECT_EQ(recorder_->topAlert(), nullptr);
        } else {
            EXPECT_EQ(screen->newRadius(), std::nullopt);
            EXPECT_EQ(screen->halo(), nullptr);
            EXPECT_EQ(topAlertTitle(), "Custom Radius Invalid");
            choose("Cancel");
            EXPECT_TRUE(logged("Custom radius invalid: cancel button"));
        }
    }
    EXPECT_TRUE(logged("Custom radius value double: 12.0"));
    EXPECT_TRUE(logged("Custom radius value double: inf"));
}

TEST_F(DetailsActionsTest, RetryBringsTheEntryBackAfterThreeHundredMilliseconds) {
    auto screen = present(pointWithRadius(std::nullopt));
    tap(screen->radiusButton());
    choose("Custom ...");
    ASSERT_TRUE(recorder_->typeText(0, "abc"));
    choose("Submit");
    ASSERT_EQ(topAlertTitle(), "Custom Radius Invalid");
    choose("Retry");
    EXPECT_TRUE(logged("Custom radius invalid: retry button"));
    EXPECT_EQ(recorder_->topAlert(), nullptr);
    environment_.advance(0.29);
    settle();
    EXPECT_EQ(recorder_->topAlert(), nullptr);
    environment_.advance(0.02);
    settle();
    EXPECT_EQ(topAlertTitle(), "Custom Radius");
    // The loop goes on until an entry is taken.
    ASSERT_TRUE(recorder_->typeText(0, "400"));
    choose("Submit");
    EXPECT_EQ(screen->newRadius(), 400.0);
    // Cancel on the entry ends the loop with the radius as it was.
    tap(screen->radiusButton());
    choose("Custom ...");
    ASSERT_TRUE(recorder_->typeText(0, "900"));
    choose("Cancel");
    EXPECT_TRUE(logged("Custom radius: cancel button"));
    EXPECT_EQ(screen->newRadius(), 400.0);
    EXPECT_EQ(recorder_->topAlert(), nullptr);
}

TEST_F(DetailsActionsTest, RetryPendingWhenTheScreenGoesShowsNothing) {
    auto screen = present(pointWithRadius(std::nullopt));
    tap(screen->radiusButton());
    choose("Custom ...");
    choose("Submit");
    choose("Retry");
    const size_t prompts = presentedCount("AlertController");
    screen->cancelView();
    settle();
    screen.reset();
    window_.reset();
    host_.reset();
    settle();
    environment_.advance(1);
    settle();
    EXPECT_EQ(presentedCount("AlertController"), prompts);
}

// --- directions ------------------------------------------------------------------------

class DirectionsSheetTest : public DetailsActionsTest {
  protected:
    tervolo::testsupport::FakeDesktopApplications applications_{environment_.folder()};
    platform::OpenURLRecorder opened_;
};

TEST_F(DirectionsSheetTest, RowsFollowInstalledApplicationsAndTheUserPosition) {
    auto point = savedPoint("Marienplatz", std::string("A & B"));
    point->setCoordinate({48.137, 11.575});
    auto screen = present(point);

    tap(screen->directionsButton());
    auto sheet = recorder_->topAlert();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->title(), "Routing Options");
    EXPECT_EQ(sheet->message(), "Please Select App For Routing.");
    EXPECT_EQ(sheet->popoverPresentationController()->barButtonItem(), screen->directionsButton());
    EXPECT_EQ(recorder_->actionTitles(),
              (std::vector<std::string>{"Apple Maps by Address", "Apple Maps by Coordinates", "Cancel"}));
    choose("Apple Maps by Address");
    EXPECT_TRUE(logged("Apple Maps button"));
    EXPECT_THAT(opened_.urls(), ElementsAre("https://maps.apple.com/?daddr=A%20%26%20B"));

    // Applications installed meanwhile and a first position count at the next sheet.
    applications_.installApplication("google-maps.desktop", {"comgooglemaps"});
    applications_.installApplication("magicearth.desktop", {"magicearth"});
    applications_.installApplication("waze.desktop", {"waze"});
    applications_.installApplication("uber.desktop", {"uber"});
    tervolo::points::setBestKnownLocationProvider(
        [] { return std::optional<platform::CLLocation>(platform::CLLocation(52.5, 13.4)); });
    tap(screen->directionsButton());
    EXPECT_EQ(recorder_->actionTitles(),
              (std::vector<std::string>{"Apple Maps by Address", "Apple Maps by Coordinates", "Google Maps",
                                        "MagicEarth", "OpenStreetMap", "Uber", "Waze", "Cancel"}));
    choose("Google Maps");
    tap(screen->directionsButton());
    choose("MagicEarth");
    tap(screen->directionsButton());
    choose("Waze");
    tap(screen->directionsButton());
    choose("OpenStreetMap");
    EXPECT_THAT(
        opened_.urls(),
        ElementsAre("https://maps.apple.com/?daddr=A%20%26%20B", "comgooglemaps://?daddr=48.137,11.575",
                    "magicearth://?drive_to&lat=48.137&lon=11.575",
                    "https://waze.com/ul?navigate=yes&ll=48.137,11.575",
                    "https://www.openstreetmap.org/directions?route=52.5%2C13.4%3B48.137%2C11.575"));

    // Uber names the drop-off as the point is named when the row is chosen.
    tap(screen->directionsButton());
    point->setTitle(std::string("Rathaus & Co"));
    choose("Uber");
    const std::string uber =
        "https://m.uber.com/ul/?action=setPickup&pickup=my_location&dropoff[latitude]=48.137"
        "&dropoff[longitude]=11.575&dropoff[nickname]=Rathaus%20%26%20Co&dropoff[formatted_address]=A%20%26%"
        "20B";
    EXPECT_EQ(opened_.urls().back(), uber);
    EXPECT_TRUE(logged("Uber URL: " + uber));

    tap(screen->directionsButton());
    choose("Cancel");
    EXPECT_TRUE(logged("Cancel button"));
    EXPECT_EQ(opened_.urls().size(), 6u);
    EXPECT_TRUE(logged("directionsButton tapped"));
}

TEST_F(DirectionsSheetTest, AnInvalidCoordinateOffersCancelOnly) {
    applications_.installApplication("google-maps.desktop", {"comgooglemaps"});
    auto point = savedPoint("Nowhere", std::string("No street"));
    point->setCoordinate(platform::kCLLocationCoordinate2DInvalid);
    auto screen = present(point);
    tap(screen->directionsButton());
    EXPECT_THAT(recorder_->actionTitles(), ElementsAre("Cancel"));
    choose("Cancel");
    EXPECT_THAT(opened_.urls(), IsEmpty());
}

// --- copy, source page ---------------------------------------------------------------

TEST_F(DetailsActionsTest, CopyPutsTheCoordinateInTheLabelFormatOnThePasteboard) {
    // A HUD of the test's own, gone with the test's application.
    auto hud = std::make_unique<tervolo::widgets::hud::HUDController>();
    std::optional<platform::SharedInstance<tervolo::widgets::hud::HUDController>::Replacement> replacement;
    replacement.emplace(*hud);
    platform::UserDefaults::standard().set("coordinateFormat", platform::PropertyValue(int64_t{5}));
    auto point = savedPoint("Kauppatori");
    auto screen = present(point);
    ASSERT_EQ(screen->coordinateFormat(), 5);
    platform::Pasteboard::general().setString("before");
    screen->copyCoordinatesButton()->click();
    settle();
    const std::string mgrs =
        tervolo::geodesy::quovaCoordinateDescriptionWithFormat(point->coordinate(), int64_t{5});
    EXPECT_EQ(platform::Pasteboard::general().string(), mgrs);
    EXPECT_TRUE(logged("copyCoordinatesButton tapped"));
    EXPECT_TRUE(logged("Copied coordinates: " + mgrs));
    EXPECT_TRUE(tervolo::widgets::hud::HUD::isVisible());
    // "Copied!" stays 1.6 s, then fades.
    environment_.advance(1.5);
    settle();
    EXPECT_TRUE(tervolo::widgets::hud::HUD::isVisible());
    environment_.advance(1.0);
    settle();
    EXPECT_FALSE(tervolo::widgets::hud::HUD::isVisible());

    // A format change on the label changes the next copy.
    screen->coordinateLabelTapped();
    screen->copyCoordinatesButton()->click();
    settle();
    EXPECT_EQ(platform::Pasteboard::general().string(),
              tervolo::geodesy::quovaCoordinateDescriptionWithFormat(point->coordinate(), int64_t{1}));
    environment_.advance(3);
    settle();

    // Without a point only the tap is written down.
    screen->setPoint(nullptr);
    platform::Pasteboard::general().setString("kept");
    log_->clear();
    screen->copyCoordinatesButton()->click();
    settle();
    EXPECT_EQ(platform::Pasteboard::general().string(), "kept");
    EXPECT_THAT(log_->texts(), ElementsAre("copyCoordinatesButton tapped"));

    // The HUD's views it let go of are deleted on a later turn of the loop.
    replacement.reset();
    hud.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(DetailsActionsTest, SourcePageOpensOnlyWebPages) {
    struct Case {
        std::optional<std::string> address;
        bool opens;
    };
    const Case cases[] = {
        {"https://www.yelp.com/biz/kauppatori", true},
        {"http://example.org/page?id=1", true},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"comgooglemaps://?q=x", false},
        {std::nullopt, false},
    };
    auto screen = present(savedPoint("Kauppatori"));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.address.value_or("(none)"));
        platform::OpenURLRecorder opened;
        log_->clear();
        screen->seePageButton()->setUrlToOpen(test.address);
        screen->seePageButton()->click();
        settle();
        EXPECT_TRUE(logged("seePageButton tapped"));
        if (test.opens) {
            EXPECT_THAT(opened.urls(), ElementsAre(*test.address));
        } else {
            EXPECT_THAT(opened.urls(), IsEmpty());
        }
    }
}

// --- trash -----------------------------------------------------------------------------

TEST_F(DetailsActionsTest, TrashRemovesTheCircleThenDeletesAndCloses) {
    struct Case {
        const char* name;
        std::optional<double> radius;
        bool withMainScreen;
    };
    const Case cases[] = {
        {"radius 250", 250.0, true},
        {"no radius", std::nullopt, true},
        {"radius 0", 0.0, true},
        {"main screen gone", 250.0, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        mainMap_ = std::make_shared<pointscreens_test::RecordingMainMap>();
        auto point = pointWithRadius(test.radius);
        mainMap_->addAnnotation(point);
        const auto halo = mainMap_->haloForPoint(point);
        ASSERT_EQ(halo != nullptr, test.radius && *test.radius > 0);
        auto screen = present(point);
        if (!test.withMainScreen) screen->setMainVC({});
        log_->clear();
        tap(screen->trashButtonItem());
        EXPECT_TRUE(logged("trashButton tapped"));
        // Deleted, in memory and on file, whether or not the map is there.
        EXPECT_TRUE(point->deletedAt().has_value());
        EXPECT_NE(fileText(*point).find("\"deletedAt\""), std::string::npos);
        if (halo) {
            EXPECT_EQ(mainMap_->haloForPoint(point) == nullptr, test.withMainScreen);
        }
        EXPECT_EQ(host_->presentedViewController(), nullptr);
        EXPECT_TRUE(logged("QuovaMapPointDetailsVC canceled, changes discarded"));
    }
}

// --- share -------------------------------------------------------------------------------

TEST_F(DetailsActionsTest, ShareShowsThePointsSheetHalfASecondLater) {
    auto point = savedPoint("Kauppatori");
    auto screen = present(point);
    tap(screen->shareButtonItem());
    EXPECT_TRUE(logged("shareButton tapped"));
    environment_.advance(0.45);
    settle();
    EXPECT_EQ(presentedCount("ShareSheetController"), 0u);
    environment_.advance(0.1);
    settle();
    ASSERT_EQ(presentedCount("ShareSheetController"), 1u);
    auto sheet = recorder_->topPresented();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->popoverPresentationController()->barButtonItem(), screen->shareButtonItem());
    ASSERT_TRUE(recorder_->dismissTop());
    settle();
}

TEST_F(DetailsActionsTest, AScreenClosedWithinHalfASecondShowsNoShareSheet) {
    for (const bool released : {false, true}) {
        SCOPED_TRACE(released ? "screen released" : "screen kept");
        auto screen = present(savedPoint("Kauppatori"));
        tap(screen->shareButtonItem());
        environment_.advance(0.2);
        settle();
        screen->cancelView();
        settle();
        if (released) {
            screen.reset();
            host_.reset();
            window_.reset();
            settle();
        }
        environment_.advance(1.0);
        settle();
        EXPECT_EQ(presentedCount("ShareSheetController"), 0u);
    }
}

}  // namespace
