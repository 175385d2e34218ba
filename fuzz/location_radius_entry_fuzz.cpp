// A typed circle radius and the region around it on arbitrary input: the
// first 16 bytes are a centre (two doubles, degrees), the rest the text the
// user typed. Whatever is typed, an accepted radius is a finite number of
// metres within the bounds, and the small map's region around any valid
// centre is a finite rectangle with area, inside the world's height.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "location/RegionMapRect.hpp"
#include "points/RadiusTables.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;  // the reader is linear; longer inputs only slow the search
    platform::CLLocationCoordinate2D center{60.1699, 24.9384};
    if (size >= 16) {
        std::memcpy(&center.latitude, data, sizeof(double));
        std::memcpy(&center.longitude, data + 8, sizeof(double));
        data += 16;
        size -= 16;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool metric : {true, false}) {
        const auto reading = tervolo::points::readCustomRadius(text, metric);
        const double metres = reading.metres.value_or(5000 / 3.0);
        if (reading.metres &&
            (!std::isfinite(metres) || metres <= 0 || metres > tervolo::points::kMaximumCustomRadius)) {
            __builtin_trap();
        }
        const auto rect = tervolo::location::mapRectForRegion(center, 3 * metres);
        if (!rect) {
            if (platform::CLLocationCoordinate2DIsValid(center)) __builtin_trap();
            continue;
        }
        const double side = platform::kMKMapWorldSide;
        if (!std::isfinite(rect->origin.x) || !std::isfinite(rect->origin.y) ||
            !std::isfinite(rect->size.width) || !std::isfinite(rect->size.height)) {
            __builtin_trap();
        }
        if (rect->size.width <= 0 || rect->size.height <= 0 || rect->size.width > side) __builtin_trap();
        if (rect->origin.x < 0 || rect->origin.x >= side) __builtin_trap();
        if (rect->origin.y < -1 || rect->origin.y + rect->size.height > side + 1) __builtin_trap();
    }
    return 0;
}
