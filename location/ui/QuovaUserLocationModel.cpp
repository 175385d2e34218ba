#include "location/ui/QuovaUserLocationModel.hpp"

#include <cmath>
#include <cstdio>

#include "geodesy/DoubleQuovaAdditions.hpp"
#include "location/QuovaLocationServices.hpp"
#include "location/ui/DetailAccessoryView.hpp"
#include "location/ui/QuovaUserLocationView.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/MeasurementFormatter.hpp"
#include "points/AppTextsAndColors.hpp"

namespace tervolo::location {

namespace {

// The course's unit sign: the masculine ordinal indicator, as the callout has
// always shown it, not the degree sign.
constexpr const char* kCourseSign = "\u00BA";

std::string notAvailableText() {
    return platform::localizedString("n/a");
}

// `format` with its one "%@" replaced by `value`.
std::string filled(const std::string& format, const std::string& value) {
    std::string text = format;
    if (const auto at = text.find("%@"); at != std::string::npos) text.replace(at, 2, value);
    return text;
}

std::string wholeDegrees(double degrees) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.0f", degrees);
    return buffer;
}

void showNotAvailable(DetailAccessoryView& detail) {
    detail.firstLineText()->setText(QString::fromStdString(notAvailableText()));
    detail.invalidateIntrinsicContentSize();
    detail.setSecondLine(notAvailableText());
}

}  // namespace

QuovaUserLocationModel& QuovaUserLocationModel::shared() {
    return platform::SharedInstance<QuovaUserLocationModel>::get([] {
        return new QuovaUserLocationModel([] { return QuovaLocationServices::shared().bestKnownLocation(); });
    });
}

QuovaUserLocationModel::QuovaUserLocationModel(BestKnownLocationProvider bestKnownLocation)
    : bestKnownLocation_(std::move(bestKnownLocation)) {
    QLLogDebug("Initializing user location model.");
}

QuovaUserLocationModel::~QuovaUserLocationModel() {
    if (subtitleClearingTimer_) subtitleClearingTimer_->invalidate();
}

bool QuovaUserLocationModel::usesExtendedDisplay() {
    return platform::UserDefaults::standard().boolValue(kUseExtendedUserLocationDisplayKey).value_or(false);
}

platform::Date QuovaUserLocationModel::lastUserLocationUpdate() {
    if (!lastUserLocationUpdate_) lastUserLocationUpdate_ = platform::Date::now();
    return *lastUserLocationUpdate_;
}

void QuovaUserLocationModel::rememberMap(platform::MKMapViewModel& mapView) {
    if (auto* object = dynamic_cast<QObject*>(&mapView)) {
        mapObject_ = object;
        map_ = &mapView;
    }
}

void QuovaUserLocationModel::mapReReads(const std::shared_ptr<platform::MKUserLocation>& userLocation) {
    if (mapObject_ && map_ != nullptr) map_->annotationChanged(userLocation);
}

std::shared_ptr<QuovaUserLocationView> QuovaUserLocationModel::mapViewViewForUserLocation(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotation>& userLocation) {
    rememberMap(mapView);
    auto view = std::make_shared<QuovaUserLocationView>(userLocation, kReuseIdentifier);
    if (usesExtendedDisplay()) {
        auto* detail = new DetailAccessoryView();
        detail->setAnnotation(userLocation);
        detail->firstLineText()->setText(QString::fromStdString(notAvailableText()));
        detail->invalidateIntrinsicContentSize();
        detail->setSecondLine(notAvailableText());
        view->setDetailCalloutAccessoryView(std::make_shared<platform::MKCalloutAccessoryWidget>(detail));
        const std::string key = userLocation->description();
        QLLogDebug("using key " + key + " to store annotationView in cache");
        userLocationViews_[key] = CachedView{view, view.get()};
    }
    return view;
}

void QuovaUserLocationModel::mapViewDidUpdate(platform::MKMapViewModel& mapView,
                                              const std::shared_ptr<platform::MKUserLocation>& userLocation) {
    if (!userLocation) return;
    rememberMap(mapView);
    // The texts describe the best known location, not the map's own fix.
    const auto location = bestKnownLocation_ ? bestKnownLocation_() : std::nullopt;
    if (!location) return;
    if (location->speed() < 0) {
        userLocation->setSubtitle(points::unknownSpeedBearingText());
        mapView.annotationChanged(userLocation);
        return;
    }
    if (usesExtendedDisplay()) {
        const std::string key = userLocation->description();
        if (auto view = cachedViewForUserLocation(*userLocation)) {
            QLLogDebug("found QuovaUserLocationView using key " + key);
            if (DetailAccessoryView* detail = view->detailAccessoryView()) {
                detail->firstLineText()->setText(QString::fromStdString(shownSpeedText(*location, false)));
                detail->invalidateIntrinsicContentSize();
                detail->setSecondLine(altitudeStringFor(*location, false).value_or(notAvailableText()));
                mapView.annotationChanged(userLocation);
                triggerSubtitleClearingForUserLocation(userLocation);
                return;
            }
        } else {
            QLLogDebug("NO QuovaUserLocationView in cache for key " + key + ".");
        }
    }
    std::string subtitle = shownSpeedText(*location, true);
    if (const auto altitude = altitudeStringFor(*location, true)) subtitle += " - " + *altitude;
    userLocation->setSubtitle(subtitle);
    mapView.annotationChanged(userLocation);
    triggerSubtitleClearingForUserLocation(userLocation);
}

