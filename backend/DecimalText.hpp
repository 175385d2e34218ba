#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tervolo::backend {

// The strict base-10 integer reading the backend's replies use: an optional
// "+" or "-", then one or more ASCII digits, nothing else (no blanks, no
// "0x", no other scripts' digits), within the signed 64-bit range.
std::optional<int64_t> parseDecimalText(std::string_view text);

}  // namespace tervolo::backend
