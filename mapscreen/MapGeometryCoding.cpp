#include "mapscreen/MapGeometryCoding.hpp"

#include <nlohmann/json.hpp>

#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::mapscreen {

namespace {
using Path = std::vector<std::string>;

Path pathWith(const Path& path, std::size_t index) {
    auto result = path;
    result.push_back(platform::coding_detail::indexKey(index));
    return result;
}

nlohmann::ordered_json pair(double first, double second, const Path& path) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    array.push_back(platform::coding_detail::encodeValue(first, pathWith(path, 0)));
    array.push_back(platform::coding_detail::encodeValue(second, pathWith(path, 1)));
    return array;
}
}  // namespace

nlohmann::ordered_json encode(const platform::MKMapPoint& point, const Path& codingPath) {
    return pair(point.x, point.y, codingPath);
}

nlohmann::ordered_json encode(const platform::MKMapSize& size, const Path& codingPath) {
    return pair(size.width, size.height, codingPath);
}

nlohmann::ordered_json encode(const platform::MKMapRect& rect, const Path& codingPath) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    array.push_back(encode(rect.origin, pathWith(codingPath, 0)));
    array.push_back(encode(rect.size, pathWith(codingPath, 1)));
    return array;
}

platform::MKMapRect mapRectWith(const QRectF& rect) {
    return platform::MKMapRectMake(rect.x(), rect.y(), rect.width(), rect.height());
}

}  // namespace tervolo::mapscreen
