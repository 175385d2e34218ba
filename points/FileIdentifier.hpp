#pragma once

#include <string_view>

namespace tervolo::points {

// A point's or tag's identifier names its file inside the points or tags
// folder. Identifiers come back from files that anyone may have written, so
// before one becomes part of a path it must name a plain entry of that folder
// and nothing else: no "/", no NUL, not "." or "..", and short enough that the
// name with its extension fits the usual 255-byte file-name limit.
bool isSafeFileIdentifier(std::string_view identifier, std::string_view extension);

}  // namespace tervolo::points
