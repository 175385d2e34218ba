#include "location/QuovaLocationServices.hpp"

#include <cmath>
#include <cstdio>

#include "logging/QLLogging.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/UUID.hpp"
#include "points/BestKnownLocation.hpp"

namespace tervolo::location {

namespace {

// The service's own console lines, as plain standard-output prints.
void print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::mutex applicationStateMutex;
std::function<int()>& applicationStateProvider() {
    return platform::SharedInstance<std::function<int()>, QuovaLocationServices>::get();
}

int applicationState() {
    std::lock_guard lock(applicationStateMutex);
    return applicationStateProvider() ? applicationStateProvider()() : 0;
}

constexpr int kApplicationStateInactive = 1;

}  // namespace

void QuovaLocationServices::setApplicationStateProvider(std::function<int()> provider) {
    std::lock_guard lock(applicationStateMutex);
    applicationStateProvider() = std::move(provider);
}

QuovaLocationServices& QuovaLocationServices::shared() {
    // Held for the life of the process: the managers' delegate must never die.
    // The holder stays reachable from this static, so the leak checker sees
    // an owner rather than a lost block.
    static std::shared_ptr<QuovaLocationServices>* holder = [] {
        auto* made = new std::shared_ptr<QuovaLocationServices>(make());
        points::setBestKnownLocationProvider([] { return shared().bestKnownLocation(); });
        return made;
    }();
    return **holder;
}

std::shared_ptr<QuovaLocationServices> QuovaLocationServices::make() {
    return std::shared_ptr<QuovaLocationServices>(new QuovaLocationServices());
}

QuovaLocationServices::QuovaLocationServices() {
    print("* entering QuovaLocationServices");
}

QuovaLocationManager QuovaLocationServices::makeManager(const std::string& name) {
    QuovaLocationManager made;
    made.manager = platform::CLLocationManager::make();
    made.manager->setDelegate(weak_from_this());
    made.manager->setPausesLocationUpdatesAutomatically(false);
    made.manager->setAllowsBackgroundLocationUpdates(false);
    made.managerName = name;
    return made;
}

void QuovaLocationServices::initLocationServices() {
    print("* entering initLocationServices()");
    if (!burstLocationManager_) {
        burstLocationManager_ = makeManager("BURST Update");
        burstLocationManager_->manager->setDesiredAccuracy(platform::kCLLocationAccuracyBest);
        burstLocationManager_->manager->setDistanceFilter(20.0);
    }
    switch (platform::CLLocationManager::authorizationStatus()) {
        case platform::CLAuthorizationStatus::notDetermined:
            print("location auth status not determined");
            break;
        case platform::CLAuthorizationStatus::denied:
            print("location auth status DENIED");
            break;
        case platform::CLAuthorizationStatus::authorizedAlways:
            print("location auth status always - good job");
            break;
        case platform::CLAuthorizationStatus::authorizedWhenInUse:
            print("location auth status when in use - we can live with that");
            break;
        default:
            print("unhandled location authorization state");
            break;
    }
    if (!significantUpdateManager_) significantUpdateManager_ = makeManager("SIGNIFICANT Update");
    if (!permanentLocationManager_) {
        permanentLocationManager_ = makeManager("PERM Update");
        permanentLocationManager_->manager->setDistanceFilter(platform::kCLDistanceFilterNone);
        permanentLocationManager_->manager->setDesiredAccuracy(applicationState() == kApplicationStateInactive
                                                                   ? permanentManagerBackgroundPrecision
                                                                   : permanentManagerForegroundPrecision);
    }
    if (burstLocationManager_ && significantUpdateManager_ && permanentLocationManager_) {
        significantUpdateManager_->manager->startMonitoringSignificantLocationChanges();
        permanentLocationManager_->manager->startUpdatingLocation();
    } else {
        print("can't retrieve all location manager instances, exiting");
    }
}

void QuovaLocationServices::locationFullSpeedAhead() {
    print("* entering locationFullSpeedAhead()");
    if (significantUpdateManager_)
        significantUpdateManager_->manager->startMonitoringSignificantLocationChanges();
    if (permanentLocationManager_) {
        permanentLocationManager_->manager->startUpdatingLocation();
        permanentLocationManager_->manager->setDesiredAccuracy(permanentManagerForegroundPrecision);
    }
    if (burstLocationManager_) burstLocationManager_->manager->startUpdatingLocation();
}

void QuovaLocationServices::locationStop() {
    print("* entering locationStop()");
    if (significantUpdateManager_)
        significantUpdateManager_->manager->stopMonitoringSignificantLocationChanges();
    if (permanentLocationManager_) permanentLocationManager_->manager->stopUpdatingLocation();
    if (burstLocationManager_) burstLocationManager_->manager->stopUpdatingLocation();
}

void QuovaLocationServices::endBurst() {
    print("* entering endBurst()");
    endOfBurstDate_.reset();
    if (burstLocationManager_) burstLocationManager_->manager->stopUpdatingLocation();
    // A desktop has no background tasks to end; the line stays for the log reader.
    print("scheduling end of background task");
}

QuovaLocationManager* QuovaLocationServices::managerFor(const platform::CLLocationManager& manager) {
    for (auto* candidate : {&burstLocationManager_, &significantUpdateManager_, &permanentLocationManager_}) {
        if (*candidate && (*candidate)->manager.get() == &manager) return &**candidate;
    }
    return nullptr;
}

void QuovaLocationServices::locationManagerDidUpdateLocations(
    platform::CLLocationManager& manager, const std::vector<platform::CLLocation>& locations) {
    for (const auto& location : locations) {
        const auto coordinate = location.coordinate();
        if (coordinate.latitude == 0.0 && coordinate.longitude == 0.0) {
            print("received a zero/zero location, dropping");
            continue;
        }
        // A fix that says its position is unknown (negative accuracy) or that
        // lies off the globe would become the best known location: drop it.
        if (!platform::CLLocationCoordinate2DIsValid(coordinate)) {
            print("received a location outside the valid coordinate range, dropping");
            continue;
        }
        if (!(location.horizontalAccuracy() >= 0.0)) {
            print("received a location with an invalid horizontal accuracy, dropping");
            continue;
        }
        const double interval = location.timestamp().timeIntervalSince(platform::Date::now());
        if (interval < -maximumFixAge) {
            print("received a location aged " + platform::text::describe(interval) + " seconds, dropping");
            continue;
        }
        if (auto* owner = managerFor(manager)) acceptLocation(location, *owner);
    }
}

void QuovaLocationServices::acceptLocation(const platform::CLLocation& location,
                                           QuovaLocationManager& manager) {
    if (endOfBurstDate_ && location.horizontalAccuracy() <= burstEndAccuracy) endBurst();
    manager.lastLocation = location;
    submitBestKnownLocationCandidate(location);
    platform::NotificationCenter::defaultCenter().post(
        "QuovaLocationUpdate", std::shared_ptr<void>(shared_from_this(), this),
        platform::NotificationCenter::UserInfo{{"CLLocation", location}});

    std::vector<LocationSubscription> snapshot;
    {
        std::lock_guard lock(subscriptionsMutex_);
        snapshot = locationSubscriptions_;
    }
    for (const auto& subscription : snapshot) {
        if (subscription.closure(location, subscription.guid)) unsubscribe(subscription);
    }
}

void QuovaLocationServices::submitBestKnownLocationCandidate(const platform::CLLocation& location) {
    if (!bestKnownLocation_) {
        QLLogInfo("best known location: none on file yet, storing location");
        bestKnownLocation_ = location;
        return;
    }
    const double age =
        std::trunc(std::fabs(bestKnownLocation_->timestamp().timeIntervalSince(platform::Date::now())));
    if (age < bestKnownPreferenceAge && !(location.horizontalAccuracy() < bestKnownPreciseAccuracy) &&
        location.horizontalAccuracy() * 0.5 > bestKnownLocation_->horizontalAccuracy()) {
        QLLogInfo("best known location way more precise, SKIPPING new location");
        return;
    }
    bestKnownLocation_ = location;
}

LocationSubscription QuovaLocationServices::subscribe(
    std::function<bool(const platform::CLLocation&, const std::optional<std::string>&)> closure) {
    LocationSubscription subscription{std::move(closure), platform::UUID::random().uuidString()};
    static std::once_flag announced;
    std::call_once(announced, [] { QLLogInfo("initializing subscriptionsLockQueue"); });
    std::lock_guard lock(subscriptionsMutex_);
    locationSubscriptions_.push_back(subscription);
    return subscription;
}

void QuovaLocationServices::unsubscribe(const LocationSubscription& subscription) {
    std::lock_guard lock(subscriptionsMutex_);
    std::erase_if(locationSubscriptions_, [&](const auto& each) { return each.guid == subscription.guid; });
}

size_t QuovaLocationServices::subscriptionCount() const {
    std::lock_guard lock(subscriptionsMutex_);
    return locationSubscriptions_.size();
}

void QuovaLocationServices::locationManagerDidFailWithError(platform::CLLocationManager&,
                                                            const platform::Error& error) {
    print("* entering locationManager(_:didFailWithError:)");
    print("ERROR: " + error.description);
}

void QuovaLocationServices::locationManagerDidChangeAuthorization(platform::CLLocationManager&,
                                                                  platform::CLAuthorizationStatus status) {
    print("* entering locationManager(_:didChangeAuthorization:)");
    if (status == platform::CLAuthorizationStatus::authorizedAlways &&
        (!burstLocationManager_ || !significantUpdateManager_ || !permanentLocationManager_)) {
        initLocationServices();
    }
}

}  // namespace tervolo::location
