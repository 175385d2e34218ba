#pragma once

// The map screen's state, one record per concern the screen's parts keep:
// the status line, following the user's position, restoring the screen at
// launch, the points on the map and the map delegate's own. The controller
// holds one of each; each part's file reads and writes its own record.

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "location/QuovaLocationServices.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/Timer.hpp"
#include "platform/location/CLGeocoder.hpp"
#include "platform/mapkit/MKAnnotationView.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/ui/FeedbackGenerator.hpp"
#include "platform/ui/GestureRecognizer.hpp"
#include "platform/ui/LayoutConstraint.hpp"

namespace tervolo::tiles {
class QuovaTileOverlayRendering;
}

namespace tervolo::mapscreen {

// The status line: its timer, how far it fades in, and a fade under way.
struct MainViewStatusLine {
    std::shared_ptr<platform::Timer> statusTimer;
    double statusLabelMaxAlpha = 1.0;
    // A fade of the status label under way and which flip it belongs to: a
    // newer flip wins over a fade still running.
    uint64_t statusFlip = 0;
    bool statusFadingOut = false;
    // The update alert's end of the program is on its way.
    bool quitScheduled = false;
};

// Following the user's position (the my-location button and its modes).
struct MainViewTracking {
    // Ends the following's subscription when the screen goes.
    struct Subscription {
        std::weak_ptr<location::QuovaLocationServices> services;
        std::optional<location::LocationSubscription> subscription;
        ~Subscription();
    };
    Subscription keepCenteredSubscription;
    bool userWantsToZoomInOnUserLocation = false;
    double programmaticRegionChangeAt = 0;
    std::optional<platform::Date> manuallyZoomedAt;
    QPointer<platform::GestureRecognizer> locationTapRecognizer;
    QPointer<platform::GestureRecognizer> locationLongPressRecognizer;
    // When the authorisation poll chain under way started, and whether its
    // next poll is scheduled.
    std::optional<platform::Date> authorizationPollStartedAt;
    bool authorizationPollScheduled = false;
    bool userZoomRetryPending = false;
    // A newer resume replaces one still waiting.
    uint64_t resumeGeneration = 0;
};

// Restoring the screen at launch: the decoded values waiting to be applied.
struct MainViewRestoration {
    bool restorationPending = false;
    std::optional<platform::MKMapRect> restoredRect;
    std::optional<std::string> restoredAnnotationID;
    std::optional<std::string> restoredSearchString;
    std::optional<std::string> restoredMapStyle;
    // While the restored selection is made: the map delegate leaves the
    // restored rect as it is instead of zooming to the point.
    bool selectingRestoredPoint = false;
    // A restored rect that came before the map was shown.
    std::optional<platform::MKMapRect> rectAwaitingAppearance;
};

// The points on the map: the long press's feedback, the store's changes
// observed, and the reverse geocodings under way.
struct MainViewPoints {
    std::shared_ptr<platform::NotificationFeedbackGenerator> longPressFeedbackGenerator;
    std::unique_ptr<platform::NotificationCenter::Token> mapPointChangeObservation;
    // One geocoder per reverse geocoding under way, kept until it answers
    // (destroying one cancels its request).
    std::map<uint64_t, std::shared_ptr<platform::CLGeocoder>> reverseGeocoders;
    uint64_t nextReverseGeocoding = 0;
};

// The map delegate's own: the callout recogniser and accessory, the compass
// and the status line's margin beside it, and the base layer's redraws.
struct MainViewMapDelegate {
    std::shared_ptr<platform::MKGestureRecognizer> calloutTapRecognizer;
    // The image beside every point's callout texts: one for all pins, since
    // only one callout shows at a time (a widget per pin would cost ten
    // thousand widgets for ten thousand points).
    std::shared_ptr<platform::MKCalloutAccessoryView> pointCalloutAccessory;
    std::shared_ptr<platform::LayoutConstraint> statusLabelCompassMargin;
    QPointer<QWidget> compassView;
    // The base layer's redraw waiting for each renderer, and when it is due
    // (monotonic seconds): later region changes move it, never add one.
    std::map<const tiles::QuovaTileOverlayRendering*, double> pendingRedraws;
    // The dragged pin's point as it was when the drag started, which is what
    // its file holds: a drop whose write is refused puts it back.
    struct DragOrigin {
        std::shared_ptr<platform::MKAnnotation> annotation;
        platform::CLLocationCoordinate2D coordinate;
        std::optional<std::string> title;
        std::optional<std::string> subtitle;
        platform::Date lastSavedAt;
        std::optional<std::string> lastSavedByAppVersion;
    };
    std::optional<DragOrigin> dragOrigin;
};

}  // namespace tervolo::mapscreen
