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
// The resources folder is searched in this order: a folder set with
// setResourcesDirectory(); "resources" beside the executable, or beside one
// of its parent folders (the build tree keeps it at <build>/resources while
// executables live in sub-folders); $TERVOLO_SOURCE_DIR/resources (the
// source tree, which tests use; Info.json.in stands in for Info.json there).
class Bundle {
  public:
    static Bundle& main();

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
    std::optional<std::string> languageOverride_;
    // (language, table) → key → text; an empty map when there is no file.
    mutable std::map<std::pair<std::string, std::string>, std::map<std::string, std::string>> tables_;
};

// Shorthand for Bundle::main().localizedString(key).
std::string localizedString(const std::string& key);

}  // namespace platform
