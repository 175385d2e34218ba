#include "appinfo/UIDevice_QuovaAdditions.hpp"

#include <mutex>

#include "appinfo/QuovaApplicationAdditions.hpp"
#include "appinfo/VersionComponents.hpp"
#include "platform/foundation/ProcessInfo.hpp"
#include "platform/foundation/Sysctl.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::appinfo {

namespace {

constexpr const char* kVendorIDKey = "QuovaVendorID";

// The vendor identifier of this user: made on first use and kept in the user
// defaults, so it survives restarts but names neither the machine nor the user.
std::optional<platform::UUID> storedVendorIdentifier() {
    static std::mutex mutex;  // two first uses must not make two identifiers
    std::lock_guard lock(mutex);
    auto& defaults = platform::UserDefaults::standard();
    if (auto stored = defaults.stringValue(kVendorIDKey)) {
        if (auto uuid = platform::UUID::fromString(*stored)) return uuid;
    }
    const platform::UUID fresh = platform::UUID::random();
    defaults.set(kVendorIDKey, fresh.uuidString());
    return fresh;
}

// A sysctl text as ASCII: the bytes up to the first NUL, none when one of
// them is not ASCII (the text cannot be made).
std::string sysctlASCII(const char* name) {
    const auto value = platform::Sysctl::string(name);
    if (!value) return "";
    std::string text = value->substr(0, value->find('\0'));
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 0x7F) return "";
    }
    return text;
}

}  // namespace

UIDevice_QuovaAdditions::Sources UIDevice_QuovaAdditions::desktopSources() {
    Sources sources;
    sources.userInterfaceIdiom = [] { return Idiom::mac; };
    sources.identifierForVendor = &storedVendorIdentifier;
    sources.advertisingIdentifier = []() -> std::optional<platform::UUID> { return std::nullopt; };
    sources.name = [] { return platform::ProcessInfo::processInfo().hostName(); };
    sources.systemVersion = []() -> std::optional<std::string> {
        std::string version = platform::ProcessInfo::processInfo().operatingSystemVersionString();
        if (version.empty()) return std::nullopt;
        return version;
    };
    sources.compatibilitySystemVersion = []() -> std::optional<std::string> { return std::nullopt; };
    return sources;
}

const UIDevice_QuovaAdditions::Sources& UIDevice_QuovaAdditions::sources() {
    return platform::SharedInstance<Sources>::get([] { return new Sources(desktopSources()); });
}

UIDevice_QuovaAdditions::SourcesReplacement UIDevice_QuovaAdditions::replaceSourcesForTesting(
    Sources& replacement) {
    return platform::SharedInstance<Sources>::replaceForTesting(replacement);
}

std::string UIDevice_QuovaAdditions::quovaHardwareDescription() {
    const int32_t type = quovaDeviceType();
    return type == 2 || type == 3 ? quovaHardwareDescription_Mac() : quovaHardwareDescription_iDevice();
}

std::string UIDevice_QuovaAdditions::quovaHardwareDescription_iDevice() {
    return sysctlASCII("hw.machine");
}

std::string UIDevice_QuovaAdditions::quovaHardwareDescription_Mac() {
    return sysctlASCII("hw.model");
}

int32_t UIDevice_QuovaAdditions::quovaDeviceType() {
    const auto& idiom = sources().userInterfaceIdiom;
    if (!idiom) return 4;
    switch (idiom()) {
        case Idiom::phone:
            return 0;
        case Idiom::pad:
            return 2;
        case Idiom::mac:
            return 3;
        default:
            return 4;
    }
}

std::string UIDevice_QuovaAdditions::quovaVendorID() {
    const auto& source = sources().identifierForVendor;
    const auto uuid = source ? source() : std::nullopt;
    return uuid ? uuid->uuidString() : "";
}

std::string UIDevice_QuovaAdditions::quovaAdvertisingID() {
    const auto& source = sources().advertisingIdentifier;
    const auto uuid = source ? source() : std::nullopt;
    return uuid ? uuid->uuidString() : "";
}

std::optional<std::string> UIDevice_QuovaAdditions::quovaSystemMajorVersion() {
    return quovaSystemVersionNumberAtPosition(0);
}

std::optional<std::string> UIDevice_QuovaAdditions::quovaSystemMinorVersion() {
    return quovaSystemVersionNumberAtPosition(1);
}

std::optional<std::string> UIDevice_QuovaAdditions::quovaSystemSubVersion() {
    return quovaSystemVersionNumberAtPosition(2);
}

std::optional<std::string> UIDevice_QuovaAdditions::quovaSystemVersionNumberAtPosition(int32_t position) {
    // Compared unsigned: a negative position is a very large one.
    if (static_cast<uint32_t>(position) > 2) return std::nullopt;
    const auto& source = sources().systemVersion;
    const auto version = source ? source() : std::nullopt;
    if (!version) return std::nullopt;
    return detail::dotComponent(*version, static_cast<size_t>(position));
}

std::string UIDevice_QuovaAdditions::quovaDeviceName() {
    const Sources& current = sources();
    std::string name = current.name ? current.name() : "";
    if (name != "iPhone" && name != "iPad") return name;
    // Generic names stand for the real one, which such a layer from system 16
    // on no longer gives out.
    const auto compatibility =
        current.compatibilitySystemVersion ? current.compatibilitySystemVersion() : std::nullopt;
    if (!compatibility) return name;
    const uint64_t major = QuovaApplicationAdditions::versionComponentValue(
        detail::dotComponent(*compatibility, 0).value_or(""));
    if (static_cast<int64_t>(major) >= 16) return "SYSTEM_PLACEHOLDER";
    return name;
}

std::string UIDevice_QuovaAdditions::systemVersion() {
    const auto& source = sources().systemVersion;
    return (source ? source() : std::nullopt).value_or("");
}

}  // namespace tervolo::appinfo
