#include "mapscreen/StylesAndLayers.hpp"
#include "appinfo/UIDevice_QuovaAdditions.hpp"

#include <QWidget>

#include <algorithm>
#include <vector>

#include "logging/QLLogging.hpp"
#include "mapscreen/LayerManager.hpp"
#include "mapscreen/QuovaNavigationController.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/ui/AlertController.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "platform/ui/ViewController.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/QuovaNetworkActivityManager.hpp"

namespace tervolo::mapscreen {

using platform::AlertAction;
using platform::AlertController;
using platform::ModalPresentationStyle;
using tiles::QuovaBaseMapStyle;

namespace {}  // namespace

StylesAndLayers::StylesAndLayers(platform::ViewController& screen)
    : screen_(screen), self_(std::make_shared<StylesAndLayers*>(this)) {}

StylesAndLayers::~StylesAndLayers() = default;

// ---- Buttons

void StylesAndLayers::buttonPressed(QWidget* sender) {
    if (sender == nullptr) return;
    platform::Animator::animate(kButtonFadeDuration, [sender] { platform::setAlpha(sender, 1.0); });
}

void StylesAndLayers::pointsButtonPressed(QWidget* sender) {
    QLLogInfo("pointsButtonPressed(sender:)");
    buttonPressed(sender);
    const auto pointsVC = pointListFactory_ ? pointListFactory_() : nullptr;
    if (!pointsVC) {
        QLLogInfo("no point list to show");
        return;
    }
    presentScreen(pointsVC, std::make_shared<QuovaNavigationController>(pointsVC), sender,
                  "navigationController with pointsVC presented.");
}

void StylesAndLayers::infoButtonPressed(QWidget* sender) {
    QLLogInfo("infoButtonPressed(sender:)");
    buttonPressed(sender);
    const auto infoVC = aboutScreenFactory_ ? aboutScreenFactory_() : nullptr;
    if (!infoVC) {
        QLLogInfo("no About screen to show");
        return;
    }
    presentScreen(infoVC, std::make_shared<platform::NavigationController>(infoVC), sender,
                  "navigationController with DetailsVC presented.");
}

void StylesAndLayers::presentScreen(const std::shared_ptr<platform::ViewController>& content,
                                    const std::shared_ptr<platform::ViewController>& wrapper, QWidget* sender,
                                    const std::string& completionLog) {
    if (appinfo::UIDevice_QuovaAdditions::quovaDeviceType() != 0) {
        // Half the screen's width by two thirds of its height, beside the pressed button. The
        // navigation controller around the screen takes the same size, since the popover is sized
        // by the controller presented.
        wrapper->setModalPresentationStyle(ModalPresentationStyle::popover);
        wrapper->popoverPresentationController()->setSourceView(sender);
        const QWidget* view = screen_.view();
        const double height = view->height();
        const QSizeF size(view->width() / 2.0, height / 3 + height / 3);
        content->setPreferredContentSize(size);
        wrapper->setPreferredContentSize(size);
        // The same shares of the screen's view while shown: the panel follows the window both ways.
        content->setPreferredContentSizeShare(QSizeF(0.5, 2.0 / 3.0));
        wrapper->setPreferredContentSizeShare(QSizeF(0.5, 2.0 / 3.0));
    } else {
        wrapper->setModalPresentationStyle(ModalPresentationStyle::fullScreen);
    }
    screen_.present(wrapper, true, [completionLog] { QLLogInfo(completionLog); });
}

void StylesAndLayers::mapStyleButtonPressed(QWidget* sender) {
    QLLogInfo("mapStyleButtonPressed");
    buttonPressed(sender);
    showMapStyleActionSheetFrom(sender);
}

void StylesAndLayers::mapLayersButtonPressed(QWidget* sender) {
    QLLogInfo("mapLayersButtonPressed(sender:)");
    buttonPressed(sender);
    showMapLayersActionSheetFrom(sender);
}

// ---- Sheets

QRectF StylesAndLayers::sheetSourceRect() const {
    const QWidget* view = screen_.viewIfLoaded();
    const std::optional<QPointF> mouse = lastMouseLocation_ ? lastMouseLocation_() : std::nullopt;
    if (mouse) {
        // The position is in the screen's view; the sheet's source view is the map view.
        QPointF point = *mouse;
        if (QuovaMKMapView* map = mapView_.data();
            map != nullptr && view != nullptr && (view == map || view->isAncestorOf(map))) {
            point = map->mapFrom(view, point);
        }
        return QRectF(point, QSizeF(1, 1));
    }
    const double width = view != nullptr ? view->width() : 0.0;
    return QRectF(width / 3, 0, 1, 1);
}

void StylesAndLayers::presentSheet(const std::shared_ptr<platform::ViewController>& sheet, QWidget* anchor) {
    sheet->setModalPresentationStyle(ModalPresentationStyle::popover);
    auto* popover = sheet->popoverPresentationController();
    if (anchor != nullptr && anchor->isVisible()) {
        // At the button that opened it: the same place every time, whatever the mouse did before.
        popover->setSourceView(anchor);
        popover->setSourceRect(QRectF(anchor->rect()));
    } else {
        popover->setSourceView(mapView_.data());
        popover->setSourceRect(sheetSourceRect());
    }
    screen_.present(sheet, true, [] { QLLogInfo("display action sheet animation completed"); });
}

void StylesAndLayers::showMapStyleActionSheetFrom(QWidget* anchor) {
    QuovaMKMapView* map = mapView_.data();
    if (map == nullptr) return;
    const QuovaBaseMapStyle current = map->mapStyle().value_or(QuovaBaseMapStyle::osm);
    const std::string message = platform::localizedString("Please Select Map Style. ") +
                                platform::localizedString("Current Style is ") + tiles::displayName(current) +
                                ".";
    auto sheet = AlertController::make(platform::localizedString("Map Style Selection"), message,
                                       AlertController::Style::actionSheet);
    std::weak_ptr<StylesAndLayers*> self = self_;
    for (const QuovaBaseMapStyle style : tiles::allCases()) {
        std::string title = tiles::displayName(style);
        if (style == current) title += kCheckMark;
        sheet->addAction(AlertAction::make(title, AlertAction::Style::defaultValue, [self, style, title] {
            QLLogInfo("Map style button for " + title);
            const auto alive = self.lock();
            if (!alive) return;
            // The current style again changes nothing: the map view refuses it as unchanged.
            if (QuovaMKMapView* view = (*alive)->mapView()) view->setMapStyle(style);
        }));
    }
    sheet->addAction(AlertAction::make(platform::localizedString("Cancel"), AlertAction::Style::cancel,
                                       [] { QLLogInfo("Cancel button"); }));
    presentSheet(sheet, anchor);
}

void StylesAndLayers::showMapLayersActionSheetFrom(QWidget* anchor) {
    auto sheet = AlertController::make(
        platform::localizedString("Map Layer Selection"),
        platform::localizedString("Map Layers appear on top of the currently selected map."),
        AlertController::Style::actionSheet);
    // Only the sea-mark layer acts; the catalogue's other layers are not offered.
    std::vector<InfoLayer> offered{LayerManager::shared().openSeaMapLayer()};
    std::sort(offered.begin(), offered.end(), [](const InfoLayer& a, const InfoLayer& b) {
        return a.localizedDescription < b.localizedDescription;
    });
    std::weak_ptr<StylesAndLayers*> self = self_;
    for (const InfoLayer& layer : offered) {
        const bool active = isInfoLayerActive(layer.key);
        std::string title = layer.localizedDescription;
        if (active) title += kCheckMark;
        sheet->addAction(AlertAction::make(title, AlertAction::Style::defaultValue, [self, layer, active] {
            if (const auto alive = self.lock()) (*alive)->toggle(layer, active);
        }));
    }
    sheet->addAction(AlertAction::make(platform::localizedString("Cancel"), AlertAction::Style::cancel,
                                       [] { QLLogInfo("Cancel button"); }));
    presentSheet(sheet, anchor);
}

void StylesAndLayers::toggle(const InfoLayer& layer, bool wasActive) {
    QLLogInfo("layer " + layer.localizedDescription + " now " + (wasActive ? "INACTIVE." : "ACTIVE."));
    setInfoLayerActive(layer.key, !wasActive);
    if (wasActive) {
        removeLayerFor(layer.key);
    } else {
        addLayerFor(layer.key);
    }
}

// ---- The sea-mark layer

void StylesAndLayers::addLayerFor(InfoLayerKey key) {
    QLLogInfo("addLayerFor(key:)");
    if (key != InfoLayerKey::openSeaMap) return;
    QuovaMKMapView* map = mapView_.data();
    if (!osmSeamapOverlay_ || map == nullptr) return;
    if (const auto base = map->currentTileOverlay()) {
        map->insertOverlayAbove(osmSeamapOverlay_, base);
    } else {
        map->addOverlay(osmSeamapOverlay_);
    }
}

void StylesAndLayers::removeLayerFor(InfoLayerKey key) {
    QLLogInfo("removeLayerFor(key:)");
    if (key != InfoLayerKey::openSeaMap) return;
    QuovaMKMapView* map = mapView_.data();
    if (!osmSeamapOverlay_ || map == nullptr) return;
    map->removeOverlay(osmSeamapOverlay_);
}

std::string StylesAndLayers::seaMarkTileURLPattern() {
    auto& bundle = platform::Bundle::main();
    return bundle.infoString("QuovaSeaMarkTileServerScheme").value_or("https") + "://" +
           bundle.infoString("QuovaSeaMarkTileServerHost").value_or("seamarks.tervolo.invalid") +
           "/tiles/openseamap/%1$@/%2$@/%3$@.png";
}

void StylesAndLayers::setUpOpenSeaMapOverlay() {
    if (osmSeamapOverlay_) return;
    osmSeamapOverlay_ = tiles::QuovaTileOverlay::initOverlayForMap(
        "OpenSeaMap", 19, "OpenSeaMapTiles", seaMarkTileURLPattern(), {"a", "b", "d", "e"}, 10,
        retinaShiftLevel_);
    if (QuovaMKMapView* map = mapView_.data()) osmSeamapOverlay_->setDelegate(map->tileOverlayDelegate());
    // The base map stays visible beneath the sea marks.
    osmSeamapOverlay_->setReplaceMapContent(false);
}

void StylesAndLayers::clearAllOSMCaches() {
    for (const auto& overlay : tiles::QuovaMapManager::shared().allTileOverlays()) overlay->clearTileCache();
    if (osmSeamapOverlay_) osmSeamapOverlay_->clearTileCache();
}

}  // namespace tervolo::mapscreen
