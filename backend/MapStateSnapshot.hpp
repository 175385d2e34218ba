#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tervolo::backend {

// What a shared point's upload tells of the map at the moment of sharing.
// The map screen publishes it on the main thread whenever its style or region
// changes; the upload reads it on the share thread. Reading the map view
// there would race with the user interface.
struct MapStateSnapshot {
    // Position of the base map style in the order standard, satellite,
    // hybrid, osm, osmRetina, openTopoMap, openCycleMap, openCycleMapRetina;
    // none when no style is set on the map view.
    std::optional<int> mapStyleIndex;
    double boundsWidthPoints = 0;  // the map view's width
    double visibleMapWidth = 0;    // width of its visible map rectangle, in map points

    // The last published state; none while no map screen with a map view
    // exists. Any thread.
    static std::optional<MapStateSnapshot> current();
    static void publish(std::optional<MapStateSnapshot> snapshot);
};

// The upload's "maptype" letter of a style position ("s" for none or an unknown one).
std::string mapTypeLetter(std::optional<int> mapStyleIndex);

// The upload's "zoom": the map screen's tile zoom level
// (platform::tileZoomLevel: 20 + round(log2(bounds / visible)) in single
// precision, a negative or undefined sum 0), and 16 where that has no level
// (a visible width of 0).
int64_t shareZoomLevel(double boundsWidthPoints, double visibleMapWidth);

}  // namespace tervolo::backend
