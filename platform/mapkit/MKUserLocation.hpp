#pragma once

#include <optional>

#include "platform/location/CLLocation.hpp"
#include "platform/mapkit/MKAnnotation.hpp"

namespace platform {

// The user's own position as an annotation of its own kind. The map owns the one instance; its title
// and subtitle are the caller's to set (the callout shows them), its location the map's.
class MKUserLocation : public MKPointAnnotation {
  public:
    MKUserLocation() : MKPointAnnotation(kCLLocationCoordinate2DInvalid) {}

    // The last fix, none before the first one.
    std::optional<CLLocation> location() const {
        std::lock_guard lock(locationMutex_);
        return location_;
    }
    // True while the map shows the user's location and has a fix.
    bool isUpdating() const { return updating_; }

  private:
    friend class MKMapViewModel;
    void setLocation(std::optional<CLLocation> location) {
        {
            std::lock_guard lock(locationMutex_);
            location_ = location;
        }
        setCoordinate(location ? location->coordinate() : kCLLocationCoordinate2DInvalid);
    }
    mutable std::mutex locationMutex_;
    std::optional<CLLocation> location_;
    bool updating_ = false;
};

}  // namespace platform
