#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/mapkit/MKAnnotation.hpp"

namespace tervolo::points {
class QuovaMapPoint;
}

namespace tervolo::location {

// The user's own position as an annotation that can be titled, moved and
// shared. It wraps a private point, made on first use with the title
// "My Position", which it never saves and never adds to the point store.
// Every write stamps the point's lastSavedAt, also when the value does not
// change, so a short link made before the write is no longer handed out.
// Main thread (the share request may use it from the share thread).
class QuovaUserLocationAnnotation : public platform::MKAnnotation {
  public:
    QuovaUserLocationAnnotation() = default;

    platform::CLLocationCoordinate2D coordinate() const override;
    void setCoordinate(platform::CLLocationCoordinate2D coordinate) override;
    // The map's text of the title ("" for none).
    std::string title() const override;
    std::string subtitle() const override;
    std::optional<std::string> optionalTitle() const;
    std::optional<std::string> optionalSubtitle() const;
    void setTitle(std::optional<std::string> title);
    void setSubtitle(std::optional<std::string> subtitle);

    // The wrapped point, made on first use.
    const std::shared_ptr<points::QuovaMapPoint>& mapPoint() const;
    bool hasMapPoint() const { return mapPoint_ != nullptr; }

    // {"_mapPoint": <the point's file form>}; {} before the point exists.
    nlohmann::ordered_json encode() const;
    // Strict: "_mapPoint" missing or null gives an annotation without a point;
    // anything else that is not a valid point file object throws the point's
    // decoding error, and a `json` that is not an object throws
    // platform::DecodingError; no annotation results either way.
    static std::shared_ptr<QuovaUserLocationAnnotation> decode(const nlohmann::json& json);

  private:
    mutable std::shared_ptr<points::QuovaMapPoint> mapPoint_;
};

// "My Position" in the user's language, worked out once.
const std::string& myPositionText();

}  // namespace tervolo::location
