#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/PropertyValue.hpp"

namespace platform {

// The application bundle: the information dictionary and the resources.
//
// The information dictionary is resources/Info.json, written by the build
// from resources/Info.json.in with the project version and build number.
// Every key can be overridden with the environment variable TERVOLO_<KEY>
// (the key as written, e.g. TERVOLO_CFBundleVersion); an override of a list
// key is a comma-separated list.
//
// The bundle is laid out in one of two ways, both found from the folder of
// the running executable (/proc/self/exe, so symbolic links to it and the
// working directory do not matter, and a moved tree still runs):
// - an installed prefix: <prefix>/bin/TervoloNG, the resources in
//   <prefix>/share/TervoloNG, the plug-ins in <prefix>/lib/TervoloNG/PlugIns;
// - the build tree: <build>/app/TervoloNG, the resources in <build>/resources
//   (found beside the executable or beside one of its parents, since test
//   programs live deeper), the plug-ins in <build>/app/PlugIns.
// A resources folder counts only when it holds Info.json. Before both comes
// a folder set with setResourcesDirectory(); after both,
// $TERVOLO_SOURCE_DIR/resources (the source tree, which tests use;
// Info.json.in stands in for Info.json there).
class Bundle {
  public:
    static Bundle& main();

    // The layout rules above for an executable in `executableFolder`: the
    // resources folder, and the plug-ins folder (an existing folder only);
    // empty when there is none.
    static std::string resourcesFolderForExecutableIn(const std::string& executableFolder);
    static std::string plugInsFolderForExecutableIn(const std::string& executableFolder);
    // The folder of the running executable; empty when it cannot be read.
    static std::string executableFolder();

    // The information dictionary with overrides applied.
    PropertyValue::Dictionary infoDictionary() const;
    // One value, or nothing when the key is absent.
    std::optional<PropertyValue> objectForInfoDictionaryKey(const std::string& key) const;
    // A string value; nothing when absent or not a string.
    std::optional<std::string> infoString(const std::string& key) const;
    // A list of strings; empty when absent.
    std::vector<std::string> infoStringList(const std::string& key) const;

    // The folder the resources were found in, empty when none was found.
    std::string resourcePath() const;
    // "<resources>/<name>.<type>" (type may be empty) when it exists.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
    // The folder the program loads its plug-ins from; empty when there is none.
    std::string builtInPlugInsPath() const;

    // The translation of `key` in `table` ("Localizable" when empty) for the
    // user's language ($LC_ALL, $LC_MESSAGES, $LANG: "de_DE.UTF-8" → "de");
    // when there is none, `value` when it is not empty, else the key itself.
    // Translations are optional files resources/translations/<language>/<table>.json
    // holding one JSON object of key → text.
    std::string localizedString(const std::string& key, const std::string& value = "",
                                const std::string& table = "") const;

    // Test hooks. Replacing the dictionary leaves absent keys absent; overrides
    // from the environment still apply. reload() forgets every cache.
    void setInfoDictionaryForTesting(std::optional<PropertyValue::Dictionary> dictionary);
    void setResourcesDirectory(std::optional<std::string> folder);
    void setBuiltInPlugInsDirectory(std::optional<std::string> folder);
    void setLanguageForTesting(std::optional<std::string> language);
    void reload();

  private:
    Bundle() = default;
    const PropertyValue::Dictionary& baseDictionaryLocked() const;
    std::string resourcePathLocked() const;
    std::string languageLocked() const;

    mutable std::mutex mutex_;
    mutable std::optional<PropertyValue::Dictionary> dictionary_;
    mutable std::optional<std::string> resourcePath_;
    std::optional<std::string> resourcesOverride_;
    mutable std::optional<std::string> plugInsPath_;
    std::optional<std::string> plugInsOverride_;
    std::optional<std::string> languageOverride_;
    // (language, table) → key → text; an empty map when there is no file.
    mutable std::map<std::pair<std::string, std::string>, std::map<std::string, std::string>> tables_;
};

// Shorthand for Bundle::main().localizedString(key).
std::string localizedString(const std::string& key);

}  // namespace platform
