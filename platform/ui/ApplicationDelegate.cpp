#include "platform/ui/ApplicationDelegate.hpp"

#include "platform/text/LogText.hpp"

namespace platform {

std::string describe(const LaunchOptions& options) {
    if (options.empty()) return "[:]";
    std::string text = "[";
    bool firstKey = true;
    for (const auto& [key, values] : options) {
        if (!firstKey) text += ", ";
        firstKey = false;
        text += platform::text::logQuoted(key) + ": [";
        for (size_t index = 0; index < values.size(); ++index) {
            if (index > 0) text += ", ";
            text += platform::text::logQuoted(values[index]);
        }
        text += "]";
    }
    return text + "]";
}

}  // namespace platform
