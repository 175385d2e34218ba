#include "platform/foundation/UserDefaults.hpp"

#include <cmath>
#include <ctime>

#include "platform/foundation/Diagnostics.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/PropertyValueJSON.hpp"

namespace platform {

namespace {

constexpr const char* kFileName = "UserDefaults.json";
constexpr const char* kCorruptSuffix = ".corrupt";
// Preferences are small; anything larger is not ours.
constexpr size_t kMaximumFileSize = 16 * 1024 * 1024;

}  // namespace

UserDefaults& UserDefaults::standard() {
    static UserDefaults& defaults = []() -> UserDefaults& {
        auto* instance = new UserDefaults;
        instance->followsPreferencesFolder_ = true;
        return *instance;
    }();
    return defaults;
}

UserDefaults::UserDefaults(std::string filePath) : filePath_(std::move(filePath)) {}

namespace {

// "20261209T232713Z": the instant in UTC, for the names of files moved aside.
std::string compactTimestamp(Date date) {
    const auto seconds = static_cast<time_t>(std::floor(date.unixTime()));
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

}  // namespace

void UserDefaults::loadLocked() const {
    if (loaded_) return;
    loaded_ = true;
    writesRefused_ = false;
    if (followsPreferencesFolder_) {
        filePath_ = FileManager::defaultManager().preferencesDirectory() + "/" + kFileName;
    }
    values_.clear();
    FileManager& files = FileManager::defaultManager();
    auto bytes = files.readFileSafely(filePath_, kMaximumFileSize);
    if (!bytes) {
        if (bytes.error().isNoSuchFile()) return;  // first run
        // Unreadable (permissions, a FIFO, too large): the next change would
        // replace it and the user's keys would be gone.
        moveAsideLocked("cannot read " + filePath_ + " (" + bytes.error().description + ")");
        return;
    }
    const nlohmann::json json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
    std::optional<PropertyValue> value;
    if (json.is_object()) value = propertyValueFromJSON(json);
    if (!value || value->asDictionary() == nullptr) {
        moveAsideLocked(filePath_ + " is not a valid defaults file");
        return;
    }
    values_ = *value->asDictionary();
}

void UserDefaults::moveAsideLocked(const std::string& problem) const {
    // Kept for inspection (and for the user's keys) rather than overwritten by
    // the next change: "<name>.corrupt-<timestamp>" beside the file a link at
    // the path names, so a managed dotfile's link keeps pointing where it did.
    FileManager& files = FileManager::defaultManager();
    auto target = files.resolvingSymbolicLinks(filePath_);
    std::optional<Error> failure;
    std::string aside;
    if (!target) {
        failure = target.error();
    } else {
        const std::string base = target.value() + kCorruptSuffix + "-" + compactTimestamp(Date::now());
        for (int attempt = 1; attempt <= 100; ++attempt) {
            aside = attempt == 1 ? base : base + "-" + std::to_string(attempt);
            failure = files.moveItem(target.value(), aside);
            if (!failure || !failure->isFileExists()) break;
        }
    }
    if (failure) {
        // Never destroy what cannot be read: refuse to write over it instead.
        writesRefused_ = true;
        LineWriter::standardError().writeLine("UserDefaults: " + problem + "; could not move it aside (" +
                                              failure->description + "), so changes are not saved");
        return;
    }
    LineWriter::standardError().writeLine("UserDefaults: " + problem + "; moved it to " + aside +
                                          " and starting empty");
}

void UserDefaults::persistLocked() {
    if (writesRefused_) return;  // said once, when the file was found unreadable
    // A string that is not valid UTF-8 is written with replacement characters
    // instead of making the whole save throw.
    const std::string text =
        toJSON(PropertyValue(values_)).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    FileManager& files = FileManager::defaultManager();
    const auto slash = filePath_.find_last_of('/');
    if (slash != std::string::npos && slash > 0) files.createDirectory(filePath_.substr(0, slash), true);
    // People keep their settings in managed dotfiles: a link at the path is
    // written through, its target replaced atomically in the target's folder.
    if (auto error =
            files.writeFile(filePath_, text, WriteOptions::Atomic | WriteOptions::ThroughSymbolicLinks)) {
        LineWriter::standardError().writeLine("UserDefaults: cannot save " + filePath_ + ": " +
                                              error->description);
    }
}

std::optional<PropertyValue> UserDefaults::lookupLocked(const std::string& key) const {
    loadLocked();
    if (auto found = values_.find(key); found != values_.end()) return found->second;
    if (auto found = registered_.find(key); found != registered_.end()) return found->second;
    return std::nullopt;
}

std::optional<PropertyValue> UserDefaults::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return lookupLocked(key);
}

std::optional<bool> UserDefaults::boolValue(const std::string& key) const {
    auto value = object(key);
    return value ? value->asBool() : std::nullopt;
}

std::optional<int64_t> UserDefaults::integerValue(const std::string& key) const {
    auto value = object(key);
    return value ? value->asInteger() : std::nullopt;
}

std::optional<double> UserDefaults::doubleValue(const std::string& key) const {
    auto value = object(key);
    return value ? value->asDouble() : std::nullopt;
}

std::optional<std::string> UserDefaults::stringValue(const std::string& key) const {
    auto value = object(key);
    return value ? value->asString() : std::nullopt;
}

std::optional<Date> UserDefaults::dateValue(const std::string& key) const {
    auto value = object(key);
    return value ? value->asDate() : std::nullopt;
}

std::optional<PropertyValue::List> UserDefaults::listValue(const std::string& key) const {
    auto value = object(key);
    if (!value || value->asList() == nullptr) return std::nullopt;
    return *value->asList();
}

std::optional<PropertyValue::Dictionary> UserDefaults::dictionaryValue(const std::string& key) const {
    auto value = object(key);
    if (!value || value->asDictionary() == nullptr) return std::nullopt;
    return *value->asDictionary();
}

void UserDefaults::set(const std::string& key, PropertyValue value) {
    std::lock_guard lock(mutex_);
    loadLocked();
    values_[key] = std::move(value);
    persistLocked();
}

void UserDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    loadLocked();
    if (values_.erase(key) > 0) persistLocked();
}

void UserDefaults::registerDefaults(const PropertyValue::Dictionary& defaults) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults) registered_[key] = value;
}

PropertyValue::Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    loadLocked();
    return values_;
}

std::string UserDefaults::filePath() const {
    std::lock_guard lock(mutex_);
    loadLocked();
    return filePath_;
}

void UserDefaults::reload() {
    std::lock_guard lock(mutex_);
    registered_.clear();
    values_.clear();
    // Read again on next use, so a reload never touches the folder by itself.
    loaded_ = false;
}

}  // namespace platform
