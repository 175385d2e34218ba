#include "pointscreens/QuovaPopupController.hpp"

namespace tervolo::pointscreens {

std::shared_ptr<QuovaPopupController> QuovaPopupController::make() {
    std::shared_ptr<QuovaPopupController> popup(new QuovaPopupController());
    popup->setup();
    return popup;
}

std::shared_ptr<QuovaPopupController> QuovaPopupController::make(
    std::shared_ptr<platform::ViewController> rootViewController) {
    auto popup = make();
    popup->pushViewController(std::move(rootViewController), false);
    return popup;
}

}  // namespace tervolo::pointscreens
