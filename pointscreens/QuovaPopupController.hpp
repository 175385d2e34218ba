#pragma once

#include <memory>

#include "points/QuovaPointTag.hpp"
#include "widgets/popup/PopupController.hpp"

namespace tervolo::pointscreens {

// A popup that remembers the tag whose colour is being chosen in it (the
// point details screen's colour picker reads it back on "Save").
class QuovaPopupController : public widgets::popup::PopupController {
  public:
    static std::shared_ptr<QuovaPopupController> make();
    static std::shared_ptr<QuovaPopupController> make(
        std::shared_ptr<platform::ViewController> rootViewController);

    const std::shared_ptr<points::QuovaPointTag>& quovaConcernedTag() const { return quovaConcernedTag_; }
    void setQuovaConcernedTag(std::shared_ptr<points::QuovaPointTag> tag) {
        quovaConcernedTag_ = std::move(tag);
    }

  private:
    QuovaPopupController() = default;

    std::shared_ptr<points::QuovaPointTag> quovaConcernedTag_;
};

}  // namespace tervolo::pointscreens
