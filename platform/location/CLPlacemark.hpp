#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/location/CLLocation.hpp"

namespace platform {

// A place a geocoder found: its name, position and postal address.
struct CLPlacemark {
    std::optional<std::string> name;
    std::optional<CLLocation> location;
    std::optional<std::string> thoroughfare;     // street
    std::optional<std::string> subThoroughfare;  // house number
    std::optional<std::string> postalCode;
    std::optional<std::string> locality;  // city, town or village
    std::optional<std::string> administrativeArea;
    std::optional<std::string> country;
    std::optional<std::string> isoCountryCode;  // upper case, "FI"

    // The address as display lines, the platform's "FormattedAddressLines":
    // "street number", "postcode city", "country", each only when it has text.
    std::vector<std::string> formattedAddressLines() const;
};

// A circle that biases a forward search towards the places near it.
struct CLCircularRegion {
    CLLocationCoordinate2D center;
    double radius = 0;  // metres
    std::string identifier;
};

}  // namespace platform
