#pragma once

#include <unicode/utypes.h>

#include <string>
#include <string_view>

// Conversions between the program's UTF-8 strings and ICU's UTF-16, shared by
// the text sources (not part of the public interface).
namespace platform::text::detail {

// Ill-formed UTF-8 sequences become U+FFFD.
std::u16string toUTF16(std::string_view text);
std::string toUTF8(std::u16string_view text);
[[noreturn]] void failICU(const char* what, UErrorCode status);

}  // namespace platform::text::detail
