// The my-location button and the following of the user's position, on
// virtual time: the tap's zoom with its authorisation flow, the long press's
// tracking modes, the following itself and its resumption at launch.

#include <QTest>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TrackingTestSupport.hpp"
#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/FeedbackGenerator.hpp"
#include "platform/ui/LongPressGestureRecognizer.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/PresentationRecorder.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "platform/ui/ViewController.hpp"

namespace tracking_test {
namespace {

using platform::CLAuthorizationStatus;
using platform::GestureRecognizer;
using platform::PropertyValue;

constexpr double kWantedSpanPerMetre = 35.0 / 111000.0;

class MainViewControllerTrackingTest : public TrackingTest {
  protected:
    void longPress() {
        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Began);
        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Ended);
    }
    std::optional<std::string> subscriptionGuid() const {
        const auto& subscription = controller_->keepCenteredSubscription();
        return subscription ? std::optional<std::string>(subscription->guid) : std::nullopt;
    }
    double cameraDistance() const { return controller_->mapView()->camera().centerCoordinateDistance; }
};

// ---- The button and its recognisers

TEST_F(MainViewControllerTrackingTest, LoadPutsATapAndALongPressOnTheButtonThatRunTogether) {
    auto screen = show();
    auto* tap = dynamic_cast<platform::TapGestureRecognizer*>(screen->locationTapRecognizer());
    auto* press = dynamic_cast<platform::LongPressGestureRecognizer*>(screen->locationLongPressRecognizer());
    ASSERT_NE(tap, nullptr);
    ASSERT_NE(press, nullptr);
    EXPECT_EQ(tap->view(), screen->myLocationButton());
    EXPECT_EQ(press->view(), screen->myLocationButton());
    EXPECT_EQ(tap->numberOfTapsRequired(), 1);
    EXPECT_DOUBLE_EQ(press->minimumPressDuration(), 0.7);
    EXPECT_TRUE(screen->shouldRecognizeSimultaneously(*tap, *press));

    // A click zooms once; it never changes the mode.
    QTest::mouseClick(screen->myLocationButton(), Qt::LeftButton);
    platform::RunLoop::runUntilIdle();
    EXPECT_TRUE(screen->userWantsToZoomInOnUserLocation());
    EXPECT_EQ(storedMode(), std::nullopt);

    // Held for 0.7 s: the mode changes, and the press does not count as a tap too.
    screen->setUserWantsToZoomInOnUserLocation(false);
    QTest::mousePress(screen->myLocationButton(), Qt::LeftButton);
    advance(0.75);
    QTest::mouseRelease(screen->myLocationButton(), Qt::LeftButton);
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(storedMode(), 1);
    EXPECT_FALSE(screen->userWantsToZoomInOnUserLocation());
    EXPECT_EQ(screen->longPressFeedbackGenerator(), nullptr);
}

// ---- The long press: tracking modes

