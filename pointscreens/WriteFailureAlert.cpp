#include "pointscreens/WriteFailureAlert.hpp"

#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/ViewController.hpp"

namespace tervolo::pointscreens {

void presentWriteFailure(platform::ViewController& presenter, const char* title, const platform::Error& error,
                         const char* outcome, points::RecordKind kind) {
    QLLogInfo(std::string(title) + ": " + error.fullDescription());
    auto alert = platform::AlertController::make(
        platform::localizedString(title),
        points::writeFailureReason(error, kind) + " " + platform::localizedString(outcome),
        platform::AlertController::Style::alert);
    alert->addAction(
        platform::AlertAction::make(platform::localizedString("OK"), platform::AlertAction::Style::cancel));
    presenter.present(alert, true);
}

}  // namespace tervolo::pointscreens
