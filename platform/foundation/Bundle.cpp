#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/PlatformName.hpp"

#include <unistd.h>

#include <cstdlib>

#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/PropertyValueJSON.hpp"

namespace platform {

namespace {

constexpr const char* kInfoFileName = "Info.json";
constexpr const char* kInfoTemplateName = "Info.json.in";
constexpr const char* kOverridePrefix = "TERVOLO_";
constexpr size_t kMaximumDataFileSize = 4 * 1024 * 1024;

std::string sourceResources() {
    const char* source = std::getenv("TERVOLO_SOURCE_DIR");
    if (source == nullptr || source[0] == '\0') return {};
    return std::string(source) + "/resources";
}

// The installed layout's folders under the prefix, which is the parent of
// the executable's folder ("bin").
constexpr const char* kPrefixResources = "/share/TervoloNG";
constexpr const char* kPrefixPlugIns = "/lib/TervoloNG/PlugIns";
// The build tree's names.
constexpr const char* kResourcesFolderName = "/resources";
constexpr const char* kPlugInsFolderName = "/PlugIns";

std::string parentFolder(const std::string& folder) {
    const auto slash = folder.find_last_of('/');
    if (slash == std::string::npos) return {};
    return folder.substr(0, slash);
}

std::optional<nlohmann::json> readJSONObject(const std::string& path) {
    auto bytes = FileManager::defaultManager().readFileSafely(path, kMaximumDataFileSize);
    if (!bytes) return std::nullopt;
    nlohmann::json json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
    if (!json.is_object()) return std::nullopt;
    return json;
}

std::optional<std::string> overrideFor(const std::string& key) {
    const char* value = std::getenv((kOverridePrefix + key).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// An override replaces the value with a string, or with a list of strings when
// the value it replaces is a list ("a,b" → ["a","b"], "" → []).
PropertyValue overrideValue(const std::string& text, const PropertyValue* original) {
    if (original == nullptr || original->asList() == nullptr) return text;
    PropertyValue::List list;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        if (comma > start) list.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return PropertyValue(std::move(list));
}

std::string languageFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || value[0] == '\0') continue;
        std::string text(value);
        if (text == "C" || text == "POSIX" || text.rfind("C.", 0) == 0) return "en";
        const auto end = text.find_first_of("_.@");
        return end == std::string::npos ? text : text.substr(0, end);
    }
    return "en";
}

}  // namespace

Bundle& Bundle::main() {
    return SharedInstance<Bundle>::get([] { return new Bundle; });
}

std::string Bundle::executableFolder() {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    return parentFolder(std::string(buffer, static_cast<size_t>(length)));
}

std::string Bundle::resourcesFolderForExecutableIn(const std::string& executableFolder) {
    if (executableFolder.empty()) return {};
    const FileManager& files = FileManager::defaultManager();
    const auto holdsInfo = [&files](const std::string& folder) {
        return files.fileExists(folder + "/" + kInfoFileName);
    };
    // The installed layout first: walking up from <prefix>/bin could otherwise
    // meet an unrelated "resources" folder above the prefix.
    const std::string prefix = parentFolder(executableFolder);
    if (!prefix.empty() && holdsInfo(prefix + kPrefixResources)) return prefix + kPrefixResources;
    for (std::string folder = executableFolder; !folder.empty(); folder = parentFolder(folder)) {
        if (holdsInfo(folder + kResourcesFolderName)) return folder + kResourcesFolderName;
    }
    return {};
}

std::string Bundle::plugInsFolderForExecutableIn(const std::string& executableFolder) {
    if (executableFolder.empty()) return {};
    const FileManager& files = FileManager::defaultManager();
    if (files.isDirectory(executableFolder + kPlugInsFolderName))
        return executableFolder + kPlugInsFolderName;
    const std::string prefix = parentFolder(executableFolder);
    if (!prefix.empty() && files.isDirectory(prefix + kPrefixPlugIns)) return prefix + kPrefixPlugIns;
    return {};
}

std::string Bundle::resourcePathLocked() const {
    if (resourcesOverride_) return *resourcesOverride_;
    if (!resourcePath_) {
        std::string found = resourcesFolderForExecutableIn(executableFolder());
        if (found.empty()) {
            const std::string source = sourceResources();
            if (!source.empty() && FileManager::defaultManager().isDirectory(source)) found = source;
        }
        resourcePath_ = found;
    }
    return *resourcePath_;
}

const PropertyValue::Dictionary& Bundle::baseDictionaryLocked() const {
    if (!dictionary_) {
        const std::string folder = resourcePathLocked();
        std::optional<nlohmann::json> json;
        if (!folder.empty()) {
            json = readJSONObject(folder + "/" + kInfoFileName);
            // The source tree holds only the template; its placeholders are
            // inside strings, so it is valid JSON as it stands.
            if (!json) json = readJSONObject(folder + "/" + kInfoTemplateName);
        }
        if (!json) {
            const std::string source = sourceResources();
            if (!source.empty()) json = readJSONObject(source + "/" + kInfoTemplateName);
        }
        // A plain JSON object of keys, texts, numbers and lists.
        std::optional<PropertyValue> value;
        if (json) value = propertyValueFromJSON(*json);
        const PropertyValue::Dictionary* dictionary = value ? value->asDictionary() : nullptr;
        dictionary_ = dictionary ? *dictionary : PropertyValue::Dictionary{};
    }
    return *dictionary_;
}

