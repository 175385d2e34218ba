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
    // A position off the globe is refused here too: the record comes from the
    // network and would otherwise become a point no map can show.
    if (*lat < -90 || *lat > 90 || *lon < -180 || *lon > 180) return std::nullopt;
    return platform::CLLocationCoordinate2D{*lat, *lon};
}

}  // namespace tervolo::points
