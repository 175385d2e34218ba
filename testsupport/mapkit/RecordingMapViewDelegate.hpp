#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/mapkit/MKMapViewDelegate.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"

namespace tervolo::testsupport {

// A map delegate that writes every call as one line, so tests compare whole sequences:
//   "willChange animated=1", "didChange animated=0", "viewFor <title>", "didAdd <title>,<title>",
//   "didSelect <title>", "didDeselect <title>", "accessory <title>", "drag <title> 1<-0",
//   "userLocation", "rendererFor <title>".
// Annotations are named by their title (overlays by the name given to nameOverlay, else "?").
// viewFactory / rendererFactory answer viewFor / rendererFor (none by default: the map's defaults).
class RecordingMapViewDelegate : public platform::MKMapViewDelegate {
  public:
    std::vector<std::string> calls;
    std::function<std::shared_ptr<platform::MKAnnotationView>(platform::MKMapViewModel&,
                                                              const std::shared_ptr<platform::MKAnnotation>&)>
        viewFactory;
    std::function<std::shared_ptr<platform::MKOverlayRenderer>(const std::shared_ptr<platform::MKOverlay>&)>
        rendererFactory;
    // Runs after the line of every call is recorded (re-entrancy tests).
    std::function<void(const std::string&)> onCall;

    void nameOverlay(const std::shared_ptr<platform::MKOverlay>& overlay, std::string name);
    void clear() { calls.clear(); }
    // The recorded lines that start with `prefix`.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;

    void regionWillChangeAnimated(platform::MKMapViewModel& mapView, bool animated) override;
    void regionDidChangeAnimated(platform::MKMapViewModel& mapView, bool animated) override;
    std::shared_ptr<platform::MKAnnotationView> viewForAnnotation(
        platform::MKMapViewModel& mapView,
        const std::shared_ptr<platform::MKAnnotation>& annotation) override;
    void didAddAnnotationViews(
        platform::MKMapViewModel& mapView,
        const std::vector<std::shared_ptr<platform::MKAnnotationView>>& views) override;
    void didSelectAnnotationView(platform::MKMapViewModel& mapView,
                                 const std::shared_ptr<platform::MKAnnotationView>& view) override;
    void didDeselectAnnotationView(platform::MKMapViewModel& mapView,
                                   const std::shared_ptr<platform::MKAnnotationView>& view) override;
    void annotationViewCalloutAccessoryControlTapped(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotationView>& view,
        const std::shared_ptr<platform::MKCalloutAccessoryView>& control) override;
    void annotationViewDidChangeDragState(platform::MKMapViewModel& mapView,
                                          const std::shared_ptr<platform::MKAnnotationView>& view,
                                          platform::MKAnnotationViewDragState newState,
                                          platform::MKAnnotationViewDragState oldState) override;
    void didUpdateUserLocation(platform::MKMapViewModel& mapView,
                               const std::shared_ptr<platform::MKUserLocation>& userLocation) override;
    std::shared_ptr<platform::MKOverlayRenderer> rendererForOverlay(
        platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKOverlay>& overlay) override;

  private:
    void record(std::string line);
    std::string nameOf(const platform::MKOverlay* overlay) const;
    std::vector<std::pair<const platform::MKOverlay*, std::string>> overlayNames_;
};

}  // namespace tervolo::testsupport