TEST_F(MainViewControllerTrackingTest, LongPressCyclesTheStoredModeWithItsHUDAndSubscription) {
    struct Case {
        const char* name;
        std::optional<PropertyValue> stored;
        int64_t mode;
        const char* subtitle;
    };
    const Case cases[] = {
        {"0", PropertyValue(0), 1, "The map now keeps your location centered."},
        {"1", PropertyValue(1), 2, "The map now tracks your location & heading."},
        {"2", PropertyValue(2), 0, "The map won't follow your location any more."},
        {"7", PropertyValue(7), 0, "The map won't follow your location any more."},
        {"-1", PropertyValue(-1), 0, "The map won't follow your location any more."},
        {"absent", std::nullopt, 1, "The map now keeps your location centered."},
        {"text", PropertyValue("2"), 1, "The map now keeps your location centered."},
    };
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storeMode(c.stored);
        const auto guidBefore = subscriptionGuid();
        const uint64_t feedback = platform::NotificationFeedbackGenerator::notificationCount(
            platform::NotificationFeedbackGenerator::FeedbackType::success);
        fixture_->hudFlashes.clear();

        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Began);
        EXPECT_EQ(storedMode(), c.mode);
        ASSERT_EQ(fixture_->hudFlashes.size(), 1u);
        EXPECT_EQ(fixture_->hudFlashes[0].title, "Tracking Mode");
        EXPECT_EQ(fixture_->hudFlashes[0].subtitle, c.subtitle);
        EXPECT_DOUBLE_EQ(fixture_->hudFlashes[0].delay, 1.2);
        // The two following modes subscribe anew; leaving them keeps the old
        // subscription until the next fix.
        if (c.mode == 0) {
            EXPECT_EQ(subscriptionGuid(), guidBefore);
        } else {
            ASSERT_TRUE(subscriptionGuid());
            EXPECT_NE(subscriptionGuid(), guidBefore);
            EXPECT_EQ(services_->subscriptionCount(), 1u);
        }
        EXPECT_EQ(platform::NotificationFeedbackGenerator::notificationCount(
                      platform::NotificationFeedbackGenerator::FeedbackType::success),
                  feedback + 1);
        EXPECT_NE(controller_->longPressFeedbackGenerator(), nullptr);
        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Changed);
        EXPECT_NE(controller_->longPressFeedbackGenerator(), nullptr);
        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Ended);
        EXPECT_EQ(controller_->longPressFeedbackGenerator(), nullptr);
    }
}

TEST_F(MainViewControllerTrackingTest, AnnouncingWithoutTogglingKeepsAnyStoredValue) {
    show();
    for (const int64_t stored : {0, 1, 2, 7, -1}) {
        SCOPED_TRACE(stored);
        storeMode(PropertyValue(stored));
        fixture_->hudFlashes.clear();
        EXPECT_EQ(controller_->setKeepMapCentered(false, true), stored);
        EXPECT_EQ(storedMode(), stored);
        ASSERT_EQ(fixture_->hudFlashes.size(), 1u);
        if (stored < 0 || stored > 2) {
            EXPECT_EQ(fixture_->hudFlashes[0].subtitle, "none");
        }
        EXPECT_EQ(controller_->setKeepMapCentered(false, false), stored);
        EXPECT_EQ(fixture_->hudFlashes.size(), 1u);
    }
}

