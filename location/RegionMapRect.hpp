#pragma once

#include <optional>

#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/mapkit/MKGeometry.hpp"

namespace tervolo::location {

// The visible map rectangle of a square region `metres` north-south by
// `metres` east-west around `center` (the small maps zoom to a circle's
// surroundings with it): the region's latitude and longitude spans
// (platform::MKCoordinateRegionMakeWithDistance) between its north-west and
// south-east corners, as map points.
//
// Unlike plain corner arithmetic it stays a usable rectangle everywhere:
// near the poles the latitude band is moved (not cut) to lie within the
// projection's ±85.05112878°, so the rectangle keeps its height; across the
// ±180° meridian it starts at the western corner (inside the world) and
// reaches east past the world's edge by the span's width; a region wider than
// the world is the world's width; a region under kMinimumRegionMetres is that
// large. None for an invalid centre (the platform's
// invalid coordinate, or out of range) and for a distance that is not finite
// or not above 0: there is nothing sensible to show then.
//
// Pure arithmetic; any thread.
inline constexpr double kMinimumRegionMetres = 1.0;
std::optional<platform::MKMapRect> mapRectForRegion(platform::CLLocationCoordinate2D center, double metres);

}  // namespace tervolo::location
