#include "backend/VersionInfo.hpp"

#include "appinfo/QuovaApplicationAdditions.hpp"

namespace tervolo::backend {

std::string VersionInfo::description() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) + "." +
           std::to_string(build);
}

VersionInfo VersionInfo::decode(const platform::KeyedDecodingContainer& c) {
    return {c.decode<int64_t>("build"), c.decode<int64_t>("major"), c.decode<int64_t>("minor"),
            c.decode<int64_t>("patch")};
}

void VersionInfo::encode(platform::KeyedEncodingContainer& c) const {
    c.encode("build", build);
    c.encode("major", major);
    c.encode("minor", minor);
    c.encode("patch", patch);
}

std::string AppVersionInfo::description() const {
    return "Update Info: " + appName + " " + currentVersion.description() + " - update URL: " + updateURL +
           " - fallback URL: " + fallbackURL + " - updates " + (forceUpdate ? "" : "NOT") + " forced";
}

AppVersionInfo AppVersionInfo::decode(const platform::KeyedDecodingContainer& c) {
    AppVersionInfo info;
    info.appName = c.decode<std::string>("appName");
    info.currentVersion = c.decode<VersionInfo>("currentVersion");
    info.forceUpdate = c.decode<bool>("forceUpdate");
    info.updateURL = c.decode<std::string>("updateURL");
    info.fallbackURL = c.decode<std::string>("fallbackURL");
    return info;
}

void AppVersionInfo::encode(platform::KeyedEncodingContainer& c) const {
    c.encode("appName", appName);
    c.encode("currentVersion", currentVersion);
    c.encode("forceUpdate", forceUpdate);
    c.encode("updateURL", updateURL);
    c.encode("fallbackURL", fallbackURL);
}

ApplicationVersion ApplicationVersion::parse(const std::string& versionText, const std::string& buildText) {
    using appinfo::QuovaApplicationAdditions;
    auto part = [&](int32_t position) {
        return QuovaApplicationAdditions::versionComponentValue(
            QuovaApplicationAdditions::versionNumberAtPosition(versionText, position));
    };
    ApplicationVersion version;
    version.text = versionText;
    version.major = part(0);
    version.minor = part(1);
    version.patch = part(2);
    version.build = QuovaApplicationAdditions::versionComponentValue(buildText);
    return version;
}

ApplicationVersion ApplicationVersion::current() {
    using appinfo::QuovaApplicationAdditions;
    ApplicationVersion version;
    version.text = QuovaApplicationAdditions::quovaAppVersion();
    version.major = QuovaApplicationAdditions::quovaAppMajorVersionInt();
    version.minor = QuovaApplicationAdditions::quovaAppMinorVersionInt();
    version.patch = QuovaApplicationAdditions::quovaAppSubVersionInt();
    version.build = QuovaApplicationAdditions::quovaAppBuildInt();
    return version;
}

}  // namespace tervolo::backend
