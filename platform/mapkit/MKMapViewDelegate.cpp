#include "platform/mapkit/MKMapViewDelegate.hpp"

namespace platform {

void MKMapViewDelegate::regionWillChangeAnimated(MKMapViewModel&, bool) {}
void MKMapViewDelegate::regionDidChangeAnimated(MKMapViewModel&, bool) {}

std::shared_ptr<MKAnnotationView> MKMapViewDelegate::viewForAnnotation(MKMapViewModel&,
                                                                       const std::shared_ptr<MKAnnotation>&) {
    return nullptr;
}

void MKMapViewDelegate::didAddAnnotationViews(MKMapViewModel&,
                                              const std::vector<std::shared_ptr<MKAnnotationView>>&) {}
void MKMapViewDelegate::didSelectAnnotationView(MKMapViewModel&, const std::shared_ptr<MKAnnotationView>&) {}
void MKMapViewDelegate::didDeselectAnnotationView(MKMapViewModel&, const std::shared_ptr<MKAnnotationView>&) {
}
void MKMapViewDelegate::annotationViewCalloutAccessoryControlTapped(
    MKMapViewModel&, const std::shared_ptr<MKAnnotationView>&,
    const std::shared_ptr<MKCalloutAccessoryView>&) {}
void MKMapViewDelegate::annotationViewDidChangeDragState(MKMapViewModel&,
                                                         const std::shared_ptr<MKAnnotationView>&,
                                                         MKAnnotationViewDragState,
                                                         MKAnnotationViewDragState) {}
void MKMapViewDelegate::didUpdateUserLocation(MKMapViewModel&, const std::shared_ptr<MKUserLocation>&) {}

std::shared_ptr<MKOverlayRenderer> MKMapViewDelegate::rendererForOverlay(MKMapViewModel&,
                                                                         const std::shared_ptr<MKOverlay>&) {
    return nullptr;
}

}  // namespace platform
