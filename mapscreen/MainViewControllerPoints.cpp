// The map screen's points: every road by which a new point reaches the map
// (long press, dropped pin, short link, another screen), the alarm circles,
// the circle around the user, the zoom to a point, the reverse geocoding of
// a new point's address, and what the store's change notification removes.
#include <cmath>
#include <string>

#include "backend/QuovaAnalytics.hpp"
#include "location/QuovaPinCircleOverlay.hpp"
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/PointsOnMapRules.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/CLError.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/AlertController.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "points/WriteFailure.hpp"

namespace tervolo::mapscreen {

namespace {

using points::QuovaMapPoint;
using points::QuovaMapPointStore;
using PointPtr = std::shared_ptr<QuovaMapPoint>;

// A view point as the platform prints one: "(12.5, 40.0)".
std::string pointText(QPointF point) {
    std::string text = "(";
    text += platform::text::describe(point.x());
    text += ", ";
    text += platform::text::describe(point.y());
    text += ")";
    return text;
}

std::string quoted(const std::string& text) {
    // Texts from links and servers: one line, whatever they hold.
    return logging::debugQuoted(text);
}

std::string placemarkText(const platform::CLPlacemark& placemark) {
    std::string text = placemark.name.value_or("(no name)");
    for (const auto& line : placemark.formattedAddressLines()) text += ", " + line;
    return text;
}

bool isStillValid(const QuovaMapPoint& point) {
    return !point.deletedAt() && !point.hiddenAt();
}

// ["key": "text", "other": <value>], "nil" without entries.
std::string userInfoText(const platform::NotificationCenter::UserInfo& userInfo) {
    if (userInfo.empty()) return "nil";
    std::string text = "[";
    for (const auto& [key, value] : userInfo) {
        if (text.size() > 1) text += ", ";
        const auto* string = std::any_cast<std::string>(&value);
        text += quoted(key) + ": " + (string != nullptr ? quoted(*string) : std::string("<value>"));
    }
    return text + "]";
}

size_t overlayCount(const platform::MKMapViewModel& map) {
    // Counted per level: overlays() would copy every overlay for a number.
    return map.overlaysInLevel(platform::MKOverlayLevel::AboveRoads).size() +
           map.overlaysInLevel(platform::MKOverlayLevel::AboveLabels).size();
}

}  // namespace

// ---- Set-up when the view loads

void MainViewController::installMapLongPress() {
    if (!mapView_) return;
    mapView_->longPressRecognizer().action = [weak = weakSelf()](platform::MKGestureState state, QPointF at) {
        if (auto self = weak.lock()) self->longPressRecognized(state, at);
    };
}

void MainViewController::putStoredPointsOnMap() {
    const auto valid = QuovaMapPointStore::shared().validPointsWithFilter(std::nullopt);
    std::string status;
    if (valid.empty()) {
        trackEvent("pointCount", {{"count", "0"}});
        importLegacyDataFromDefaults();
        status = "No valid points found on disk - importing from defaults.";
    } else {
        status = "Found " + std::to_string(valid.size()) + " valid points on disk.";
        trackEvent("pointCount", {{"count", std::to_string(valid.size())}});
        addAnnotations(valid);
    }
    QLLogInfo(status);
    trackEvent("pointLoadingFinished", {{"status", status}});
}

void MainViewController::observeMapPointChanges() {
    points_.mapPointChangeObservation = platform::NotificationCenter::defaultCenter().addObserver(
        QuovaMapPointStore::kMapPointChangeNotification, nullptr,
        [weak = weakSelf()](const platform::NotificationCenter::Notification& notification) {
            if (auto self = weak.lock()) self->mapPointChangeNotificationHandler(notification);
        });
}

void MainViewController::trackEvent(const std::string& name,
                                    const std::map<std::string, std::string>& properties) {
    if (services_.trackEvent) {
        services_.trackEvent(name, properties);
    } else {
        backend::QuovaAnalytics::shared().trackEvent(name, properties);
    }
}

// ---- New points

void MainViewController::longPressRecognized(platform::MKGestureState state, QPointF viewPoint) {
    switch (state) {
        case platform::MKGestureState::Began:
            break;
        case platform::MKGestureState::Ended:
        case platform::MKGestureState::Cancelled:
            QLLogInfo("longPressRecognized(_:), state: recognized / ended / cancelled");
            points_.longPressFeedbackGenerator = nullptr;
            return;
        default:
            QLLogInfo("longPressRecognized(_:), state: other");
            return;
    }
    QLLogInfo("longPressRecognized(_:), state: began");
    points_.longPressFeedbackGenerator = std::make_shared<platform::NotificationFeedbackGenerator>();
    points_.longPressFeedbackGenerator->prepare();

    const platform::CLLocationCoordinate2D coordinate =
        mapView_ ? mapView_->convertPoint({viewPoint.x(), viewPoint.y()})
                 : platform::kCLLocationCoordinate2DInvalid;
    if (!mapView_ || !platform::CLLocationCoordinate2DIsValid(coordinate)) {
        QLLogInfo("long press recognized at " + pointText(viewPoint) +
                  ", but coordinates were invalid. Skipping this gesture.");
        points_.longPressFeedbackGenerator = nullptr;
        return;
    }
    QLLogInfo("long press recognized at " + pointText(viewPoint) + " - this equals " +
              platform::text::describe(coordinate.latitude) + " / " +
              platform::text::describe(coordinate.longitude));
    auto point = QuovaMapPoint::make(points::newLocationTitle());
    point->setCoordinate(coordinate);
    const bool stored = storeAndShowNewPoint(point);
    if (points_.longPressFeedbackGenerator) {
        points_.longPressFeedbackGenerator->notificationOccurred(
            stored ? platform::NotificationFeedbackGenerator::FeedbackType::success
                   : platform::NotificationFeedbackGenerator::FeedbackType::error);
    } else {
        QLLogDebug("feedback generator was already nil when trying to provide feedback!");
    }
}

void MainViewController::dropPinAtLocation(platform::CLLocationCoordinate2D coordinate,
                                           std::optional<std::string> title) {
    QLLogInfo("dropPinAtLocation(coordinate:title:) received coordinates " +
              quoted(platform::text::describe(coordinate.latitude) + ", " +
                     platform::text::describe(coordinate.longitude)));
    // A pin nowhere would be saved, stored and shown nowhere: refused like a
    // long press off the world.
    if (!platform::CLLocationCoordinate2DIsValid(coordinate)) {
        QLLogInfo("dropPinAtLocation(coordinate:title:): invalid coordinates - no point is stored.");
        return;
    }
    auto point = QuovaMapPoint::make(points::newLocationTitle());
    if (title && !title->empty()) point->setTitle(std::move(title));
    point->setCoordinate(coordinate);
    storeAndShowNewPoint(point);
}

void MainViewController::handleIncomingShorturl(const points::Shorturl& shorturl) {
    QLLogInfo("handleIncomingShorturl(shorturl:) received shorturl " + quoted(shorturl.title));
    auto point = QuovaMapPoint::make(shorturl);
    if (!point) {
        QLLogInfo("can't create point from shorturl " + quoted(shorturl.title) + " - invalid data.");
        return;
    }
    if (!proximityCheckPassedForPoint(point)) return;
    // The link's title is the sender's choice: reverse geocoding keeps it.
    point->setHasHandcraftedTitle(true);
    storeAndShowNewPoint(point);
}

bool MainViewController::proximityCheckPassedForPoint(const std::shared_ptr<points::QuovaMapPoint>& point) {
    if (!point) return false;
    const auto nearby = QuovaMapPointStore::shared().validPointsWithinDistance(kProximityDistance, *point);
    if (nearby.empty()) return true;
    const PointPtr nearest = nearby.front();
    auto alert = platform::AlertController::make(
        platform::localizedString("Can't store new location"),
        platform::localizedString("You already have a location stored right here."),
        platform::AlertController::Style::alert);
    alert->addAction(platform::AlertAction::make(platform::localizedString("Show Me"),
                                                 platform::AlertAction::Style::defaultValue,
                                                 [weak = weakSelf(), nearest] {
                                                     QLLogInfo("Show Me Button");
                                                     auto self = weak.lock();
                                                     if (!self) return;
                                                     self->zoomInOnPoint(nearest);
                                                     self->selectPointOnMap(nearest, true);
                                                 }));
    alert->addAction(platform::AlertAction::make(platform::localizedString("Never Mind"),
                                                 platform::AlertAction::Style::defaultValue,
                                                 [] { QLLogInfo("Never Mind Button"); }));
    present(alert, true, [] { QLLogInfo("Display alert animation completed."); });
    return false;
}

bool MainViewController::storeAndShowNewPoint(const std::shared_ptr<points::QuovaMapPoint>& point) {
    auto& store = QuovaMapPointStore::shared();
    point->save(store);
    if (auto error = store.addPoint(point)) {
        // A pin shown for a point that is not on disk would be gone at the
        // next start without a word: no pin, and the user is told.
        QLLogInfo("new point not stored: " + error->fullDescription());
        presentNewLocationNotSaved(*error);
        return false;
    }
    addPoint(point);
    zoomInOnPoint(point);
    return true;
}

void MainViewController::presentNewLocationNotSaved(const platform::Error& error) {
    presentLocationNotSaved(error, "The new location was not added to the map.");
}

void MainViewController::presentLocationNotSaved(const platform::Error& error, const char* outcome) {
    auto alert = platform::AlertController::make(
        platform::localizedString("Location Not Saved"),
        points::writeFailureReason(error) + " " + platform::localizedString(outcome),
        platform::AlertController::Style::alert);
    alert->addAction(
        platform::AlertAction::make(platform::localizedString("OK"), platform::AlertAction::Style::cancel));
    present(alert, true);
}

void MainViewController::handleIncomingUUID(const std::string& uuid) {
    QLLogInfo("handleIncomingUUID(uuid:) received UUID " + quoted(uuid));
    PointPtr found;
    for (const auto& point : QuovaMapPointStore::shared().points()) {
        if (point->uuid() == uuid) found = point;
    }
    if (!found) return;
    zoomInOnPoint(found);
    // The selection waits for the next turn of the main queue rather than
    // for a pause of the thread.
    platform::DispatchQueue::main()->async([weak = weakSelf(), found] {
        if (auto self = weak.lock()) self->selectPointOnMap(found, true);
    });
}

void MainViewController::selectPointOnMap(const std::shared_ptr<points::QuovaMapPoint>& point,
                                          bool animated) {
    if (!mapView_) return;
    const auto annotation = QuovaMapPointAnnotation::forPoint(point);
    if (!mapView_->containsAnnotation(annotation.get())) {
        // A deleted or hidden point is not on the map; the zoom still shows where it was.
        QLLogInfo("point not on map: " + logging::debugQuoted(point->description()));
        return;
    }
    mapView_->selectAnnotation(annotation, animated);
}

// ---- On the map

void MainViewController::addPoint(const std::shared_ptr<points::QuovaMapPoint>& point) {
    QLLogInfo("addPoint(_:)");
    if (!point) return;
    if (!point->title()) {
        QLLogInfo("can't add point w/o title to map");
        return;
    }
    QLLogInfo("adding " + logging::debugQuoted(point->description()) + " to map & selecting this point");
    addAnnotation(point);
    selectPointOnMap(point, true);
    if (point->subtitle() && !point->subtitle()->empty()) return;
    startReverseGeocodingForPoint(point);
}

void MainViewController::addAnnotation(const std::shared_ptr<points::QuovaMapPoint>& point) {
    if (!point || !mapView_) return;
    mapView_->addAnnotation(QuovaMapPointAnnotation::forPoint(point));
    addHalo(point);
}

void MainViewController::addAnnotations(const std::vector<std::shared_ptr<points::QuovaMapPoint>>& points) {
    if (!mapView_) return;
    std::vector<std::shared_ptr<platform::MKAnnotation>> pins;
    pins.reserve(points.size());
    for (const auto& point : points) {
        if (point) pins.push_back(QuovaMapPointAnnotation::forPoint(point));
    }
    // All the stored pins in one insertion: the map grows its tables and
    // hears of the change once, not once per pin.
    mapView_->addAnnotations(pins);
    for (const auto& point : points) {
        if (point) addHalo(point);
    }
}

void MainViewController::addHalo(const std::shared_ptr<points::QuovaMapPoint>& point) {
    const auto radius = point->alarmCircleDiameter();
    if (!radius || !(*radius > 0.0)) return;
    // The map refuses the pin of a point nowhere; its circle would be drawn
    // around the invalid coordinate.
    if (!platform::CLLocationCoordinate2DIsValid(point->coordinate())) return;
    QLLogDebug("adding point " + logging::debugQuoted(point->title().value_or("")) + " with radius " +
               platform::text::describe(*radius) + " meters");
    auto halo = std::make_shared<location::QuovaPinCircleOverlay>(point->coordinate(), *radius);
    halo->setPointUUID(point->uuid());
    // On top of everything above the labels.
    mapView_->insertOverlay(halo, overlayCount(*mapView_), platform::MKOverlayLevel::AboveLabels);
}

std::shared_ptr<platform::MKOverlay> MainViewController::haloForPoint(
    const std::shared_ptr<points::QuovaMapPoint>& point) const {
    if (!point || !mapView_) return nullptr;
    // The map's index answers what a walk over its overlays would: the
    // first circle of this identifier in draw order.
    return mapView_->firstOverlayWithLookupKey(location::QuovaPinCircleOverlay::lookupKeyFor(point->uuid()));
}

void MainViewController::removeHaloFromPoint(const std::shared_ptr<points::QuovaMapPoint>& point) {
    const auto halo = haloForPoint(point);
    if (!halo) return;
    QLLogDebug("found halo for point " + logging::debugQuoted(point->title().value_or("")) + " - removing");
    mapView_->removeOverlay(halo);
}

void MainViewController::refreshCircleOverlayForUserLocation() {
    const double radius = points::QuovaUserDefaults::shared().userLocationRadius().value_or(0.0);
    std::shared_ptr<location::QuovaUserLocationCircleOverlay> old;
    if (mapView_) {
        old = std::dynamic_pointer_cast<location::QuovaUserLocationCircleOverlay>(
            mapView_->firstOverlayWithLookupKey(location::QuovaUserLocationCircleOverlay::kLookupKey));
    }
    const auto userLocation = mapView_ ? mapView_->userLocation()->location() : std::nullopt;
    if (old) {
        QLLogDebug("found old halo for user location");
        // No radius (0, negative or unreadable): no circle.
        if (!(radius > 0.0)) {
            mapView_->removeOverlay(old);
            return;
        }
        // An unknown distance (no fix, an invalid position) never keeps it.
        if (userLocation && radius == old->radius() &&
            userLocation->distance(platform::CLLocation(
                old->coordinate().latitude, old->coordinate().longitude)) < kUserCircleMoveTolerance) {
            return;
        }
    }
    if (!(radius > 0.0) || !mapView_ || !userLocation) return;
    QLLogDebug("adding new halo to user location");
    auto circle =
        std::make_shared<location::QuovaUserLocationCircleOverlay>(userLocation->coordinate(), radius);
    // The new one goes on before the old one comes off, so the map never shows none.
    mapView_->insertOverlay(circle, overlayCount(*mapView_), platform::MKOverlayLevel::AboveLabels);
    if (old) mapView_->removeOverlay(old);
}

void MainViewController::zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>& point) {
    QLLogInfo("zoomInOnPoint(_:)");
    if (!point || !platform::CLLocationCoordinate2DIsValid(point->coordinate())) {
        QLLogInfo("Can't zoom in on point with invalid coordinates");
        return;
    }
    QLLogInfo("Zooming in on " + logging::debugQuoted(point->description()));
    tracking_.userWantsToZoomInOnUserLocation = false;
    std::optional<platform::MKCoordinateRegion> visible;
    if (mapView_) {
        visible = platform::MKCoordinateRegionForMapRect(mapView_->visibleMapRect());
        const auto target = platform::MKCoordinateRegionMakeWithDistance(
            point->coordinate(), kPointZoomDistance, kPointZoomDistance);
        if (visible->span.latitudeDelta < target.span.latitudeDelta ||
            visible->span.longitudeDelta < target.span.longitudeDelta) {
            QLLogInfo("Zooming in not necessary - map is already zoomed in. Just setting center coordinate.");
        }
    }
    const platform::MKMapRect rect = zoomMapRectForPoint(point->coordinate(), visible);
    if (mapView_) mapView_->setVisibleMapRect(rect, true);
}

