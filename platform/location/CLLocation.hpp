#pragma once

#include <string>

#include "platform/dispatch/Date.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"

namespace platform {

// One position fix: where, how high, how exact, how fast, which way and when.
// Negative accuracies, speed and course mean "not known", as on the platform.
class CLLocation {
  public:
    // A bare position: altitude 0, horizontal accuracy 0, vertical accuracy -1
    // (no altitude), speed -1, course -1, timestamp now.
    CLLocation(double latitude, double longitude);
    CLLocation(CLLocationCoordinate2D coordinate, double altitude, double horizontalAccuracy,
               double verticalAccuracy, double course, double speed, Date timestamp);
    CLLocation(CLLocationCoordinate2D coordinate, double altitude, double horizontalAccuracy,
               double verticalAccuracy, Date timestamp);

    CLLocationCoordinate2D coordinate() const { return coordinate_; }
    double altitude() const { return altitude_; }                      // metres above sea level
    double horizontalAccuracy() const { return horizontalAccuracy_; }  // metres; < 0: coordinate unknown
    double verticalAccuracy() const { return verticalAccuracy_; }      // metres; <= 0: altitude unknown
    double speed() const { return speed_; }                            // metres per second; < 0: unknown
    double course() const { return course_; }  // degrees from true north; < 0: unknown
    Date timestamp() const { return timestamp_; }

    // Distance in metres to `from` along the WGS84 ellipsoid (geodesic, not the
    // sphere), altitudes ignored. NaN when either coordinate is not valid
    // (CLLocationCoordinate2DIsValid), so no made-up distance reaches a caller.
    double distance(const CLLocation& from) const;

    // "<+53.55110000,+9.99370000> +/- 5.00m (speed 1.50 mps / course 90.00) @ 2024-05-01 13:45:07 +0000",
    // with " alt 35.00m +/- 3.00m" after the horizontal accuracy when the
    // altitude is known.
    std::string description() const;

  private:
    CLLocationCoordinate2D coordinate_;
    double altitude_ = 0;
    double horizontalAccuracy_ = 0;
    double verticalAccuracy_ = -1;
    double course_ = -1;
    double speed_ = -1;
    Date timestamp_;
};

}  // namespace platform
