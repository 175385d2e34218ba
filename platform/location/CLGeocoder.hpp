#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/location/CLPlacemark.hpp"
#include "platform/location/GeocoderService.hpp"

namespace platform {

// Turns text into places and positions into addresses. Main thread.
//
// One request at a time per geocoder: a request made while another runs
// fails at once with CLError::network ("busy") and leaves the running one
// alone. Every completion runs exactly once, on the main queue, never inside
// the call that started it. A search that finds nothing completes with the
// error CLError::geocodeFoundNoResult (8) and no list, as the platform does;
// cancelGeocode() completes the running request with CLError::geocodeCanceled
// (10). Destroying a geocoder cancels its request.
class CLGeocoder {
  public:
    using Completion = std::function<void(std::optional<std::vector<CLPlacemark>> placemarks, std::optional<Error> error)>;

    CLGeocoder();
    ~CLGeocoder();
    CLGeocoder(const CLGeocoder&) = delete;
    CLGeocoder& operator=(const CLGeocoder&) = delete;

    void geocodeAddressString(const std::string& text, std::optional<CLCircularRegion> region, Completion completion);
    void reverseGeocodeLocation(const CLLocation& location, Completion completion);
    bool isGeocoding() const;
    void cancelGeocode();

  private:
    struct State;
    void begin(GeocoderService::Request request, Completion completion);
    std::shared_ptr<State> state_;
};

}  // namespace platform