// ---- Reverse geocoding

void MainViewController::startReverseGeocodingForPoint(const std::shared_ptr<points::QuovaMapPoint>& point) {
    reverseGeocode(point, 1);
}

void MainViewController::reverseGeocode(const std::shared_ptr<points::QuovaMapPoint>& point, int attempt) {
    QLLogInfo("startReverseGeocodingForPoint(_:)");
    if (!point || !platform::CLLocationCoordinate2DIsValid(point->coordinate())) {
        QLLogInfo("Can't reverse geocode point with invalid coordinates");
        return;
    }
    QLLogInfo("trying to reverse geocode location of " + logging::debugQuoted(point->description()));
    const uint64_t request = ++points_.nextReverseGeocoding;
    auto geocoder = std::make_shared<platform::CLGeocoder>();
    points_.reverseGeocoders.emplace(request, geocoder);
    geocoder->reverseGeocodeLocation(
        platform::CLLocation(point->coordinate().latitude, point->coordinate().longitude),
        [weak = weakSelf(), point, attempt, request](
            std::optional<std::vector<platform::CLPlacemark>> placemarks,
            std::optional<platform::Error> error) {
            auto self = weak.lock();
            if (!self) return;
            // The geocoder has answered: it goes (safe inside its own completion).
            self->points_.reverseGeocoders.erase(request);
            self->reverseGeocodingFinished(point, attempt, placemarks, error);
        });
}

