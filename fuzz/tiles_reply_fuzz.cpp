// What a tile server sends: reply bytes checked as a tile image (within the
// dimension and memory limits) and the final URL text turned into a storage
// path for lookups.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "tiles/TileDiskCache.hpp"
#include "tiles/TileImageDecoder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    QImage image = tervolo::tiles::decodeTileImage(bytes);
    if (!image.isNull() && (image.width() > tervolo::tiles::kMaximumTileImageDimension ||
                            image.height() > tervolo::tiles::kMaximumTileImageDimension)) {
        __builtin_trap();
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto path = tervolo::tiles::storagePathWithURLString(text)) {
        (void)tervolo::tiles::TileDiskCache::isValidStoragePath(*path);
    }
    return 0;
}
