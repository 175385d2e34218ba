#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tervolo::appinfo::detail {

// Component `position` of `text` split at "." (an empty text is one empty
// component); none when there are fewer components.
std::optional<std::string> dotComponent(const std::string& text, size_t position);

}  // namespace tervolo::appinfo::detail
