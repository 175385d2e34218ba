#pragma once

#include <memory>
#include <string>

#include "platform/mapkit/MKAnnotationView.hpp"
#include "platform/mapkit/MKUserLocation.hpp"

namespace tervolo::location {

class DetailAccessoryView;

// The view of the user's own position on the map (the platform's dot) with
// its callout. It keeps the user location it was made for, so that when it
// goes away it can take itself out of the user-location model's table of
// views. Its hit test reaches past its own bounds to the callout's left and
// right accessories, so a click on them arrives even where they lie outside
// the dot. Main thread only.
class QuovaUserLocationView : public platform::MKUserLocationView {
  public:
    // Keeps `annotation` in userLocation() when it is the map's user location.
    // Shows a callout, as the platform's user-location view does.
    QuovaUserLocationView(std::shared_ptr<platform::MKAnnotation> annotation, std::string reuseIdentifier);
    // Leaves the model's table (only while the table still holds this view).
    ~QuovaUserLocationView() override;

    // The user location the view was made for; none when made for another
    // annotation. Kept strongly, also while the view waits in a reuse queue.
    const std::shared_ptr<platform::MKUserLocation>& userLocation() const { return userLocation_; }

    // The detail callout accessory when it is a DetailAccessoryView, else null.
    DetailAccessoryView* detailAccessoryView() const;

    // Logs every call; the dot first (the platform's hit test), then the left
    // and then the right callout accessory, each asked with the point in its
    // own coordinates.
    platform::MKHitTestResult hitTest(Point point) const override;

  private:
    std::shared_ptr<platform::MKUserLocation> userLocation_;
};

}  // namespace tervolo::location
