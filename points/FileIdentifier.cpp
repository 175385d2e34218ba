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

namespace tervolo::points {

bool isUnfinishedAtomicWrite(std::string_view name) {
    constexpr std::string_view kMarker = ".tmp-";
    constexpr std::size_t kRandomSuffix = 6;  // mkstemp's XXXXXX
    if (name.size() < 1 + kMarker.size() + kRandomSuffix || name.front() != '.') return false;
    return name.substr(name.size() - kRandomSuffix - kMarker.size(), kMarker.size()) == kMarker;
}

}  // namespace tervolo::points
