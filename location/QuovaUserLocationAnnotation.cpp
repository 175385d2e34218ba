#include "location/QuovaUserLocationAnnotation.hpp"

#include <nlohmann/json.hpp>

#include "platform/coding/DecodingError.hpp"
#include "platform/dispatch/Date.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::location {

const std::shared_ptr<points::QuovaMapPoint>& QuovaUserLocationAnnotation::mapPoint() const {
    if (!mapPoint_) mapPoint_ = points::QuovaMapPoint::make(points::myPositionText());
    return mapPoint_;
}

platform::CLLocationCoordinate2D QuovaUserLocationAnnotation::coordinate() const {
    return mapPoint()->coordinate();
}

void QuovaUserLocationAnnotation::setCoordinate(platform::CLLocationCoordinate2D coordinate) {
    mapPoint()->setCoordinate(coordinate);
    mapPoint()->setLastSavedAt(platform::Date::now());
}

std::optional<std::string> QuovaUserLocationAnnotation::optionalTitle() const {
    return mapPoint()->title();
}
std::optional<std::string> QuovaUserLocationAnnotation::optionalSubtitle() const {
    return mapPoint()->subtitle();
}
std::string QuovaUserLocationAnnotation::title() const {
    return optionalTitle().value_or("");
}
std::string QuovaUserLocationAnnotation::subtitle() const {
    return optionalSubtitle().value_or("");
}

void QuovaUserLocationAnnotation::setTitle(std::optional<std::string> title) {
    mapPoint()->setTitle(std::move(title));
    mapPoint()->setLastSavedAt(platform::Date::now());
}

void QuovaUserLocationAnnotation::setSubtitle(std::optional<std::string> subtitle) {
    mapPoint()->setSubtitle(std::move(subtitle));
    mapPoint()->setLastSavedAt(platform::Date::now());
}

nlohmann::ordered_json QuovaUserLocationAnnotation::encode() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    if (mapPoint_) json["_mapPoint"] = mapPoint_->encode();
    return json;
}

std::shared_ptr<QuovaUserLocationAnnotation> QuovaUserLocationAnnotation::decode(const nlohmann::json& json) {
    if (!json.is_object()) {
        throw platform::DecodingError(
            platform::DecodingError::Category::typeMismatch, "Dictionary<String, Any>", {},
            "Expected to decode Dictionary<String, Any> but found another value instead.");
    }
    auto annotation = std::make_shared<QuovaUserLocationAnnotation>();
    const auto it = json.find("_mapPoint");
    if (it != json.end() && !it->is_null()) annotation->mapPoint_ = points::QuovaMapPoint::decode(*it);
    return annotation;
}

}  // namespace tervolo::location
