#include "points/FileIdentifier.hpp"

namespace tervolo::points {

bool isSafeFileIdentifier(std::string_view identifier, std::string_view extension) {
    constexpr std::string_view::size_type kMaxNameBytes = 255;
    if (identifier.empty() || identifier == "." || identifier == "..") return false;
    if (identifier.size() + extension.size() > kMaxNameBytes) return false;
    for (const char c : identifier) {
        if (c == '/' || c == '\0') return false;
    }
    return true;
}

}  // namespace tervolo::points
