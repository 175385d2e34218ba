#pragma once

#include <memory>

#include "platform/mapkit/MKMapViewModel.hpp"
#include "platform/mapkit/MKOverlay.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::mapscreen {

// What the point screens ask of the map screen that opened them: its main
// map, the point's alarm circle on it, and putting a point back on it. The
// map screen implements it; the point screens hold it weakly (the map screen
// outlives them) and tests hand them a recording fake. Main thread only.
class MainMapPort {
  public:
    virtual ~MainMapPort() = default;

    // The main map; null while the screen has none.
    virtual platform::MKMapViewModel* mainMapView() const = 0;
    // The point's circle overlay among the main map's overlays; null when it has none.
    virtual std::shared_ptr<platform::MKOverlay> haloForPoint(
        const std::shared_ptr<points::QuovaMapPoint>& point) const = 0;
    // Adds the point as annotation (its QuovaMapPointAnnotation) and, when
    // its radius (metres) is greater than 0, its circle above the labels.
    virtual void addAnnotation(const std::shared_ptr<points::QuovaMapPoint>& point) = 0;
    // Puts the point on the map (with its circle), selects it and starts its
    // reverse geocode; refuses a point without a title.
    virtual void addPoint(const std::shared_ptr<points::QuovaMapPoint>& point) = 0;
    // Shows 10,000 m by 10,000 m around the point, or only centres on it when
    // the visible span is smaller already; ignores an invalid coordinate.
    virtual void zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>& point) = 0;
};

}  // namespace tervolo::mapscreen
