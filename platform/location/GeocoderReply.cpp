#include "platform/location/GeocoderReply.hpp"

#include <cmath>
#include <stdexcept>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/text/Numbers.hpp"

namespace platform {

namespace {

std::optional<std::string> text(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) return std::nullopt;
    return it->get<std::string>();
}

// The services give coordinates as decimal texts ("60.1699"); numbers are
// accepted too.
std::optional<double> degrees(const nlohmann::json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    std::optional<double> value;
    if (it->is_number()) value = it->get<double>();
    if (it->is_string()) value = text::parseDouble(it->get_ref<const std::string&>());
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

std::optional<std::string> firstOf(const nlohmann::json& address, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        if (auto value = text(address, key)) return value;
    }
    return std::nullopt;
}

std::optional<CLPlacemark> placemark(const nlohmann::json& place) {
    if (!place.is_object()) return std::nullopt;
    const auto lat = degrees(place, "lat");
    const auto lon = degrees(place, "lon");
    if (!lat || !lon || !CLLocationCoordinate2DIsValid({*lat, *lon})) return std::nullopt;
    CLPlacemark result;
    result.location = CLLocation(*lat, *lon);
    static const nlohmann::json empty = nlohmann::json::object();
    const auto addressIt = place.find("address");
    const nlohmann::json& address = addressIt != place.end() && addressIt->is_object() ? *addressIt : empty;
    result.name = text(place, "name");
    if (!result.name) {
        // Without a name of its own a place is called by the first part of its display name.
        if (auto display = text(place, "display_name")) result.name = display->substr(0, display->find(','));
    }
    result.thoroughfare = firstOf(address, {"road", "pedestrian", "footway", "path", "square"});
    result.subThoroughfare = text(address, "house_number");
    result.postalCode = text(address, "postcode");
    result.locality = firstOf(address, {"city", "town", "village", "hamlet", "municipality"});
    result.administrativeArea = firstOf(address, {"state", "county", "region"});
    result.country = text(address, "country");
    if (auto code = text(address, "country_code")) {
        for (char& c : *code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        result.isoCountryCode = code;
    }
    return result;
}

}  // namespace

std::vector<CLPlacemark> decodeGeocoderReply(std::string_view json) {
    nlohmann::json root;
    try {
        JSONDecoder decoder;
        decoder.maximumDepth = 32;
        root = decoder.parse(json);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("The geocoder's reply is not JSON: ") + error.what());
    }
    std::vector<CLPlacemark> result;
    if (root.is_array()) {
        for (const auto& place : root) {
            if (auto mark = placemark(place)) result.push_back(std::move(*mark));
        }
        return result;
    }
    if (root.is_object()) {
        if (root.contains("error")) return result;  // the service found nothing there
        if (auto mark = placemark(root)) result.push_back(std::move(*mark));
        return result;
    }
    throw std::runtime_error("The geocoder's reply is neither a list of places nor a place");
}

}  // namespace platform
