#pragma once

#include <string>

#include "platform/mapkit/MKUserTrackingMode.hpp"

// The user-visible texts of the three tracking modes, localized through the
// main bundle with the English text as the key. A raw value outside the three
// modes gives "none" for both. Any thread.
namespace tervolo::mapscreen {

// The short name: "none", "follow", "followWithHeading".
std::string title(platform::MKUserTrackingMode mode);

// The sentence shown when the mode changes: "The map won't follow your
// location any more.", "The map now keeps your location centered.", "The map
// now tracks your location & heading.".
std::string description(platform::MKUserTrackingMode mode);

}  // namespace tervolo::mapscreen
