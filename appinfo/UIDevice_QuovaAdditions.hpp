#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/text/UUID.hpp"

namespace tervolo::appinfo {

// What the program asks about the device it runs on: the device type code
// that layout and counting choices test, the hardware and system texts and
// identifiers the backend bodies and the About screen carry. Every member
// reads its source afresh and keeps nothing. Any thread.
//
// The sources are the desktop's (desktopSources()); tests put others in
// place with replaceSourcesForTesting.
class UIDevice_QuovaAdditions {
  public:
    // The platform's user-interface idioms, with their raw values.
    enum class Idiom : int64_t { unspecified = -1, phone = 0, pad = 1, tv = 2, carPlay = 3, mac = 5 };

    // Where the device facts come from.
    struct Sources {
        std::function<Idiom()> userInterfaceIdiom;
        // The per-user identifier this program keeps for the vendor; none when
        // it cannot be had.
        std::function<std::optional<platform::UUID>()> identifierForVendor;
        std::function<std::optional<platform::UUID>()> advertisingIdentifier;
        std::function<std::string()> name;
        // The operating system's version text ("12", "24.04", "6.1.0-18-amd64").
        std::function<std::optional<std::string>()> systemVersion;
        // The phone system version a tablet-compatibility layer reports
        // ("16.1"); none where no such layer runs the program.
        std::function<std::optional<std::string>()> compatibilitySystemVersion;
    };

    // The desktop: the Mac idiom (the desktop layouts), the vendor identifier
    // made once per user and kept in the user defaults under "QuovaVendorID",
    // no advertising identifier (a Linux desktop has none), the host name, the
    // os-release VERSION_ID (else the kernel release) and no compatibility layer.
    static Sources desktopSources();
    static const Sources& sources();
    using SourcesReplacement = platform::SharedInstance<Sources>::Replacement;
    // While the result lives, the members read `replacement` (which must
    // outlive it). Replace before threads that ask start.
    [[nodiscard]] static SourcesReplacement replaceSourcesForTesting(Sources& replacement);

    // Device type 2 or 3 (the program runs on a desktop): the machine model
    // text; any other type: the processor architecture text.
    static std::string quovaHardwareDescription();
    // Sysctl "hw.machine" as ASCII text; "" when it cannot be read.
    static std::string quovaHardwareDescription_iDevice();
    // Sysctl "hw.model" as ASCII text; "" when it cannot be read.
    static std::string quovaHardwareDescription_Mac();
    // Phone 0, pad 2, Mac 3, any other idiom 4. 2 and 3 both mean a desktop.
    static int32_t quovaDeviceType();
    // Upper-case UUID text; "" when there is no vendor identifier.
    static std::string quovaVendorID();
    // UUID text; "" when there is no advertising identifier (always, here).
    static std::string quovaAdvertisingID();
    // The components 0, 1 and 2 of the system version.
    static std::optional<std::string> quovaSystemMajorVersion();
    static std::optional<std::string> quovaSystemMinorVersion();
    static std::optional<std::string> quovaSystemSubVersion();
    // The system version split at "."; the component at `position`, none when
    // the position is above 2 (compared unsigned, so negative ones are too),
    // without a system version, or with fewer components.
    static std::optional<std::string> quovaSystemVersionNumberAtPosition(int32_t position);
    // The device name, except that under a compatibility layer reporting
    // system 16.0 or later the generic names "iPhone" and "iPad" (exactly
    // those) read "SYSTEM_PLACEHOLDER". On the desktop: the host name.
    static std::string quovaDeviceName();
    // The system version text as the source gives it ("" when none).
    static std::string systemVersion();
};

}  // namespace tervolo::appinfo
