#include "platform/location/CLLocation.hpp"

#include <GeographicLib/Geodesic.hpp>

#include <cmath>
#include <ctime>
#include <limits>

#include "platform/text/Numbers.hpp"

namespace platform {

CLLocation::CLLocation(double latitude, double longitude)
    : coordinate_{latitude, longitude}, timestamp_(Date::now()) {}

CLLocation::CLLocation(CLLocationCoordinate2D coordinate, double altitude, double horizontalAccuracy,
                       double verticalAccuracy, double course, double speed, Date timestamp)
    : coordinate_(coordinate),
      altitude_(altitude),
      horizontalAccuracy_(horizontalAccuracy),
      verticalAccuracy_(verticalAccuracy),
      course_(course),
      speed_(speed),
      timestamp_(timestamp) {}

CLLocation::CLLocation(CLLocationCoordinate2D coordinate, double altitude, double horizontalAccuracy,
                       double verticalAccuracy, Date timestamp)
    : CLLocation(coordinate, altitude, horizontalAccuracy, verticalAccuracy, -1, -1, timestamp) {}

double CLLocation::distance(const CLLocation& from) const {
    if (!CLLocationCoordinate2DIsValid(coordinate_) || !CLLocationCoordinate2DIsValid(from.coordinate_)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    // Karney's geodesic on WGS84: accurate to nanometres everywhere, including
    // nearly antipodal points where Vincenty's iteration fails to converge.
    double metres = 0;
    GeographicLib::Geodesic::WGS84().Inverse(from.coordinate_.latitude, from.coordinate_.longitude,
                                             coordinate_.latitude, coordinate_.longitude, metres);
    return metres;
}

std::string CLLocation::description() const {
    std::string out = text::formatC("<%+.8f,%+.8f> +/- %.2fm", coordinate_.latitude, coordinate_.longitude,
                                    horizontalAccuracy_);
    if (verticalAccuracy_ > 0) out += text::formatC(" alt %.2fm +/- %.2fm", altitude_, verticalAccuracy_);
    out += text::formatC(" (speed %.2f mps / course %.2f) @ ", speed_, course_);
    // UTC, whole seconds, so the text does not depend on the machine's zone.
    const std::time_t seconds = static_cast<std::time_t>(std::floor(timestamp_.unixTime()));
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return out + date;
}

}  // namespace platform
