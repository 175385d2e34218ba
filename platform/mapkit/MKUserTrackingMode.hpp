#pragma once

#include <cstdint>

namespace platform {

// How the map follows the user's position, with the platform's raw values. The map view itself never
// follows (the map screen does); the type carries the mode a user picks and stores. A raw value read
// from storage may be any integer, so code that shows a mode handles values outside the three cases.
enum class MKUserTrackingMode : int64_t { None = 0, Follow = 1, FollowWithHeading = 2 };

}  // namespace platform
