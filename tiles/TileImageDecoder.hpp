#pragma once

#include <cstdint>
#include <span>

#include <QImage>

#include "tiles/TileImageCheck.hpp"

namespace tervolo::tiles {

// The decoded tile, or a null image when the bytes are no image or exceed the
// limits of TileImageCheck.hpp. Any thread.
QImage decodeTileImage(std::span<const uint8_t> bytes);

}  // namespace tervolo::tiles
