// Fuzz target: the latitude/longitude and degrees-minutes-seconds text readers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "geodesy/DMS.hpp"
#include "geodesy/LatLon.hpp"

using namespace tervolo::geodesy;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    DMS::castToDouble(text);
    const double degrees = DMS::parseDMS(text);
    // The writers must take whatever the reader produced (NaN and infinities included).
    DMS::toLat(degrees, DMSFormat::degreesMinutesSeconds, 4);
    DMS::toBrng(degrees, DMSFormat::degreesMinutes, 2);
    DMS::compassPoint(degrees, 3);
    try {
        const LatLon position = LatLon::parseLatLon(text);
        position.description();
        position.toCartesian();
    } catch (const LatLonError&) {
    }
    return 0;
}
