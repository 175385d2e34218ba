#include "platform/location/CLLocationManager.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/OSLog.hpp"
#include "platform/location/CLError.hpp"

namespace platform {

namespace {

// Process-wide: the source factory, the authorisation answer and the managers
// that hear about changes of it.
struct Registry {
    std::mutex mutex;
    PositionSourceFactory factory;
    bool serviceMissing = false;  // a factory found no position service
    bool reportedMissing = false;
    CLAuthorizationStatus status = CLAuthorizationStatus::notDetermined;
    std::vector<std::weak_ptr<CLLocationManager>> managers;
};

Registry& registry() {
    return SharedInstance<Registry>::get();
}

void reportMissingServiceOnce() {
    auto& r = registry();
    {
        std::lock_guard lock(r.mutex);
        if (r.reportedMissing) return;
        r.reportedMissing = true;
    }
    OSLog::defaultLog()->write(OSLogType::Error,
                               "No position service on this machine (no Qt Positioning source, no "
                               "TERVOLO_NMEA_FILE): the user's position is unavailable");
}

}  // namespace

void setPositionSourceFactory(PositionSourceFactory factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.factory = std::move(factory);
    r.serviceMissing = false;
    r.reportedMissing = false;
}

bool hasPositionSourceFactory() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return static_cast<bool>(r.factory);
}

std::shared_ptr<PositionSource> makePositionSource() {
    auto& r = registry();
    PositionSourceFactory factory;
    {
        std::lock_guard lock(r.mutex);
        factory = r.factory;
    }
    auto source = factory ? factory() : nullptr;
    if (!source) {
        {
            std::lock_guard lock(r.mutex);
            r.serviceMissing = true;
        }
        reportMissingServiceOnce();
    }
    return source;
}

// One stream of fixes (continuous or significant-change) with its own source.
struct CLLocationManager::Stream {
    std::shared_ptr<PositionSource> source;
    PositionSource::Mode mode;
    std::optional<CLLocation> lastDelivered;
    // Callbacks of a stopped stream still queued on the main queue are dropped.
    std::shared_ptr<std::atomic<bool>> live = std::make_shared<std::atomic<bool>>(true);
};

std::shared_ptr<CLLocationManager> CLLocationManager::make() {
    std::shared_ptr<CLLocationManager> manager(new CLLocationManager());
    auto& r = registry();
    {
        std::lock_guard lock(r.mutex);
        std::erase_if(r.managers, [](const auto& weak) { return weak.expired(); });
        r.managers.push_back(manager);
    }
    // As on the platform, a new manager hears the current status once, after
    // the caller has had the chance to set its delegate.
    std::weak_ptr<CLLocationManager> weak = manager;
    DispatchQueue::main()->async([weak] {
        if (auto strong = weak.lock()) strong->deliverAuthorization(authorizationStatus());
    });
    return manager;
}

CLLocationManager::~CLLocationManager() {
    stopStream(continuous_);
    stopStream(significant_);
}

CLAuthorizationStatus CLLocationManager::authorizationStatus() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.factory || r.serviceMissing) return CLAuthorizationStatus::restricted;
    return r.status;
}

void CLLocationManager::resetAuthorizationForTesting() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.status = CLAuthorizationStatus::notDetermined;
    r.serviceMissing = false;
    r.reportedMissing = false;
}

void CLLocationManager::broadcastAuthorization(CLAuthorizationStatus status, CLLocationManager* deliverNow) {
    auto& r = registry();
    std::vector<std::weak_ptr<CLLocationManager>> managers;
    {
        std::lock_guard lock(r.mutex);
        if (r.status == status) return;
        r.status = status;
        managers = r.managers;
    }
    for (auto& weak : managers) {
        if (deliverNow != nullptr && weak.lock().get() == deliverNow) continue;
        DispatchQueue::main()->async([weak, status] {
            if (auto manager = weak.lock()) manager->deliverAuthorization(status);
        });
    }
    if (deliverNow != nullptr) deliverNow->deliverAuthorization(status);
}

void CLLocationManager::deliverAuthorization(CLAuthorizationStatus status) {
    if (auto delegate = delegate_.lock()) delegate->locationManagerDidChangeAuthorization(*this, status);
}

