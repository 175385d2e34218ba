#include "location/ui/QuovaUserLocationView.hpp"

#include "location/ui/DetailAccessoryView.hpp"
#include "location/ui/QuovaUserLocationModel.hpp"
#include "logging/QLLogging.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"

namespace tervolo::location {

QuovaUserLocationView::QuovaUserLocationView(std::shared_ptr<platform::MKAnnotation> annotation,
                                             std::string reuseIdentifier)
    : MKUserLocationView(annotation, std::move(reuseIdentifier)),
      userLocation_(std::dynamic_pointer_cast<platform::MKUserLocation>(annotation)) {
    setCanShowCallout(true);
}

QuovaUserLocationView::~QuovaUserLocationView() {
    if (!userLocation_) return;
    QuovaUserLocationModel::shared().invalidateViewForUserLocation(*userLocation_, this);
    userLocation_.reset();
}

DetailAccessoryView* QuovaUserLocationView::detailAccessoryView() const {
    const auto* holder =
        dynamic_cast<const platform::MKCalloutAccessoryWidget*>(detailCalloutAccessoryView().get());
    return holder != nullptr ? qobject_cast<DetailAccessoryView*>(holder->widget()) : nullptr;
}

platform::MKHitTestResult QuovaUserLocationView::hitTest(Point point) const {
    QLLogInfo("QuovaUserLocationView: hitTest(_:with:)");
    platform::MKHitTestResult result = MKUserLocationView::hitTest(point);
    if (!result.isEmpty()) return result;
    if (const auto& left = leftCalloutAccessoryView()) {
        if (const auto local = convertPoint(point, *left); local && left->hitTest(*local)) {
            QLLogInfo("hit on left callout accessory view");
            result.accessory = left;
            return result;
        }
    }
    if (const auto& right = rightCalloutAccessoryView()) {
        if (const auto local = convertPoint(point, *right); local && right->hitTest(*local)) {
            QLLogInfo("hit on right callout accessory view");
            result.accessory = right;
            return result;
        }
    }
    return result;
}

}  // namespace tervolo::location
