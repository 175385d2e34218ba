#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Date.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/mapkit/MKUserLocation.hpp"
#include "platform/text/Locale.hpp"

namespace platform {
class Timer;
}

namespace tervolo::location {

class QuovaUserLocationView;

// The user's own position on the main map: makes its annotation view, keeps
// the views of the extended display in a table, writes the callout's texts
// from the location services' best known location on every user-location
// update of the map, and resets them when no update came for more than 5.0 s.
//
// Two callout styles, chosen by the user default
// "useExtendedUserLocationDisplay" (read on every update): the standard style
// writes one subtitle line ("12 km/h - 90º E - elev. 35 m") into the user
// location; the extended style shows a DetailAccessoryView with the speed and
// course on the first line and the altitude on the second. After a text
// change the map re-reads the callout (annotationChanged).
//
// The table of views is keyed by the user location's description() and holds
// the views weakly; a view that goes away takes its key out only while the
// table still holds that very view, so an older view leaving a reuse queue
// late does not drop the entry of the live one.
//
// Main thread only (the map's delegate calls, the 1 s staleness timer on the
// main queue, the views' hit tests).
class QuovaUserLocationModel {
  public:
    using BestKnownLocationProvider = std::function<std::optional<platform::CLLocation>()>;

    static constexpr const char* kReuseIdentifier = "USER_LOCATION";
    static constexpr const char* kUseExtendedUserLocationDisplayKey = "useExtendedUserLocationDisplay";
    // Seconds without an update after which the texts are reset (exactly this
    // long keeps them), and the staleness timer's period.
    static constexpr double kStaleAfter = 5.0;
    static constexpr double kStalenessCheckInterval = 1.0;

    // Made on first use, reading the shared location services.
    static QuovaUserLocationModel& shared();

    // A model reading `bestKnownLocation` (tests put one in place of the
    // shared model with platform::SharedInstance's replaceForTesting).
    explicit QuovaUserLocationModel(BestKnownLocationProvider bestKnownLocation);
    ~QuovaUserLocationModel();
    QuovaUserLocationModel(const QuovaUserLocationModel&) = delete;
    QuovaUserLocationModel& operator=(const QuovaUserLocationModel&) = delete;

    // The map asks for the view of the user location: a new view every time
    // (reuse identifier "USER_LOCATION"); in the extended style with a
    // DetailAccessoryView reading "n/a" twice, and kept in the table.
    std::shared_ptr<QuovaUserLocationView> mapViewViewForUserLocation(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotation>& userLocation);
    // The map reported a new user position: the callout's texts from the best
    // known location, and the staleness timer (re)started; nothing without a
    // best known location; "(unknown speed/bearing)" and no timer for a
    // negative speed.
    void mapViewDidUpdate(platform::MKMapViewModel& mapView,
                          const std::shared_ptr<platform::MKUserLocation>& userLocation);

    // The speed (km/h, or the locale's unit) and, for a course above 0, the
    // course in degrees with its compass point: simple mode "12 km/h - 90º E",
    // otherwise "12 km/h\n90º E".
    static std::string speedStringFor(const platform::CLLocation& location, bool simpleMode);
    // The altitude in metres, or in feet where the locale does not use the
    // metric system: simple mode "elev. 35 m", otherwise "35 m". Without a
    // vertical accuracy: none in simple mode, otherwise "n/a".
    static std::optional<std::string> altitudeStringFor(const platform::CLLocation& location,
                                                        bool simpleMode);

    // Given a user location (an update): notes the time and the location and
    // starts the repeating 1 s timer unless it runs. Given none (the timer's
    // check): when the last update is more than 5.0 s old, resets the texts of
    // the last user location and stops the timer.
    void triggerSubtitleClearingForUserLocation(
        const std::shared_ptr<platform::MKUserLocation>& userLocation);
    // Back to "n/a" in the extended view, else to the "(unknown speed/bearing)"
    // subtitle.
    void clearAdditionalLocationInfoFor(const std::shared_ptr<platform::MKUserLocation>& userLocation);
    // Takes the user location's key out of the table. With `view` given (a
    // view going away) only while the table holds that very view.
    void invalidateViewForUserLocation(const platform::MKUserLocation& userLocation,
                                       const QuovaUserLocationView* view = nullptr);

    // The view kept under the user location's key, if it is still alive.
    std::shared_ptr<QuovaUserLocationView> cachedViewForUserLocation(
        const platform::MKUserLocation& userLocation) const;
    // Whether the staleness timer runs.
    bool isSubtitleClearingTimerRunning() const { return subtitleClearingTimer_ != nullptr; }

  private:
    struct CachedView {
        std::weak_ptr<QuovaUserLocationView> view;
        // Which view the entry is, also once it is going away (the weak
        // pointer then no longer tells).
        const QuovaUserLocationView* identity = nullptr;
    };

    static bool usesExtendedDisplay();
    platform::Date lastUserLocationUpdate();
    // The map that showed the user location last (to re-read the callout when
    // the timer resets the texts); only a map widget, whose going away we see.
    void rememberMap(platform::MKMapViewModel& mapView);
    void mapReReads(const std::shared_ptr<platform::MKUserLocation>& userLocation);

    // speedStringFor for the map's updates: a fix with the speed and course of the last one, in the
    // same locale, shows the text made for it then (fixes that change nothing on screen format
    // nothing and log nothing).
    std::string shownSpeedText(const platform::CLLocation& location, bool simpleMode);
    struct ShownSpeed {
        double speed = 0;
        double course = 0;
        bool simpleMode = false;
        platform::text::Locale locale;
        std::string text;
    };
    std::optional<ShownSpeed> lastSpeedText_;

    BestKnownLocationProvider bestKnownLocation_;
    std::map<std::string, CachedView> userLocationViews_;
    std::optional<platform::Date> lastUserLocationUpdate_;
    std::shared_ptr<platform::MKUserLocation> lastUserLocation_;
    std::shared_ptr<platform::Timer> subtitleClearingTimer_;
    QPointer<QObject> mapObject_;
    platform::MKMapViewModel* map_ = nullptr;
};

}  // namespace tervolo::location
