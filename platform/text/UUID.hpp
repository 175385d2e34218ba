#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A universally unique identifier. random() makes version 4 (RFC 4122) from the
// kernel's random source (getrandom); its text is upper-case, 36 characters,
// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
class UUID {
  public:
    using Bytes = std::array<uint8_t, 16>;

    // The nil UUID (all zero); use random() for a new identifier.
    UUID() = default;
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    static UUID random();

    // 36 characters, hex digits in either case, dashes at 8-4-4-4-12; none
    // otherwise (no braces, no "urn:uuid:", no surrounding space).
    static std::optional<UUID> fromString(std::string_view text);

    // Upper-case text.
    std::string uuidString() const;
    const Bytes& bytes() const { return bytes_; }

    auto operator<=>(const UUID&) const = default;

  private:
    Bytes bytes_{};
};

}  // namespace platform
