#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/tests/AnalyticsTestSupport.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/UUID.hpp"

namespace tervolo::analytics {
namespace {

using testing::AnalyticsTest;

class TallyDeviceInfoTest : public AnalyticsTest {};

std::vector<std::string> keysOf(const TallyJSON& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.push_back(key);
    return keys;
}

TEST_F(TallyDeviceInfoTest, MetricsKeepTheirKeyOrderAndCustomValuesReplace) {
    auto port = std::make_shared<testing::FakeUIPort>();
    port->screen = TallyScreenFacts{1440, 900, 2};
    TallyCommon::sharedInstance().setUIPort(port);
    auto& info = TallyDeviceInfo::sharedInstance();

    TallyJSON metrics = info.metricsObject();
    EXPECT_THAT(keysOf(metrics),
                ::testing::ElementsAre("_device", "_device_type", "_os", "_os_version", "_app_version",
                                       "_resolution", "_density", "_locale"));
    EXPECT_EQ(metrics["_device_type"], "desktop");
    EXPECT_EQ(metrics["_os"], "iOS");
    EXPECT_EQ(metrics["_resolution"], "2880x1800");
    EXPECT_EQ(metrics["_density"], "@2x");

    TallyJSON custom = TallyJSON::object();
    custom["_os"] = "Linux";
    custom["plan"] = "free";
    info.setCustomMetrics(custom);
    metrics = info.metricsObject();
    EXPECT_EQ(metrics["_os"], "Linux");
    EXPECT_EQ(keysOf(metrics)[2], "_os");
    EXPECT_EQ(keysOf(metrics).back(), "plan");
    EXPECT_EQ(info.metrics().rfind("%7B%22_device%22%3A%22", 0), 0u);

    // Headless: the screen facts are left out rather than made up.
    TallyCommon::sharedInstance().setUIPort(nullptr);
    metrics = info.metricsObject();
    EXPECT_FALSE(metrics.contains("_resolution"));
    EXPECT_FALSE(metrics.contains("_density"));
    EXPECT_FALSE(metrics.contains("_carrier"));
}

TEST_F(TallyDeviceInfoTest, DeviceIdentifierChoice) {
    auto& info = TallyDeviceInfo::sharedInstance();
    info.initializeDeviceID(std::nullopt);
    const std::string vendor = info.deviceID();
    ASSERT_TRUE(platform::UUID::fromString(vendor)) << vendor;
    EXPECT_EQ(platform::UserDefaults::standard().stringValue("kTallyStoredDeviceIDKey"), vendor);
    // The vendor identifier is kept: a second start without an ID gets the same one.
    info.initializeDeviceID("");
    EXPECT_EQ(info.deviceID(), vendor);
    // Never the system's machine-id.
    std::ifstream machineID("/etc/machine-id");
    std::string raw;
    if (machineID >> raw) {
        EXPECT_EQ(vendor.find(raw.substr(0, 8)), std::string::npos);
    }

    info.initializeDeviceID("TLYTemporaryDeviceID");
    EXPECT_EQ(info.deviceID(), "TLYTemporaryDeviceID");
    EXPECT_TRUE(info.isDeviceIDTemporary());
    info.initializeDeviceID("user 42");
    EXPECT_EQ(info.deviceID(), "user 42");
    EXPECT_FALSE(info.isDeviceIDTemporary());
}

TEST_F(TallyDeviceInfoTest, ConnectionTypeFromInterfaces) {
    using I = TallyNetworkInterface;
    const struct {
        const char* name;
        std::vector<I> interfaces;
        int expected;
    } cases[] = {
        {"nothing", {}, 0},
        {"loopback only", {I{"lo", true, true, true, false}}, 0},
        {"wired up", {I{"lo", true, true, true, false}, I{"eth0", true, true, false, false}}, 1},
        {"wireless up", {I{"wlan0", true, true, false, true}}, 1},
        {"wired down", {I{"eth0", true, false, false, false}}, 0},
        {"IPv6 only", {I{"eth0", false, true, false, false}}, 0},
        {"mobile broadband", {I{"wwan0", true, true, false, false}}, 2},
        {"mobile then wired", {I{"wwan0", true, true, false, false}, I{"eth0", true, true, false, false}}, 1},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TallyDeviceInfo::connectionType(row.interfaces), row.expected);
    }
}

TEST_F(TallyDeviceInfoTest, ArchitectureAndOrientationTables) {
    EXPECT_EQ(TallyDeviceInfo::architectureForCPUType(16777228), "arm64");
    EXPECT_EQ(TallyDeviceInfo::architectureForCPUType(16777223), std::nullopt);
    EXPECT_EQ(TallyDeviceInfo::architectureForCPUType(7), "x86_64");
    EXPECT_EQ(TallyDeviceInfo::architectureForCPUType(12), "armv7");
    EXPECT_EQ(TallyDeviceInfo::architectureForCPUType(33554444), "arm64_32");
    EXPECT_EQ(TallyDeviceInfo::orientationName(0), "Unknown");
    EXPECT_EQ(TallyDeviceInfo::orientationName(4), "LandscapeRight");
    EXPECT_EQ(TallyDeviceInfo::orientationName(6), "FaceDown");
    EXPECT_EQ(TallyDeviceInfo::orientationName(7), std::nullopt);
    EXPECT_EQ(TallyDeviceInfo::orientationName(-1), std::nullopt);
}

TEST_F(TallyDeviceInfoTest, BatteryIsOmittedWhenUnknown) {
    namespace fs = std::filesystem;
    const fs::path root = folder_.file("power_supply");
    fs::create_directories(root / "AC");
    EXPECT_EQ(TallyDeviceInfo::batteryLevel(root.string()), std::nullopt);
    EXPECT_EQ(TallyDeviceInfo::batteryLevel(folder_.file("missing")), std::nullopt);
    fs::create_directories(root / "BAT1");
    std::ofstream(root / "BAT1" / "capacity") << "garbage";
    EXPECT_EQ(TallyDeviceInfo::batteryLevel(root.string()), std::nullopt);
    fs::create_directories(root / "BAT0");
    std::ofstream(root / "BAT0" / "capacity") << "57\n";
    EXPECT_EQ(TallyDeviceInfo::batteryLevel(root.string()), 57);
}

TEST_F(TallyDeviceInfoTest, DeviceFactsOfThisMachineAreSane) {
    EXPECT_FALSE(TallyDeviceInfo::device().empty());
    EXPECT_FALSE(TallyDeviceInfo::locale().empty());
    EXPECT_GT(TallyDeviceInfo::totalRAM(), 0);
    EXPECT_GE(TallyDeviceInfo::freeRAM(), 0);
    EXPECT_LE(TallyDeviceInfo::freeRAM(), TallyDeviceInfo::totalRAM());
    EXPECT_GT(TallyDeviceInfo::totalDisk(), 0);
    EXPECT_LE(TallyDeviceInfo::freeDisk(), TallyDeviceInfo::totalDisk());
    EXPECT_FALSE(TallyDeviceInfo::isJailbroken());
    EXPECT_EQ(TallyDeviceInfo::carrier(), std::nullopt);
    const int connection = TallyDeviceInfo::connectionType();
    EXPECT_TRUE(connection >= 0 && connection <= 2);
    if (TallyDeviceInfo::device() == "x86_64") {
        EXPECT_EQ(TallyDeviceInfo::architecture(), "x86_64");
    }
    if (auto level = TallyDeviceInfo::batteryLevel()) {
        EXPECT_TRUE(*level >= 0 && *level <= 100);
    }
    EXPECT_FALSE(TallyDeviceInfo::appVersion().empty());
}

TEST_F(TallyDeviceInfoTest, BackgroundFlagFollowsTheApplicationNotifications) {
    auto& info = TallyDeviceInfo::sharedInstance();
    EXPECT_FALSE(TallyDeviceInfo::isInBackgroundNow());
    platform::NotificationCenter::defaultCenter().post(kTallyApplicationDidEnterBackground);
    EXPECT_TRUE(info.isInBackground());
    platform::NotificationCenter::defaultCenter().post(kTallyApplicationWillEnterForeground);
    EXPECT_FALSE(info.isInBackground());
}

}  // namespace
}  // namespace tervolo::analytics
