#pragma once

#include <string>
#include <string_view>

namespace platform::text {

// `text` made safe to stand in HTML markup, as text or inside a quoted
// attribute: "&", "<", ">", '"' and "'" become "&amp;", "&lt;", "&gt;",
// "&quot;" and "&#39;"; every other byte is kept as it is.
std::string htmlEscaped(std::string_view text);

}  // namespace platform::text
