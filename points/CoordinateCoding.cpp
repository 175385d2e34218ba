#include "points/CoordinateCoding.hpp"

#include <utility>

#include <nlohmann/json.hpp>

#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::points {

namespace {
std::vector<std::string> elementPath(const std::vector<std::string>& path, std::size_t index) {
    auto result = path;
    result.push_back(platform::coding_detail::indexKey(index));
    return result;
}
}  // namespace

nlohmann::ordered_json encodeCoordinate(const platform::CLLocationCoordinate2D& coordinate,
                                        const std::vector<std::string>& codingPath) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    array.push_back(platform::coding_detail::encodeValue(coordinate.longitude, elementPath(codingPath, 0)));
    array.push_back(platform::coding_detail::encodeValue(coordinate.latitude, elementPath(codingPath, 1)));
    return array;
}

platform::CLLocationCoordinate2D decodeCoordinate(const nlohmann::json& value,
                                                  const std::vector<std::string>& codingPath) {
    const std::string typeName = "Array<Double>";
    if (value.is_null()) platform::coding_detail::throwValueNotFound(typeName, codingPath);
    if (!value.is_array()) platform::coding_detail::throwTypeMismatch(typeName, value, codingPath);
    const auto element = [&](std::size_t index) {
        auto path = elementPath(codingPath, index);
        if (index >= value.size()) {
            throw platform::DecodingError(platform::DecodingError::Category::valueNotFound, "Double",
                                          std::move(path), "Unkeyed container is at end.");
        }
        return platform::coding_detail::decodeValue<double>(value[index], path);
    };
    platform::CLLocationCoordinate2D coordinate;
    coordinate.longitude = element(0);
    coordinate.latitude = element(1);
    return coordinate;
}

}  // namespace tervolo::points
