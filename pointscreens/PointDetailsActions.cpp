// The point details screen's buttons that do not edit text or tags: the
// alarm radius choice, directions, copying the coordinate, the source page,
// trash and share.
#include <cmath>

#include "appinfo/InstalledApplications.hpp"
#include "geodesy/QuovaCoordinateFormat.hpp"
#include "location/ui/ActivityItemSourceAdapter.hpp"
#include "location/ui/RadiusChoice.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/CanOpenURL.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/Pasteboard.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/ShareSheetController.hpp"
#include "points/BestKnownLocation.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/RadiusTables.hpp"
#include "pointscreens/PointDetailsContent.hpp"
#include "pointscreens/PointDetailsViewController.hpp"
#include "pointscreens/PointDirections.hpp"
#include "pointscreens/WriteFailureAlert.hpp"
#include "shell/QuovaOpenURL.hpp"
#include "widgets/hud/HUD.hpp"
#include "widgets/hud/HUDContentType.hpp"

namespace tervolo::pointscreens {

using platform::localizedString;

namespace {

// The entry comes back this long after the refusal, once its alert has gone.
constexpr double kCustomRadiusRetryDelay = 0.3;
// The share sheet follows the tap by this long.
constexpr double kShareSheetDelay = 0.5;
// How long "Copied!" shows.
constexpr double kCopiedFlashSeconds = 1.6;

std::shared_ptr<platform::AlertController> actionSheet(
    const char* title, const char* message, const std::shared_ptr<platform::BarButtonItem>& sender) {
    auto sheet = platform::AlertController::make(localizedString(title), localizedString(message),
                                                 platform::AlertController::Style::actionSheet);
    sheet->setModalPresentationStyle(platform::ModalPresentationStyle::popover);
    if (sender) sheet->popoverPresentationController()->setBarButtonItem(sender);
    return sheet;
}

// Whether a deferred step may still show something over `screen`: it has
// not been closed (or begun closing) since the step was scheduled.
bool stillShown(PointDetailsViewController& screen) {
    if (!screen.isVisible() || screen.isBeingDismissed()) return false;
    auto* navigation = screen.navigationController();
    return !(navigation && navigation->isBeingDismissed());
}

}  // namespace

void PointDetailsViewController::connectActions() {
    const auto withSender =
        [this](void (PointDetailsViewController::*action)(const std::shared_ptr<platform::BarButtonItem>&),
               const std::shared_ptr<platform::BarButtonItem>& item) {
            if (!item) return;
            // The item lives as long as the screen: it is held weakly by its own action.
            item->setAction([this, action, alive = std::weak_ptr<int>(lifetime_),
                             weakItem = std::weak_ptr<platform::BarButtonItem>(item)] {
                if (alive.lock()) (this->*action)(weakItem.lock());
            });
        };
    withSender(&PointDetailsViewController::radiusButton, radiusButton_);
    withSender(&PointDetailsViewController::directionsButton, directionsButton_);
    withSender(&PointDetailsViewController::shareButton, shareButton_);
    withSender(&PointDetailsViewController::trashButton, trashButton_);
    if (shareButton_) shareButton_->setTitle(localizedString("Share"));
    if (trashButton_) trashButton_->setTitle(localizedString("Delete"));
    if (copyCoordinatesButton_) {
        QObject::connect(copyCoordinatesButton_, &QPushButton::clicked, copyCoordinatesButton_,
                         [this, alive = std::weak_ptr<int>(lifetime_)] {
                             if (alive.lock()) copyCoordinatesButton(copyCoordinatesButton_);
                         });
    }
    if (seePageButton_) {
        QObject::connect(seePageButton_, &QPushButton::clicked, seePageButton_,
                         [this, alive = std::weak_ptr<int>(lifetime_)] {
                             if (alive.lock()) seePageButton(seePageButton_);
                         });
    }
}

// --- radius ------------------------------------------------------------------

double PointDetailsViewController::currentRadiusForSheet() const {
    std::optional<double> radius = newRadius_;
    if (!radius && point_) radius = point_->alarmCircleDiameter();
    // A stored radius that is not finite cannot be a row of its own.
    if (radius && !std::isfinite(*radius)) return 0;
    return points::currentRadiusFor(radius);
}

std::string PointDetailsViewController::customRadiusMessage() const {
    return location::customRadiusMessage("You may submit a custom radius around this location, measured in ");
}

void PointDetailsViewController::radiusButton(const std::shared_ptr<platform::BarButtonItem>& sender) {
    QLLogInfo("radiusButton tapped");
    const auto alive = std::weak_ptr<int>(lifetime_);
    auto sheet = location::makeRadiusSheet(currentRadiusForSheet(), sender,
                                           {.apply =
                                                [this, alive](double metres) {
                                                    if (alive.lock()) updateRadius(metres);
                                                },
                                            .promptCustom =
                                                [this, alive] {
                                                    if (alive.lock()) promptForCustomRadius();
                                                }});
    present(sheet, true, [] { QLLogInfo("display action sheet animation completed"); });
}

void PointDetailsViewController::promptForCustomRadius() {
    const auto alive = std::weak_ptr<int>(lifetime_);
    present(location::makeCustomRadiusEntry(
                customRadiusMessage(),
                [this, alive](double metres) {
                    if (alive.lock()) updateRadius(metres);
                },
                [this, alive] {
                    if (alive.lock()) showIllegalRadiusValueUI();
                }),
            true);
}

void PointDetailsViewController::showIllegalRadiusValueUI() {
    const auto alive = std::weak_ptr<int>(lifetime_);
    present(location::makeInvalidRadiusAlert(customRadiusMessage(),
                                             [this, alive] {
                                                 if (!alive.lock()) return;
                                                 // The entry comes back once this alert has gone.
                                                 customRadiusRetryTimer_.schedule(kCustomRadiusRetryDelay, [this, alive] {
                                                     if (alive.lock() && stillShown(*this)) promptForCustomRadius();
                                                 });
                                             }),
            true);
}

// --- directions ----------------------------------------------------------------

void PointDetailsViewController::directionsButton(const std::shared_ptr<platform::BarButtonItem>& sender) {
    QLLogInfo("directionsButton tapped");
    auto sheet = actionSheet("Routing Options", "Please Select App For Routing.", sender);

    DirectionsRequest request;
    if (point_) {
        request.coordinate = point_->coordinate();
        request.title = point_->title();
        request.subtitle = point_->subtitle();
        if (const auto location = points::bestKnownLocation()) request.userLocation = location->coordinate();
        // Asked each time: an application installed meanwhile counts.
        request.apps = {appinfo::googleMapsInstalled(), appinfo::magicEarthInstalled(),
                        appinfo::osmAndInstalled(), appinfo::uberInstalled(), appinfo::wazeInstalled()};
    }
    for (const DirectionsRow& row : directionsRows(request)) {
        sheet->addAction(platform::AlertAction::make(
            row.title, platform::AlertAction::Style::defaultValue,
            [this, alive = std::weak_ptr<int>(lifetime_), row, coordinate = *request.coordinate] {
                std::string link = row.link;
                if (row.kind == DirectionsRow::Kind::appleMapsByAddress) QLLogInfo("Apple Maps button");
                if (row.kind == DirectionsRow::Kind::uber) {
                    // The names as the point has them now.
                    if (alive.lock() && point_) {
                        link = uberDirectionsLink(coordinate, point_->title(), point_->subtitle());
                    }
                    QLLogDebug("Uber URL: {}", link);
                }
                // A link that is no URL is dropped.
                if (platform::urlScheme(link)) shell::quovaOpen(link);
            }));
    }
    sheet->addAction(platform::AlertAction::make(
        localizedString("Cancel"), platform::AlertAction::Style::cancel, [] { QLLogInfo("Cancel button"); }));
    present(sheet, true, [] { QLLogInfo("display action sheet animation completed"); });
}

// --- copy, source page -----------------------------------------------------------

void PointDetailsViewController::copyCoordinatesButton(QWidget* sender) {
    (void)sender;
    QLLogInfo("copyCoordinatesButton tapped");
    if (!point_) return;
    const std::string text =
        geodesy::quovaCoordinateDescriptionWithFormat(point_->coordinate(), coordinateFormat_);
    platform::Pasteboard::general().setString(text);
    QLLogDebug("Copied coordinates: {}", text);
    widgets::hud::HUD::flash(
        widgets::hud::HUDContentType::labeledSuccess(localizedString("Copied!"), std::nullopt), nullptr,
        kCopiedFlashSeconds);
}

void PointDetailsViewController::seePageButton(QuovaButtonWithURL* sender) {
    QLLogInfo("seePageButton tapped");
    if (!sender || !sender->urlToOpen()) return;
    // The address comes from stored and shared data: only a web page opens,
    // never a local file or another program's scheme.
    if (!isWebAddress(*sender->urlToOpen())) return;
    shell::quovaOpen(*sender->urlToOpen());
}

// --- trash, share ------------------------------------------------------------------

void PointDetailsViewController::trashButton(const std::shared_ptr<platform::BarButtonItem>& sender) {
    (void)sender;
    QLLogInfo("trashButton tapped");
    if (point_) {
        // Deleted whether or not the map screen is still there: the screen
        // closes as if it were, so it must be. A deletion that was not
        // written leaves the point, its circle and the screen as they are.
        if (auto error = points::QuovaMapPointStore::shared().deletePoint(point_)) {
            presentWriteFailure(*this, "Location Not Deleted", *error, "The location is kept.");
            return;
        }
        // The circle goes with the point; the map screen removes the
        // annotation itself when the store reports the deletion.
        const auto radius = point_->alarmCircleDiameter();
        const auto mainVC = mainVC_.lock();
        if (mainVC && radius && *radius > 0) {
            auto* mainMap = mainVC->mainMapView();
            if (auto halo = mainMap ? mainVC->haloForPoint(point_) : nullptr) mainMap->removeOverlay(halo);
        }
    }
    cancelView();
}

void PointDetailsViewController::shareButton(const std::shared_ptr<platform::BarButtonItem>& sender) {
    QLLogInfo("shareButton tapped");
    shareSheetTimer_.schedule(kShareSheetDelay,
                              [this, alive = std::weak_ptr<int>(lifetime_),
                               weakSender = std::weak_ptr<platform::BarButtonItem>(sender)] {
                                  if (alive.lock()) presentShareSheet(weakSender.lock());
                              });
}

void PointDetailsViewController::presentShareSheet(const std::shared_ptr<platform::BarButtonItem>& sender) {
    // Closed (or closing) within the delay: nothing to share from.
    if (!point_ || !stillShown(*this)) return;
    // The point answers the sheet's requests itself; the sheet asks for the
    // item off the main thread, so waiting for a short link never blocks it.
    auto sheet =
        std::make_shared<platform::ShareSheetController>(location::ActivityItemSourceAdapter::make(point_));
    if (sender) {
        sheet->setModalPresentationStyle(platform::ModalPresentationStyle::popover);
        sheet->popoverPresentationController()->setBarButtonItem(sender);
    }
    present(sheet, true);
}

}  // namespace tervolo::pointscreens
