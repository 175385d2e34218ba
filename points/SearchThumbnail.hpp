#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tervolo::points {

// The search-index thumbnail: the application image "Icon-Small" in its JPEG
// form, or none when the image cannot be had. The program ships the image
// already encoded as JPEG (resources/Icon-Small.jpg), so no encoder is needed
// at run time; the bytes are read from the main bundle's resources.
std::optional<std::vector<uint8_t>> searchThumbnailJPEG();

}  // namespace tervolo::points
