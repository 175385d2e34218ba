// Fuzz target: the MGRS text reader (spaced and run-together forms), and the conversions of whatever it
// accepts. Every input must end in bounded time.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "geodesy/Mgrs.hpp"

using namespace tervolo::geodesy;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const Mgrs mgrs = Mgrs::parse(text);
        for (unsigned precision = 0; precision <= 6; ++precision) mgrs.toString(precision);
        try {
            mgrs.toUTM().toMGRS();
        } catch (const UtmError&) {
        } catch (const MgrsError&) {
        }
    } catch (const MgrsError&) {
    }
    return 0;
}
