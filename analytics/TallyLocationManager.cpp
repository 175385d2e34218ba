#include "analytics/TallyLocationManager.hpp"

#include <cmath>
#include <cstdio>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyConsentManager.hpp"
#include "analytics/TallySingleton.hpp"
#include "platform/dispatch/SharedInstance.hpp"

namespace tervolo::analytics {

namespace {
TallySingleton<TallyLocationManager>& locationManagerSlot() {
    return platform::SharedInstance<TallySingleton<TallyLocationManager>>::get();
}

bool consentForLocation() {
    auto consent = TallyConsentManager::sharedInstance();
    return consent && consent->consentForLocation();
}

std::optional<std::string> nonEmpty(const std::optional<std::string>& text) {
    return text && !text->empty() ? text : std::nullopt;
}
}  // namespace

std::shared_ptr<TallyLocationManager> TallyLocationManager::sharedInstance() {
    return locationManagerSlot().get([] { return new TallyLocationManager(); });
}

void TallyLocationManager::resetForTesting() {
    locationManagerSlot().reset();
}

void TallyLocationManager::updateLocation(double latitude, double longitude,
                                          const std::optional<std::string>& city,
                                          const std::optional<std::string>& ISOCountryCode,
                                          const std::optional<std::string>& IP) {
    std::lock_guard lock(mutex_);
    const bool valid = latitude >= -90 && latitude <= 90 && longitude >= -180 && longitude <= 180;
    if (valid) {
        char text[96];
        std::snprintf(text, sizeof text, "%f,%f", latitude, longitude);
        location_ = text;
    } else {
        location_.reset();
    }
    city_ = nonEmpty(city);
    ISOCountryCode_ = nonEmpty(ISOCountryCode);
    IP_ = nonEmpty(IP);
    if (city_ && !ISOCountryCode_) {
        TallyLog(TallyLogLevel::Warning,
                 "City and Country Code should be set as a pair. Country Code is missing while City is set!");
    } else if (ISOCountryCode_ && !city_) {
        TallyLog(TallyLogLevel::Warning,
                 "City and Country Code should be set as a pair. City is missing while Country Code is set!");
    }
    if (location_ || city_ || ISOCountryCode_ || IP_) {
        isLocationInfoDisabled_ = false;
    }
}

void TallyLocationManager::recordLocation(double latitude, double longitude,
                                          const std::optional<std::string>& city,
                                          const std::optional<std::string>& ISOCountryCode,
                                          const std::optional<std::string>& IP) {
    if (!consentForLocation()) {
        return;
    }
    updateLocation(latitude, longitude, city, ISOCountryCode, IP);
    if (auto connection = TallyConnectionManager::sharedInstance()) {
        connection->sendLocationInfo();
    }
}

void TallyLocationManager::sendLocationInfo() {
    if (!consentForLocation()) {
        return;
    }
    if (auto connection = TallyConnectionManager::sharedInstance()) {
        connection->sendLocationInfo();
    }
}

void TallyLocationManager::disableLocationInfo() {
    if (!consentForLocation()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        isLocationInfoDisabled_ = true;
        location_.reset();
        city_.reset();
        ISOCountryCode_.reset();
        IP_.reset();
    }
    if (auto connection = TallyConnectionManager::sharedInstance()) {
        connection->sendLocationInfo();
    }
}

bool TallyLocationManager::isLocationInfoDisabled() const {
    std::lock_guard lock(mutex_);
    return isLocationInfoDisabled_;
}
std::optional<std::string> TallyLocationManager::location() const {
    std::lock_guard lock(mutex_);
    return location_;
}
std::optional<std::string> TallyLocationManager::city() const {
    std::lock_guard lock(mutex_);
    return city_;
}
std::optional<std::string> TallyLocationManager::ISOCountryCode() const {
    std::lock_guard lock(mutex_);
    return ISOCountryCode_;
}
std::optional<std::string> TallyLocationManager::IP() const {
    std::lock_guard lock(mutex_);
    return IP_;
}

}  // namespace tervolo::analytics
