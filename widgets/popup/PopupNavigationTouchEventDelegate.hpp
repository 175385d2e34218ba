#pragma once

namespace tervolo::widgets::popup {

class PopupNavigationBar;

// Told of a vertical drag on a popup's bar; offsets in points, positive
// downwards, measured from where the drag began.
class PopupNavigationTouchEventDelegate {
  public:
    virtual ~PopupNavigationTouchEventDelegate() = default;
    virtual void popupNavigationBarTouchDidMove(PopupNavigationBar& bar, double offset) = 0;
    virtual void popupNavigationBarTouchDidEnd(PopupNavigationBar& bar, double offset) = 0;
};

}  // namespace tervolo::widgets::popup
