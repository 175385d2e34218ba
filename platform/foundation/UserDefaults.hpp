#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/PropertyValue.hpp"

namespace platform {

// The user's preferences: typed values persisted as one JSON file
// ("UserDefaults.json") in the preferences folder. Every change is written
// through at once, atomically (temporary file, fsync, rename), so a crash
// loses nothing already set. A file that cannot be read (permissions, over
// the size cap) or not as a JSON object is moved aside to
// "UserDefaults.json.corrupt-<UTC timestamp>" with one diagnostic line on
// standard error, and the defaults start empty; when it cannot be moved,
// changes are kept in memory only, never written over it. When the file is a
// symbolic link, saves replace the file it names and keep the link.
// Thread-safe.
//
// Lookups distinguish "absent" (object() is empty) from "present with another
// type" (object() has a value, the typed getter answers nothing). Values
// registered with registerDefaults() answer when the user has set nothing and
// are never written to disk.
class UserDefaults {
  public:
    // Loaded from the preferences folder on first use.
    static UserDefaults& standard();

    // A separate store backed by `filePath` (tests simulate a restart by
    // opening the same file again).
    explicit UserDefaults(std::string filePath);

    std::optional<PropertyValue> object(const std::string& key) const;
    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<int64_t> integerValue(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const;  // integers a double holds exactly too
    std::optional<std::string> stringValue(const std::string& key) const;
    std::optional<Date> dateValue(const std::string& key) const;
    std::optional<PropertyValue::List> listValue(const std::string& key) const;
    std::optional<PropertyValue::Dictionary> dictionaryValue(const std::string& key) const;

    void set(const std::string& key, PropertyValue value);
    void remove(const std::string& key);
    void registerDefaults(const PropertyValue::Dictionary& defaults);

    // Everything set by the user (registered defaults excluded).
    PropertyValue::Dictionary dictionaryRepresentation() const;
    std::string filePath() const;

    // Forgets the values in memory and reads the file again on next use; the
    // standard instance then re-resolves the preferences folder (tests point
    // XDG_CONFIG_HOME elsewhere first). Registered defaults are dropped too.
    void reload();

  private:
    UserDefaults() = default;
    void loadLocked() const;
    void persistLocked();
    void moveAsideLocked(const std::string& problem) const;
    std::optional<PropertyValue> lookupLocked(const std::string& key) const;

    mutable std::mutex mutex_;
    bool followsPreferencesFolder_ = false;
    // Loading is deferred to the first use, which may be a const reader.
    mutable bool loaded_ = false;
    // The file could neither be read nor moved aside: never write over it.
    mutable bool writesRefused_ = false;
    mutable std::string filePath_;
    mutable PropertyValue::Dictionary values_;
    PropertyValue::Dictionary registered_;
};

}  // namespace platform
