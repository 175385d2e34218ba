#include "platform/ui/ApplicationDelegate.hpp"

#include <cstdio>

namespace platform {

namespace {

// In double quotes, with quote, backslash and every control character
// escaped: the values are links from the command line, and the text goes to
// the log as one line.
std::string launchOptionQuoted(const std::string& value) {
    std::string text = "\"";
    for (size_t index = 0; index < value.size(); ++index) {
        const auto c = static_cast<unsigned char>(value[index]);
        const bool c1 = c == 0xC2 && index + 1 < value.size() &&
                        static_cast<unsigned char>(value[index + 1]) >= 0x80 &&
                        static_cast<unsigned char>(value[index + 1]) <= 0x9F;
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F || c1) {
            const unsigned code = c1 ? static_cast<unsigned char>(value[++index]) : c;
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\u{%X}", code);
            text += escape;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text + "\"";
}

}  // namespace

std::string describe(const LaunchOptions& options) {
    if (options.empty()) return "[:]";
    std::string text = "[";
    bool firstKey = true;
    for (const auto& [key, values] : options) {
        if (!firstKey) text += ", ";
        firstKey = false;
        text += launchOptionQuoted(key) + ": [";
        for (size_t index = 0; index < values.size(); ++index) {
            if (index > 0) text += ", ";
            text += launchOptionQuoted(values[index]);
        }
        text += "]";
    }
    return text + "]";
}

}  // namespace platform
