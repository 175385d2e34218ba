#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/location/CLPlacemark.hpp"

namespace platform {

// What answers a CLGeocoder: the HTTP geocoding service in the application, a
// scripted one in tests. Any thread.
class GeocoderService {
  public:
    struct Request {
        enum class Kind { forward, reverse };
        Kind kind = Kind::forward;
        std::string text;                       // forward: what the user typed
        std::optional<CLCircularRegion> region;  // forward: places near it come first
        CLLocationCoordinate2D coordinate;       // reverse
        std::string language;                   // "de": names and addresses in it where known
    };
    // Called once, on any thread: the places found (possibly none), or an error.
    using Completion = std::function<void(std::optional<std::vector<CLPlacemark>> placemarks, std::optional<Error> error)>;
    // Stops a request; its completion may or may not still be called.
    using Cancel = std::function<void()>;

    virtual ~GeocoderService() = default;
    virtual Cancel start(Request request, Completion completion) = 0;

    // The service geocoders use: the installed one, else the HTTP service.
    static std::shared_ptr<GeocoderService> current();
    static void setCurrentForTesting(std::shared_ptr<GeocoderService> service);
};

// The user's preferred language for places: the first of $LANGUAGE, else the
// language of $LC_ALL, $LC_MESSAGES or $LANG; "en" when none names one.
std::string preferredGeocoderLanguage();

}  // namespace platform
