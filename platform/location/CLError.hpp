#pragma once

#include <string>

#include "platform/foundation/Error.hpp"

namespace platform {

// Errors of the location and geocoding services, in the platform's domain
// "kCLErrorDomain" with its codes.
struct CLError {
    static constexpr const char* domain = "kCLErrorDomain";
    static constexpr int64_t locationUnknown = 0;
    static constexpr int64_t denied = 1;
    static constexpr int64_t network = 2;
    static constexpr int64_t geocodeFoundNoResult = 8;
    static constexpr int64_t geocodeCanceled = 10;

    static Error make(int64_t code, std::string description) { return Error{domain, code, std::move(description)}; }
};

}  // namespace platform
