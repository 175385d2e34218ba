#include "platform/dispatch/DateFormat.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace platform::dateformat {

namespace {

struct Split {
    std::tm fields{};
    int milliseconds = 0;
};

// Whole seconds and truncated milliseconds of a Unix time. The small bias keeps a time stored as
// x.123 (binary 0.12299999…) at 123 ms.
Split split(Date date, bool local) {
    const double unix = date.unixTime();
    double totalMs = std::floor(unix * 1000.0 + 1e-3);
    if (!std::isfinite(totalMs)) totalMs = 0;
    auto seconds = static_cast<long long>(std::floor(totalMs / 1000.0));
    Split result;
    result.milliseconds = static_cast<int>(totalMs - static_cast<double>(seconds) * 1000.0);
    const std::time_t t = static_cast<std::time_t>(seconds);
    if (local) {
        localtime_r(&t, &result.fields);
    } else {
        gmtime_r(&t, &result.fields);
    }
    return result;
}

std::string format(const char* pattern, const Split& s) {
    char buffer[64];
    const int n =
        std::snprintf(buffer, sizeof buffer, pattern, s.fields.tm_year + 1900, s.fields.tm_mon + 1,
                      s.fields.tm_mday, s.fields.tm_hour, s.fields.tm_min, s.fields.tm_sec, s.milliseconds);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

bool digits(std::string_view text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool isLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1970-01-01 to a proleptic Gregorian date (no time zone, no time_t range limits).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

std::string gmtFileName(Date date) {
    return format("%04d-%02d-%02d--%02d-%02d-%02d-%03d", split(date, false));
}

std::optional<Date> parseGMTFileName(std::string_view text) {
    // yyyy-MM-dd--HH-mm-ss-SSS
    static constexpr std::string_view shape = "dddd-dd-dd--dd-dd-dd-ddd";
    if (text.size() != shape.size()) return std::nullopt;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == '-' && text[i] != '-') return std::nullopt;
    }
    int year, month, day, hour, minute, second, ms;
    if (!digits(text, 0, 4, year) || !digits(text, 5, 2, month) || !digits(text, 8, 2, day) ||
        !digits(text, 12, 2, hour) || !digits(text, 15, 2, minute) || !digits(text, 18, 2, second) ||
        !digits(text, 21, 3, ms)) {
        return std::nullopt;
    }
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return std::nullopt;
    const int monthDays = kDays[month - 1] + (month == 2 && isLeap(year) ? 1 : 0);
    if (day > monthDays || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    const long long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const double unix = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second) + ms / 1000.0;
    return Date::fromUnix(unix);
}

std::string gmtSlashed(Date date) {
    return format("%04d/%02d/%02d %02d:%02d:%02d:%03d", split(date, false));
}

std::string localDashed(Date date) {
    return format("%04d-%02d-%02d %02d:%02d:%02d:%03d", split(date, true));
}

std::string localPrintf(Date date) {
    return format("%04d-%02d-%02d %02d:%02d:%02d:%03d", split(date, true));
}

std::string localISO8601(Date date) {
    const Split s = split(date, true);
    char buffer[64];
    const size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S%z", &s.fields);
    return std::string(buffer, n);
}

}  // namespace platform::dateformat
