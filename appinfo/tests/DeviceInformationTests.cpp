#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "platform/foundation/Sysctl.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "testsupport/TemporaryFolder.hpp"

namespace tervolo::appinfo {
namespace {

using Device = UIDevice_QuovaAdditions;
using Idiom = Device::Idiom;

class DeviceInformationTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::Sysctl::removeAllFakesForTesting(); }

    testsupport::TemporaryFolder folder_;
    Device::Sources sources_ = Device::desktopSources();
};

TEST_F(DeviceInformationTest, DeviceTypeByIdiom) {
    EXPECT_EQ(Device::quovaDeviceType(), 3) << "the desktop runs the Mac layouts";
    struct Case {
        Idiom idiom;
        int32_t type;
    };
    const Case cases[] = {{Idiom::phone, 0}, {Idiom::pad, 2},     {Idiom::mac, 3},
                          {Idiom::tv, 4},    {Idiom::carPlay, 4}, {Idiom::unspecified, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.idiom));
        sources_.userInterfaceIdiom = [&c] { return c.idiom; };
        auto scope = Device::replaceSourcesForTesting(sources_);
        EXPECT_EQ(Device::quovaDeviceType(), c.type);
    }
    sources_.userInterfaceIdiom = nullptr;
    auto scope = Device::replaceSourcesForTesting(sources_);
    EXPECT_EQ(Device::quovaDeviceType(), 4) << "no idiom to be had";
}

TEST_F(DeviceInformationTest, HardwareDescriptionByDeviceTypeFromSysctl) {
    using platform::Sysctl;
    Sysctl::setFakeForTesting("hw.model", std::string("ThinkPad X1 Carbon Gen 9"));
    Sysctl::setFakeForTesting("hw.machine", std::string("x86_64"));
    struct Case {
        Idiom idiom;
        const char* description;
    };
    const Case cases[] = {{Idiom::mac, "ThinkPad X1 Carbon Gen 9"},
                          {Idiom::pad, "ThinkPad X1 Carbon Gen 9"},
                          {Idiom::phone, "x86_64"},
                          {Idiom::tv, "x86_64"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.idiom));
        sources_.userInterfaceIdiom = [&c] { return c.idiom; };
        auto scope = Device::replaceSourcesForTesting(sources_);
        EXPECT_EQ(Device::quovaHardwareDescription(), c.description);
    }
    EXPECT_EQ(Device::quovaHardwareDescription_iDevice(), "x86_64");
    EXPECT_EQ(Device::quovaHardwareDescription_Mac(), "ThinkPad X1 Carbon Gen 9");

    // Values that cannot be read, or are no ASCII text, give "".
    Sysctl::setFakeForTesting("hw.model", Sysctl::Failure{ENOENT});
    Sysctl::setFakeForTesting("hw.machine", std::string("x86\xc3\xa4"));
    EXPECT_EQ(Device::quovaHardwareDescription(), "");
    EXPECT_EQ(Device::quovaHardwareDescription_iDevice(), "");
    Sysctl::setFakeForTesting("hw.machine", std::string("arm64\0junk", 10));
    EXPECT_EQ(Device::quovaHardwareDescription_iDevice(), "arm64") << "a C text ends at its NUL";
}

TEST_F(DeviceInformationTest, SystemVersionPositions) {
    struct Case {
        std::optional<std::string> version;
        int32_t position;
        std::optional<std::string> component;
    };
    const Case cases[] = {
        {"12.4.1.9", 0, "12"},
        {"12.4.1.9", 1, "4"},
        {"12.4.1.9", 2, "1"},
        {"12.4.1.9", 3, std::nullopt},   // four components, still none
        {"12.4.1.9", -1, std::nullopt},  // compared unsigned
        {"12", 0, "12"},
        {"12", 1, std::nullopt},
        {"24.04", 2, std::nullopt},
        {std::nullopt, 0, std::nullopt},
        {"6.1.0-18-amd64", 2, "0-18-amd64"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version.value_or("(none)") + " @" + std::to_string(c.position));
        sources_.systemVersion = [&c] { return c.version; };
        auto scope = Device::replaceSourcesForTesting(sources_);
        EXPECT_EQ(Device::quovaSystemVersionNumberAtPosition(c.position), c.component);
    }
    sources_.systemVersion = [] { return std::optional<std::string>("13.2.1"); };
    auto scope = Device::replaceSourcesForTesting(sources_);
    EXPECT_EQ(Device::quovaSystemMajorVersion(), "13");
    EXPECT_EQ(Device::quovaSystemMinorVersion(), "2");
    EXPECT_EQ(Device::quovaSystemSubVersion(), "1");
    EXPECT_EQ(Device::systemVersion(), "13.2.1");
}

