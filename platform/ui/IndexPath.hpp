#pragma once

#include <compare>

namespace platform {

// A row's place in a sectioned list: section, then row, both from 0.
struct IndexPath {
    int section = 0;
    int row = 0;
    auto operator<=>(const IndexPath&) const = default;
};

}  // namespace platform
