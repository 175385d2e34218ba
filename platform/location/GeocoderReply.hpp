#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/location/CLPlacemark.hpp"

namespace platform {

// Reads the reply of an OpenStreetMap-style geocoding service (search: a JSON
// array of places; reverse: one place object, or {"error": ...} when nothing
// is there) into placemarks. Places without a finite position on the globe
// are skipped. Throws std::runtime_error with a description for anything that
// is not such a reply (not JSON, wrong shape, too deep).
std::vector<CLPlacemark> decodeGeocoderReply(std::string_view json);

}  // namespace platform
