#pragma once

#include <functional>
#include <optional>

#include "platform/location/CLLocation.hpp"

// The location services' best known position, as the distance sort of the
// point store reads it. The location services sit above the points (they use
// points for the user's own position), so they install a provider here when
// they are created; until then there is no known position.
namespace tervolo::points {

using BestKnownLocationProvider = std::function<std::optional<platform::CLLocation>()>;

// Installs the provider (empty: none). Thread-safe.
void setBestKnownLocationProvider(BestKnownLocationProvider provider);

// The provider's answer, or none without a provider. The provider runs on the
// caller's thread (the main thread for the sort).
std::optional<platform::CLLocation> bestKnownLocation();

}  // namespace tervolo::points
