#include "location/ui/RadiusChoice.hpp"

#include <QLineEdit>

#include <vector>

#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "points/RadiusTables.hpp"

namespace tervolo::location {

namespace {

bool localeUsesMetricSystem() {
    return platform::text::Locale::current().usesMetricSystem();
}

}  // namespace

std::shared_ptr<platform::AlertController> makeRadiusSheet(
    double current, const std::shared_ptr<platform::BarButtonItem>& sender, RadiusSheetHandlers handlers) {
    auto sheet = platform::AlertController::make(platform::localizedString("Circle Radius"),
                                                 platform::localizedString("Please Select Circle Radius."),
                                                 platform::AlertController::Style::actionSheet);
    sheet->setModalPresentationStyle(platform::ModalPresentationStyle::popover);
    if (sender) sheet->popoverPresentationController()->setBarButtonItem(sender);

    using Kind = points::RadiusSheetRow::Kind;
    for (const auto& row : points::radiusSheetRows(localeUsesMetricSystem(), current)) {
        std::function<void()> handler;
        auto style = platform::AlertAction::Style::defaultValue;
        switch (row.kind) {
            case Kind::none:
                handler = [apply = handlers.apply] {
                    QLLogInfo("no radius selected");
                    if (apply) apply(0.0);
                };
                break;
            case Kind::radius:
                handler = [apply = handlers.apply, radius = row.radius] {
                    QLLogInfo("radius {} selected", platform::text::describe(radius));
                    if (apply) apply(radius);
                };
                break;
            case Kind::custom:
                handler = [promptCustom = handlers.promptCustom] {
                    QLLogInfo("Custom Radius Button");
                    if (promptCustom) promptCustom();
                };
                break;
            case Kind::cancel:
                style = platform::AlertAction::Style::cancel;
                handler = [] { QLLogInfo("Cancel button"); };
                break;
        }
        sheet->addAction(platform::AlertAction::make(row.title, style, std::move(handler)));
    }
    return sheet;
}

std::string customRadiusMessage(const char* leadKey) {
    return platform::localizedString(leadKey) +
           platform::localizedString(localeUsesMetricSystem() ? "meters" : "yards") + ".";
}

std::shared_ptr<platform::AlertController> makeCustomRadiusEntry(const std::string& message,
                                                                 std::function<void(double metres)> apply,
                                                                 std::function<void()> refused) {
    // The unit is the locale's at opening, also if it changes before Submit.
    const bool usesMetricSystem = localeUsesMetricSystem();
    auto alert = platform::AlertController::make(platform::localizedString("Custom Radius"), message,
                                                 platform::AlertController::Style::alert);
    alert->addTextField(
        [](QLineEdit& field) { platform::setKeyboardType(field, platform::KeyboardType::numberPad); });
    alert->addAction(platform::AlertAction::make(platform::localizedString("Cancel"),
                                                 platform::AlertAction::Style::cancel,
                                                 [] { QLLogInfo("Custom radius: cancel button"); }));
    // The action holds the alert without owning it (the alert owns its actions).
    const std::weak_ptr<platform::AlertController> weakAlert = alert;
    alert->addAction(platform::AlertAction::make(
        platform::localizedString("Submit"), platform::AlertAction::Style::defaultValue,
        [weakAlert, usesMetricSystem, apply = std::move(apply), refused = std::move(refused)] {
            const auto controller = weakAlert.lock();
            const auto fields = controller ? controller->textFields() : std::vector<QLineEdit*>{};
            if (fields.empty() || !fields.front()) {
                QLLogInfo("Invalid entry, NOT saving.");
                if (refused) refused();
                return;
            }
            const std::string text = fields.front()->text().toStdString();
            QLLogInfo("Custom radius value string: {}", text);
            const auto reading = points::readCustomRadius(text, usesMetricSystem);
            QLLogInfo("Custom radius value double: {}", platform::text::describe(reading.value));
            // Not a positive number, or none a circle can have ("1e999" reads
            // as infinity): refused like an empty entry, nothing applied.
            if (!reading.metres) {
                if (refused) refused();
                return;
            }
            if (apply) apply(*reading.metres);
        }));
    return alert;
}

std::shared_ptr<platform::AlertController> makeInvalidRadiusAlert(const std::string& message,
                                                                  std::function<void()> retry) {
    auto alert = platform::AlertController::make(platform::localizedString("Custom Radius Invalid"), message,
                                                 platform::AlertController::Style::alert);
    alert->addAction(platform::AlertAction::make(platform::localizedString("Cancel"),
                                                 platform::AlertAction::Style::cancel,
                                                 [] { QLLogInfo("Custom radius invalid: cancel button"); }));
    alert->addAction(platform::AlertAction::make(platform::localizedString("Retry"),
                                                 platform::AlertAction::Style::defaultValue,
                                                 [retry = std::move(retry)] {
                                                     QLLogInfo("Custom radius invalid: retry button");
                                                     if (retry) retry();
                                                 }));
    return alert;
}

}  // namespace tervolo::location
