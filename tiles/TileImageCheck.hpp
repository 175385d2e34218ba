#pragma once

#include <cstdint>
#include <span>

namespace tervolo::tiles {

// Largest width or height of a tile image accepted (pixels), and the most
// memory one decoded tile may take (bytes): a hostile or broken server cannot
// make a small file decode into a huge bitmap.
inline constexpr int kMaximumTileImageDimension = 2048;
inline constexpr int kMaximumTileImageMegabytes = 32;

// Whether the bytes decode to an image within those limits. Any thread; no display needed.
bool isTileImage(std::span<const uint8_t> bytes);

}  // namespace tervolo::tiles
