#include "platform/foundation/DesktopKeyFile.hpp"

#include "platform/text/Unicode.hpp"

namespace platform {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool isGroupName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '[' || c == ']' || byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

bool isKey(std::string_view key) {
    if (key.empty()) return false;
    for (char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '=') return false;
    }
    return true;
}

}  // namespace

std::optional<DesktopKeyFile> DesktopKeyFile::parse(std::string_view text) {
    // Text only: a file with NUL bytes or broken UTF-8 in it is not one to trust.
    if (text.find('\0') != std::string_view::npos || !text::isValidUTF8(text)) return std::nullopt;
    DesktopKeyFile file;
    Group* current = nullptr;
    size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return std::nullopt;
            const std::string name(line.substr(1, line.size() - 2));
            if (!isGroupName(name) || file.groups_.count(name) != 0) return std::nullopt;
            file.groupNames_.push_back(name);
            current = &file.groups_[name];
            continue;
        }
        const auto equals = line.find('=');
        if (current == nullptr || equals == std::string_view::npos) return std::nullopt;
        const std::string_view key = trimmed(line.substr(0, equals));
        if (!isKey(key)) return std::nullopt;
        current->emplace(std::string(key), std::string(trimmed(line.substr(equals + 1))));
    }
    return file;
}

const DesktopKeyFile::Group* DesktopKeyFile::group(const std::string& name) const {
    const auto found = groups_.find(name);
    return found == groups_.end() ? nullptr : &found->second;
}

std::optional<std::string> DesktopKeyFile::value(const std::string& groupName, const std::string& key) const {
    const Group* found = group(groupName);
    if (found == nullptr) return std::nullopt;
    const auto entry = found->find(key);
    if (entry == found->end()) return std::nullopt;
    return entry->second;
}

std::vector<std::string> DesktopKeyFile::list(const std::string& groupName, const std::string& key) const {
    const auto text = value(groupName, key);
    return text ? splitList(*text) : std::vector<std::string>{};
}

std::vector<std::string> DesktopKeyFile::splitList(std::string_view value) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= value.size()) {
        auto end = value.find(';', start);
        if (end == std::string_view::npos) end = value.size();
        const std::string_view item = trimmed(value.substr(start, end - start));
        if (!item.empty()) items.emplace_back(item);
        start = end + 1;
    }
    return items;
}

}  // namespace platform