TEST_F(DeviceInformationTest, DesktopSystemVersionIsTheOSReleaseVersion) {
    const std::string osRelease = folder_.file("os-release");
    std::ofstream(osRelease) << "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n";
    platform::ProcessInfo::processInfo().setOSReleasePathForTesting(osRelease);
    EXPECT_EQ(Device::systemVersion(), "12");
    EXPECT_EQ(Device::quovaSystemMajorVersion(), "12");
    EXPECT_EQ(Device::quovaSystemMinorVersion(), std::nullopt);
    platform::ProcessInfo::processInfo().setOSReleasePathForTesting(std::nullopt);
}

TEST_F(DeviceInformationTest, GenericNamesGiveWayOnlyUnderACompatibilityLayerFrom16) {
    struct Case {
        const char* name;
        std::optional<std::string> compatibility;
        const char* result;
    };
    const Case cases[] = {
        {"iPhone", std::nullopt, "iPhone"},  // the desktop: no tablet numbering, never replaced
        {"iPad", std::nullopt, "iPad"},
        {"My iPhone", std::nullopt, "My iPhone"},
        {"iPhone", "15.7", "iPhone"},
        {"iPhone", "16.0", "SYSTEM_PLACEHOLDER"},
        {"iPad", "17.1.2", "SYSTEM_PLACEHOLDER"},
        {"My iPhone", "16.0", "My iPhone"},
        {"iPhone ", "16.0", "iPhone "},
        {"iphone", "16.0", "iphone"},
        {"kitchen-laptop", "16.0", "kitchen-laptop"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " / " + c.compatibility.value_or("(none)"));
        sources_.name = [&c] { return std::string(c.name); };
        sources_.compatibilitySystemVersion = [&c] { return c.compatibility; };
        auto scope = Device::replaceSourcesForTesting(sources_);
        EXPECT_EQ(Device::quovaDeviceName(), c.result);
    }
    EXPECT_EQ(Device::quovaDeviceName(), platform::ProcessInfo::processInfo().hostName())
        << "the desktop's device name is the host name";
}

TEST_F(DeviceInformationTest, VendorIdentifierIsMadeOncePerUserAndAdvertisingIdentifierIsNone) {
    const std::string first = Device::quovaVendorID();
    EXPECT_TRUE(std::regex_match(
        first, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << first;
    EXPECT_EQ(Device::quovaVendorID(), first);
    EXPECT_EQ(platform::UserDefaults::standard().stringValue("QuovaVendorID"), first);

    // A stored identifier in lower case reads upper case; one that is no UUID is replaced.
    platform::UserDefaults::standard().set("QuovaVendorID",
                                           std::string("0c3d4e5f-0000-4000-8000-00000000000a"));
    EXPECT_EQ(Device::quovaVendorID(), "0C3D4E5F-0000-4000-8000-00000000000A");
    platform::UserDefaults::standard().set("QuovaVendorID", std::string("not a uuid"));
    const std::string replaced = Device::quovaVendorID();
    EXPECT_TRUE(platform::UUID::fromString(replaced).has_value());
    EXPECT_EQ(platform::UserDefaults::standard().stringValue("QuovaVendorID"), replaced);

    EXPECT_EQ(Device::quovaAdvertisingID(), "") << "a desktop has no advertising identifier";

    sources_.identifierForVendor = [] { return std::optional<platform::UUID>(); };
    sources_.advertisingIdentifier = [] {
        return platform::UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    };
    auto scope = Device::replaceSourcesForTesting(sources_);
    EXPECT_EQ(Device::quovaVendorID(), "");
    EXPECT_EQ(Device::quovaAdvertisingID(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

TEST_F(DeviceInformationTest, FirstUsesOnSeveralThreadsAgreeOnOneVendorIdentifier) {
    constexpr int kThreads = 8;
    std::vector<std::string> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&seen, i] { seen[i] = Device::quovaVendorID(); });
    }
    for (auto& thread : threads) thread.join();
    for (const std::string& identifier : seen) EXPECT_EQ(identifier, seen.front());
    EXPECT_EQ(platform::UserDefaults::standard().stringValue("QuovaVendorID"), seen.front());
}

}  // namespace
}  // namespace tervolo::appinfo
