#include "backend/DeviceInformation.hpp"

#include <unistd.h>
#include <ctime>
#include <fstream>

#include "appinfo/InstalledApplications.hpp"
#include "appinfo/QuovaApplicationAdditions.hpp"
#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "platform/dispatch/Clock.hpp"

namespace tervolo::backend {

namespace {

std::string trimmed(std::string text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string environmentLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return "";
}

}  // namespace

std::string languageCodeOfLocale(const std::string& localeName) {
    const std::string language = localeName.substr(0, localeName.find_first_of("_.@-"));
    if (language == "C" || language == "POSIX") return "";
    for (char c : language) {
        if (c < 'a' || c > 'z') return "";
    }
    return language;
}

std::string currentTimeZoneIdentifier() {
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        std::string name = tz[0] == ':' ? tz + 1 : tz;
        const auto zoneinfo = name.find("zoneinfo/");
        if (zoneinfo != std::string::npos) name = name.substr(zoneinfo + 9);
        if (!name.empty()) return name;
    }
    std::ifstream file("/etc/timezone");
    std::string line;
    if (file && std::getline(file, line) && !trimmed(line).empty()) return trimmed(line);
    char target[512];
    const ssize_t length = ::readlink("/etc/localtime", target, sizeof target - 1);
    if (length > 0) {
        const std::string path(target, static_cast<size_t>(length));
        const auto zoneinfo = path.find("zoneinfo/");
        if (zoneinfo != std::string::npos) return path.substr(zoneinfo + 9);
    }
    return "UTC";
}

DeviceInformation DeviceInformation::current() {
    using appinfo::QuovaApplicationAdditions;
    using appinfo::UIDevice_QuovaAdditions;
    DeviceInformation info;
    info.deviceName = UIDevice_QuovaAdditions::quovaDeviceName();
    info.systemVersion = UIDevice_QuovaAdditions::systemVersion();
    info.hardwareDescription = UIDevice_QuovaAdditions::quovaHardwareDescription();
    info.appVersion = QuovaApplicationAdditions::quovaAppVersion();
    info.vendorID = UIDevice_QuovaAdditions::quovaVendorID();
    info.advertisingID = UIDevice_QuovaAdditions::quovaAdvertisingID();
    info.bundleID = QuovaApplicationAdditions::quovaBundleID();
    info.languageCode = languageCodeOfLocale(environmentLocale());
    info.timeZoneIdentifier = currentTimeZoneIdentifier();
    const auto now = static_cast<std::time_t>(platform::Clock::current()->wallSeconds());
    std::tm local{};
    if (::localtime_r(&now, &local) != nullptr) info.secondsFromGMT = local.tm_gmtoff;
    info.signalInstalled = appinfo::signalInstalled();
    info.whatsAppInstalled = appinfo::whatsAppInstalled();
    info.installedAppsList = appinfo::installedAppsList();
    return info;
}

}  // namespace tervolo::backend
