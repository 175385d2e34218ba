#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Date.hpp"

// The fixed date texts the program writes and reads. Gregorian calendar, POSIX digits, milliseconds
// truncated (never rounded up into the next second). All are thread-safe (gmtime_r / localtime_r).
namespace platform::dateformat {

// GMT "yyyy-MM-dd--HH-mm-ss-SSS", e.g. "2024-01-31--13-45-07-123" (log file names).
std::string gmtFileName(Date date);
// Strict reader of gmtFileName's form: exactly that shape, real calendar fields; nullopt otherwise.
std::optional<Date> parseGMTFileName(std::string_view text);
// GMT "yyyy/MM/dd HH:mm:ss:SSS", e.g. "2024/01/31 13:45:07:123".
std::string gmtSlashed(Date date);
// Local time "yyyy-MM-dd HH:mm:ss:SSS", e.g. "2024-05-01 13:45:07:123".
std::string localDashed(Date date);
// Local time printed with "%04d-%02d-%02d %02d:%02d:%02d:%03d" (milliseconds truncated).
std::string localPrintf(Date date);
// Local time with strftime "%Y-%m-%dT%H:%M:%S%z", e.g. "2024-05-01T13:45:07+0200".
std::string localISO8601(Date date);

}  // namespace platform::dateformat