void CLLocationManager::requestWhenInUseAuthorization() {
    if (!hasPositionSourceFactory()) {
        reportMissingServiceOnce();
        return;
    }
    // No prompt exists on a desktop: asking grants use unless the service has
    // already refused access.
    if (authorizationStatus() == CLAuthorizationStatus::notDetermined) {
        broadcastAuthorization(CLAuthorizationStatus::authorizedWhenInUse);
    }
}

void CLLocationManager::setDesiredAccuracy(double metres) {
    desiredAccuracy_ = metres;
    // A running stream follows the new accuracy at once.
    if (continuous_) startStream(continuous_, PositionSource::Mode::continuous);
}

void CLLocationManager::startUpdatingLocation() {
    updating_ = true;
    startStream(continuous_, PositionSource::Mode::continuous);
}

void CLLocationManager::stopUpdatingLocation() {
    updating_ = false;
    stopStream(continuous_);
}

void CLLocationManager::startMonitoringSignificantLocationChanges() {
    monitoringSignificant_ = true;
    startStream(significant_, PositionSource::Mode::significantChange);
}

void CLLocationManager::stopMonitoringSignificantLocationChanges() {
    monitoringSignificant_ = false;
    stopStream(significant_);
}

void CLLocationManager::startStream(std::unique_ptr<Stream>& stream, PositionSource::Mode mode) {
    if (!stream) {
        auto source = makePositionSource();
        if (!source) {
            // No service: the platform answers a start without permission
            // with a denied error.
            std::weak_ptr<CLLocationManager> weak = weak_from_this();
            DispatchQueue::main()->async([weak] {
                if (auto manager = weak.lock()) {
                    manager->handleError(CLError::make(CLError::denied, "No position service is available"));
                }
            });
            return;
        }
        stream = std::make_unique<Stream>();
        stream->source = std::move(source);
        stream->mode = mode;
        std::weak_ptr<CLLocationManager> weak = weak_from_this();
        Stream* raw = stream.get();
        auto live = stream->live;
        auto onMain = [weak, live](auto work) {
            DispatchQueue::main()->async([weak, live, work = std::move(work)] {
                if (!live->load()) return;
                if (auto manager = weak.lock()) work(*manager);
            });
        };
        PositionSource::Listener listener;
        listener.fix = [onMain, raw](const CLLocation& fix) {
            onMain([raw, fix](CLLocationManager& manager) { manager.handleFix(*raw, fix); });
        };
        listener.error = [onMain](const Error& error) {
            onMain([error](CLLocationManager& manager) { manager.handleError(error); });
        };
        listener.authorization = [](CLAuthorizationStatus status) { broadcastAuthorization(status); };
        stream->source->setListener(std::move(listener));
    }
    PositionSource::Settings settings;
    settings.mode = mode;
    settings.preferSatellites = desiredAccuracy_ < kCLLocationAccuracyHundredMeters;
    settings.updateIntervalMilliseconds =
        mode == PositionSource::Mode::significantChange ? significantChangeIntervalMilliseconds : 0;
    stream->source->start(settings);
}

void CLLocationManager::stopStream(std::unique_ptr<Stream>& stream) {
    if (!stream) return;
    stream->live->store(false);
    stream->source->stop();
    stream.reset();
}

void CLLocationManager::handleFix(Stream& stream, const CLLocation& fix) {
    // A fix means the service answered: the program may use it. This
    // manager's delegate hears so before it hears of the fix.
    if (authorizationStatus() == CLAuthorizationStatus::notDetermined) {
        broadcastAuthorization(CLAuthorizationStatus::authorizedWhenInUse, this);
    }
    // Never deliver a fix older than one already delivered: callers see time
    // move forward only.
    if (lastDelivered_ && fix.timestamp().secondsSince2001 < lastDelivered_->timestamp().secondsSince2001)
        return;
    const double filter =
        stream.mode == PositionSource::Mode::significantChange ? significantChangeDistance : distanceFilter_;
    if (filter > 0 && stream.lastDelivered) {
        const double moved = fix.distance(*stream.lastDelivered);
        if (!(moved >= filter)) return;  // also drops fixes whose distance is unknown
    }
    stream.lastDelivered = fix;
    lastDelivered_ = fix;
    if (auto delegate = delegate_.lock()) delegate->locationManagerDidUpdateLocations(*this, {fix});
}

void CLLocationManager::handleError(const Error& error) {
    if (auto delegate = delegate_.lock()) delegate->locationManagerDidFailWithError(*this, error);
}

}  // namespace platform
