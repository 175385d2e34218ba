#pragma once

#include "platform/mapkit/MKGeometry.hpp"

namespace tervolo::tiles {

// The tile engine's frames and requested areas: rectangles of the map plane in
// map points (origin at the north-west corner, y growing south).
using MapRect = platform::MKMapRect;

}  // namespace tervolo::tiles
