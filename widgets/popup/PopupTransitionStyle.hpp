#pragma once

#include <cstdint>

namespace tervolo::widgets::popup {

// How a popup's card comes and goes.
enum class PopupTransitionStyle : std::uint64_t {
    slideVertical = 0,
    fade = 1,
    custom = 2,  // the popup controller's `transitioning` object
};

}  // namespace tervolo::widgets::popup
