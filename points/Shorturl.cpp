#include "points/Shorturl.hpp"

#include "platform/text/Numbers.hpp"

namespace tervolo::points {

std::optional<platform::CLLocationCoordinate2D> Shorturl::coordinate() const {
    // parseDouble reads the whole text as a strict, finite decimal number: no
    // leading blank, no trailing characters, no decimal comma.
    const auto lat = platform::text::parseDouble(latitude);
    if (!lat) return std::nullopt;
    const auto lon = platform::text::parseDouble(longitude);
    if (!lon) return std::nullopt;
    return platform::CLLocationCoordinate2D{*lat, *lon};
}

}  // namespace tervolo::points
