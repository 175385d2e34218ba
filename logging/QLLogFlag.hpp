#pragma once

#include <cstdint>

namespace tervolo::logging {

// The severity of one record: one bit per severity. A record normally carries
// exactly one bit; a combined value (error|warning = 3) is legal and is treated
// by the loggers as "some other value".
enum class QLLogFlag : uint64_t {
    error = 1,
    warning = 2,
    info = 4,
    debug = 8,
    verbose = 16,
};

// A mask of QLLogFlag bits. A flag passes a level when their AND is non-zero;
// `all` (every bit set) lets everything pass, `off` (0) nothing.
enum class QLLogLevel : uint64_t {
    off = 0,
    all = ~uint64_t{0},
};

constexpr uint64_t rawValue(QLLogFlag flag) {
    return static_cast<uint64_t>(flag);
}
constexpr uint64_t rawValue(QLLogLevel level) {
    return static_cast<uint64_t>(level);
}

constexpr QLLogFlag operator|(QLLogFlag a, QLLogFlag b) {
    return QLLogFlag{rawValue(a) | rawValue(b)};
}
constexpr QLLogLevel operator|(QLLogLevel a, QLLogLevel b) {
    return QLLogLevel{rawValue(a) | rawValue(b)};
}
constexpr QLLogLevel operator&(QLLogLevel a, QLLogLevel b) {
    return QLLogLevel{rawValue(a) & rawValue(b)};
}
constexpr QLLogLevel operator~(QLLogLevel a) {
    return QLLogLevel{~rawValue(a)};
}

// True when `flag` passes `level` (the one test every filter of the framework makes).
constexpr bool passes(QLLogFlag flag, QLLogLevel level) {
    return (rawValue(flag) & rawValue(level)) != 0;
}

// The flag whose raw value is the level's raw value, bits copied unchanged
// (QLLogFlag's `from` and its initializer taking a level).
constexpr QLLogFlag QLLogFlagFrom(QLLogLevel level) {
    return QLLogFlag{rawValue(level)};
}
// The level whose raw value is the flag's raw value.
constexpr QLLogLevel toLogLevel(QLLogFlag flag) {
    return QLLogLevel{rawValue(flag)};
}

}  // namespace tervolo::logging
