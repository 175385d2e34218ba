// The radius of the circle around the user's position: its sheet, the typed
// entry and how a chosen radius is applied.
#include <QLineEdit>

#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "location/RegionMapRect.hpp"
#include "location/ui/UserLocationMapScreen.hpp"
#include "location/ui/UserLocationSettingsViewController.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "points/RadiusTables.hpp"

namespace tervolo::location {

namespace {

std::string localized(const char* key) {
    return platform::Bundle::main().localizedString(key);
}

bool localeUsesMetricSystem() {
    return platform::text::Locale::current().usesMetricSystem();
}

}  // namespace

std::string UserLocationSettingsViewController::customRadiusMessage() const {
    return localized("You may submit a custom radius around your location, measured in ") +
           localized(localeUsesMetricSystem() ? "meters" : "yards") + ".";
}

void UserLocationSettingsViewController::radiusButton(
    const std::shared_ptr<platform::BarButtonItem>& sender) {
    QLLogInfo("radiusButton tapped");
    const double current = points::currentRadiusFor(points::QuovaUserDefaults::shared().userLocationRadius());
    auto sheet =
        platform::AlertController::make(localized("Circle Radius"), localized("Please Select Circle Radius."),
                                        platform::AlertController::Style::actionSheet);
    sheet->setModalPresentationStyle(platform::ModalPresentationStyle::popover);
    if (sender) sheet->popoverPresentationController()->setBarButtonItem(sender);

    using Kind = points::RadiusSheetRow::Kind;
    for (const auto& row : points::radiusSheetRows(localeUsesMetricSystem(), current)) {
        std::function<void()> handler;
        auto style = platform::AlertAction::Style::defaultValue;
        switch (row.kind) {
            case Kind::none:
                handler = guarded([](auto& self) {
                    QLLogInfo("no radius selected");
                    self.applyUserLocationRadius(0.0);
                });
                break;
            case Kind::radius:
                handler = guarded([radius = row.radius](auto& self) {
                    QLLogInfo("radius {} selected", platform::text::describe(radius));
                    self.applyUserLocationRadius(radius);
                });
                break;
            case Kind::custom:
                handler = guarded([](auto& self) {
                    QLLogInfo("Custom Radius Button");
                    self.promptForCustomRadius();
                });
                break;
            case Kind::cancel:
                style = platform::AlertAction::Style::cancel;
                handler = [] { QLLogInfo("Cancel button"); };
                break;
        }
        sheet->addAction(platform::AlertAction::make(row.title, style, std::move(handler)));
    }
    present(sheet, true, [] { QLLogInfo("display action sheet animation completed"); });
}

void UserLocationSettingsViewController::showRegion(double metres, bool animated) {
    if (!map_ || !userLocation_) return;
    regionMetres_ = metres;
    // No rectangle (an invalid position): the small map stays where it is.
    if (const auto rect = mapRectForRegion(userLocation_->coordinate(), metres)) {
        map_->setVisibleMapRect(*rect, animated);
    }
}

void UserLocationSettingsViewController::applyUserLocationRadius(std::optional<double> radius) {
    if (!radius) return;
    const double r = *radius;
    points::QuovaUserDefaults::shared().setUserLocationRadius(r);
    if (const auto screen = mainVC()) screen->refreshCircleOverlayForUserLocation();
    if (halo_) {
        if (map_) map_->removeOverlay(halo_);
        halo_.reset();
    }
    if (!userLocation_) return;
    if (r == 0) {
        showRegion(kDefaultRegionMetres, true);
        return;
    }
    halo_ = std::make_shared<QuovaUserLocationCircleOverlay>(userLocation_->coordinate(), r);
    if (map_) map_->addOverlay(halo_);
    // The circle fills two thirds of the region's extent.
    showRegion(3 * r, true);
}

void UserLocationSettingsViewController::promptForCustomRadius() {
    // The unit is the locale's at opening, also if it changes before Submit.
    const bool usesMetricSystem = localeUsesMetricSystem();
    auto alert = platform::AlertController::make(localized("Custom Radius"), customRadiusMessage(),
                                                 platform::AlertController::Style::alert);
    alert->addTextField(
        [](QLineEdit& field) { platform::setKeyboardType(field, platform::KeyboardType::numberPad); });
    alert->addAction(platform::AlertAction::make(localized("Cancel"), platform::AlertAction::Style::cancel,
                                                 [] { QLLogInfo("Custom radius: cancel button"); }));
    // The action holds the alert without owning it (the alert owns its actions).
    const std::weak_ptr<platform::ViewController> weakAlert = alert;
    alert->addAction(platform::AlertAction::make(localized("Submit"),
                                                 platform::AlertAction::Style::defaultValue,
                                                 guarded([weakAlert, usesMetricSystem](auto& self) {
                                                     self.submitCustomRadius(weakAlert, usesMetricSystem);
                                                 })));
    present(alert, true);
}

void UserLocationSettingsViewController::submitCustomRadius(
    const std::weak_ptr<platform::ViewController>& alert, bool usesMetricSystem) {
    const auto controller = std::dynamic_pointer_cast<platform::AlertController>(alert.lock());
    const auto fields = controller ? controller->textFields() : std::vector<QLineEdit*>{};
    if (fields.empty() || !fields.front()) {
        QLLogInfo("Invalid entry, NOT saving.");
        showIllegalRadiusValueUI();
        return;
    }
    const std::string text = fields.front()->text().toStdString();
    QLLogInfo("Custom radius value string: {}", text);
    const auto reading = points::readCustomRadius(text, usesMetricSystem);
    QLLogInfo("Custom radius value double: {}", platform::text::describe(reading.value));
    // Not a positive number, or beyond any circle the maps can show.
    if (!reading.metres) {
        showIllegalRadiusValueUI();
        return;
    }
    applyUserLocationRadius(*reading.metres);
}

void UserLocationSettingsViewController::showIllegalRadiusValueUI() {
    auto alert = platform::AlertController::make(localized("Custom Radius Invalid"), customRadiusMessage(),
                                                 platform::AlertController::Style::alert);
    alert->addAction(platform::AlertAction::make(localized("Cancel"), platform::AlertAction::Style::cancel,
                                                 [] { QLLogInfo("Custom radius invalid: cancel button"); }));
    alert->addAction(platform::AlertAction::make(
        localized("Retry"), platform::AlertAction::Style::defaultValue, [weak = weakSelf()] {
            QLLogInfo("Custom radius invalid: retry button");
            // The entry comes back once this alert has gone.
            platform::DispatchQueue::main()->asyncAfter(kCustomRadiusRetryDelay, [weak] {
                if (const auto self = weak.lock()) self->promptForCustomRadius();
            });
        }));
    present(alert, true);
}

}  // namespace tervolo::location
