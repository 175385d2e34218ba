#include "pointscreens/PointDirections.hpp"

#include <QByteArray>
#include <QUrl>

#include "platform/foundation/Bundle.hpp"
#include "platform/text/Numbers.hpp"

namespace tervolo::pointscreens {

namespace {

using platform::text::describe;

// A title or subtitle that names something: an empty text names nothing.
const std::optional<std::string>& named(const std::optional<std::string>& text) {
    static const std::optional<std::string> none;
    return text && !text->empty() ? text : none;
}

}  // namespace

std::string percentEncodedQueryValue(const std::string& text) {
    // Qt leaves exactly the unreserved set alone and encodes the UTF-8 bytes
    // of everything else.
    return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
}

std::string uberDirectionsLink(platform::CLLocationCoordinate2D coordinate,
                               const std::optional<std::string>& title,
                               const std::optional<std::string>& subtitle) {
    std::string link = std::string(kUberHost) + "/ul/?action=setPickup&pickup=my_location" +
                       "&dropoff[latitude]=" + describe(coordinate.latitude) +
                       "&dropoff[longitude]=" + describe(coordinate.longitude);
    if (title) link += "&dropoff[nickname]=" + percentEncodedQueryValue(*title);
    if (subtitle) link += "&dropoff[formatted_address]=" + percentEncodedQueryValue(*subtitle);
    return link;
}

std::vector<DirectionsRow> directionsRows(const DirectionsRequest& request) {
    std::vector<DirectionsRow> rows;
    if (!request.coordinate || !platform::CLLocationCoordinate2DIsValid(*request.coordinate)) return rows;
    const std::string lat = describe(request.coordinate->latitude);
    const std::string lon = describe(request.coordinate->longitude);
    using Kind = DirectionsRow::Kind;

    const auto& address = named(request.subtitle) ? named(request.subtitle) : named(request.title);
    if (address) {
        rows.push_back({Kind::appleMapsByAddress, platform::localizedString("Apple Maps by Address"),
                        std::string(kAppleMapsHost) + "/?daddr=" + percentEncodedQueryValue(*address)});
    }
    rows.push_back({Kind::appleMapsByCoordinates, platform::localizedString("Apple Maps by Coordinates"),
                    std::string(kAppleMapsHost) + "/?daddr=" + lat + "," + lon});
    if (request.apps.googleMaps) {
        rows.push_back({Kind::googleMaps, "Google Maps", "comgooglemaps://?daddr=" + lat + "," + lon});
    }
    if (request.apps.magicEarth) {
        rows.push_back({Kind::magicEarth, "MagicEarth", "magicearth://?drive_to&lat=" + lat + "&lon=" + lon});
    }
    // A route needs a start: the user's own position, when it is known.
    if (request.userLocation && platform::CLLocationCoordinate2DIsValid(*request.userLocation)) {
        // The pair separator and the separator of the two positions are
        // written encoded, as the route parameter expects them.
        rows.push_back({Kind::openStreetMap, "OpenStreetMap",
                        std::string(kOpenStreetMapHost) +
                            "/directions?route=" + describe(request.userLocation->latitude) + "%2C" +
                            describe(request.userLocation->longitude) + "%3B" + lat + "%2C" + lon});
    }
    if (request.apps.osmAnd) {
        rows.push_back({Kind::osmAnd, "OsmAnd", std::string(kOsmAndHost) + "/go?lat=" + lat + "&lon=" + lon});
    }
    if (request.apps.uber) {
        rows.push_back(
            {Kind::uber, "Uber", uberDirectionsLink(*request.coordinate, request.title, request.subtitle)});
    }
    if (request.apps.waze) {
        rows.push_back(
            {Kind::waze, "Waze", std::string(kWazeHost) + "/ul?navigate=yes&ll=" + lat + "," + lon});
    }
    return rows;
}

}  // namespace tervolo::pointscreens
