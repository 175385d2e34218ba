#include "mapscreen/MapViewZoomLevel.hpp"

#include <cmath>

#include "platform/mapkit/TileZoomLevel.hpp"
#include "tiles/TileGrid.hpp"

namespace tervolo::mapscreen {

std::optional<int64_t> quovaZoomLevel(const platform::MKMapViewModel& mapView) {
    return platform::tileZoomLevel(mapView.boundsSize().width,
                                   platform::MKMapRectGetWidth(mapView.visibleMapRect()));
}

tiles::QuovaTileRect tileRect(const platform::MKMapViewModel& mapView, std::optional<int64_t> zoomLevel,
                              int64_t margin) {
    const std::optional<int64_t> level = zoomLevel ? zoomLevel : quovaZoomLevel(mapView);
    if (!level) return tiles::QuovaTileRect(0, 0, 0, 0);
    return tiles::tileRectForZoomLevel(mapView.visibleMapRect(), *level, margin);
}

void zoom(platform::MKMapViewModel& mapView, double byFactor) {
    // A zero, negative or non-finite distance has no camera to go to; the map would keep its
    // scale anyway, but the animation and the region callbacks would still run for nothing.
    if (!std::isfinite(byFactor) || byFactor <= 0) return;
    platform::MKMapCamera camera = mapView.camera();
    camera.centerCoordinateDistance = mapView.camera().centerCoordinateDistance * byFactor;
    mapView.setCamera(camera, true);
}

}  // namespace tervolo::mapscreen
