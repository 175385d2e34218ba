#pragma once

#include <memory>

#include "platform/ui/NavigationController.hpp"

namespace tervolo::mapscreen {

// The navigation controller the point list is shown in: a plain navigation
// controller that asks for the light status bar content and lets its top
// controller decide the status bar style. Main thread only.
class QuovaNavigationController : public platform::NavigationController {
  public:
    // The platform's raw values.
    enum class StatusBarStyle : int { defaultValue = 0, lightContent = 1, darkContent = 3 };

    using NavigationController::NavigationController;

    StatusBarStyle preferredStatusBarStyle() const { return StatusBarStyle::lightContent; }
    std::shared_ptr<platform::ViewController> childViewControllerForStatusBarStyle() const {
        return topViewController();
    }
};

}  // namespace tervolo::mapscreen
