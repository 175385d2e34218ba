#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "platform/foundation/Error.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::search {

// What the location search needs of the map screen it serves: the map
// centre, the point operations a chosen result leads to, and the screen's
// view (a result cell shows a distance only inside the screen's window).
// The map screen's adapter fills it; tests record. Main thread only.
class SearchMapHost {
  public:
    virtual ~SearchMapHost() = default;
    // The map view's centre, degrees; none when the screen has no map view.
    virtual std::optional<platform::CLLocationCoordinate2D> mapCenter() const = 0;
    // Puts a stored point on the map (annotation, circle, selection).
    virtual void addPoint(const std::shared_ptr<points::QuovaMapPoint>& point) = 0;
    virtual void zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>& point) = 0;
    // Selects the point's annotation on the map, animated.
    virtual void selectPoint(const std::shared_ptr<points::QuovaMapPoint>& point) = 0;
    // Tells the user that a chosen result was not stored: its file was
    // refused (`error`), so it is not on the map.
    virtual void pointNotSaved(const platform::Error& /*error*/) {}
    // The screen's root view; null before it loads.
    virtual QWidget* view() const = 0;
    // Gives the keyboard focus to the map, once the search is left (a result
    // chosen, the search ended), so the map's keys work at once.
    virtual void focusMap() {}
    // Closes the search field the screen opened for the search (and its
    // result list), when it is open: Escape leaves the search altogether.
    virtual void closeSearchField() {}
};

}  // namespace tervolo::search