TEST_F(MainViewControllerTrackingTest, LongPressWithoutAccessLeavesTheModeAlone) {
    struct Case {
        CLAuthorizationStatus status;
        bool alert;
        bool requests;
    };
    const Case cases[] = {{CLAuthorizationStatus::notDetermined, false, true},
                          {CLAuthorizationStatus::denied, true, false},
                          {CLAuthorizationStatus::restricted, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        platform::CLLocationManager::resetAuthorizationForTesting();
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        fixture_->locationServices = services_;
        fixture_->authorization = c.status;
        show();
        platform::PresentationRecorder presentations;
        storeMode(PropertyValue(1));
        controller_->locationLongPressRecognizer()->simulateState(GestureRecognizer::State::Began);
        platform::RunLoop::runUntilIdle();
        EXPECT_EQ(storedMode(), 1);
        EXPECT_TRUE(fixture_->hudFlashes.empty());
        EXPECT_FALSE(controller_->keepCenteredSubscription());
        EXPECT_EQ(controller_->longPressFeedbackGenerator(), nullptr);
        const auto alert = presentations.topAlert();
        EXPECT_EQ(alert != nullptr, c.alert);
        if (alert) {
            EXPECT_EQ(alert->title(), "Location Access Needed");
        }
        // Undecided: the service's burst manager asks (a desktop answers at once).
        EXPECT_EQ(
            platform::CLLocationManager::authorizationStatus() == CLAuthorizationStatus::authorizedWhenInUse,
            c.requests);
        controller_.reset();
    }
}

TEST_F(MainViewControllerTrackingTest, LeavingFollowingUnsubscribesOnlyAtTheNextFix) {
    show();
    showRegion(60.0, 25.0, 0.05);
    storeMode(PropertyValue(2));
    controller_->subscribeToLocationUpdatesForUserTracking();
    const auto center = controller_->mapView()->centerCoordinate();
    longPress();
    EXPECT_EQ(storedMode(), 0);
    EXPECT_EQ(fixture_->hudFlashes.back().subtitle, "The map won't follow your location any more.");
    EXPECT_EQ(services_->subscriptionCount(), 1u);
    EXPECT_TRUE(controller_->keepCenteredSubscription());

    deliver(fix(60.01, 25.01));
    EXPECT_EQ(services_->subscriptionCount(), 0u);
    EXPECT_FALSE(controller_->keepCenteredSubscription());
    EXPECT_NEAR(controller_->mapView()->centerCoordinate().latitude, center.latitude, 1e-9);
}

// ---- Following

TEST_F(MainViewControllerTrackingTest, EachFixMovesTheMapByTheStoredMode) {
    struct Case {
        const char* name;
        int64_t mode;
        double course;
        bool moves;
        double heading;
    };
    const Case cases[] = {
        {"follow keeps the heading", 1, 90, true, 40},
        {"heading turns to the course", 2, 90, true, 90},
        // An unknown course must not turn the map to -1°.
        {"unknown course keeps the heading", 2, -1, true, 40},
        {"another stored value moves nothing", 7, 90, false, 40},
    };
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        showRegion(60.0, 25.0, 0.05);
        platform::MKMapCamera camera = controller_->mapView()->camera();
        camera.heading = 40;
        controller_->mapView()->setCamera(camera, false);
        storeMode(PropertyValue(c.mode));
        controller_->subscribeToLocationUpdatesForUserTracking();
        const auto before = controller_->mapView()->centerCoordinate();

        deliver(fix(60.02, 25.03, 5, c.course));
        const auto center = controller_->mapView()->centerCoordinate();
        EXPECT_NEAR(center.latitude, c.moves ? 60.02 : before.latitude, 1e-6);
        EXPECT_NEAR(center.longitude, c.moves ? 25.03 : before.longitude, 1e-6);
        EXPECT_NEAR(controller_->mapView()->heading(), c.heading, 1e-9);
        EXPECT_EQ(services_->subscriptionCount(), 1u);
    }
}

TEST_F(MainViewControllerTrackingTest, AZoomButtonSuspendsRecentringForOneSecond) {
    show();
    showRegion(60.0, 25.0, 0.05);
    storeMode(PropertyValue(1));
    controller_->subscribeToLocationUpdatesForUserTracking();
    controller_->zoomInButtonPressed(controller_->zoomInButton());
    const auto zoomedAt = controller_->manuallyZoomedAt();
    ASSERT_TRUE(zoomedAt);
    const double latitude = controller_->mapView()->centerCoordinate().latitude;

    advance(0.5);
    deliver(fix(60.01, 25.0));
    EXPECT_NEAR(controller_->mapView()->centerCoordinate().latitude, latitude, 1e-9);
    EXPECT_EQ(controller_->manuallyZoomedAt(), zoomedAt);

    advance(0.5);
    deliver(fix(60.02, 25.0));
    EXPECT_NEAR(controller_->mapView()->centerCoordinate().latitude, 60.02, 1e-6);
    EXPECT_FALSE(controller_->manuallyZoomedAt());
}

TEST_F(MainViewControllerTrackingTest, AScreenThatGoesEndsItsSubscription) {
    auto screen = fixture_->makeController();
    screen->view();
    storeMode(PropertyValue(1));
    screen->subscribeToLocationUpdatesForUserTracking();
    screen->subscribeToLocationUpdatesForUserTracking();
    EXPECT_EQ(services_->subscriptionCount(), 1u);
    screen.reset();
    platform::RunLoop::runUntilIdle();
    EXPECT_EQ(services_->subscriptionCount(), 0u);
    deliver(fix(60.0, 25.0));  // nothing left to call
}