std::string QuovaUserLocationModel::speedStringFor(const platform::CLLocation& location, bool simpleMode) {
    const double kilometresPerHour = location.speed() * 3600.0 / 1000.0;
    const platform::text::Locale locale = platform::text::Locale::current();
    QLLogDebug("Locale: " + locale.description());
    std::string text = platform::text::formatSpeed(kilometresPerHour, locale);
    if (location.course() > 0.0) {
        std::string course = (simpleMode ? " - " : "\n") + wholeDegrees(location.course()) + kCourseSign;
        if (const auto compass = geodesy::bearingDescription(location.course())) course += " " + *compass;
        text += course;
    }
    return text;
}

std::string QuovaUserLocationModel::shownSpeedText(const platform::CLLocation& location, bool simpleMode) {
    const platform::text::Locale locale = platform::text::Locale::current();
    if (lastSpeedText_ && lastSpeedText_->speed == location.speed() &&
        lastSpeedText_->course == location.course() && lastSpeedText_->simpleMode == simpleMode &&
        lastSpeedText_->locale == locale) {
        return lastSpeedText_->text;
    }
    std::string text = speedStringFor(location, simpleMode);
    lastSpeedText_ = ShownSpeed{location.speed(), location.course(), simpleMode, locale, text};
    return text;
}

std::optional<std::string> QuovaUserLocationModel::altitudeStringFor(const platform::CLLocation& location,
                                                                     bool simpleMode) {
    if (location.verticalAccuracy() <= 0.0) {
        if (simpleMode) return std::nullopt;
        return notAvailableText();
    }
    const std::string altitude = platform::text::formatAltitude(location.altitude());
    return filled(platform::localizedString(simpleMode ? "elev. %@" : "%@"), altitude);
}

void QuovaUserLocationModel::triggerSubtitleClearingForUserLocation(
    const std::shared_ptr<platform::MKUserLocation>& userLocation) {
    if (userLocation) {
        lastUserLocationUpdate_ = platform::Date::now();
        lastUserLocation_ = userLocation;
        if (!subtitleClearingTimer_) {
            // The model outlives its timer: the destructor stops it.
            subtitleClearingTimer_ = platform::Timer::scheduled(
                kStalenessCheckInterval, true,
                [this](platform::Timer&) { triggerSubtitleClearingForUserLocation(nullptr); });
        }
        return;
    }
    if (!lastUserLocation_) return;
    const double age = std::fabs(platform::Date::now().timeIntervalSince(lastUserLocationUpdate()));
    if (age > kStaleAfter) {
        clearAdditionalLocationInfoFor(lastUserLocation_);
        if (subtitleClearingTimer_) subtitleClearingTimer_->invalidate();
        subtitleClearingTimer_.reset();
    }
}

void QuovaUserLocationModel::clearAdditionalLocationInfoFor(
    const std::shared_ptr<platform::MKUserLocation>& userLocation) {
    if (!userLocation) return;
    if (auto view = cachedViewForUserLocation(*userLocation)) {
        QLLogDebug("found QuovaUserLocationView using key " + userLocation->description());
        if (DetailAccessoryView* detail = view->detailAccessoryView()) {
            showNotAvailable(*detail);
            mapReReads(userLocation);
            return;
        }
    }
    userLocation->setSubtitle(points::unknownSpeedBearingText());
    mapReReads(userLocation);
}

void QuovaUserLocationModel::invalidateViewForUserLocation(const platform::MKUserLocation& userLocation,
                                                           const QuovaUserLocationView* view) {
    const std::string key = userLocation.description();
    const auto found = userLocationViews_.find(key);
    if (view != nullptr && (found == userLocationViews_.end() || found->second.identity != view)) {
        // A view replaced by a newer one under the same key: the entry is the
        // newer view's.
        return;
    }
    QLLogDebug("using key " + key + " to remove annotationView from cache");
    if (found != userLocationViews_.end()) userLocationViews_.erase(found);
}

std::shared_ptr<QuovaUserLocationView> QuovaUserLocationModel::cachedViewForUserLocation(
    const platform::MKUserLocation& userLocation) const {
    const auto found = userLocationViews_.find(userLocation.description());
    return found == userLocationViews_.end() ? nullptr : found->second.view.lock();
}

}  // namespace tervolo::location
