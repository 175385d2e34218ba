#pragma once

#include <compare>

namespace platform {

// Seconds since 2001-01-01 00:00:00 UTC (Unix time - 978,307,200); also the JSON form of a date.
struct Date {
    static constexpr double kUnixOffset = 978307200.0;

    double secondsSince2001 = 0;

    static Date now();  // from Clock::current()
    static Date fromUnix(double unixSeconds) { return Date{unixSeconds - kUnixOffset}; }
    double unixTime() const { return secondsSince2001 + kUnixOffset; }
    double timeIntervalSince(Date other) const { return secondsSince2001 - other.secondsSince2001; }
    Date addingTimeInterval(double seconds) const { return Date{secondsSince2001 + seconds}; }
    auto operator<=>(const Date&) const = default;
};

}  // namespace platform
