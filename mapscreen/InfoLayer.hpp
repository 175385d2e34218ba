#pragma once

#include <string>

#include "mapscreen/InfoLayerCategory.hpp"
#include "mapscreen/InfoLayerKey.hpp"

namespace tervolo::mapscreen {

// One entry of the info-layer catalogue: which layer, its kind, and the
// localized name the layers sheet shows.
struct InfoLayer {
    InfoLayerKey key;
    InfoLayerCategory category;
    std::string localizedDescription;

    bool operator==(const InfoLayer&) const = default;
};

}  // namespace tervolo::mapscreen