// ---- The tap: one zoom onto the user's position

TEST_F(MainViewControllerTrackingTest, WantedSpanFitsTheAccuracyButNeverLessThan200Metres) {
    struct Case {
        double accuracy;
        double span;
    };
    const Case cases[] = {{3, 0.0018018018018018018},
                          {50, 0.015765765765765764},
                          {60, 0.01891891891891892},
                          {100, 0.03153153153153153}};
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accuracy);
        advance(20);  // the last fix is no longer the better one
        deliver(fix(60.0, 25.0, c.accuracy));
        ASSERT_EQ(services_->bestKnownLocation()->horizontalAccuracy(), c.accuracy);
        showRegion(60.0, 25.0, 3.0);  // far too wide: zoomed
        const double span = controller_->mapView()->region().span.latitudeDelta;
        const double distance = cameraDistance();
        controller_->centerButtonPressed(controller_->myLocationButton());
        EXPECT_NEAR(cameraDistance() / (c.span / span * distance), 1.0, 1e-9);
        EXPECT_NEAR(std::max(c.accuracy * kWantedSpanPerMetre, 200.0 / 111000.0), c.span, 1e-15);
        controller_->userMovedMap();
    }
}

TEST_F(MainViewControllerTrackingTest, AFittingSpanOnlyRecentresAndAWideOneZooms) {
    struct Case {
        const char* name;
        double accuracy;
        double mapLatitude;
        double latitudeSpan;
        bool zooms;
    };
    const Case cases[] = {
        // Wanted 0.0315°: 0.01° is within 2.5 times of it.
        {"0.01° around a 100 m fix", 100, 60.0, 0.01, false},
        {"3° around a 100 m fix", 100, 60.0, 3.0, true},
        // Wanted 0.315°: the latitude span fits either way, but the longitude
        // span is compared in degrees as it stands.
        {"narrow in longitude", 1000, 0.0, 0.7, false},
        {"more than 2.5° of longitude", 1000, 70.0, 0.7, true},
    };
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        advance(20);
        deliver(fix(c.mapLatitude + 0.001, 25.0, c.accuracy));
        showRegion(c.mapLatitude, 25.0, c.latitudeSpan);
        // The scene is what the case says: the latitude span within 2.5
        // times of the wanted one, and the longitude span past 2.5° only
        // where the case names it.
        const auto region = controller_->mapView()->region();
        const double wanted = c.accuracy * kWantedSpanPerMetre;
        ASSERT_EQ(region.span.latitudeDelta / wanted <= 2.5, c.latitudeSpan != 3.0);
        if (c.latitudeSpan != 3.0) {
            ASSERT_EQ(region.span.longitudeDelta > 2.5, c.zooms) << region.span.longitudeDelta;
        }
        const double distance = cameraDistance();
        controller_->centerButtonPressed(controller_->myLocationButton());
        const auto center = controller_->mapView()->centerCoordinate();
        EXPECT_NEAR(center.latitude, c.mapLatitude + 0.001, 1e-6);
        EXPECT_NEAR(center.longitude, 25.0, 1e-6);
        if (c.zooms) {
            EXPECT_LT(cameraDistance(), distance * 0.9);
        } else {
            EXPECT_NEAR(cameraDistance() / distance, 1.0, 1e-6);
        }
        controller_->userMovedMap();
    }
}

// The map tells its delegate about a camera move from inside the setter; the
// stamps must already be there for the delegate to see the program's move.
class WillChangeRecorder : public platform::MKMapViewDelegate {
  public:
    explicit WillChangeRecorder(MainViewController& screen) : screen_(screen) {}
    void regionWillChangeAnimated(platform::MKMapViewModel&, bool) override {
        stamps.push_back(screen_.programmaticRegionChangeAt());
        zoomStamps.push_back(screen_.manuallyZoomedAt());
    }
    std::vector<double> stamps;
    std::vector<std::optional<platform::Date>> zoomStamps;

