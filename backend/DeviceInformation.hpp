#pragma once

#include <cstdint>
#include <string>

namespace tervolo::backend {

// What the backend tells its servers about this installation, read at the
// moment a request body is built. The device and application facts are the
// program's own answers (appinfo/), asked afresh each time. Any thread.
struct DeviceInformation {
    std::string deviceName;     // quovaDeviceName: the machine's host name
    std::string systemVersion;  // the system version text: os-release VERSION_ID, else the kernel release
    std::string hardwareDescription;  // quovaHardwareDescription: the machine model on the desktop
    std::string appVersion;           // quovaAppVersion: "CFBundleVersion"
    std::string vendorID;             // quovaVendorID: random UUID made once per user, upper case
    std::string advertisingID;        // quovaAdvertisingID: none exists on a desktop, ""
    std::string bundleID;             // quovaBundleID: "CFBundleIdentifier"
    std::string languageCode;         // "de" for de_DE.UTF-8; "" when the locale names none
    std::string timeZoneIdentifier;   // "Europe/Helsinki"
    int64_t secondsFromGMT = 0;       // east positive, at the moment of reading
    // Companion applications the desktop has a URL handler for.
    bool signalInstalled = false;
    bool whatsAppInstalled = false;
    std::string installedAppsList;  // comma-joined names of those found

    // The values of this machine and user now.
    static DeviceInformation current();
};

// The language code of a POSIX locale name: "de_DE.UTF-8" → "de"; "" for
// "C", "POSIX" or an empty name.
std::string languageCodeOfLocale(const std::string& localeName);

// The time zone's identifier in the time-zone database's form, from $TZ,
// /etc/timezone or the target of /etc/localtime; "UTC" when none names one.
std::string currentTimeZoneIdentifier();

}  // namespace tervolo::backend
