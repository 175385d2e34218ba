#include "app/MapScreenAlertPresenter.hpp"

#include "platform/ui/AlertController.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::app {

MapScreenAlertPresenter::MapScreenAlertPresenter(
    std::function<std::shared_ptr<platform::ViewController>()> mapScreen)
    : mapScreen_(std::move(mapScreen)) {}

bool MapScreenAlertPresenter::hasMapScreen() const {
    return mapScreen_ && mapScreen_() != nullptr;
}

void MapScreenAlertPresenter::presentOnMapScreen(Alert alert) {
    const auto screen = mapScreen_ ? mapScreen_() : nullptr;
    if (!screen) return;
    auto controller =
        platform::AlertController::make(alert.title, alert.message, platform::AlertController::Style::alert);
    controller->addAction(platform::AlertAction::make(
        alert.actionTitle, platform::AlertAction::Style::defaultValue, std::move(alert.onAction)));
    screen->present(controller, true);
}

}  // namespace tervolo::app