  private:
    MainViewController& screen_;
};

TEST_F(MainViewControllerTrackingTest, TheZoomIsStampedBeforeTheCameraMoves) {
    show();
    deliver(fix(60.0, 25.0, 20));
    showRegion(50.0, 10.0, 3.0);
    auto recorder = std::make_shared<WillChangeRecorder>(*controller_);
    controller_->mapView()->setDelegate(recorder);
    controller_->centerButtonPressed(controller_->myLocationButton());
    ASSERT_EQ(recorder->stamps.size(), 1u);
    EXPECT_DOUBLE_EQ(recorder->stamps[0], now().unixTime());
    EXPECT_EQ(recorder->zoomStamps[0], now());
}

TEST_F(MainViewControllerTrackingTest, AnInexactFixIsRetriedEverySecondUntilGoodEnoughOrTheUserMoves) {
    show();
    showRegion(50.0, 10.0, 3.0);
    deliver(fix(60.0, 25.0, 60));
    const platform::Date start = now();
    controller_->centerButtonPressed(controller_->myLocationButton());
    EXPECT_EQ(controller_->manuallyZoomedAt(), start);
    advance(1);
    EXPECT_EQ(controller_->manuallyZoomedAt(), start.addingTimeInterval(1));
    advance(1.5);
    deliver(fix(60.001, 25.0, 40));
    advance(0.5);
    EXPECT_EQ(controller_->manuallyZoomedAt(), start.addingTimeInterval(3));
    EXPECT_NEAR(controller_->mapView()->centerCoordinate().latitude, 60.001, 1e-6);
    advance(3);
    EXPECT_EQ(controller_->manuallyZoomedAt(), start.addingTimeInterval(3));

    // A user move ends the retries.
    advance(20);
    deliver(fix(60.0, 25.0, 60));
    const platform::Date second = now();
    controller_->centerButtonPressed(controller_->myLocationButton());
    advance(1);
    EXPECT_EQ(controller_->manuallyZoomedAt(), second.addingTimeInterval(1));
    controller_->userMovedMap();
    advance(3);
    EXPECT_EQ(controller_->manuallyZoomedAt(), second.addingTimeInterval(1));
    EXPECT_GE(logCount("map moved manually - nothing to do"), 1u);
}

TEST_F(MainViewControllerTrackingTest, WithoutAKnownPositionTheZoomWaitsInSecondSteps) {
    show();
    showRegion(50.0, 10.0, 3.0);
    controller_->centerButtonPressed(controller_->myLocationButton());
    // Taps while a retry waits do not add retries of their own.
    controller_->centerButtonPressed(controller_->myLocationButton());
    EXPECT_TRUE(controller_->mapView()->showsUserLocation());
    EXPECT_FALSE(controller_->manuallyZoomedAt());
    advance(1);
    EXPECT_FALSE(controller_->manuallyZoomedAt());
    EXPECT_EQ(logCount("* entering zoomInOnUserLocation()"), 3u);
    deliver(fix(60.0, 25.0, 10));
    advance(1);
    EXPECT_EQ(controller_->manuallyZoomedAt(), now());
    EXPECT_NEAR(controller_->mapView()->centerCoordinate().latitude, 60.0, 1e-6);
}

// ---- Authorisation

