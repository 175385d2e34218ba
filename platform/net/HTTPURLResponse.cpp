#include "platform/net/HTTPURLResponse.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>

#include "platform/dispatch/Clock.hpp"

namespace platform {

std::optional<std::string> HTTPURLResponse::value(const std::string& field) const {
    auto it = allHeaderFields_.find(field);
    if (it == allHeaderFields_.end()) return std::nullopt;
    return it->second;
}

int64_t HTTPURLResponse::expectedContentLength() const {
    auto length = value("Content-Length");
    if (!length || length->empty()) return -1;
    char* end = nullptr;
    long long parsed = std::strtoll(length->c_str(), &end, 10);
    if (*end != '\0' || parsed < 0) return -1;
    return parsed;
}

std::optional<std::string> HTTPURLResponse::mimeType() const {
    auto type = value("Content-Type");
    if (!type) return std::nullopt;
    std::string mime = type->substr(0, type->find(';'));
    while (!mime.empty() && std::isspace(static_cast<unsigned char>(mime.back()))) mime.pop_back();
    for (char& c : mime) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return mime;
}

std::optional<double> HTTPURLResponse::retryAfterSeconds() const {
    auto text = value("Retry-After");
    if (!text) return std::nullopt;
    std::string trimmed = *text;
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.back()))) trimmed.pop_back();
    trimmed.erase(0, std::min(trimmed.size(), trimmed.find_first_not_of(" \t")));
    if (trimmed.empty()) return std::nullopt;
    if (std::all_of(trimmed.begin(), trimmed.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (trimmed.size() > 9) return 1e9;  // absurdly long, but clearly "wait"
        return static_cast<double>(std::strtoll(trimmed.c_str(), nullptr, 10));
    }
    // The preferred date form, "Sun, 06 Nov 1994 08:49:37 GMT", read by hand:
    // strptime's month names follow the user's locale once Qt has set it.
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char weekday[4] = {};
    char month[4] = {};
    int day = 0, year = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    if (std::sscanf(trimmed.c_str(), "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", weekday, &day, month,
                    &year, &hour, &minute, &second, &consumed) != 7 ||
        static_cast<size_t>(consumed) != trimmed.size()) {
        return std::nullopt;
    }
    const auto found = std::find_if(std::begin(kMonths), std::end(kMonths),
                                    [&](const char* name) { return std::strcmp(name, month) == 0; });
    if (found == std::end(kMonths) || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = static_cast<int>(found - std::begin(kMonths));
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    const double when = static_cast<double>(::timegm(&parts));
    return std::max(0.0, when - Clock::current()->wallSeconds());
}

std::string HTTPURLResponse::description() const {
    std::string text = "{ URL: " + url_ + " } { Status Code: " + std::to_string(statusCode_) + ", Headers {";
    bool first = true;
    for (const auto& [name, value] : allHeaderFields_) {
        text += first ? " " : ", ";
        text += "\"" + name + "\": \"" + value + "\"";
        first = false;
    }
    text += first ? "} }" : " } }";
    return text;
}

}  // namespace platform
