#include "mapscreen/MainViewController.hpp"

namespace tervolo::mapscreen {

// Stand-ins until the points-on-the-map operations land.

std::shared_ptr<platform::MKOverlay> MainViewController::haloForPoint(
    const std::shared_ptr<points::QuovaMapPoint>&) const {
    return nullptr;
}

void MainViewController::removeHaloFromPoint(const std::shared_ptr<points::QuovaMapPoint>&) {}

void MainViewController::addAnnotation(const std::shared_ptr<points::QuovaMapPoint>&) {}

void MainViewController::addPoint(const std::shared_ptr<points::QuovaMapPoint>&) {}

void MainViewController::zoomInOnPoint(const std::shared_ptr<points::QuovaMapPoint>&) {}

void MainViewController::dropPinAtLocation(platform::CLLocationCoordinate2D, std::optional<std::string>) {}

void MainViewController::refreshCircleOverlayForUserLocation() {}

void MainViewController::handleIncomingShorturl(const points::Shorturl&) {}

void MainViewController::handleIncomingUUID(const std::string&) {}

bool MainViewController::proximityCheckPassedForPoint(const std::shared_ptr<points::QuovaMapPoint>&) {
    return true;
}

void MainViewController::startReverseGeocodingForPoint(const std::shared_ptr<points::QuovaMapPoint>&) {}

}  // namespace tervolo::mapscreen
