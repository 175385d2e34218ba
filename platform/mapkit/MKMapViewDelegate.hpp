#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/mapkit/MKAnnotationView.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/mapkit/MKUserLocation.hpp"

namespace platform {

class MKMapViewModel;

// What the map tells its delegate, on the main thread, in the platform's order:
// - regionWillChangeAnimated runs inside a programmatic camera setter (synchronously) and at the start
//   of a user gesture; regionDidChangeAnimated after the animation ends, on the next main-queue turn for
//   a move without animation, and at the end of the gesture (one pair per wheel burst). Pairs never
//   nest: a move that interrupts a pending one first delivers that one's did-change.
// - didSelect comes after selectedAnnotations holds the new annotation; selecting while another is
//   selected deselects that one first.
// - calloutAccessoryControlTapped comes after the control ran its own action.
// - drag states: Starting, Dragging, then Ending (after the annotation got its new coordinate) or
//   Canceling (no move), then None; the old state is passed along.
// Every call has a default that does nothing (or makes the default view or no renderer).
class MKMapViewDelegate {
  public:
    virtual ~MKMapViewDelegate() = default;

    virtual void regionWillChangeAnimated(MKMapViewModel& mapView, bool animated);
    virtual void regionDidChangeAnimated(MKMapViewModel& mapView, bool animated);

    // None: the map makes its default view (a red pin, or the user-location dot).
    virtual std::shared_ptr<MKAnnotationView> viewForAnnotation(
        MKMapViewModel& mapView, const std::shared_ptr<MKAnnotation>& annotation);
    virtual void didAddAnnotationViews(MKMapViewModel& mapView,
                                       const std::vector<std::shared_ptr<MKAnnotationView>>& views);
    virtual void didSelectAnnotationView(MKMapViewModel& mapView,
                                         const std::shared_ptr<MKAnnotationView>& view);
    virtual void didDeselectAnnotationView(MKMapViewModel& mapView,
                                           const std::shared_ptr<MKAnnotationView>& view);
    virtual void annotationViewCalloutAccessoryControlTapped(
        MKMapViewModel& mapView, const std::shared_ptr<MKAnnotationView>& view,
        const std::shared_ptr<MKCalloutAccessoryView>& control);
    virtual void annotationViewDidChangeDragState(MKMapViewModel& mapView,
                                                  const std::shared_ptr<MKAnnotationView>& view,
                                                  MKAnnotationViewDragState newState,
                                                  MKAnnotationViewDragState oldState);

    // Only while the map shows the user's location, after userLocation().location() holds the fix.
    virtual void didUpdateUserLocation(MKMapViewModel& mapView,
                                       const std::shared_ptr<MKUserLocation>& userLocation);

    // Asked once each time an overlay is added; the map keeps the answer while the overlay stays.
    // None: the overlay is not drawn.
    virtual std::shared_ptr<MKOverlayRenderer> rendererForOverlay(MKMapViewModel& mapView,
                                                                  const std::shared_ptr<MKOverlay>& overlay);
};

}  // namespace platform
