// Fuzz target: the desktop's application registry files (desktop entries,
// mimeapps.list, mimeinfo.cache) and URL texts asked about. A file that reads
// must write back to text that reads to the same groups and values, list
// items are never empty, and a URL scheme is never empty nor upper case.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/foundation/CanOpenURL.hpp"
#include "platform/foundation/DesktopKeyFile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto scheme = platform::urlScheme(text)) {
        if (scheme->empty()) std::abort();
        for (char c : *scheme) {
            if (c >= 'A' && c <= 'Z') std::abort();
        }
    }

    const auto file = platform::DesktopKeyFile::parse(text);
    if (!file) return 0;
    std::string written;
    for (const std::string& name : file->groupNames()) {
        const auto* group = file->group(name);
        if (group == nullptr) std::abort();
        written += "[" + name + "]\n";
        for (const auto& [key, value] : *group) {
            written += key + "=" + value + "\n";
            for (const std::string& item : platform::DesktopKeyFile::splitList(value)) {
                if (item.empty() || item.find(';') != std::string::npos) std::abort();
            }
        }
    }
    const auto again = platform::DesktopKeyFile::parse(written);
    if (!again || again->groupNames() != file->groupNames()) std::abort();
    for (const std::string& name : file->groupNames()) {
        if (*again->group(name) != *file->group(name)) std::abort();
    }
    return 0;
}
