#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tervolo::appinfo {

// What the program asks about its own build: names, identifier and version
// components from the main bundle's information dictionary ("CFBundleVersion",
// the project version such as "1.0.0"; "QXBuildNumber", the build number;
// "CFBundleName"; "CFBundleIdentifier"). Every member reads the dictionary
// afresh. Any thread.
class QuovaApplicationAdditions {
  public:
    // "CFBundleVersion"; "" when absent.
    static std::string quovaAppVersion();
    // "<major>.<minor>.<sub>" with missing parts empty: "2.10" gives "2.10.",
    // "" gives "..".
    static std::string quovaAppVersionWithoutBuild();
    // "CFBundleName"; "" when absent.
    static std::string quovaAppName();
    // Components 0, 1 and 2 of quovaAppVersion; "" when missing.
    static std::string quovaAppMajorVersion();
    static std::string quovaAppMinorVersion();
    static std::string quovaAppSubVersion();
    // quovaAppVersion split at "."; the component at `position`; "" when the
    // position is above 3 (compared unsigned), without a version, or with
    // fewer components.
    static std::string quovaAppVersionNumberAtPosition(int32_t position);
    // "QXBuildNumber"; none when absent (no "" in its place).
    static std::optional<std::string> quovaAppBuild();
    // versionComponentValue of the members above; 0 when missing.
    static uint64_t quovaAppMajorVersionInt();
    static uint64_t quovaAppMinorVersionInt();
    static uint64_t quovaAppSubVersionInt();
    static uint64_t quovaAppBuildInt();
    // "CFBundleIdentifier"; "" when absent.
    static std::string quovaBundleID();

    // The rules the members apply, over a given text, for callers that hold
    // a version text of their own (a document to compare with).
    // Component `position` (0 to 3) of `version` split at "."; "" otherwise.
    static std::string versionNumberAtPosition(const std::optional<std::string>& version, int32_t position);
    // The integer value of a component: leading white space skipped, an
    // optional sign, the leading digits (the rest ignored), 0 when there are
    // none, saturated at the signed 32-bit range; then widened with its sign
    // into 64 unsigned bits, so "-1" reads 18446744073709551615.
    static uint64_t versionComponentValue(std::string_view text);
};

}  // namespace tervolo::appinfo
