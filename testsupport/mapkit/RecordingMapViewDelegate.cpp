#include "testsupport/mapkit/RecordingMapViewDelegate.hpp"

namespace tervolo::testsupport {

namespace {

std::string titleOf(const std::shared_ptr<platform::MKAnnotationView>& view) {
    if (!view || !view->annotation()) return "?";
    return view->annotation()->title();
}

}  // namespace

void RecordingMapViewDelegate::nameOverlay(const std::shared_ptr<platform::MKOverlay>& overlay,
                                           std::string name) {
    overlayNames_.emplace_back(overlay.get(), std::move(name));
}

std::string RecordingMapViewDelegate::nameOf(const platform::MKOverlay* overlay) const {
    for (const auto& [key, name] : overlayNames_) {
        if (key == overlay) return name;
    }
    return "?";
}

std::vector<std::string> RecordingMapViewDelegate::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const auto& call : calls) {
        if (call.rfind(prefix, 0) == 0) result.push_back(call);
    }
    return result;
}

void RecordingMapViewDelegate::record(std::string line) {
    calls.push_back(line);
    if (onCall) onCall(line);
}

void RecordingMapViewDelegate::regionWillChangeAnimated(platform::MKMapViewModel&, bool animated) {
    record("willChange animated=" + std::to_string(animated ? 1 : 0));
}

void RecordingMapViewDelegate::regionDidChangeAnimated(platform::MKMapViewModel&, bool animated) {
    record("didChange animated=" + std::to_string(animated ? 1 : 0));
}

std::shared_ptr<platform::MKAnnotationView> RecordingMapViewDelegate::viewForAnnotation(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotation>& annotation) {
    record("viewFor " + annotation->title());
    return viewFactory ? viewFactory(mapView, annotation) : nullptr;
}

void RecordingMapViewDelegate::didAddAnnotationViews(
    platform::MKMapViewModel&, const std::vector<std::shared_ptr<platform::MKAnnotationView>>& views) {
    std::string line = "didAdd ";
    for (size_t i = 0; i < views.size(); ++i) {
        if (i > 0) line.push_back(',');
        line.append(titleOf(views[i]));
    }
    record(line);
}

void RecordingMapViewDelegate::didSelectAnnotationView(
    platform::MKMapViewModel&, const std::shared_ptr<platform::MKAnnotationView>& view) {
    record("didSelect " + titleOf(view));
}

void RecordingMapViewDelegate::didDeselectAnnotationView(
    platform::MKMapViewModel&, const std::shared_ptr<platform::MKAnnotationView>& view) {
    record("didDeselect " + titleOf(view));
}

void RecordingMapViewDelegate::annotationViewCalloutAccessoryControlTapped(
    platform::MKMapViewModel&, const std::shared_ptr<platform::MKAnnotationView>& view,
    const std::shared_ptr<platform::MKCalloutAccessoryView>&) {
    record("accessory " + titleOf(view));
}

void RecordingMapViewDelegate::annotationViewDidChangeDragState(
    platform::MKMapViewModel&, const std::shared_ptr<platform::MKAnnotationView>& view,
    platform::MKAnnotationViewDragState newState, platform::MKAnnotationViewDragState oldState) {
    record("drag " + titleOf(view) + " " + std::to_string(static_cast<int>(newState)) + "<-" +
           std::to_string(static_cast<int>(oldState)));
}

void RecordingMapViewDelegate::didUpdateUserLocation(platform::MKMapViewModel&,
                                                     const std::shared_ptr<platform::MKUserLocation>&) {
    record("userLocation");
}

std::shared_ptr<platform::MKOverlayRenderer> RecordingMapViewDelegate::rendererForOverlay(
    platform::MKMapViewModel&, const std::shared_ptr<platform::MKOverlay>& overlay) {
    record("rendererFor " + nameOf(overlay.get()));
    return rendererFactory ? rendererFactory(overlay) : nullptr;
}

}  // namespace tervolo::testsupport
