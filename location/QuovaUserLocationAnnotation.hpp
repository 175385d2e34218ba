#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/mapkit/MKAnnotation.hpp"

namespace platform {
// The UI layer's share sheet (the platform's activity view controller).
class ActivityViewController;
}  // namespace platform

namespace tervolo::points {
class QuovaMapPoint;
}

namespace tervolo::location {

// The user's own position as an annotation that can be titled, moved and
// shared. It wraps a private point, made on first use with the title
// "My Position", which it never saves and never adds to the point store.
// Every write stamps the point's lastSavedAt, also when the value does not
// change, so a short link made before the write is no longer handed out.
// Main thread (the share item request may be asked from the share sheet's
// worker thread; it reaches the annotation through the main queue).
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

    // --- share-sheet item (the annotation is the share sheet's item source) -
    // Each takes the asking share sheet (unused) and answers with a text. The
    // annotation and the point store are read and changed on the main thread
    // only: a request from another thread does that part as a block of the main
    // queue (so the main thread must not wait for the asking thread).

    // The short link when one is on file for the current position; otherwise
    // the title (or "My Position"), after starting the short-link upload when
    // none runs. Never waits.
    std::string activityViewControllerPlaceholderItem(
        const platform::ActivityViewController* activityViewController);
    // The title, or "My Position", for every activity type. Never waits.
    std::string activityViewControllerSubjectForActivityType(
        const platform::ActivityViewController* activityViewController,
        const std::optional<std::string>& activityType);
    // The text to share for the activity type (points/ShareActivityType.hpp;
    // points/ShareItemText.hpp composes it): built around the short link, or
    // the public web map link of the coordinate (-180/-180 while it was never
    // set) when no short link can be had. Starts an upload when none runs and
    // waits for it off the main thread, at most the bounded ShareItemWait.
    // Meant for the share sheet's worker thread; on the main thread it blocks
    // that thread for the wait. The caller hides the HUD afterwards (the share
    // adapter of location/ui does).
    std::string activityViewControllerItemForActivityType(
        const platform::ActivityViewController* activityViewController,
        const std::optional<std::string>& activityType);

  private:
    mutable std::shared_ptr<points::QuovaMapPoint> mapPoint_;
};

}  // namespace tervolo::location
