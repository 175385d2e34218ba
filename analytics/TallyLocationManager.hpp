#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tervolo::analytics {

// The location facts the application may report (a coordinate, a city, a
// country code, an IP address), or the wish to report none. Memory only. Any
// thread.
class TallyLocationManager {
  public:
    // None (with the not-started line) before the client has started.
    static std::shared_ptr<TallyLocationManager> sharedInstance();
    static void resetForTesting();

    // Latitude and longitude in degrees; an invalid coordinate (outside
    // ±90/±180, or NaN) sets no location. Empty texts set nothing.
    void updateLocation(double latitude, double longitude, const std::optional<std::string>& city,
                        const std::optional<std::string>& ISOCountryCode,
                        const std::optional<std::string>& IP);
    // With location consent: update, then queue the location request.
    void recordLocation(double latitude, double longitude, const std::optional<std::string>& city,
                        const std::optional<std::string>& ISOCountryCode,
                        const std::optional<std::string>& IP);
    void sendLocationInfo();
    // With location consent: forget every fact and tell the server to use none.
    void disableLocationInfo();

    bool isLocationInfoDisabled() const;
    std::optional<std::string> location() const;  // "%f,%f", latitude first
    std::optional<std::string> city() const;
    std::optional<std::string> ISOCountryCode() const;
    std::optional<std::string> IP() const;

  private:
    TallyLocationManager() = default;

    mutable std::mutex mutex_;
    bool isLocationInfoDisabled_ = false;
    std::optional<std::string> location_;
    std::optional<std::string> city_;
    std::optional<std::string> ISOCountryCode_;
    std::optional<std::string> IP_;
};

}  // namespace tervolo::analytics
