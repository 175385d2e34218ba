#pragma once

#include <cstdint>

namespace tervolo::widgets::popup {

// Where a popup's card sits (the raw values are the program's interface).
enum class PopupStyle : std::uint64_t {
    formSheet = 0,    // centred
    bottomSheet = 1,  // anchored at the bottom edge, running 80 pt past it
};

}  // namespace tervolo::widgets::popup
