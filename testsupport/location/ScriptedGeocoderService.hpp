#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/location/GeocoderService.hpp"

namespace tervolo::testsupport {

// A geocoding service with scripted answers, keyed by the searched text or by
// the reverse-geocoded coordinate ("lat,lon" with describe()'s digits). An
// answer may wait `delay` seconds (virtual time: scheduled with asyncAfter on
// a queue of its own). Unscripted requests find nothing. Every request is
// recorded. Install it with install() for the scope of a test.
class ScriptedGeocoderService : public platform::GeocoderService,
                                public std::enable_shared_from_this<ScriptedGeocoderService> {
  public:
    struct Answer {
        std::vector<platform::CLPlacemark> placemarks;
        std::optional<platform::Error> error;
        double delay = 0;
    };

    static std::shared_ptr<ScriptedGeocoderService> install();
    static void uninstall();

    void answerText(const std::string& text, Answer answer);
    void answerCoordinate(platform::CLLocationCoordinate2D coordinate, Answer answer);

    Cancel start(Request request, Completion completion) override;

    std::vector<Request> requests() const;
    int cancelCount() const;

    static std::string coordinateKey(platform::CLLocationCoordinate2D coordinate);

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Answer> byText_;
    std::map<std::string, Answer> byCoordinate_;
    std::vector<Request> requests_;
    int cancels_ = 0;
};

// A placemark with a name, a position and an address.
platform::CLPlacemark makePlacemark(const std::string& name, double latitude, double longitude,
                                    const std::string& street = "", const std::string& city = "",
                                    const std::string& country = "");

}  // namespace tervolo::testsupport
