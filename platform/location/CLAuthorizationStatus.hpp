#pragma once

namespace platform {

// Whether the program may use the user's position, with the platform's raw
// values. A Linux desktop has no permission prompt: the status follows the
// position service (see CLLocationManager).
enum class CLAuthorizationStatus : int {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    authorizedAlways = 3,
    authorizedWhenInUse = 4,
};

}  // namespace platform
