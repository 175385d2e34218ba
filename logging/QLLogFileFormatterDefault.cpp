#include "logging/QLLogFileFormatterDefault.hpp"

#include <cmath>
#include <cstdio>

#include "platform/dispatch/DateFormat.hpp"

namespace tervolo::logging {

namespace {

// The default date text for one record. Records arrive many per second, so
// the text up to the whole second is kept per thread and only the
// milliseconds are printed anew; the result is the text of gmtSlashed(date).
void appendDefaultDate(std::string& out, platform::Date date) {
    // Plain data, so the thread-local needs no construction guard.
    struct Cache {
        long long second;
        bool valid;
        char prefix[32];  // "yyyy/MM/dd HH:mm:ss:"
        size_t length;
    };
    thread_local Cache cache{};
    // The same split into whole seconds and truncated milliseconds as the
    // full form (including its small bias that keeps x.123 at 123 ms).
    const double totalMs = std::floor(date.unixTime() * 1000.0 + 1e-3);
    if (!std::isfinite(totalMs) || std::fabs(totalMs) > 9e15) {
        out.append(platform::dateformat::gmtSlashed(date));
        return;
    }
    const auto second = static_cast<long long>(std::floor(totalMs / 1000.0));
    const int millis = static_cast<int>(totalMs - static_cast<double>(second) * 1000.0);
    if (!cache.valid || cache.second != second) {
        const std::string text =
            platform::dateformat::gmtSlashed(platform::Date::fromUnix(static_cast<double>(second)));
        if (text.size() < 3 || text.size() - 3 > sizeof cache.prefix) {
            out.append(platform::dateformat::gmtSlashed(date));
            return;
        }
        cache.length = text.size() - 3;
        text.copy(cache.prefix, cache.length);
        cache.second = second;
        cache.valid = true;
    }
    const char digits[3] = {static_cast<char>('0' + millis / 100), static_cast<char>('0' + millis / 10 % 10),
                            static_cast<char>('0' + millis % 10)};
    out.append(cache.prefix, cache.length);
    out.append(digits, 3);
}

}  // namespace

QLLogFileFormatterDefault::QLLogFileFormatterDefault(DateFormatter dateFormatter)
    : dateFormatter_(std::move(dateFormatter)) {}

std::optional<std::string> QLLogFileFormatterDefault::formatLogMessage(const QLLogMessage& logMessage) {
    std::string line;
    line.reserve(23 + 2 + logMessage.messageText().size() + 1);  // room for the logger's newline
    appendFormattedLogMessage(logMessage, line);
    return line;
}

void QLLogFileFormatterDefault::appendFormattedLogMessage(const QLLogMessage& logMessage, std::string& out) {
    if (dateFormatter_) {
        out.append(dateFormatter_(logMessage.timestamp()));
    } else {
        appendDefaultDate(out, logMessage.timestamp());
    }
    out.append("  ");
    out.append(logMessage.messageText());
}

}  // namespace tervolo::logging
