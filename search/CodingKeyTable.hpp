#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tervolo::search {

// The key enumeration of a JSON record (its `CodingKeys`): the cases are the
// record's field names in field order, a key's text is the field name
// (case-sensitive), no key has an integer form, and a text that is not a
// field name is no key.
template <typename Keys, size_t N>
class CodingKeyTable {
  public:
    constexpr explicit CodingKeyTable(std::array<std::string_view, N> names) : names_(names) {}

    constexpr std::string_view stringValue(Keys key) const { return names_[static_cast<size_t>(key)]; }
    std::string name(Keys key) const { return std::string(stringValue(key)); }
    constexpr std::optional<int> intValue(Keys) const { return std::nullopt; }
    constexpr std::optional<Keys> key(std::string_view text) const {
        for (size_t i = 0; i < N; ++i) {
            if (names_[i] == text) return static_cast<Keys>(i);
        }
        return std::nullopt;
    }
    constexpr const std::array<std::string_view, N>& allNames() const { return names_; }

  private:
    std::array<std::string_view, N> names_;
};

}  // namespace tervolo::search
