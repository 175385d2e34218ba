#pragma once

#include <cstdint>
#include <string>

namespace tervolo::backend {

// What the backend tells its servers about this installation, read at the
// moment a request body is built. Any thread.
struct DeviceInformation {
    std::string deviceName;           // the machine's host name
    std::string systemVersion;        // os-release VERSION_ID, else the kernel release
    std::string hardwareDescription;  // DMI product name and machine, e.g. "ThinkPad X1 (x86_64)"
    std::string appVersion;           // "CFBundleVersion"
    std::string vendorID;             // random UUID made once per user, upper case
    std::string advertisingID;        // none exists on a desktop: ""
    std::string bundleID;             // "CFBundleIdentifier"
    std::string languageCode;         // "de" for de_DE.UTF-8; "" when the locale names none
    std::string timeZoneIdentifier;   // "Europe/Helsinki"
    int64_t secondsFromGMT = 0;       // east positive, at the moment of reading
    // Companion messaging applications found on the machine; a desktop has
    // none of the phone applications the list was made for.
    bool signalInstalled = false;
    bool whatsAppInstalled = false;
    std::string installedAppsList;  // comma-joined names of those found

    // The values of this machine and user now.
    static DeviceInformation current();
};

// The vendor identifier: made once per user and kept in the user defaults
// under "QuovaVendorID", so it survives restarts but never names the machine.
std::string quovaVendorID();

// The language code of a POSIX locale name: "de_DE.UTF-8" → "de"; "" for
// "C", "POSIX" or an empty name.
std::string languageCodeOfLocale(const std::string& localeName);

// The time zone's identifier in the time-zone database's form, from $TZ,
// /etc/timezone or the target of /etc/localtime; "UTC" when none names one.
std::string currentTimeZoneIdentifier();

}  // namespace tervolo::backend
