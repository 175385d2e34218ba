#include "backend/DecimalText.hpp"

#include <charconv>
#include <limits>

namespace tervolo::backend {

std::optional<int64_t> parseDecimalText(std::string_view text) {
    if (text.empty()) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    // Read the magnitude unsigned so that INT64_MIN, whose magnitude does not
    // fit a signed value, still reads.
    uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    constexpr uint64_t maxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (magnitude > maxPositive + 1) return std::nullopt;
        return magnitude == maxPositive + 1 ? std::numeric_limits<int64_t>::min()
                                            : -static_cast<int64_t>(magnitude);
    }
    if (magnitude > maxPositive) return std::nullopt;
    return static_cast<int64_t>(magnitude);
}

}  // namespace tervolo::backend
