#pragma once

#include "platform/dispatch/SharedInstance.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyJSON.hpp"
#include "platform/dispatch/NotificationCenter.hpp"

namespace tervolo::analytics {

// Names of the application-state notifications the UI layer posts on
// platform::NotificationCenter::defaultCenter() (the analytics client follows
// them for sessions and the background flag).
inline constexpr const char* kTallyApplicationDidEnterBackground =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kTallyApplicationWillEnterForeground =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kTallyApplicationWillTerminate = "UIApplicationWillTerminateNotification";

inline constexpr const char* kTallyTemporaryDeviceID = "TLYTemporaryDeviceID";

// One network interface as the connection type sees it.
struct TallyNetworkInterface {
    std::string name;
    bool ipv4 = false;      // has an IPv4 address
    bool up = false;        // IFF_UP and IFF_RUNNING
    bool loopback = false;  // IFF_LOOPBACK
    bool wireless = false;  // /sys/class/net/<name>/wireless exists
};

// The device identifier the client reports under, and the facts of this
// machine the server's metrics carry. Created on first use, before start too;
// never destroyed. Any thread.
//
// The vendor identifier is a random UUID kept in the user defaults: the
// machine-id of the system is never sent. Facts that mean nothing on a Linux
// desktop are absent (carrier) or fixed ("desktop"; "iOS" as the OS name, as
// the server expects of this client).
class TallyDeviceInfo {
  public:
    static TallyDeviceInfo& sharedInstance();

    // deviceID := ensafeDeviceID(id), stored in the user defaults.
    void initializeDeviceID(const std::optional<std::string>& deviceID);
    // Empty or none: the vendor identifier; anything else unchanged.
    std::string ensafeDeviceID(const std::optional<std::string>& deviceID) const;
    bool isDeviceIDTemporary() const;

    std::string deviceID() const;
    void setDeviceID(std::string deviceID);
    TallyJSON customMetrics() const;
    void setCustomMetrics(TallyJSON metrics);
    bool isInBackground() const;
    void setIsInBackground(bool inBackground);

    // A random UUID made on first use and kept under "kTallyStoredNSUUIDKey".
    static std::string vendorIdentifier();

    // Device facts, computed on every call.
    static std::string device();  // uname machine, "x86_64"
    static std::string deviceType() { return "desktop"; }
    static std::string osName() { return "iOS"; }
    static std::string osVersion();  // the distribution's version ("12")
    static std::string appVersion();
    static std::string appBuild();
    static std::optional<std::string> carrier() { return std::nullopt; }
    // Main screen in pixels "%gx%g" and its scale "@%dx"; none when headless.
    static std::optional<std::string> resolution();
    static std::optional<std::string> density();
    static std::string locale();
    // From the machine name: "x86_64", "arm64", "armv7"; none otherwise.
    static std::optional<std::string> architecture();
    // The Mach CPU type numbers the server knows: 7 "x86_64", 12 "armv7",
    // 16777228 "arm64", 33554444 "arm64_32"; none for any other number.
    static std::optional<std::string> architectureForCPUType(int64_t cpuType);
    // 0 none, 1 wireless or wired, 2 mobile broadband (wwan*).
    static int connectionType();
    static int connectionType(const std::vector<TallyNetworkInterface>& interfaces);
    static std::vector<TallyNetworkInterface> networkInterfaces();
    static int64_t freeRAM();   // bytes, -1 when unknown
    static int64_t totalRAM();  // bytes
    static int64_t freeDisk();  // bytes of the file system holding $HOME
    static int64_t totalDisk();
    // Percent 0-100 of the first battery; none when the machine has none or
    // it cannot be read (never a made-up 100).
    static std::optional<int> batteryLevel(const std::string& powerSupplyFolder = "/sys/class/power_supply");
    // "Unknown", "Portrait", ... for the UI port's orientation number.
    static std::optional<std::string> orientation();
    static std::optional<std::string> orientationName(int orientation);
    // A desktop user owns the machine; there is nothing to break out of.
    static bool isJailbroken() { return false; }
    static bool isInBackgroundNow() { return sharedInstance().isInBackground(); }

    // The metrics object in its fixed key order, then the custom metrics.
    TallyJSON metricsObject() const;
    // metricsObject() as escaped JSON text, the value of "metrics".
    std::string metrics() const;

    // Forgets the identifier and custom metrics (tests).
    void resetForTesting();

  private:
    friend class platform::SharedInstance<TallyDeviceInfo>;
    TallyDeviceInfo();

    mutable std::mutex mutex_;
    bool isInBackground_ = false;
    std::string deviceID_;
    TallyJSON customMetrics_ = TallyJSON::object();
    std::unique_ptr<platform::NotificationCenter::Token> backgroundToken_;
    std::unique_ptr<platform::NotificationCenter::Token> foregroundToken_;
};

}  // namespace tervolo::analytics
