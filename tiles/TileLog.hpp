#pragma once

#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace tervolo::tiles {

// The tile engine writes its diagnostics as plain lines to the system log,
// without a level and outside the logging framework. Texts are data, never
// formats. Any thread.
void tileLog(std::string_view text);

template <typename... Args>
void tileLog(fmt::format_string<Args...> format, Args&&... args) {
    tileLog(std::string_view(fmt::format(format, std::forward<Args>(args)...)));
}

}  // namespace tervolo::tiles
