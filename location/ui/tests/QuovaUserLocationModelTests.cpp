// The callout's texts, the staleness timer on virtual time and the table of
// extended-display views.
#include <gtest/gtest.h>

#include "location/ui/DetailAccessoryView.hpp"
#include "location/ui/QuovaUserLocationView.hpp"
#include "location/ui/tests/LocationUITestSupport.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/text/Locale.hpp"

namespace location_ui_test {
namespace {

using location::QuovaUserLocationModel;
using platform::text::Locale;
using platform::text::MeasurementSystem;

TEST(UserLocationTextsTest, SpeedCourseAndAltitudeInBothModes) {
    struct Case {
        const char* name;
        Locale locale;
        double speed, course, altitude, verticalAccuracy;
        std::string simpleSpeed, simpleAltitude, speed2, altitude2;  // "-" for none
    };
    const Locale metric("en_GB", MeasurementSystem::Metric);
    const Locale imperial("en_US");
    const Case cases[] = {
        {"the example", metric, 3.34, 90.0, 35, 5, "12 km/h - 90\u00BA E", "elev. 35m", "12 km/h\n90\u00BA E",
         "35m"},
        {"due north: no course", metric, 3.34, 0.0, 35, 5, "12 km/h", "elev. 35m", "12 km/h", "35m"},
        {"course 359.9", metric, 3.34, 359.9, 35, 5, "12 km/h - 360\u00BA N", "elev. 35m",
         "12 km/h\n360\u00BA N", "35m"},
        {"unknown course", metric, 0, -1, 35, 5, "0 km/h", "elev. 35m", "0 km/h", "35m"},
        {"no vertical accuracy", metric, 3.34, 90.0, 35, 0, "12 km/h - 90\u00BA E", "-",
         "12 km/h\n90\u00BA E", "n/a"},
        {"negative vertical accuracy", metric, 10, 45, 120, -1, "36 km/h - 45\u00BA NE", "-",
         "36 km/h\n45\u00BA NE", "n/a"},
        {"imperial: feet and mph", imperial, 3.34, 90.0, 35, 5, "7 mph - 90\u00BA E", "elev. 115\u2032",
         "7 mph\n90\u00BA E", "115\u2032"},
        {"imperial, no altitude", imperial, 3.34, 180.0, 35, 0, "7 mph - 180\u00BA S", "-",
         "7 mph\n180\u00BA S", "n/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Locale::setCurrentForTesting(c.locale);
        const platform::CLLocation location({60.1699, 24.9384}, c.altitude, 10, c.verticalAccuracy, c.course,
                                            c.speed, platform::Date{700000000.0});
        EXPECT_EQ(QuovaUserLocationModel::speedStringFor(location, true), c.simpleSpeed);
        EXPECT_EQ(QuovaUserLocationModel::altitudeStringFor(location, true).value_or("-"), c.simpleAltitude);
        EXPECT_EQ(QuovaUserLocationModel::speedStringFor(location, false), c.speed2);
        EXPECT_EQ(QuovaUserLocationModel::altitudeStringFor(location, false).value_or("-"), c.altitude2);
    }
    Locale::setCurrentForTesting(std::nullopt);
}

class UserLocationModelTest : public LocationUITest {
  protected:
    void SetUp() override {
        LocationUITest::SetUp();
        map_ = std::make_unique<platform::MKMapViewModel>();
        userLocation_ = map_->userLocation();
        userLocation_->setSubtitle("(unknown speed/bearing)");
    }
    void TearDown() override {
        map_.reset();
        LocationUITest::TearDown();
    }

    void update() { model_->mapViewDidUpdate(*map_, userLocation_); }
    std::string subtitle() const { return userLocation_->subtitle(); }

    std::unique_ptr<platform::MKMapViewModel> map_;
    std::shared_ptr<platform::MKUserLocation> userLocation_;
};

TEST_F(UserLocationModelTest, UpdatesWriteTheBestKnownLocationNotTheMapsFix) {
    update();  // no best known location: nothing
    EXPECT_EQ(subtitle(), "(unknown speed/bearing)");
    EXPECT_FALSE(model_->isSubtitleClearingTimerRunning());

    bestKnown_ = fix(3.34, 90, 35);
    update();
    EXPECT_EQ(subtitle(), "12 km/h - 90\u00BA E - elev. 35m");
    EXPECT_TRUE(model_->isSubtitleClearingTimerRunning());
    bestKnown_ = fix(3.34, 90, 35, 0);
    update();
    EXPECT_EQ(subtitle(), "12 km/h - 90\u00BA E");
}

TEST_F(UserLocationModelTest, NegativeSpeedShowsUnknownAndStartsNoTimer) {
    for (const bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "extended" : "standard");
        setExtendedDisplay(extended);
        auto view = model_->mapViewViewForUserLocation(*map_, userLocation_);
        userLocation_->setSubtitle("12 km/h");
        bestKnown_ = fix(-1, 90, 35);
        update();
        EXPECT_EQ(subtitle(), "(unknown speed/bearing)");
        EXPECT_FALSE(model_->isSubtitleClearingTimerRunning());
        if (extended) {
            EXPECT_EQ(view->detailAccessoryView()->firstLineText()->text(), QStringLiteral("n/a"));
        }
    }
}

TEST_F(UserLocationModelTest, TextsStayAtFiveSecondsAndResetAfterwards) {
    bestKnown_ = fix(3.34, 90, 35);
    update();  // t = 0: the timer starts, firing every second
    environment_.advance(5.0);
    EXPECT_EQ(subtitle(), "12 km/h - 90\u00BA E - elev. 35m") << "exactly 5.0 s old keeps the texts";
    EXPECT_TRUE(model_->isSubtitleClearingTimerRunning());
    environment_.advance(1.0);
    EXPECT_EQ(subtitle(), "(unknown speed/bearing)");
    EXPECT_FALSE(model_->isSubtitleClearingTimerRunning());

    // The next update starts it again; an update 0.9 s into a period makes the
    // texts 5.1 s old at a firing.
    update();
    EXPECT_TRUE(model_->isSubtitleClearingTimerRunning());
    environment_.advance(0.9);
    update();
    environment_.advance(4.1);  // fired at +1 … +5: at most 4.1 s old
    EXPECT_EQ(subtitle(), "12 km/h - 90\u00BA E - elev. 35m");
    environment_.advance(1.0);  // fired at +6: 5.1 s old
    EXPECT_EQ(subtitle(), "(unknown speed/bearing)");
    EXPECT_FALSE(model_->isSubtitleClearingTimerRunning());
    environment_.advance(10);
    EXPECT_EQ(subtitle(), "(unknown speed/bearing)");
}

TEST_F(UserLocationModelTest, ExtendedViewIsKeptAndFilledAndResetToNotAvailable) {
    setExtendedDisplay(true);
    auto view = model_->mapViewViewForUserLocation(*map_, userLocation_);
    const std::string key = userLocation_->description();
    EXPECT_TRUE(logged("using key " + key + " to store annotationView in cache"));
    EXPECT_EQ(view->reuseIdentifier(), "USER_LOCATION");
    EXPECT_EQ(view->userLocation(), userLocation_);
    EXPECT_EQ(model_->cachedViewForUserLocation(*userLocation_), view);
    auto* detail = view->detailAccessoryView();
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(detail->firstLineText()->text(), QStringLiteral("n/a"));
    EXPECT_EQ(detail->secondLineText()->text(), QStringLiteral("n/a"));

    bestKnown_ = fix(3.34, 90, 35);
    update();
    EXPECT_TRUE(logged("found QuovaUserLocationView using key " + key));
    EXPECT_EQ(detail->firstLineText()->text(), QStringLiteral("12 km/h\n90\u00BA E"));
    EXPECT_EQ(detail->secondLineText()->text(), QStringLiteral("35m"));
    EXPECT_EQ(subtitle(), "(unknown speed/bearing)") << "the extended style leaves the subtitle alone";

    bestKnown_ = fix(3.34, 90, 35, 0);
    update();
    EXPECT_EQ(detail->secondLineText()->text(), QStringLiteral("n/a"));
    environment_.advance(6);
    EXPECT_EQ(detail->firstLineText()->text(), QStringLiteral("n/a"));
    EXPECT_FALSE(model_->isSubtitleClearingTimerRunning());
}

TEST_F(UserLocationModelTest, ExtendedStyleSwitchedOnLaterWritesTheSubtitle) {
    auto view = model_->mapViewViewForUserLocation(*map_, userLocation_);  // standard: not kept
    EXPECT_EQ(view->detailAccessoryView(), nullptr);
    EXPECT_EQ(model_->cachedViewForUserLocation(*userLocation_), nullptr);
    setExtendedDisplay(true);
    bestKnown_ = fix(3.34, 90, 35);
    log_.clear();
    update();
    EXPECT_TRUE(logged("NO QuovaUserLocationView in cache for key " + userLocation_->description() + "."));
    EXPECT_EQ(subtitle(), "12 km/h - 90\u00BA E - elev. 35m");
    // The timer's reset then writes the subtitle too.
    environment_.advance(6);
    EXPECT_EQ(subtitle(), "(unknown speed/bearing)");
}

TEST_F(UserLocationModelTest, ReplacedViewGoingAwayLateLeavesTheLiveEntry) {
    setExtendedDisplay(true);
    auto older = model_->mapViewViewForUserLocation(*map_, userLocation_);
    auto live = model_->mapViewViewForUserLocation(*map_, userLocation_);
    EXPECT_EQ(model_->cachedViewForUserLocation(*userLocation_), live);
    log_.clear();
    older.reset();  // e.g. leaving a reuse queue after the new view was made
    EXPECT_EQ(model_->cachedViewForUserLocation(*userLocation_), live);
    EXPECT_FALSE(
        logged("using key " + userLocation_->description() + " to remove annotationView from cache"));

    bestKnown_ = fix(3.34, 90, 35);
    update();
    EXPECT_EQ(live->detailAccessoryView()->firstLineText()->text(), QStringLiteral("12 km/h\n90\u00BA E"));
    EXPECT_EQ(subtitle(), "(unknown speed/bearing)");

    // The live view going away takes its key with it.
    live.reset();
    EXPECT_TRUE(logged("using key " + userLocation_->description() + " to remove annotationView from cache"));
    EXPECT_EQ(model_->cachedViewForUserLocation(*userLocation_), nullptr);
    update();
    EXPECT_EQ(subtitle(), "12 km/h - 90\u00BA E - elev. 35m");
}

TEST_F(UserLocationModelTest, KeysAreTheUserLocationsDescription) {
    const platform::MKMapViewModel other;
    const std::string key = userLocation_->description();
    EXPECT_EQ(key.rfind("<MKUserLocation: 0x", 0), 0u) << key;
    EXPECT_EQ(key.back(), '>');
    EXPECT_NE(key, other.userLocation()->description());
    EXPECT_EQ(key, userLocation_->description());
}

}  // namespace
}  // namespace location_ui_test
