#pragma once

#include <string>

#include "platform/mapkit/MKAnnotation.hpp"
#include "platform/mapkit/MKGeometry.hpp"

namespace platform {

// An area drawn on the map by its renderer. The map asks only the cells that meet `boundingMapRect`.
// Read from the drawing threads as well as the main thread: implementations keep these answers fixed
// or thread-safe.
class MKOverlay : public MKAnnotation {
  public:
    virtual MKMapRect boundingMapRect() const = 0;
    // True when the overlay covers the map's own drawing (a full tile layer): the base map is then
    // left out wherever this overlay's renderer has drawn something.
    virtual bool canReplaceMapContent() const { return false; }
    virtual bool intersectsMapRect(const MKMapRect& rect) const {
        return MKMapRectIntersectsRect(boundingMapRect(), rect);
    }
    // The key under which a map finds this overlay again without walking all its overlays
    // (MKMapViewModel::firstOverlayWithLookupKey); empty: not indexed. Read on the main thread when the
    // overlay is added and when it is looked up, so it must not change while the overlay is on a map.
    virtual std::string lookupKey() const { return {}; }
    // The middle of the bounding rect.
    CLLocationCoordinate2D coordinate() const override {
        const MKMapRect rect = boundingMapRect();
        return MKCoordinateForMapPoint({MKMapRectGetMidX(rect), MKMapRectGetMidY(rect)});
    }
};

// A circle of `radius` metres around `coordinate`. Its bounding rect uses the Mercator scale at the
// centre, so the drawn circle is round on the map.
class MKCircle : public MKOverlay {
  public:
    MKCircle(CLLocationCoordinate2D center, double radius);

    CLLocationCoordinate2D coordinate() const override { return center_; }
    double radius() const { return radius_; }  // metres
    MKMapRect boundingMapRect() const override { return boundingMapRect_; }

  private:
    CLLocationCoordinate2D center_;
    double radius_;
    MKMapRect boundingMapRect_;
};

}  // namespace platform