PropertyValue::Dictionary Bundle::infoDictionary() const {
    std::lock_guard lock(mutex_);
    PropertyValue::Dictionary dictionary = baseDictionaryLocked();
    for (auto& [key, value] : dictionary) {
        if (auto text = overrideFor(key)) value = overrideValue(*text, &value);
    }
    return dictionary;
}

std::optional<PropertyValue> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const PropertyValue::Dictionary& dictionary = baseDictionaryLocked();
    const auto found = dictionary.find(key);
    const PropertyValue* original = found == dictionary.end() ? nullptr : &found->second;
    if (auto text = overrideFor(key)) return overrideValue(*text, original);
    if (original == nullptr) return std::nullopt;
    return *original;
}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
    auto value = objectForInfoDictionaryKey(key);
    if (!value) return std::nullopt;
    return value->asString();
}

std::vector<std::string> Bundle::infoStringList(const std::string& key) const {
    std::vector<std::string> list;
    auto value = objectForInfoDictionaryKey(key);
    if (!value) return list;
    if (auto text = value->asString()) {
        list.push_back(std::move(*text));
    } else if (const PropertyValue::List* items = value->asList()) {
        for (const PropertyValue& item : *items) {
            if (auto itemText = item.asString()) list.push_back(std::move(*itemText));
        }
    }
    return list;
}

std::string Bundle::resourcePath() const {
    std::lock_guard lock(mutex_);
    return resourcePathLocked();
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const {
    std::vector<std::string> folders;
    {
        std::lock_guard lock(mutex_);
        folders.push_back(resourcePathLocked());
    }
    // Resources that the build does not copy are found in the source tree.
    folders.push_back(sourceResources());
    const std::string file = type.empty() ? name : name + "." + type;
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        const std::string path = folder + "/" + file;
        if (FileManager::defaultManager().fileExists(path)) return path;
    }
    return std::nullopt;
}

std::string Bundle::builtInPlugInsPath() const {
    std::lock_guard lock(mutex_);
    if (plugInsOverride_) return *plugInsOverride_;
    if (!plugInsPath_) plugInsPath_ = plugInsFolderForExecutableIn(executableFolder());
    return *plugInsPath_;
}

std::string Bundle::languageLocked() const {
    return languageOverride_ ? *languageOverride_ : languageFromEnvironment();
}

std::string Bundle::localizedString(const std::string& key, const std::string& value,
                                    const std::string& table) const {
    std::string tableName = table.empty() ? "Localizable" : table;
    std::string language;
    {
        std::lock_guard lock(mutex_);
        language = languageLocked();
        const auto cacheKey = std::make_pair(language, tableName);
        auto cached = tables_.find(cacheKey);
        if (cached != tables_.end()) {
            auto text = cached->second.find(key);
            if (text != cached->second.end()) return text->second;
            return value.empty() ? key : value;
        }
    }
    // Load outside the lock (file access), then publish.
    std::map<std::string, std::string> entries;
    if (auto path = pathForResource("translations/" + language + "/" + tableName, "json")) {
        if (auto json = readJSONObject(*path)) {
            for (const auto& [entryKey, entryValue] : json->items()) {
                if (entryValue.is_string()) entries.emplace(entryKey, entryValue.get<std::string>());
            }
        }
    }
    std::lock_guard lock(mutex_);
    auto& stored = tables_.try_emplace(std::make_pair(language, tableName), std::move(entries)).first->second;
    auto text = stored.find(key);
    if (text != stored.end()) return text->second;
    return value.empty() ? key : value;
}

void Bundle::setInfoDictionaryForTesting(std::optional<PropertyValue::Dictionary> dictionary) {
    std::lock_guard lock(mutex_);
    dictionary_ = std::move(dictionary);
}

void Bundle::setResourcesDirectory(std::optional<std::string> folder) {
    std::lock_guard lock(mutex_);
    resourcesOverride_ = std::move(folder);
    dictionary_.reset();
    tables_.clear();
}

void Bundle::setBuiltInPlugInsDirectory(std::optional<std::string> folder) {
    std::lock_guard lock(mutex_);
    plugInsOverride_ = std::move(folder);
}

void Bundle::setLanguageForTesting(std::optional<std::string> language) {
    std::lock_guard lock(mutex_);
    languageOverride_ = std::move(language);
}

void Bundle::reload() {
    std::lock_guard lock(mutex_);
    dictionary_.reset();
    resourcePath_.reset();
    plugInsPath_.reset();
    tables_.clear();
}

std::string localizedString(const std::string& key) {
    return Bundle::main().localizedString(key);
}

std::string productNameForPlatform(const std::string& product) {
    return Bundle::main().localizedString(product + " for " + kPlatformName);
}

}  // namespace platform
