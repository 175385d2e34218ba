#include "appinfo/VersionComponents.hpp"

namespace tervolo::appinfo::detail {

std::optional<std::string> dotComponent(const std::string& text, size_t position) {
    size_t start = 0;
    for (size_t index = 0;; ++index) {
        const size_t dot = text.find('.', start);
        if (index == position)
            return text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (dot == std::string::npos) return std::nullopt;
        start = dot + 1;
    }
}

}  // namespace tervolo::appinfo::detail
