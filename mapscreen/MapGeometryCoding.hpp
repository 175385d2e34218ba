#pragma once

#include <string>
#include <vector>

#include <QRectF>
#include <nlohmann/json_fwd.hpp>

#include "platform/mapkit/MKGeometry.hpp"

// The map's geometry values in JSON, as unkeyed (ordered) arrays of numbers in
// map points: a point [x, y], a size [width, height], a rectangle
// [[x, y], [width, height]] with the origin first. Written only, never read
// back. (The coordinate's form, [longitude, latitude], which is also read,
// lives with the point file: points/CoordinateCoding.hpp.)
//
// Each throws platform::EncodingError, with `codingPath` and the element's
// index, for a NaN or infinite component, as the JSON encoder does. Any thread.
namespace tervolo::mapscreen {

nlohmann::ordered_json encode(const platform::MKMapPoint& point,
                              const std::vector<std::string>& codingPath = {});
nlohmann::ordered_json encode(const platform::MKMapSize& size,
                              const std::vector<std::string>& codingPath = {});
nlohmann::ordered_json encode(const platform::MKMapRect& rect,
                              const std::vector<std::string>& codingPath = {});

// The map rectangle with a view rectangle's numbers copied unchanged (origin
// and size), without projection or scaling: for code that keeps a map
// rectangle in a plain rectangle.
platform::MKMapRect mapRectWith(const QRectF& rect);

}  // namespace tervolo::mapscreen
