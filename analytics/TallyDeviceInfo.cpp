#include "analytics/TallyDeviceInfo.hpp"

#include "platform/dispatch/SharedInstance.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyCrashStub.hpp"
#include "analytics/TallyPersistency.hpp"
#include "analytics/TallyUIPort.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/UUID.hpp"

namespace tervolo::analytics {

namespace {

std::mutex& vendorMutex() {
    return platform::SharedInstance<std::mutex, TallyDeviceInfo>::get();
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? home : "/";
}

}  // namespace

TallyDeviceInfo& TallyDeviceInfo::sharedInstance() {
    return platform::SharedInstance<TallyDeviceInfo>::get();
}

TallyDeviceInfo::TallyDeviceInfo() {
    deviceID_ = TallyPersistency::retrieveDeviceID().value_or("");
    if (auto port = TallyCommon::sharedInstance().uiPort()) {
        isInBackground_ = port->isApplicationInBackground();
    }
    auto& center = platform::NotificationCenter::defaultCenter();
    backgroundToken_ = center.addObserver(kTallyApplicationDidEnterBackground, nullptr,
                                          [this](const auto&) { setIsInBackground(true); });
    foregroundToken_ = center.addObserver(kTallyApplicationWillEnterForeground, nullptr,
                                          [this](const auto&) { setIsInBackground(false); });
}

void TallyDeviceInfo::resetForTesting() {
    std::lock_guard lock(mutex_);
    deviceID_ = TallyPersistency::retrieveDeviceID().value_or("");
    customMetrics_ = TallyJSON::object();
    isInBackground_ = false;
}

void TallyDeviceInfo::initializeDeviceID(const std::optional<std::string>& deviceID) {
    std::string chosen = ensafeDeviceID(deviceID);
    TallyPersistency::storeDeviceID(chosen);
    std::lock_guard lock(mutex_);
    deviceID_ = std::move(chosen);
}

std::string TallyDeviceInfo::ensafeDeviceID(const std::optional<std::string>& deviceID) const {
    if (!deviceID || deviceID->empty()) {
        return vendorIdentifier();
    }
    return *deviceID;
}

bool TallyDeviceInfo::isDeviceIDTemporary() const {
    return deviceID() == kTallyTemporaryDeviceID;
}

std::string TallyDeviceInfo::deviceID() const {
    std::lock_guard lock(mutex_);
    return deviceID_;
}

void TallyDeviceInfo::setDeviceID(std::string deviceID) {
    std::lock_guard lock(mutex_);
    deviceID_ = std::move(deviceID);
}

TallyJSON TallyDeviceInfo::customMetrics() const {
    std::lock_guard lock(mutex_);
    return customMetrics_;
}

void TallyDeviceInfo::setCustomMetrics(TallyJSON metrics) {
    std::lock_guard lock(mutex_);
    customMetrics_ = metrics.is_object() ? std::move(metrics) : TallyJSON::object();
}

bool TallyDeviceInfo::isInBackground() const {
    std::lock_guard lock(mutex_);
    return isInBackground_;
}

void TallyDeviceInfo::setIsInBackground(bool inBackground) {
    TallyCrashStub::setInBackground(inBackground);
    std::lock_guard lock(mutex_);
    isInBackground_ = inBackground;
}

std::string TallyDeviceInfo::vendorIdentifier() {
    std::lock_guard lock(vendorMutex());
    if (auto stored = TallyPersistency::retrieveNSUUID(); stored && platform::UUID::fromString(*stored)) {
        return *stored;
    }
    std::string made = platform::UUID::random().uuidString();
    TallyPersistency::storeNSUUID(made);
    return made;
}

std::string TallyDeviceInfo::device() {
    return platform::ProcessInfo::processInfo().machine();
}

std::string TallyDeviceInfo::osVersion() {
    return platform::ProcessInfo::processInfo().operatingSystemVersionString();
}

std::string TallyDeviceInfo::appVersion() {
    return platform::Bundle::main().infoString("CFBundleShortVersionString").value_or("");
}

std::string TallyDeviceInfo::appBuild() {
    return platform::Bundle::main().infoString("CFBundleVersion").value_or("");
}

std::optional<std::string> TallyDeviceInfo::resolution() {
    auto port = TallyCommon::sharedInstance().uiPort();
    auto screen = port ? port->mainScreen() : std::nullopt;
    if (!screen) {
        return std::nullopt;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%gx%g", screen->width * screen->scale, screen->height * screen->scale);
    return std::string(text);
}

std::optional<std::string> TallyDeviceInfo::density() {
    auto port = TallyCommon::sharedInstance().uiPort();
    auto screen = port ? port->mainScreen() : std::nullopt;
    if (!screen) {
        return std::nullopt;
    }
    return fmt::format("@{}x", static_cast<int>(screen->scale));
}

std::string TallyDeviceInfo::locale() {
    return platform::text::Locale::current().identifier();
}

std::optional<std::string> TallyDeviceInfo::architecture() {
    const std::string machine = device();
    if (machine == "x86_64") return std::string("x86_64");
    if (machine == "aarch64" || machine == "arm64") return std::string("arm64");
    if (machine.rfind("armv7", 0) == 0) return std::string("armv7");
    return std::nullopt;
}

std::optional<std::string> TallyDeviceInfo::architectureForCPUType(int64_t cpuType) {
    switch (cpuType) {
        case 7:
            return std::string("x86_64");
        case 12:
            return std::string("armv7");
        case 16777228:
            return std::string("arm64");
        case 33554444:
            return std::string("arm64_32");
        default:
            return std::nullopt;
    }
}

int TallyDeviceInfo::connectionType(const std::vector<TallyNetworkInterface>& interfaces) {
    int result = 0;
    for (const auto& interface : interfaces) {
        if (!interface.ipv4 || !interface.up || interface.loopback) {
            continue;
        }
        if (interface.name.rfind("wwan", 0) == 0) {
            result = 2;
            continue;
        }
        // Wired counts as connected too: the server derives "online" from it.
        return 1;
    }
    return result;
}

std::vector<TallyNetworkInterface> TallyDeviceInfo::networkInterfaces() {
    std::vector<TallyNetworkInterface> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return result;
    }
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) {
            TallyLog(TallyLogLevel::Warning, "Connection type can not be retrieved: \n{}",
                     "interface without a name");
            break;
        }
        TallyNetworkInterface interface;
        interface.name = entry->ifa_name;
        interface.ipv4 = entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET;
        interface.up = (entry->ifa_flags & IFF_UP) != 0 && (entry->ifa_flags & IFF_RUNNING) != 0;
        interface.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        std::error_code ignored;
        interface.wireless =
            std::filesystem::exists(fmt::format("/sys/class/net/{}/wireless", interface.name), ignored);
        result.push_back(std::move(interface));
    }
    freeifaddrs(list);
    return result;
}

