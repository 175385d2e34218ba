#pragma once

#include <functional>

namespace tervolo::widgets::hud {

// Called once a hide has taken the HUD off the screen; `finished` is always true (a fade cut short by
// a new show still reports true).
using HUDCompletion = std::function<void(bool finished)>;

}  // namespace tervolo::widgets::hud
