#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::text {

// Bytes of escaped text a log record keeps of one text from outside the
// program: enough for any title, name or link a person reads, while a reply
// body or a crafted link of megabytes cannot fill the log.
inline constexpr size_t kLogTextLimit = 4096;

// A text from outside the program (a file name, a title, a server's reply, a
// link) as one log record may carry it: in double quotes, with a backslash
// before quote and backslash, "\n", "\r", "\t" and "\0" for those, "\u{X}"
// (upper-case hex) for the other C0 controls, DEL, the C1 controls (U+0080 to
// U+009F, NEL among them) and the line and paragraph separators U+2028 and
// U+2029, and "\x{X}" for each byte that is not part of well-formed UTF-8.
// Whatever it is given, the result is one line of valid UTF-8 that no reader
// of the log can take for two records. Past `limit` bytes of escaped text the
// quote closes at a whole character and "… (N bytes)" follows, N being the
// whole text's size.
std::string logQuoted(std::string_view text, size_t limit = kLogTextLimit);

}  // namespace platform::text
