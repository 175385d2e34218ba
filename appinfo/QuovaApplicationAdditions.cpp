#include "appinfo/QuovaApplicationAdditions.hpp"

#include <limits>

#include "appinfo/VersionComponents.hpp"
#include "platform/foundation/Bundle.hpp"

namespace tervolo::appinfo {

namespace {

std::optional<std::string> info(const char* key) {
    return platform::Bundle::main().infoString(key);
}

}  // namespace

std::string QuovaApplicationAdditions::quovaAppVersion() {
    return info("CFBundleVersion").value_or("");
}

std::string QuovaApplicationAdditions::quovaAppVersionWithoutBuild() {
    // One reading of the dictionary for all three parts.
    const auto version = info("CFBundleVersion");
    return versionNumberAtPosition(version, 0) + "." + versionNumberAtPosition(version, 1) + "." +
           versionNumberAtPosition(version, 2);
}

std::string QuovaApplicationAdditions::quovaAppName() {
    return info("CFBundleName").value_or("");
}

std::string QuovaApplicationAdditions::quovaAppMajorVersion() {
    return quovaAppVersionNumberAtPosition(0);
}

std::string QuovaApplicationAdditions::quovaAppMinorVersion() {
    return quovaAppVersionNumberAtPosition(1);
}

std::string QuovaApplicationAdditions::quovaAppSubVersion() {
    return quovaAppVersionNumberAtPosition(2);
}

std::string QuovaApplicationAdditions::quovaAppVersionNumberAtPosition(int32_t position) {
    return versionNumberAtPosition(info("CFBundleVersion"), position);
}

std::optional<std::string> QuovaApplicationAdditions::quovaAppBuild() {
    return info("QXBuildNumber");
}

uint64_t QuovaApplicationAdditions::quovaAppMajorVersionInt() {
    return versionComponentValue(quovaAppMajorVersion());
}

uint64_t QuovaApplicationAdditions::quovaAppMinorVersionInt() {
    return versionComponentValue(quovaAppMinorVersion());
}

uint64_t QuovaApplicationAdditions::quovaAppSubVersionInt() {
    return versionComponentValue(quovaAppSubVersion());
}

uint64_t QuovaApplicationAdditions::quovaAppBuildInt() {
    return versionComponentValue(quovaAppBuild().value_or(""));
}

std::string QuovaApplicationAdditions::quovaBundleID() {
    return info("CFBundleIdentifier").value_or("");
}

std::string QuovaApplicationAdditions::versionNumberAtPosition(const std::optional<std::string>& version,
                                                               int32_t position) {
    // Compared unsigned: a negative position is a very large one.
    if (static_cast<uint32_t>(position) > 3 || !version) return "";
    return detail::dotComponent(*version, static_cast<size_t>(position)).value_or("");
}

uint64_t QuovaApplicationAdditions::versionComponentValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;  // saturate; further digits keep it there
    }
    int64_t signedValue = negative ? -value : value;
    if (signedValue > std::numeric_limits<int32_t>::max()) signedValue = std::numeric_limits<int32_t>::max();
    if (signedValue < std::numeric_limits<int32_t>::min()) signedValue = std::numeric_limits<int32_t>::min();
    return static_cast<uint64_t>(signedValue);
}

}  // namespace tervolo::appinfo
