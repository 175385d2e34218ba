#pragma once

#include <memory>
#include <string>

#include "platform/mapkit/MKAnnotation.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::mapscreen {

// A stored map point as the map shows it: the one annotation of a point. The
// point record cannot be an annotation itself (its title is optional where an
// annotation's is not), so every point reaches the map through this object,
// which forwards the point's coordinate, title ("" when it has none) and
// subtitle, and writes a dragged coordinate back into the point.
//
// forPoint gives the same annotation for a point for as long as anyone holds
// that annotation (the map does while it shows it), so the map's identity of
// annotations is the identity of points; pointFor finds the point again. The
// annotation holds its point; nothing else is kept: once neither the point's
// owners nor the annotation's are left, both are gone. Main thread only, as
// the point.
class QuovaMapPointAnnotation : public platform::MKAnnotation {
  public:
    // The point's annotation, made on first ask. Null for a null point.
    static std::shared_ptr<QuovaMapPointAnnotation> forPoint(
        const std::shared_ptr<points::QuovaMapPoint>& point);
    // The point behind a map annotation; null when the annotation is not a point's.
    static std::shared_ptr<points::QuovaMapPoint> pointFor(
        const std::shared_ptr<platform::MKAnnotation>& annotation);

    const std::shared_ptr<points::QuovaMapPoint>& point() const { return point_; }

    // WGS84 degrees.
    platform::CLLocationCoordinate2D coordinate() const override;
    std::string title() const override;
    std::string subtitle() const override;
    // Where a drag left the pin; the point is changed, not saved.
    void setCoordinate(platform::CLLocationCoordinate2D coordinate) override;

    ~QuovaMapPointAnnotation() override;
    QuovaMapPointAnnotation(const QuovaMapPointAnnotation&) = delete;
    QuovaMapPointAnnotation& operator=(const QuovaMapPointAnnotation&) = delete;

  private:
    struct Token {};

  public:
    // Use forPoint(); public only for make_shared.
    QuovaMapPointAnnotation(Token, std::shared_ptr<points::QuovaMapPoint> point);

  private:
    std::shared_ptr<points::QuovaMapPoint> point_;
};

}  // namespace tervolo::mapscreen