TEST_F(MainViewControllerTrackingTest, AGrantAfterAnUndecidedPressReachesTheZoomWithin300ms) {
    fixture_->authorization = CLAuthorizationStatus::notDetermined;
    show();
    deliver(fix(60.0, 25.0, 20));
    showRegion(50.0, 10.0, 3.0);
    controller_->centerButtonPressed(controller_->myLocationButton());
    // The service's burst manager was asked (a desktop grants at once).
    EXPECT_EQ(platform::CLLocationManager::authorizationStatus(), CLAuthorizationStatus::authorizedWhenInUse);
    advance(0.5);
    EXPECT_FALSE(controller_->userWantsToZoomInOnUserLocation());
    fixture_->authorization = CLAuthorizationStatus::authorizedWhenInUse;
    const platform::Date decided = now();
    advance(0.3);
    EXPECT_TRUE(controller_->userWantsToZoomInOnUserLocation());
    ASSERT_TRUE(controller_->manuallyZoomedAt());
    EXPECT_LE(controller_->manuallyZoomedAt()->timeIntervalSince(decided), 0.3);
    EXPECT_NEAR(controller_->mapView()->centerCoordinate().latitude, 60.0, 1e-6);
}

TEST_F(MainViewControllerTrackingTest, OnePollChainAtATimeOnlyWhileUndecidedAndForAMinuteAtMost) {
    const std::string poll = "location auth still unclear, will retry in a bit";
    fixture_->authorization = CLAuthorizationStatus::notDetermined;
    show();
    platform::PresentationRecorder presentations;

    // Two presses, one chain: a poll for each press, then one every 0.3 s.
    controller_->centerButtonPressed(controller_->myLocationButton());
    advance(0.1);
    controller_->centerButtonPressed(controller_->myLocationButton());
    advance(2.85);
    EXPECT_EQ(logCount(poll), 11u);

    // The chain gives up after 60 s; a later press starts a new one.
    advance(60);
    EXPECT_EQ(logCount("location auth still unclear after 60 s, no longer waiting for a decision"), 1u);
    const size_t polls = logCount(poll);
    advance(3);
    EXPECT_EQ(logCount(poll), polls);
    controller_->centerButtonPressed(controller_->myLocationButton());
    advance(0.31);
    EXPECT_EQ(logCount(poll), polls + 2);

    // A refusal or a restriction ends it without an alert.
    for (const auto status : {CLAuthorizationStatus::denied, CLAuthorizationStatus::restricted}) {
        SCOPED_TRACE(static_cast<int>(status));
        fixture_->authorization = CLAuthorizationStatus::notDetermined;
        controller_->centerButtonPressed(controller_->myLocationButton());
        fixture_->authorization = status;
        advance(0.3);
        const size_t ended = logCount(poll);
        advance(2);
        EXPECT_EQ(logCount(poll), ended);
    }
    EXPECT_EQ(logCount("location auth has just been denied, ignoring button"), 1u);
    EXPECT_EQ(presentations.topAlert(), nullptr);

    // Restricted at the press: no chain, no alert, no zoom.
    const size_t before = logCount("centerIfAuthorized");
    controller_->centerButtonPressed(controller_->myLocationButton());
    advance(2);
    EXPECT_EQ(logCount("centerIfAuthorized"), before);
    EXPECT_EQ(presentations.topAlert(), nullptr);
    EXPECT_FALSE(controller_->userWantsToZoomInOnUserLocation());
}

