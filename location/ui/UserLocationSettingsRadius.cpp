// The radius of the circle around the user's position: its sheet, the typed
// entry and how a chosen radius is applied.
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "location/RegionMapRect.hpp"
#include "location/ui/RadiusChoice.hpp"
#include "location/ui/UserLocationMapScreen.hpp"
#include "location/ui/UserLocationSettingsViewController.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "points/QuovaUserDefaults.hpp"
#include "points/RadiusTables.hpp"

namespace tervolo::location {

std::string UserLocationSettingsViewController::customRadiusMessage() const {
    return location::customRadiusMessage("You may submit a custom radius around your location, measured in ");
}

void UserLocationSettingsViewController::radiusButton(
    const std::shared_ptr<platform::BarButtonItem>& sender) {
    QLLogInfo("radiusButton tapped");
    const double current = points::currentRadiusFor(points::QuovaUserDefaults::shared().userLocationRadius());
    auto sheet = makeRadiusSheet(current, sender,
                                 {.apply =
                                      [weak = weakSelf()](double metres) {
                                          if (const auto self = weak.lock()) self->applyUserLocationRadius(metres);
                                      },
                                  .promptCustom = guarded([](auto& self) { self.promptForCustomRadius(); })});
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
    present(makeCustomRadiusEntry(
                customRadiusMessage(),
                [weak = weakSelf()](double metres) {
                    if (const auto self = weak.lock()) self->applyUserLocationRadius(metres);
                },
                [weak = weakSelf()] {
                    if (const auto self = weak.lock()) self->showIllegalRadiusValueUI();
                }),
            true);
}

void UserLocationSettingsViewController::showIllegalRadiusValueUI() {
    present(makeInvalidRadiusAlert(customRadiusMessage(),
                                   [weak = weakSelf()] {
                                       // The entry comes back once this alert has gone.
                                       platform::DispatchQueue::main()->asyncAfter(kCustomRadiusRetryDelay, [weak] {
                                           if (const auto self = weak.lock()) self->promptForCustomRadius();
                                       });
                                   }),
            true);
}

}  // namespace tervolo::location
