// The map screen's share in the restoration of the user interface: what it
// writes at save time (style, visible map rect, selected point, search text)
// and how the values read back after a launch wait until the screen has loaded
// and are then applied once.

#include <QString>

#include <cmath>
#include <string>

#include "logging/QLLogging.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"

namespace tervolo::mapscreen {

namespace {

constexpr const char* kMapStyleKey = "mapStyle";
constexpr const char* kMapRectKey = "mapRect";
constexpr const char* kSelectedAnnotationIDKey = "selectedAnnotationID";
constexpr const char* kSearchStringKey = "searchString";

std::optional<double> number(const platform::PropertyValue::Dictionary& dictionary, const char* key) {
    const auto found = dictionary.find(key);
    if (found == dictionary.end()) return std::nullopt;
    return found->second.asDouble();
}

// A rect the map can show: finite, of positive size and on the world at
// least in part. Anything else (a file edited by hand, a torn value) would
// leave the map nowhere.
bool isShowable(const platform::MKMapRect& rect) {
    const bool finite = std::isfinite(rect.origin.x) && std::isfinite(rect.origin.y) &&
                        std::isfinite(rect.size.width) && std::isfinite(rect.size.height);
    return finite && rect.size.width > 0 && rect.size.height > 0 &&
           platform::MKMapRectIntersectsRect(rect, platform::MKMapRectWorld);
}

// The last style whose display name or identifier is `text`; OpenStreetMap
// when none is.
tiles::QuovaBaseMapStyle styleNamed(const std::optional<std::string>& text) {
    tiles::QuovaBaseMapStyle chosen = tiles::QuovaBaseMapStyle::osm;
    if (!text) return chosen;
    for (const tiles::QuovaBaseMapStyle style : tiles::allCases()) {
        if (tiles::displayName(style) == *text || tiles::identifier(style) == *text) chosen = style;
    }
    return chosen;
}

}  // namespace

void MainViewController::encodeRestorableState(platform::RestorationCoder& coder) {
    QLLogInfo("encodeRestorableState(with:)");
    platform::ViewController::encodeRestorableState(coder);
    if (!mapView_) return;
    const auto style = mapView_->mapStyle();
    coder.encode(kMapStyleKey, tiles::identifier(style.value_or(tiles::QuovaBaseMapStyle::osm)));
    // The view's own rect, as it stands unturned around the same centre at the same scale: a turned
    // map's visible rect is the axis-aligned rect around it, up to twice as wide, and restoring that
    // would show a region that much wider.
    platform::MKMapRect rect = mapView_->visibleMapRect();
    const double scale = mapView_->zoomScale();
    const auto bounds = mapView_->boundsSize();
    if (mapView_->heading() != 0 && scale > 0 && bounds.width > 0 && bounds.height > 0) {
        const double width = bounds.width / scale;
        const double height = bounds.height / scale;
        rect = platform::MKMapRectMake(platform::MKMapRectGetMidX(rect) - width / 2,
                                       platform::MKMapRectGetMidY(rect) - height / 2, width, height);
    }
    coder.encode(kMapRectKey, platform::PropertyValue::Dictionary{{"x", rect.origin.x},
                                                                  {"y", rect.origin.y},
                                                                  {"width", rect.size.width},
                                                                  {"height", rect.size.height}});
    const auto selected = mapView_->selectedAnnotations();
    if (!selected.empty()) {
        // Only a point is kept: the user's location has no identifier.
        if (const auto point = QuovaMapPointAnnotation::pointFor(selected.front())) {
            const std::string uuid = point->uuid().value_or("");
            if (!uuid.empty()) coder.encode(kSelectedAnnotationIDKey, uuid);
        }
    }
    const std::string text = searchBar_ ? searchBar_->text().toStdString() : std::string();
    if (!text.empty()) coder.encode(kSearchStringKey, text);
}

void MainViewController::decodeRestorableState(const platform::RestorationCoder& coder) {
    QLLogInfo("decodeRestorableState(with:)");
    platform::ViewController::decodeRestorableState(coder);
    if (const auto dictionary = coder.decode<platform::PropertyValue::Dictionary>(kMapRectKey)) {
        const auto x = number(*dictionary, "x");
        const auto y = number(*dictionary, "y");
        const auto width = number(*dictionary, "width");
        const auto height = number(*dictionary, "height");
        if (x && y && width && height) {
            const platform::MKMapRect rect{{*x, *y}, {*width, *height}};
            if (isShowable(rect)) {
                restoration_.restoredRect = rect;
            } else {
                QLLogInfo("restored map rect is not a visible part of the world, ignoring it");
            }
        }
    }
    restoration_.restoredMapStyle = coder.decode<std::string>(kMapStyleKey);
    restoration_.restoredAnnotationID = coder.decode<std::string>(kSelectedAnnotationIDKey);
    restoration_.restoredSearchString = coder.decode<std::string>(kSearchStringKey);
    restoration_.restorationPending = true;
    restoreStateFromGlobals();
}

void MainViewController::restoreStateFromGlobals() {
    QLLogInfo("restoreStateFromGlobals()");
    if (!initializationDone_) {
        // The values wait as one pending restoration; the end of the view's
        // loading applies it. Nothing runs meanwhile.
        restoration_.restorationPending = true;
        QLLogInfo("Restoration postponed - app not ready yet.");
        return;
    }
    applyRestoredState();
}

void MainViewController::restoreOrResumeAfterLoading() {
    if (restoration_.restorationPending) {
        restoreStateFromGlobals();
    } else {
        // Nothing to restore (a first launch, another version's state): a
        // stored tracking mode is resumed all the same.
        resumeUserTrackingAfterRestore();
    }
}

void MainViewController::applyRestoredState() {
    QLLogInfo("Starting State Restoration.");
    restoration_.restorationPending = false;
    if (mapView_) {
        // The rect first: a style switch keeps the visible area.
        if (restoration_.restoredRect) {
            // A map not yet shown has no final size, and keeps its scale when
            // it gets one: the rect waits for the screen's appearance.
            if (mapView_->isVisible()) {
                mapView_->setVisibleMapRect(*restoration_.restoredRect, false);
            } else {
                restoration_.rectAwaitingAppearance = restoration_.restoredRect;
            }
        }
        mapView_->setMapStyle(styleNamed(restoration_.restoredMapStyle));
    }
    // Shown only: no search starts.
    if (restoration_.restoredSearchString && searchBar_)
        searchBar_->setText(QString::fromStdString(*restoration_.restoredSearchString));
    if (restoration_.restoredAnnotationID) {
        std::shared_ptr<points::QuovaMapPoint> found;
        for (const auto& point : points::QuovaMapPointStore::shared().points()) {
            if (point && point->uuid() == restoration_.restoredAnnotationID) found = point;
        }
        if (found && mapView_) {
            // The restored rect is what the user left: the selection must not
            // zoom away from it to the point.
            restoration_.selectingRestoredPoint = true;
            mapView_->selectAnnotation(QuovaMapPointAnnotation::forPoint(found), false);
            restoration_.selectingRestoredPoint = false;
        }
    }
    resumeUserTrackingAfterRestore();
    restoration_.restoredAnnotationID.reset();
    restoration_.restoredSearchString.reset();
    restoration_.restoredRect.reset();
}

}  // namespace tervolo::mapscreen
