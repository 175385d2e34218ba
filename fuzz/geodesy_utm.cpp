// Fuzz target: the UTM text reader, and the conversions of whatever it accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "geodesy/Mgrs.hpp"
#include "geodesy/Utm.hpp"

using namespace tervolo::geodesy;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const Utm utm = Utm::parseUTM(text);
        // text → value → text → value → text is stable.
        const std::string printed = utm.toString();
        if (Utm::parseUTM(printed).toString() != printed) std::abort();
        const LatLon position = utm.toLatLonE();
        try {
            position.toUTM();
        } catch (const UtmError&) {
        }
        try {
            utm.toMGRS().toString(5);
        } catch (const MgrsError&) {
        }
    } catch (const UtmError&) {
    }
    return 0;
}
