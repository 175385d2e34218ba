#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tervolo::backend {

// The strict base-10 integer reading the backend's replies use: an optional
// "+" or "-", then one or more ASCII digits, nothing else (no blanks, no
// "0x", no other scripts' digits), within the signed 64-bit range.
std::optional<int64_t> parseDecimalText(std::string_view text);

// The lenient reading of a version component: leading white space skipped,
// an optional sign, then the leading digits (the rest ignored); 0 when there
// are none; saturated at the 32-bit range. The result is widened with its
// sign into an unsigned 64-bit value, so "-1" reads as 18446744073709551615.
uint64_t versionComponentValue(std::string_view text);

}  // namespace tervolo::backend
