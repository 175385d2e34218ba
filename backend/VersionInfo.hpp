#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/coding/JSONDecoder.hpp"
#include "platform/coding/JSONEncoder.hpp"

namespace tervolo::backend {

// A published version: four JSON integers, all required.
struct VersionInfo {
    static constexpr const char* codingTypeName = "VersionInfo";

    int64_t build = 0;
    int64_t major = 0;
    int64_t minor = 0;
    int64_t patch = 0;

    // "major.minor.patch.build".
    std::string description() const;

    static VersionInfo decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;
};

// The version document on the product's web server; every key required.
struct AppVersionInfo {
    static constexpr const char* codingTypeName = "AppVersionInfo";

    std::string appName;
    VersionInfo currentVersion;
    bool forceUpdate = false;
    std::string updateURL;
    std::string fallbackURL;

    // "Update Info: <name> <version> - update URL: <url> - fallback URL: <url> - updates NOT forced"
    // ("updates  forced", two blanks, when forced).
    std::string description() const;

    static AppVersionInfo decode(const platform::KeyedDecodingContainer& container);
    void encode(platform::KeyedEncodingContainer& container) const;
};

// The running application's version components, as the shell's application
// information answers them: major, minor and patch are the first three
// "."-separated parts of "CFBundleVersion", build is "QXBuildNumber"; each
// read leniently (leading digits, 0 when none, "-1" widened to 2^64 − 1).
struct ApplicationVersion {
    uint64_t major = 0;
    uint64_t minor = 0;
    uint64_t patch = 0;
    uint64_t build = 0;
    std::string text;  // "CFBundleVersion" as it stands

    static ApplicationVersion current();
    // The same rules over given texts.
    static ApplicationVersion parse(const std::string& versionText, const std::string& buildText);
};

}  // namespace tervolo::backend
