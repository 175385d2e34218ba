// The version document comes from the network: any bytes decode or are
// refused, and a decoded document compares and prints.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "backend/QuovaVersionChecker.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const auto info = platform::JSONDecoder().decode<tervolo::backend::AppVersionInfo>(
            std::string_view(reinterpret_cast<const char*>(data), size));
        (void)info.description();
        (void)tervolo::backend::QuovaVersionChecker::compareVersions(
            info, tervolo::backend::ApplicationVersion::parse("1.2.3", "4"));
    } catch (const std::exception&) {
    }
    return 0;
}