void MainViewController::reverseGeocodingFinished(
    const std::shared_ptr<points::QuovaMapPoint>& point, int attempt,
    const std::optional<std::vector<platform::CLPlacemark>>& placemarks,
    const std::optional<platform::Error>& error) {
    const bool noResult = error && error->domain == platform::CLError::domain &&
                          error->code == platform::CLError::geocodeFoundNoResult;
    if (error && !noResult) {
        QLLogInfo("ReverseGeocoder returned error for point " + logging::debugQuoted(point->description()) +
                  ": " + logging::debugQuoted(error->description));
        if (error->domain == platform::CLError::domain && error->code == platform::CLError::geocodeCanceled)
            return;
        // Offline the service keeps failing: a few spaced-out tries, and none
        // for a point the user has deleted or hidden meanwhile.
        if (attempt >= kReverseGeocodingAttempts) {
            QLLogInfo("giving up reverse geocoding for point " + logging::debugQuoted(point->description()) +
                      " after " + std::to_string(attempt) + " attempts");
            return;
        }
        platform::DispatchQueue::main()->asyncAfter(
            reverseGeocodingRetryDelay(attempt), [weak = weakSelf(), point, attempt] {
                auto self = weak.lock();
                if (!self) return;
                if (!isStillValid(*point)) {
                    QLLogInfo("point " + logging::debugQuoted(point->description()) +
                              " was deleted or hidden - no more reverse "
                              "geocoding");
                    return;
                }
                self->reverseGeocode(point, attempt + 1);
            });
        return;
    }
    // "Found no result" is an answer, not a failure: nothing to retry.
    if (!placemarks || placemarks->empty()) {
        QLLogInfo("ReverseGeocoder returned zero hits for point " +
                  logging::debugQuoted(point->description()));
        return;
    }
    const platform::CLPlacemark& placemark = placemarks->front();
    QLLogInfo("ReverseGeocoder returned result for point " + logging::debugQuoted(point->description()) +
              ": " + logging::debugQuoted(placemarkText(placemark)));
    const ReverseGeocodedTexts texts = reverseGeocodedTexts(*point, placemark, points::newLocationTitle());
    if (texts.title) {
        QLLogInfo("Storing title for point " + logging::debugQuoted(point->description()));
        point->setTitle(texts.title);
    }
    if (texts.subtitle) {
        QLLogInfo("Storing subtitle for point " + logging::debugQuoted(point->description()));
        point->setSubtitle(texts.subtitle);
    }
    if (!texts.changesSomething()) return;
    point->save(QuovaMapPointStore::shared());
    if (!mapView_) return;
    // An open callout of this point shows the new texts.
    const auto selected = mapView_->selectedAnnotations();
    if (selected.size() != 1) return;
    const auto shown = QuovaMapPointAnnotation::pointFor(selected.front());
    if (shown && shown->uuid() == point->uuid()) {
        shown->setTitle(point->title());
        shown->setSubtitle(point->subtitle());
        mapView_->annotationChanged(selected.front());
    }
}

