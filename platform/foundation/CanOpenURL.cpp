#include "platform/foundation/CanOpenURL.hpp"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "platform/foundation/DesktopKeyFile.hpp"
#include "platform/foundation/FileManager.hpp"

namespace platform {

namespace {

// Caps on what one look at the registry reads: desktop entries are a few
// kilobytes, a system's mimeinfo.cache some hundred; anything far beyond is
// not a registry file and is skipped.
constexpr size_t kEntryCap = 64 * 1024;
constexpr size_t kListCap = 1024 * 1024;
// Folders below "applications" are walked this deep, and at most this many
// names are looked at in all of them, so a looping or huge tree cannot stall
// the caller.
constexpr int kMaximumDepth = 8;
constexpr size_t kMaximumNames = 20000;

constexpr const char* kEntryGroup = "Desktop Entry";

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isURIChar(char c) {
    if (isAlpha(c) || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '-':
        case '.':
        case '_':
        case '~':  // unreserved
        case ':':
        case '/':
        case '?':
        case '#':
        case '[':
        case ']':
        case '@':  // gen-delims
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':  // sub-delims
        case '+':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}

std::string environmentPath(const char* variable) {
    const char* value = std::getenv(variable);
    // The XDG rules ignore relative paths.
    if (value == nullptr || value[0] != '/') return {};
    return value;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) : std::string();
}

// A home folder variable, or its default below $HOME (none without $HOME).
std::vector<std::string> homeFolders(const char* variable, const char* fallback) {
    std::string folder = environmentPath(variable);
    if (folder.empty()) {
        const std::string home = homeFolder();
        if (!home.empty()) folder = home + "/" + fallback;
    }
    return folder.empty() ? std::vector<std::string>{} : std::vector<std::string>{folder};
}

// A colon-separated folder list variable, relative entries dropped, or its
// default when unset or empty.
std::vector<std::string> folderList(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    const std::string text = value != nullptr && value[0] != '\0' ? value : fallback;
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        std::string folder = text.substr(start, end - start);
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (!folder.empty() && folder.front() == '/') folders.push_back(std::move(folder));
        start = end + 1;
    }
    return folders;
}

std::vector<std::string> currentDesktopNames() {
    std::vector<std::string> names;
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    if (value == nullptr) return names;
    const std::string text = value;
    size_t start = 0;
    while (start < text.size()) {
        auto end = text.find(':', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        for (char& c : name) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        if (!name.empty() && name.find('/') == std::string::npos) names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

std::optional<DesktopKeyFile> readKeyFile(const std::string& path, size_t cap) {
    auto bytes = FileManager::defaultManager().readFileSafely(path, cap);
    if (!bytes) return std::nullopt;
    const auto& data = bytes.value();
    return DesktopKeyFile::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

// One look at the desktop's application registry, for the length of one question.
class Registry {
  public:
    Registry() {
        for (auto& folder : homeFolders("XDG_CONFIG_HOME", ".config")) configFolders_.push_back(folder);
        for (auto& folder : folderList("XDG_CONFIG_DIRS", "/etc/xdg")) configFolders_.push_back(folder);
        for (auto& folder : homeFolders("XDG_DATA_HOME", ".local/share")) {
            applicationFolders_.push_back(folder + "/applications");
        }
        for (auto& folder : folderList("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) {
            applicationFolders_.push_back(folder + "/applications");
        }
        desktopNames_ = currentDesktopNames();
        for (const std::string& folder : applicationFolders_) collectEntries(folder, "", 0);
    }

    bool handles(const std::string& mimeType) {
        std::set<std::string> removed;
        for (const std::string& path : mimeappsLists()) {
            const auto list = readKeyFile(path, kListCap);
            if (!list) continue;
            for (const char* group : {"Added Associations", "Default Applications"}) {
                for (const std::string& id : list->list(group, mimeType)) {
                    if (removed.count(id) == 0 && installedEntry(id) != nullptr) return true;
                }
            }
            for (std::string& id : list->list("Removed Associations", mimeType))
                removed.insert(std::move(id));
        }
        for (const std::string& folder : applicationFolders_) {
            const auto cache = readKeyFile(folder + "/mimeinfo.cache", kListCap);
            if (!cache) continue;
            for (const std::string& id : cache->list("MIME Cache", mimeType)) {
                if (removed.count(id) == 0 && installedEntry(id) != nullptr) return true;
            }
        }
        for (const auto& [id, paths] : entryPaths_) {
            // Only an identifier with a file that names the type can claim it,
            // whichever of its files is the installed one: the others are
            // never parsed (a desktop holds hundreds of entries).
            if (removed.count(id) != 0 || !anyFileMentions(paths, mimeType)) continue;
            const DesktopKeyFile* entry = installedEntry(id);
            if (entry == nullptr) continue;
            for (const std::string& type : entry->list(kEntryGroup, "MimeType")) {
                if (type == mimeType) return true;
            }
        }
        return false;
    }

  private:
    std::vector<std::string> mimeappsLists() const {
        std::vector<std::string> files;
        auto add = [&](const std::string& folder) {
            for (const std::string& name : desktopNames_)
                files.push_back(folder + "/" + name + "-mimeapps.list");
            files.push_back(folder + "/mimeapps.list");
        };
        for (const std::string& folder : configFolders_) add(folder);
        for (const std::string& folder : applicationFolders_) add(folder);
        return files;
    }

    // Every "*.desktop" below `folder`, by identifier, in folder precedence order.
    void collectEntries(const std::string& folder, const std::string& prefix, int depth) {
        std::error_code error;
        std::filesystem::directory_iterator it(folder, error);
        for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
            if (++namesSeen_ > kMaximumNames) return;
            const std::string name = it->path().filename().string();
            std::error_code statusError;
            // Linked folders are not followed: a link loop would never end.
            const auto linkStatus = it->symlink_status(statusError);
            if (statusError) continue;
            if (std::filesystem::is_directory(linkStatus)) {
                if (depth < kMaximumDepth)
                    collectEntries(it->path().string(), prefix + name + "-", depth + 1);
                continue;
            }
            if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) {
                entryPaths_[prefix + name].push_back(it->path().string());
            }
        }
    }

    static bool anyFileMentions(const std::vector<std::string>& paths, const std::string& text) {
        for (const std::string& path : paths) {
            auto bytes = FileManager::defaultManager().readFileSafely(path, kEntryCap);
            if (!bytes) continue;
            const auto& data = bytes.value();
            const std::string_view content(reinterpret_cast<const char*>(data.data()), data.size());
            if (content.find(text) != std::string_view::npos) return true;
        }
        return false;
    }

    // The installed entry of an identifier: the first well-formed file in
    // precedence order, when it is a shown application; nothing otherwise.
    const DesktopKeyFile* installedEntry(const std::string& id) {
        if (auto cached = resolved_.find(id); cached != resolved_.end()) {
            return cached->second ? &*cached->second : nullptr;
        }
        std::optional<DesktopKeyFile> installed;
        if (auto paths = entryPaths_.find(id); paths != entryPaths_.end()) {
            for (const std::string& path : paths->second) {
                auto entry = readKeyFile(path, kEntryCap);
                if (!entry || entry->groupNames().empty() || entry->groupNames().front() != kEntryGroup)
                    continue;
                if (entry->value(kEntryGroup, "Type") == "Application" &&
                    entry->value(kEntryGroup, "Hidden") != "true") {
                    installed = std::move(entry);
                }
                break;
            }
        }
        auto& stored = resolved_[id] = std::move(installed);
        return stored ? &*stored : nullptr;
    }

    std::vector<std::string> configFolders_;
    std::vector<std::string> applicationFolders_;
    std::vector<std::string> desktopNames_;
    // Identifier → paths in precedence order (a std::map: the walk order of
    // the claims check does not matter, the answer is the same).
    std::map<std::string, std::vector<std::string>> entryPaths_;
    std::map<std::string, std::optional<DesktopKeyFile>> resolved_;
    size_t namesSeen_ = 0;
};

}  // namespace

std::optional<std::string> urlScheme(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))
                return std::nullopt;
            i += 2;
        } else if (!isURIChar(text[i])) {
            return std::nullopt;
        }
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return std::nullopt;
    std::string scheme;
    for (char c : text.substr(0, colon)) {
        if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return std::nullopt;
        scheme.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return scheme;
}

bool desktopHandlesMimeType(const std::string& mimeType) {
    if (mimeType.empty()) return false;
    return Registry().handles(mimeType);
}

bool canOpenURL(std::string_view urlText) {
    const auto scheme = urlScheme(urlText);
    if (!scheme) return false;
    // Files open through the file manager's own handling of their type.
    if (*scheme == "file") return true;
    return desktopHandlesMimeType("x-scheme-handler/" + *scheme);
}

}  // namespace platform
