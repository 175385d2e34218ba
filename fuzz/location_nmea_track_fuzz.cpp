// Recorded NMEA tracks are files from anywhere: any bytes give fixes whose
// coordinates are valid, accuracies positive and times finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/location/NMEATrack.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& fix : platform::NMEATrack::fixes(text, platform::Date::fromUnix(1796774400.0))) {
        if (!platform::CLLocationCoordinate2DIsValid(fix.coordinate()) || !(fix.horizontalAccuracy() > 0) ||
            !std::isfinite(fix.timestamp().secondsSince2001) || !std::isfinite(fix.altitude())) {
            std::abort();
        }
    }
    return 0;
}