int TallyDeviceInfo::connectionType() {
    return connectionType(networkInterfaces());
}

int64_t TallyDeviceInfo::freeRAM() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.freeram) * static_cast<int64_t>(info.mem_unit);
}

int64_t TallyDeviceInfo::totalRAM() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) {
        return 0;
    }
    return static_cast<int64_t>(info.totalram) * static_cast<int64_t>(info.mem_unit);
}

int64_t TallyDeviceInfo::freeDisk() {
    struct statvfs info {};
    if (statvfs(homeFolder().c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

int64_t TallyDeviceInfo::totalDisk() {
    struct statvfs info {};
    if (statvfs(homeFolder().c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<int64_t>(info.f_blocks) * static_cast<int64_t>(info.f_frsize);
}

std::optional<int> TallyDeviceInfo::batteryLevel(const std::string& powerSupplyFolder) {
    std::error_code error;
    std::vector<std::filesystem::path> batteries;
    for (std::filesystem::directory_iterator it(powerSupplyFolder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().filename().string().rfind("BAT", 0) == 0) {
            batteries.push_back(it->path());
        }
    }
    std::sort(batteries.begin(), batteries.end());
    for (const auto& battery : batteries) {
        std::ifstream file(battery / "capacity");
        int percent = -1;
        if (file >> percent && percent >= 0 && percent <= 100) {
            return percent;
        }
    }
    return std::nullopt;
}

std::optional<std::string> TallyDeviceInfo::orientationName(int orientation) {
    static const char* const names[] = {
        "Unknown", "Portrait", "PortraitUpsideDown", "LandscapeLeft", "LandscapeRight", "FaceUp", "FaceDown"};
    if (orientation < 0 || orientation > 6) {
        return std::nullopt;
    }
    return std::string(names[orientation]);
}

std::optional<std::string> TallyDeviceInfo::orientation() {
    auto port = TallyCommon::sharedInstance().uiPort();
    return orientationName(port ? port->deviceOrientation() : 0);
}

TallyJSON TallyDeviceInfo::metricsObject() const {
    TallyJSON metrics = TallyJSON::object();
    metrics["_device"] = device();
    metrics["_device_type"] = deviceType();
    metrics["_os"] = osName();
    metrics["_os_version"] = osVersion();
    metrics["_app_version"] = appVersion();
    if (auto value = carrier()) metrics["_carrier"] = *value;
    if (auto value = resolution()) metrics["_resolution"] = *value;
    if (auto value = density()) metrics["_density"] = *value;
    metrics["_locale"] = locale();
    const TallyJSON custom = customMetrics();
    for (const auto& [key, value] : custom.items()) {
        metrics[key] = value;
    }
    return metrics;
}

std::string TallyDeviceInfo::metrics() const {
    return tly_JSONify(metricsObject()).value_or("");
}

}  // namespace tervolo::analytics