// ---- The store's changes

void MainViewController::mapPointChangeNotificationHandler(
    const platform::NotificationCenter::Notification& notification) {
    // The object comes untyped: it is a point only when it is one of the store's.
    PointPtr point;
    if (notification.object) {
        for (const auto& stored : QuovaMapPointStore::shared().points()) {
            if (stored.get() == notification.object.get()) point = stored;
        }
    }
    QLLogInfo("point: " + (point ? logging::debugQuoted(point->description()) : std::string("nil")) +
              " - userInfo: " + userInfoText(notification.userInfo));
    const auto found = notification.userInfo.find(QuovaMapPointStore::kMapPointChangeReasonKey);
    const std::string* reason =
        found == notification.userInfo.end() ? nullptr : std::any_cast<std::string>(&found->second);
    if (reason == nullptr) {
        QLLogInfo("notification w/o key received, nothing to do");
        return;
    }
    if (*reason == QuovaMapPointStore::kMapPointDeletedReason) {
        QLLogInfo("notification with mapPointDeleted received");
        if (!point) {
            QLLogInfo("point is nil, nothing to do");
            return;
        }
        if (!mapView_) return;
        mapView_->removeAnnotation(QuovaMapPointAnnotation::forPoint(point));
        // The circle goes with its pin: a deleted point's alarm circle would
        // stay drawn, and a restored one would get a second.
        removeHaloFromPoint(point);
    } else if (*reason == QuovaMapPointStore::kMapPointHiddenReason) {
        QLLogInfo("notification with mapPointHidden received");
    } else {
        QLLogInfo("notification with unknown changeReason received, nothing to do");
    }
}

}  // namespace tervolo::mapscreen
