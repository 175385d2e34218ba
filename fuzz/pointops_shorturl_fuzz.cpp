// A received short-link record's coordinate texts on arbitrary bytes (the
// input split at its first newline: latitude, then longitude): either no
// point, or a point on the globe whose file can be written and read back,
// whose description and share texts can be made.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "points/QuovaMapPoint.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const size_t newline = bytes.find('\n');
    tervolo::points::Shorturl record;
    record.title = "fuzz";
    record.latitude = std::string(bytes.substr(0, newline));
    record.longitude =
        newline == std::string_view::npos ? std::string() : std::string(bytes.substr(newline + 1));

    if (auto coordinate = record.coordinate()) {
        if (!std::isfinite(coordinate->latitude) || !std::isfinite(coordinate->longitude)) __builtin_trap();
    }
    auto point = tervolo::points::QuovaMapPoint::make(record);
    if (!point) return 0;
    if (!platform::CLLocationCoordinate2DIsValid(point->coordinate())) __builtin_trap();
    // Never throws for a point made this way: every number is finite.
    const std::string text = point->encodedFile();
    auto again = tervolo::points::QuovaMapPoint::decode(std::string_view(text));
    if (again->coordinate() != point->coordinate()) __builtin_trap();
    (void)point->description();
    return 0;
}
