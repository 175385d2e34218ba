#pragma once

namespace tervolo::mapscreen {

// What kind of data an info layer draws: map tiles, the user's own data, or data fetched from a service.
enum class InfoLayerCategory { tileLayer, localDataLayer, remoteDataLayer };

}  // namespace tervolo::mapscreen
