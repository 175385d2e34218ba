#pragma once

#include <optional>
#include <string>

#include "platform/mapkit/MKOverlay.hpp"

namespace tervolo::location {

// The alarm circle of a map point on the map: a circle of the point's alarm
// radius (metres) around the point, which the map screen finds again among the
// map's overlays by `pointUUID` and fills in red. Its class alone tells it from
// the user's circle. Main thread (the map's drawing threads read only the
// circle's geometry, which never changes).
class QuovaPinCircleOverlay : public platform::MKCircle {
  public:
    // No centre (the invalid coordinate) and no radius.
    QuovaPinCircleOverlay();
    // `radius` in metres; as MKCircle (negative or not finite: 0).
    QuovaPinCircleOverlay(platform::CLLocationCoordinate2D center, double radius);

    // The identifier (uuid) of the point whose circle this is; none until set.
    // Set it before the circle goes on a map: the map files the circle under it.
    const std::optional<std::string>& pointUUID() const { return pointUUID_; }
    void setPointUUID(std::optional<std::string> pointUUID) { pointUUID_ = std::move(pointUUID); }

    // The map's look-up key of the circle of the point with `pointUUID`: the
    // circles of points without identifier share one key of their own, apart
    // from that of the empty identifier.
    static std::string lookupKeyFor(const std::optional<std::string>& pointUUID);
    std::string lookupKey() const override { return lookupKeyFor(pointUUID_); }

  private:
    std::optional<std::string> pointUUID_;
};

}  // namespace tervolo::location
