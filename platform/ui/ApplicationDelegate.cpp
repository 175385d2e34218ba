#include "platform/ui/ApplicationDelegate.hpp"

namespace platform {

std::string describe(const LaunchOptions& options) {
    if (options.empty()) return "[:]";
    std::string text = "[";
    bool firstKey = true;
    for (const auto& [key, values] : options) {
        if (!firstKey) text += ", ";
        firstKey = false;
        text += "\"" + key + "\": [";
        for (size_t index = 0; index < values.size(); ++index) {
            if (index > 0) text += ", ";
            text += "\"" + values[index] + "\"";
        }
        text += "]";
    }
    return text + "]";
}

}  // namespace platform