TEST_F(MainViewControllerTrackingTest, DeniedAccessLeadsThroughTwoAlertsToTheSettingsAddress) {
    struct Case {
        const char* name;
        const char* address;  // the information-dictionary value; none: unset
        std::vector<std::string> opened;
    };
    const Case cases[] = {{"address set", "settings:location", {"settings:location"}},
                          {"no address", nullptr, {}}};
    fixture_->authorization = CLAuthorizationStatus::denied;
    show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.address != nullptr) {
            setenv("TERVOLO_QuovaLocationSettingsURL", c.address, 1);
        } else {
            unsetenv("TERVOLO_QuovaLocationSettingsURL");
        }
        platform::PresentationRecorder presentations;
        platform::OpenURLRecorder opened;
        controller_->centerButtonPressed(controller_->myLocationButton());
        platform::RunLoop::runUntilIdle();
        auto first = presentations.topAlert();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->title(), "Location Access Needed");
        EXPECT_EQ(first->message(),
                  "To show your location, please grant Tervolo location access in Settings.");
        EXPECT_EQ(presentations.actionTitles(),
                  (std::vector<std::string>{"Cancel", "Allow Location Use in Settings"}));
        EXPECT_EQ(first->actions()[0]->style(), platform::AlertAction::Style::cancel);
        ASSERT_TRUE(presentations.chooseAction("Allow Location Use in Settings"));
        advance(1);
        auto second = presentations.topAlert();
        ASSERT_NE(second, nullptr);
        EXPECT_EQ(second->title(), "Please Note");
        EXPECT_EQ(presentations.actionTitles(), std::vector<std::string>{"Go to Settings"});
        ASSERT_TRUE(presentations.chooseAction("Go to Settings"));
        EXPECT_TRUE(opened.urls().empty());  // a moment later
        advance(1);
        EXPECT_EQ(opened.urls(), c.opened);
    }
    unsetenv("TERVOLO_QuovaLocationSettingsURL");
    EXPECT_EQ(logCount("no location settings address set (QuovaLocationSettingsURL), nothing to open"), 1u);

    // Cancel only closes the alert.
    platform::PresentationRecorder presentations;
    controller_->centerButtonPressed(controller_->myLocationButton());
    platform::RunLoop::runUntilIdle();
    ASSERT_TRUE(presentations.chooseAction("Cancel"));
    advance(1);
    EXPECT_EQ(presentations.topAlert(), nullptr);
}

// ---- Resuming at launch

TEST_F(MainViewControllerTrackingTest, AStoredFollowingModeResumesOneSecondAfterLoading) {
    struct Case {
        const char* name;
        std::optional<PropertyValue> stored;
        const char* subtitle;  // none: nothing resumes
    };
    const Case cases[] = {{"follow", PropertyValue(1), "The map now keeps your location centered."},
                          {"heading", PropertyValue(2), "The map now tracks your location & heading."},
                          {"none", PropertyValue(0), nullptr},
                          {"absent", std::nullopt, nullptr},
                          {"other", PropertyValue(7), nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storeMode(c.stored);
        fixture_ = std::make_unique<tervolo::testsupport::MapScreenFixture>();
        fixture_->locationServices = services_;
        log_.clear();
        show();
        // The zoom runs at once but is not wanted without a press.
        EXPECT_EQ(logCount("map moved manually - nothing to do"), c.subtitle ? 1u : 0u);
        advance(0.99);
        EXPECT_TRUE(fixture_->hudFlashes.empty());
        EXPECT_FALSE(controller_->keepCenteredSubscription());
        advance(0.01);
        if (c.subtitle == nullptr) {
            EXPECT_TRUE(fixture_->hudFlashes.empty());
            EXPECT_FALSE(controller_->keepCenteredSubscription());
            continue;
        }
        ASSERT_EQ(fixture_->hudFlashes.size(), 1u);
        EXPECT_EQ(fixture_->hudFlashes[0].subtitle, c.subtitle);
        EXPECT_TRUE(controller_->keepCenteredSubscription());
        EXPECT_EQ(services_->subscriptionCount(), 1u);
        EXPECT_EQ(storedMode(), c.stored->asInteger());
        controller_.reset();
    }
}

TEST_F(MainViewControllerTrackingTest, ARestorationAfterLoadingResumesOnceNotTwice) {
    storeMode(PropertyValue(1));
    show();
    advance(0.5);
    controller_->decodeRestorableState(platform::RestorationCoder());
    advance(0.5);
    EXPECT_TRUE(fixture_->hudFlashes.empty());
    advance(0.5);
    EXPECT_EQ(fixture_->hudFlashes.size(), 1u);
    advance(3);
    EXPECT_EQ(fixture_->hudFlashes.size(), 1u);
    EXPECT_EQ(services_->subscriptionCount(), 1u);
}

}  // namespace
}  // namespace tracking_test
