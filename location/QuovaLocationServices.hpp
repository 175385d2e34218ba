#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/location/CLLocationManager.hpp"

namespace tervolo::location {

// One of the service's three location managers with the last fix it had
// accepted and its label.
struct QuovaLocationManager {
    std::shared_ptr<platform::CLLocationManager> manager;
    std::optional<platform::CLLocation> lastLocation;
    std::string managerName;
};

// A subscriber of accepted fixes. The closure gets each fix and the
// subscription's own guid; returning true ends the subscription.
struct LocationSubscription {
    std::function<bool(const platform::CLLocation& location, const std::optional<std::string>& guid)> closure;
    std::string guid;
};

// The program's one location service. It owns three location managers
// (burst: best accuracy, 20 m filter, runs only while the application is
// active; significant change; permanent: every fix), filters every fix they
// deliver, keeps the best known location, posts each accepted fix as
// "QuovaLocationUpdate" (object: the service, user info "CLLocation": the
// fix) and then calls the subscribers.
//
// Main thread: the managers, the filter, the notification's observers and
// the subscribers all run there, one fix after the other. subscribe() and
// unsubscribe() may be called from any thread, also from inside a
// subscriber; subscribers are called outside the lock, on a snapshot.
//
// Entry, status and dropped-fix lines go to standard output; the best-known
// and lock lines to the log at info level.
class QuovaLocationServices : public platform::CLLocationManagerDelegate,
                              public std::enable_shared_from_this<QuovaLocationServices> {
  public:
    static QuovaLocationServices& shared();
    // A service of its own (tests); shared() also installs itself as the
    // point store's source of the best known location.
    static std::shared_ptr<QuovaLocationServices> make();

    void initLocationServices();
    void locationFullSpeedAhead();
    void locationStop();
    void endBurst();

    LocationSubscription subscribe(std::function<bool(const platform::CLLocation&, const std::optional<std::string>&)> closure);
    void unsubscribe(const LocationSubscription& subscription);

    std::optional<platform::CLLocation> bestKnownLocation() const { return bestKnownLocation_; }
    const std::optional<QuovaLocationManager>& permanentLocationManager() const { return permanentLocationManager_; }
    const std::optional<QuovaLocationManager>& burstLocationManager() const { return burstLocationManager_; }
    const std::optional<QuovaLocationManager>& significantUpdateManager() const { return significantUpdateManager_; }
    size_t subscriptionCount() const;

    double permanentManagerForegroundPrecision = platform::kCLLocationAccuracyBest;
    double permanentManagerBackgroundPrecision = platform::kCLLocationAccuracyHundredMeters;

    // The application's state as the platform numbers it (active 0, inactive
    // 1, background 2); the application fills it in from Qt. Default: active.
    static void setApplicationStateProvider(std::function<int()> provider);

    // Delegate calls of the managers.
    void locationManagerDidUpdateLocations(platform::CLLocationManager& manager,
                                           const std::vector<platform::CLLocation>& locations) override;
    void locationManagerDidFailWithError(platform::CLLocationManager& manager, const platform::Error& error) override;
    void locationManagerDidChangeAuthorization(platform::CLLocationManager& manager,
                                               platform::CLAuthorizationStatus status) override;

    // The filter's and best-known rule's constants.
    static constexpr double maximumFixAge = 30.0;             // seconds
    static constexpr double bestKnownPreferenceAge = 16.0;    // seconds
    static constexpr double bestKnownPreciseAccuracy = 50.0;  // metres
    static constexpr double burstEndAccuracy = 100.0;         // metres

  private:
    QuovaLocationServices();
    QuovaLocationManager makeManager(const std::string& name);
    QuovaLocationManager* managerFor(const platform::CLLocationManager& manager);
    void acceptLocation(const platform::CLLocation& location, QuovaLocationManager& manager);
    void submitBestKnownLocationCandidate(const platform::CLLocation& location);

    std::optional<platform::CLLocation> bestKnownLocation_;
    std::optional<QuovaLocationManager> permanentLocationManager_;
    std::optional<QuovaLocationManager> burstLocationManager_;
    std::optional<QuovaLocationManager> significantUpdateManager_;
    std::optional<platform::Date> endOfBurstDate_;

    mutable std::mutex subscriptionsMutex_;  // guards locationSubscriptions_
    std::vector<LocationSubscription> locationSubscriptions_;
};

}  // namespace tervolo::location
