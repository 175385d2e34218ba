#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/location/CLLocationCoordinate2D.hpp"

// The coordinate's JSON form, fixed for the whole system: an array of exactly
// two numbers, the longitude (degrees) first and the latitude (degrees)
// second. Every point file's "coordinate" has it, and the map screen's
// geometry encodings nest it. No range test is made either way: an
// out-of-range coordinate round-trips unchanged.
namespace tervolo::points {

// [longitude, latitude]. Throws platform::EncodingError (with `codingPath`
// and the element's index) for a NaN or infinite component.
nlohmann::ordered_json encodeCoordinate(const platform::CLLocationCoordinate2D& coordinate,
                                        const std::vector<std::string>& codingPath = {});

// The coordinate of [longitude, latitude]; elements after the second are
// ignored, whatever they hold. Throws platform::DecodingError with
// `codingPath`: valueNotFound for null or an array of fewer than two
// elements, typeMismatch for a value that is not an array or an element that
// is not a number.
platform::CLLocationCoordinate2D decodeCoordinate(const nlohmann::json& value,
                                                  const std::vector<std::string>& codingPath = {});

}  // namespace tervolo::points
