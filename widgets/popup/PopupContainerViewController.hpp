#pragma once

#include <memory>

#include "platform/ui/ViewController.hpp"

namespace tervolo::widgets::popup {

class PopupController;

// The controller a popup really presents: its clear view covers the
// presenter's window and holds the dimmed background and the card; its
// children are the popup's controllers that are on screen. The popup
// controller builds everything in it.
class PopupContainerViewController : public platform::ViewController {
  public:
    void loadView() override;
};

}  // namespace tervolo::widgets::popup
