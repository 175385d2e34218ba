#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/location/CLLocationCoordinate2D.hpp"

// The rows of the point details screen's directions sheet and the links they
// open, without widgets: routing to a point through map and ride
// applications and web maps. The program never computes a route itself; it
// hands the link to the desktop. Pure functions, any thread. Coordinates in
// degrees; numbers in links are written in their shortest decimal form with a
// fractional part ("48.0", "11.575", "1e-05").
namespace tervolo::pointscreens {

// Which routing applications the desktop can open, asked when the sheet is built.
struct InstalledRoutingApps {
    bool googleMaps = false;
    bool magicEarth = false;
    bool osmAnd = false;
    bool uber = false;
    bool waze = false;
};

// What the sheet is built from, read once when it is built.
struct DirectionsRequest {
    // The point's coordinate; none without a point.
    std::optional<platform::CLLocationCoordinate2D> coordinate;
    std::optional<std::string> title;
    std::optional<std::string> subtitle;
    // The best known position of the user; none before the first fix.
    std::optional<platform::CLLocationCoordinate2D> userLocation;
    InstalledRoutingApps apps;
};

// One row of the sheet, in the order shown.
struct DirectionsRow {
    enum class Kind {
        appleMapsByAddress,
        appleMapsByCoordinates,
        googleMaps,
        magicEarth,
        openStreetMap,
        osmAnd,
        uber,
        waze,
    };
    Kind kind;
    // Localized for the two Apple Maps rows, the service's name otherwise.
    std::string title;
    // The link the row opens. The Uber row's link is made again from the
    // point's title and subtitle when it is chosen (uberDirectionsLink).
    std::string link;
};

// The web hosts the links go to (the services' public addresses).
inline constexpr const char* kAppleMapsHost = "https://maps.apple.com";
inline constexpr const char* kOpenStreetMapHost = "https://www.openstreetmap.org";
inline constexpr const char* kOsmAndHost = "https://osmand.net";
inline constexpr const char* kUberHost = "https://m.uber.com";
inline constexpr const char* kWazeHost = "https://waze.com";

// A text as one value of a link's query: UTF-8 bytes outside the unreserved
// set (letters, digits, "-", ".", "_", "~") become %XX, so "&", "=", "+",
// "?" and "#" in a title cannot add or cut parameters ("A & B" gives
// "A%20%26%20B").
std::string percentEncodedQueryValue(const std::string& text);

// The rows for `request`: none when there is no coordinate or it is not a
// valid one; else "Apple Maps by Address" (when the point has a non-empty
// subtitle or else a non-empty title), "Apple Maps by Coordinates", then
// Google Maps, MagicEarth (when installed), OpenStreetMap (when the user's
// position is known and valid), OsmAnd, Uber and Waze (when installed).
std::vector<DirectionsRow> directionsRows(const DirectionsRequest& request);

// The Uber link to `coordinate`, naming the drop-off by the title and
// address by the subtitle when the point has them.
std::string uberDirectionsLink(platform::CLLocationCoordinate2D coordinate,
                               const std::optional<std::string>& title,
                               const std::optional<std::string>& subtitle);

}  // namespace tervolo::pointscreens
