// The map screen's my-location button and the following of the user's
// position: the one-shot zoom of a tap with the location-access flow, the
// tracking mode a long press cycles, and the subscription that moves the map
// at each accepted fix.

#include <QString>

#include <algorithm>
#include <cmath>
#include <string>

#include "logging/QLLogging.hpp"
#include "mapscreen/CenterButton.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/UserTrackingModeTexts.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/LongPressGestureRecognizer.hpp"
#include "platform/ui/OpenURL.hpp"
#include "platform/ui/TapGestureRecognizer.hpp"
#include "widgets/hud/HUD.hpp"

namespace tervolo::mapscreen {

namespace {

// The information-dictionary key naming the desktop's location settings
// page. A desktop has no one address for it, so it is empty by default and a
// deployment that has one sets it.
constexpr const char* kLocationSettingsURLKey = "QuovaLocationSettingsURL";

// Degrees of latitude per metre, near enough for sizing the map around a fix.
constexpr double kMetresPerDegree = 111000.0;
// The accuracy radius times this many fits into the wanted span; a span never
// shows less than 200 m.
constexpr double kSpanPerAccuracy = 35.0;
constexpr double kMinimumSpanMetres = 200.0;
// A span within this factor of the wanted one is kept; only the centre moves.
constexpr double kSpanTolerance = 2.5;
constexpr double kLongPressDuration = 0.7;  // seconds
// Seconds between an alert's choice and what follows it (the next alert, the
// settings address), so the first alert has gone.
constexpr double kAlertFollowUpDelay = 0.3;

// How the button treats an authorisation status. Restricted (no position
// service on this machine, or a policy) never changes on its own, so it is no
// reason to wait: it is treated as denied, but without leading the user to
// settings that cannot change it.
enum class Access { undecided, authorized, denied, restricted };

Access accessFor(platform::CLAuthorizationStatus status) {
    switch (status) {
        case platform::CLAuthorizationStatus::authorizedAlways:
        case platform::CLAuthorizationStatus::authorizedWhenInUse:
            return Access::authorized;
        case platform::CLAuthorizationStatus::denied:
            return Access::denied;
        case platform::CLAuthorizationStatus::restricted:
            return Access::restricted;
        case platform::CLAuthorizationStatus::notDetermined:
            break;
    }
    return Access::undecided;
}

// Read afresh wherever needed: the button's drawing reads the same default.
int64_t storedTrackingMode() {
    return platform::UserDefaults::standard().integerValue(CenterButton::kTrackingModeKey).value_or(0);
}

void requestWhenInUseAuthorization(const std::shared_ptr<location::QuovaLocationServices>& services) {
    if (!services) return;
    const auto& burst = services->burstLocationManager();
    if (burst && burst->manager) burst->manager->requestWhenInUseAuthorization();
}

}  // namespace

MainViewTracking::Subscription::~Subscription() {
    // A screen that goes takes its following with it.
    if (!subscription) return;
    if (auto owner = services.lock()) owner->unsubscribe(*subscription);
}

std::shared_ptr<location::QuovaLocationServices> MainViewController::locationServices() const {
    if (services_.locationServices) return services_.locationServices();
    return location::QuovaLocationServices::shared().shared_from_this();
}

void MainViewController::installMyLocationRecognizers() {
    QWidget* button = myLocationButton();
    if (button == nullptr) return;
    const auto self = std::static_pointer_cast<MainViewController>(shared_from_this());
    const std::weak_ptr<MainViewController> weak = self;
    const std::weak_ptr<platform::GestureRecognizerDelegate> delegate = self;

    auto* tap = new platform::TapGestureRecognizer([weak](platform::GestureRecognizer& recognizer) {
        if (auto screen = weak.lock()) screen->myLocationTapRecognized(recognizer);
    });
    tap->setNumberOfTapsRequired(1);
    tap->setDelegate(delegate);
    platform::addGestureRecognizer(button, tap);
    tracking_.locationTapRecognizer = tap;

    auto* press = new platform::LongPressGestureRecognizer([weak](platform::GestureRecognizer& recognizer) {
        if (auto screen = weak.lock()) screen->myLocationLongPressRecognized(recognizer);
    });
    press->setMinimumPressDuration(kLongPressDuration);
    press->setDelegate(delegate);
    platform::addGestureRecognizer(button, press);
    tracking_.locationLongPressRecognizer = press;
}

// ---- The tap: one zoom onto the user's position

void MainViewController::myLocationTapRecognized(platform::GestureRecognizer& recognizer) {
    switch (recognizer.state()) {
        case platform::GestureRecognizer::State::Began:
            QLLogInfo("myLocationTapRecognized(_:), state: began");
            break;
        case platform::GestureRecognizer::State::Ended:
            QLLogInfo("myLocationTapRecognized(_:), state: recognized");
            centerButtonPressed(myLocationButton());
            break;
        case platform::GestureRecognizer::State::Cancelled:
            QLLogInfo("myLocationTapRecognized(_:), state: recognized / ended / cancelled");
            break;
        default:
            QLLogInfo("myLocationTapRecognized(_:), state: other");
            break;
    }
}

void MainViewController::centerButtonPressed(QWidget*) {
    QLLogInfo("centerButtonPressed");
    if (QWidget* button = myLocationButton()) {
        platform::Animator::animate(kFadeDuration, [button] { platform::setAlpha(button, 1.0); });
    }
    const auto services = locationServices();
    switch (accessFor(services_.authorizationStatus())) {
        case Access::undecided:
            requestWhenInUseAuthorization(services);
            centerIfAuthorized();
            break;
        case Access::authorized:
            tracking_.userWantsToZoomInOnUserLocation = true;
            if (mapView_) mapView_->setShowsUserLocation(true);
            zoomInOnUserLocation();
            break;
        case Access::denied:
            askUserToAllowLocationAccessInSettings();
            break;
        case Access::restricted:
            QLLogInfo("location access is restricted on this machine, ignoring button");
            break;
    }
}

void MainViewController::centerIfAuthorized() {
    QLLogInfo("centerIfAuthorized");
    (void)locationServices();
    const platform::Date now = platform::Date::now();
    // One chain of polls at a time: a press while one runs joins it.
    if (!tracking_.authorizationPollStartedAt) tracking_.authorizationPollStartedAt = now;
    switch (accessFor(services_.authorizationStatus())) {
        case Access::undecided: {
            if (now.timeIntervalSince(*tracking_.authorizationPollStartedAt) >= kAuthorizationPollLimit) {
                QLLogInfo("location auth still unclear after 60 s, no longer waiting for a decision");
                tracking_.authorizationPollStartedAt.reset();
                return;
            }
            QLLogInfo("location auth still unclear, will retry in a bit");
            if (tracking_.authorizationPollScheduled) return;
            tracking_.authorizationPollScheduled = true;
            platform::DispatchQueue::main()->asyncAfter(kAuthorizationPollInterval, [weak = weakSelf()] {
                auto self = weak.lock();
                if (!self) return;
                self->tracking_.authorizationPollScheduled = false;
                if (self->tracking_.authorizationPollStartedAt) self->centerIfAuthorized();
            });
            return;
        }
        case Access::denied:
            tracking_.authorizationPollStartedAt.reset();
            QLLogInfo("location auth has just been denied, ignoring button");
            return;
        case Access::restricted:
            tracking_.authorizationPollStartedAt.reset();
            QLLogInfo("location access is restricted on this machine, ignoring button");
            return;
        case Access::authorized:
            tracking_.authorizationPollStartedAt.reset();
            if (QWidget* button = myLocationButton()) centerButtonPressed(button);
            return;
    }
}

void MainViewController::zoomInOnUserLocation() {
    QLLogInfo("* entering zoomInOnUserLocation()");
    if (!tracking_.userWantsToZoomInOnUserLocation) {
        QLLogInfo("map moved manually - nothing to do");
        return;
    }
    const auto services = locationServices();
    const auto location = services ? services->bestKnownLocation() : std::nullopt;
    if (!location) {
        scheduleUserZoomRetry();
        return;
    }
    if (!mapView_) return;

    const platform::MKCoordinateRegion region = mapView_->region();
    const double accuracy = location->horizontalAccuracy();
    const double wantedSpan =
        std::max(accuracy * kSpanPerAccuracy / kMetresPerDegree, kMinimumSpanMetres / kMetresPerDegree);
    double targetSpan = wantedSpan;
    // The longitude span is compared in degrees as it stands: a map wider
    // than 2.5° is always zoomed.
    if (region.span.latitudeDelta / wantedSpan <= kSpanTolerance &&
        region.span.longitudeDelta <= kSpanTolerance) {
        QLLogInfo("span is OK, just setting map center coordinate");
        targetSpan = region.span.latitudeDelta;
    } else {
        QLLogInfo("current map span is way off, setting ...");
    }

    platform::MKMapCamera camera = mapView_->camera();
    const double currentSpan = mapView_->region().span.latitudeDelta;
    const double distance = targetSpan / currentSpan * camera.centerCoordinateDistance;
    // Stamped before the camera moves: the map tells its delegate that the
    // region will change from inside the setter, and the delegate must see
    // this move as the program's, not the user's.
    const platform::Date now = platform::Date::now();
    tracking_.programmaticRegionChangeAt = now.unixTime();
    tracking_.manuallyZoomedAt = now;
    if (currentSpan > 0 && std::isfinite(distance) && distance > 0) {
        camera.centerCoordinate = location->coordinate();
        camera.centerCoordinateDistance = distance;
        mapView_->setCamera(camera, true);
    } else {
        // A map without a size shows no span to scale from.
        QLLogInfo("map span unusable, leaving the camera alone");
    }

    if (accuracy <= kSufficientAccuracy) return;
    QLLogInfo("accuracy NOT yet sufficient, scheduling zoomInOnUserLocation() again to ask for better data");
    scheduleUserZoomRetry();
}

void MainViewController::scheduleUserZoomRetry() {
    // Taps while a retry waits share it rather than starting more retries.
    if (tracking_.userZoomRetryPending) return;
    tracking_.userZoomRetryPending = true;
    platform::DispatchQueue::main()->asyncAfter(kUserZoomRetryInterval, [weak = weakSelf()] {
        auto self = weak.lock();
        if (!self) return;
        self->tracking_.userZoomRetryPending = false;
        self->zoomInOnUserLocation();
    });
}

void MainViewController::userMovedMap() {
    tracking_.userWantsToZoomInOnUserLocation = false;
}

// ---- Access alerts

void MainViewController::askUserToAllowLocationAccessInSettings() {
    auto alert = platform::AlertController::make(
        platform::localizedString("Location Access Needed"),
        platform::localizedString("To show your location, please grant Tervolo location access in Settings."),
        platform::AlertController::Style::alert);
    alert->addAction(
        platform::AlertAction::make(platform::localizedString("Cancel"), platform::AlertAction::Style::cancel,
                                    [] { QLLogInfo("Access to location needed: cancel button"); }));
    alert->addAction(platform::AlertAction::make(
        platform::localizedString("Allow Location Use in Settings"),
        platform::AlertAction::Style::defaultValue, [weak = weakSelf()] {
            QLLogInfo("Access to location needed: allow button");
            platform::DispatchQueue::main()->asyncAfter(kAlertFollowUpDelay, [weak] {
                if (auto self = weak.lock()) self->openLocationSettingsAfterInfoScreen();
            });
        }));
    present(alert, true);
}

void MainViewController::openLocationSettingsAfterInfoScreen() {
    auto alert = platform::AlertController::make(
        platform::localizedString("Please Note"),
        platform::localizedString(
            "iOS has TWO distinct settings for location access - system-wide and app-specific. You'll "
            "be taken to Tervolo's settings screen. If you find location settings greyed here, you "
            "need to enable location services for your device first (Settings / Privacy)."),
        platform::AlertController::Style::alert);
    alert->addAction(platform::AlertAction::make(
        platform::localizedString("Go to Settings"), platform::AlertAction::Style::defaultValue, [] {
            QLLogInfo("Access to location info view: allow button");
            platform::DispatchQueue::main()->asyncAfter(kAlertFollowUpDelay, [] {
                const std::string url =
                    platform::Bundle::main().infoString(kLocationSettingsURLKey).value_or("");
                if (url.empty()) {
                    QLLogInfo(std::string("no location settings address set (") + kLocationSettingsURLKey +
                              "), nothing to open");
                    return;
                }
                platform::OpenURL::open(url);
            });
        }));
    present(alert, true);
}

// ---- The long press: the tracking mode

void MainViewController::myLocationLongPressRecognized(platform::GestureRecognizer& recognizer) {
    switch (recognizer.state()) {
        case platform::GestureRecognizer::State::Began:
            QLLogInfo("myLocationLongPressRecognized(_:), state: began");
            myLocationLongPressBegan();
            break;
        case platform::GestureRecognizer::State::Ended:
            QLLogInfo("myLocationLongPressRecognized(_:), state: recognized");
            points_.longPressFeedbackGenerator.reset();
            break;
        case platform::GestureRecognizer::State::Cancelled:
            QLLogInfo("myLocationLongPressRecognized(_:), state: ended / cancelled");
            points_.longPressFeedbackGenerator.reset();
            break;
        default:
            QLLogInfo("myLocationLongPressRecognized(_:), state: other");
            break;
    }
}

void MainViewController::myLocationLongPressBegan() {
    const auto services = locationServices();
    switch (accessFor(services_.authorizationStatus())) {
        case Access::undecided:
            requestWhenInUseAuthorization(services);
            return;
        case Access::denied:
            askUserToAllowLocationAccessInSettings();
            return;
        case Access::restricted:
            QLLogInfo("location access is restricted on this machine, ignoring long press");
            return;
        case Access::authorized:
            break;
    }
    const int64_t mode = setKeepMapCentered(true, true);
    if (mode == 1 || mode == 2) subscribeToLocationUpdatesForUserTracking();
    points_.longPressFeedbackGenerator = std::make_shared<platform::NotificationFeedbackGenerator>();
    points_.longPressFeedbackGenerator->prepare();
    points_.longPressFeedbackGenerator->notificationOccurred(
        platform::NotificationFeedbackGenerator::FeedbackType::success);
}

void MainViewController::myLocationAlternateActivated() {
    QLLogInfo("myLocationAlternateActivated()");
    myLocationLongPressBegan();
    points_.longPressFeedbackGenerator.reset();
}

int64_t MainViewController::setKeepMapCentered(bool toggle, bool shouldShowHUD) {
    const int64_t stored = storedTrackingMode();
    int64_t mode = stored;
    if (toggle) {
        // Compared unsigned: a negative stored value counts as above 2.
        switch (static_cast<uint64_t>(stored)) {
            case 0:
                mode = 1;
                break;
            case 1:
                mode = 2;
                break;
            default:
                mode = 0;
                break;
        }
    }
    const auto trackingMode = static_cast<platform::MKUserTrackingMode>(mode);
    QLLogDebug("userTrackingMode is now " + mapscreen::title(trackingMode));
    if (shouldShowHUD) {
        const auto content = widgets::hud::HUDContentType::labeledSuccess(
            platform::localizedString("Tracking Mode"), description(trackingMode));
        if (services_.flashHUD) {
            services_.flashHUD(content, kTrackingHUDDelay);
        } else {
            widgets::hud::HUD::flash(content, nullptr, kTrackingHUDDelay);
        }
    }
    platform::UserDefaults::standard().set(CenterButton::kTrackingModeKey, platform::PropertyValue(mode));
    if (QWidget* button = myLocationButton()) button->update();
    return mode;
}

void MainViewController::subscribeToLocationUpdatesForUserTracking() {
    const auto services = locationServices();
    if (tracking_.keepCenteredSubscription.subscription) {
        QLLogDebug("already subscribed to location updates - unsubscribing");
        if (auto owner = tracking_.keepCenteredSubscription.services.lock())
            owner->unsubscribe(*tracking_.keepCenteredSubscription.subscription);
        tracking_.keepCenteredSubscription.subscription.reset();
    }
    if (!services) return;
    QLLogDebug("subscribing to location updates for userTracking");
    // The service holds the screen weakly: a screen that goes ends its
    // subscription (at the latest at the next fix).
    tracking_.keepCenteredSubscription.subscription = services->subscribe(
        [weak = weakSelf()](const platform::CLLocation& location, const std::optional<std::string>& guid) {
            return trackingCallback(weak, location, guid);
        });
    tracking_.keepCenteredSubscription.services = services;
}

bool MainViewController::trackingCallback(const std::weak_ptr<MainViewController>& weak,
                                          const platform::CLLocation& location,
                                          const std::optional<std::string>& guid) {
    QLLogDebug("location callback called for userTrackingMode");
    const auto self = weak.lock();
    if (!self) return true;
    const int64_t mode = storedTrackingMode();
    if (mode == 0) {
        // Leaving the mode ends the subscription lazily, at the next fix.
        QLLogDebug("unsubscribing from location updates for userTracking");
        auto& current = self->tracking_.keepCenteredSubscription.subscription;
        if (current && (!guid || current->guid == *guid)) current.reset();
        return true;
    }
    if (self->tracking_.manuallyZoomedAt) {
        const double since = self->tracking_.manuallyZoomedAt->timeIntervalSince(platform::Date::now());
        if (since <= -kManualZoomGrace || std::isnan(since)) {
            self->tracking_.manuallyZoomedAt.reset();
        } else {
            QLLogDebug("skipping location update, user just zoomed manually");
            return false;
        }
    }
    QuovaMKMapView* map = self->mapView_;
    if (map == nullptr) return false;
    if (mode == 1) {
        map->setCenterCoordinate(location.coordinate(), true);
    } else if (mode == 2) {
        platform::MKMapCamera camera = map->camera();
        // An unknown course (negative) keeps the map turned as it is.
        if (location.course() >= 0) camera.heading = location.course();
        camera.centerCoordinate = location.coordinate();
        map->setCamera(camera, true);
    }
    return false;
}

void MainViewController::resumeUserTrackingAfterRestore() {
    const int64_t mode = storedTrackingMode();
    if (mode != 1 && mode != 2) return;
    zoomInOnUserLocation();
    const uint64_t generation = ++tracking_.resumeGeneration;
    platform::DispatchQueue::main()->asyncAfter(kResumeTrackingDelay, [weak = weakSelf(), generation] {
        auto self = weak.lock();
        if (!self || self->tracking_.resumeGeneration != generation) return;
        self->setKeepMapCentered(false, true);
        self->subscribeToLocationUpdatesForUserTracking();
    });
}

}  // namespace tervolo::mapscreen
