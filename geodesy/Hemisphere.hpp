#pragma once

#include <optional>
#include <string_view>

namespace tervolo::geodesy {

// UTM hemisphere, backed by the texts "N" and "S".
enum class Hemisphere { n, s };

inline std::string_view rawValue(Hemisphere hemisphere) {
    return hemisphere == Hemisphere::n ? "N" : "S";
}

// Exactly "N" or "S" (case-sensitive); nothing for any other text.
inline std::optional<Hemisphere> hemisphereFromRawValue(std::string_view raw) {
    if (raw == "N") return Hemisphere::n;
    if (raw == "S") return Hemisphere::s;
    return std::nullopt;
}

}  // namespace tervolo::geodesy
