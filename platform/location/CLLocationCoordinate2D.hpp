#pragma once

namespace platform {

// A position on the WGS84 ellipsoid in degrees: latitude north positive,
// longitude east positive.
struct CLLocationCoordinate2D {
    double latitude = 0;   // degrees, -90…90
    double longitude = 0;  // degrees, -180…180

    bool operator==(const CLLocationCoordinate2D&) const = default;
};

// The coordinate that stands for "no position": (-180, -180), which fails
// CLLocationCoordinate2DIsValid. The program never uses NaN for this.
inline constexpr CLLocationCoordinate2D kCLLocationCoordinate2DInvalid{-180.0, -180.0};

inline constexpr CLLocationCoordinate2D CLLocationCoordinate2DMake(double latitude, double longitude) {
    return CLLocationCoordinate2D{latitude, longitude};
}

// True when latitude lies in -90…90 and longitude in -180…180, both bounds
// included; NaN is never valid.
inline constexpr bool CLLocationCoordinate2DIsValid(CLLocationCoordinate2D coordinate) {
    // Written as positive range tests so that NaN, which fails every
    // comparison, comes out invalid.
    return coordinate.latitude >= -90.0 && coordinate.latitude <= 90.0 && coordinate.longitude >= -180.0 &&
           coordinate.longitude <= 180.0;
}

}  // namespace platform
