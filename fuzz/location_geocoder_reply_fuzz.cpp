// Geocoder replies come from the network: any bytes give placemarks or a
// refusal, and every placemark's address lines can be built.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "platform/location/GeocoderReply.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        for (const auto& placemark :
             platform::decodeGeocoderReply(std::string_view(reinterpret_cast<const char*>(data), size))) {
            (void)placemark.formattedAddressLines();
        }
    } catch (const std::runtime_error&) {
    }
    return 0;
}
