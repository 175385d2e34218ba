#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/location/CLAuthorizationStatus.hpp"
#include "platform/location/CLLocation.hpp"
#include "platform/location/PositionSource.hpp"

namespace platform {

class CLLocationManager;

// Receives a manager's news on the main thread.
class CLLocationManagerDelegate {
  public:
    virtual ~CLLocationManagerDelegate() = default;
    // Fixes in chronological order.
    virtual void locationManagerDidUpdateLocations(CLLocationManager& manager,
                                                   const std::vector<CLLocation>& locations) {
        (void)manager;
        (void)locations;
    }
    virtual void locationManagerDidFailWithError(CLLocationManager& manager, const Error& error) {
        (void)manager;
        (void)error;
    }
    virtual void locationManagerDidChangeAuthorization(CLLocationManager& manager, CLAuthorizationStatus status) {
        (void)manager;
        (void)status;
    }
};

// Accuracy in metres; "best" asks for satellite positioning.
inline constexpr double kCLLocationAccuracyBest = -1.0;
inline constexpr double kCLLocationAccuracyHundredMeters = 100.0;
// Distance filter off: every fix is delivered.
inline constexpr double kCLDistanceFilterNone = -1.0;

// Delivers the user's position from a position source. Main thread only: it
// is created, configured and called there, and every delegate call arrives
// there, asynchronously (never from inside a call of the caller's).
//
// Authorisation on a desktop: there is no permission prompt. The status is
// notDetermined until the position service first answers, authorizedWhenInUse
// once it does, denied when it refuses access, and restricted when the
// machine has no position service at all. Every new manager hears the current
// status once, asynchronously after its creation.
//
// The distance filter is applied here: a fix closer than the filter to the
// last delivered one is dropped. Significant-change monitoring has no
// counterpart in the desktop services; it is emulated with a low-rate stream
// (one fix per 5 minutes asked of the service) and a 500 m filter.
class CLLocationManager : public std::enable_shared_from_this<CLLocationManager> {
  public:
    static std::shared_ptr<CLLocationManager> make();
    ~CLLocationManager();
    CLLocationManager(const CLLocationManager&) = delete;
    CLLocationManager& operator=(const CLLocationManager&) = delete;

    static CLAuthorizationStatus authorizationStatus();
    // Asks for when-in-use use; the answer arrives through the delegates.
    void requestWhenInUseAuthorization();

    void setDelegate(std::weak_ptr<CLLocationManagerDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<CLLocationManagerDelegate> delegate() const { return delegate_.lock(); }

    double desiredAccuracy() const { return desiredAccuracy_; }
    void setDesiredAccuracy(double metres);
    double distanceFilter() const { return distanceFilter_; }
    void setDistanceFilter(double metres) { distanceFilter_ = metres; }
    bool pausesLocationUpdatesAutomatically() const { return pausesAutomatically_; }
    void setPausesLocationUpdatesAutomatically(bool pauses) { pausesAutomatically_ = pauses; }
    bool allowsBackgroundLocationUpdates() const { return allowsBackground_; }
    void setAllowsBackgroundLocationUpdates(bool allows) { allowsBackground_ = allows; }

    void startUpdatingLocation();
    void stopUpdatingLocation();
    void startMonitoringSignificantLocationChanges();
    void stopMonitoringSignificantLocationChanges();
    bool isUpdatingLocation() const { return updating_; }
    bool isMonitoringSignificantChanges() const { return monitoringSignificant_; }

    // The last fix delivered, by either stream.
    std::optional<CLLocation> location() const { return lastDelivered_; }

    static constexpr double significantChangeDistance = 500.0;        // metres
    static constexpr int significantChangeIntervalMilliseconds = 300000;

    // Forgets the process-wide authorisation answer (tests).
    static void resetAuthorizationForTesting();

  private:
    CLLocationManager() = default;
    struct Stream;
    void startStream(std::unique_ptr<Stream>& stream, PositionSource::Mode mode);
    void stopStream(std::unique_ptr<Stream>& stream);
    void handleFix(Stream& stream, const CLLocation& fix);
    void handleError(const Error& error);
    void deliverAuthorization(CLAuthorizationStatus status);
    // Tells every manager, asynchronously; `deliverNow` (on the main thread) at once.
    static void broadcastAuthorization(CLAuthorizationStatus status, CLLocationManager* deliverNow = nullptr);

    std::weak_ptr<CLLocationManagerDelegate> delegate_;
    double desiredAccuracy_ = kCLLocationAccuracyBest;
    double distanceFilter_ = kCLDistanceFilterNone;
    bool pausesAutomatically_ = true;
    bool allowsBackground_ = false;
    bool updating_ = false;
    bool monitoringSignificant_ = false;
    std::unique_ptr<Stream> continuous_;
    std::unique_ptr<Stream> significant_;
    std::optional<CLLocation> lastDelivered_;
};

}  // namespace platform
