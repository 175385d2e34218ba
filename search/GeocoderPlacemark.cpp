#include "search/GeocoderPlacemark.hpp"

#include "platform/foundation/Bundle.hpp"

namespace tervolo::search {

std::optional<std::vector<std::string>> formattedAddressLines(const platform::CLPlacemark& placemark) {
    auto lines = placemark.formattedAddressLines();
    if (lines.empty()) return std::nullopt;
    return lines;
}

std::string joinedAddressLines(const std::vector<std::string>& lines) {
    std::string address;
    for (const auto& line : lines) {
        if (!address.empty()) address += ", ";
        address += line;
    }
    return address;
}

std::string geocoderDataSourceName() {
    return platform::Bundle::main().localizedString("Geocoder");
}

std::optional<points::QuovaPlacemark> makeQuovaPlacemark(const platform::CLPlacemark& placemark) {
    if (!placemark.name || !placemark.location) return std::nullopt;
    const auto lines = formattedAddressLines(placemark);
    if (!lines || lines->empty()) return std::nullopt;
    const auto coordinate = placemark.location->coordinate();
    return points::QuovaPlacemark{*placemark.name,
                                  joinedAddressLines(*lines),
                                  geocoderDataSourceName(),
                                  coordinate.longitude,
                                  coordinate.latitude,
                                  std::nullopt,
                                  std::nullopt,
                                  std::nullopt};
}

}  // namespace tervolo::search
