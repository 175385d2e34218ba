#include <QAbstractButton>
#include <QImage>
#include <QPointer>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "appinfo/UIDevice_QuovaAdditions.hpp"
#include "location/QuovaLocationServices.hpp"
#include "location/QuovaPinCircleOverlay.hpp"
#include "location/QuovaUserLocationAnnotation.hpp"
#include "location/QuovaUserLocationCircleOverlay.hpp"
#include "location/ui/QuovaUserLocationModel.hpp"
#include "location/ui/QuovaUserLocationView.hpp"
#include "location/ui/UserLocationSettingsViewController.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/CalloutImageButton.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/MapViewZoomLevel.hpp"
#include "mapscreen/QuovaGhostTapRecognizer.hpp"
#include "mapscreen/QuovaMapPointAnnotation.hpp"
#include "mapscreen/QuovaMapPointView.hpp"
#include "mapscreen/RegionChangeRules.hpp"
#include "mapscreen/ScaleBarChoice.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Locale.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/ui/FocusRing.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/NavigationController.hpp"
#include "platform/ui/PopoverPresentationController.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/RadiusTables.hpp"
#include "tiles/TileOverlayRenderer.hpp"

namespace tervolo::mapscreen {

namespace {

constexpr const char* kMapPointReuseIdentifier = "MapPoint";
constexpr double kSettingsButtonSide = 36.0;  // points; round: corner radius half of it
constexpr double kGearSide = 24.0;
constexpr double kShareButtonSide = 32.0;
constexpr double kShareSymbolSide = 22.0;
constexpr double kPointIconSide = 32.0;

// "mapView(_:didSelect:) in /path/MainViewControllerMapDelegate.cpp:123".
std::string traceLine(const char* signature, int line) {
    return fmt::format("{} in {}:{}", signature, __FILE__, line);
}

// The title a log line names a point by.
std::string titleText(const std::shared_ptr<platform::MKAnnotation>& annotation) {
    if (const auto point = QuovaMapPointAnnotation::pointFor(annotation)) {
        if (point->title()) return *point->title();
    } else if (annotation && !annotation->title().empty()) {
        return annotation->title();
    }
    return platform::localizedString("(unknown)");
}

// The application's small image, read once; null when the file is missing.
const QImage& pointCalloutImage() {
    static const QImage image = [] {
        const auto path = platform::Bundle::main().pathForResource("Icon-Small", "jpg");
        return path ? QImage(QString::fromStdString(*path)) : QImage();
    }();
    return image;
}

// The platform's system red and blue at a quarter opacity.
platform::Color alarmCircleFill() {
    return platform::Color(1, 59.0 / 255, 48.0 / 255, 0.25);
}
platform::Color userCircleFill() {
    return platform::Color(0, 122.0 / 255, 1, 0.25);
}

// The span seen at the previous region change of any map, only for the span
// log line. Main thread, like every region change.
struct PreviousSpan {
    platform::MKCoordinateSpan span;
    bool known = false;
};
PreviousSpan& previousSpan() {
    static PreviousSpan previous;
    return previous;
}

}  // namespace

// ---- Annotation views

std::shared_ptr<platform::MKAnnotationView> MainViewController::viewForAnnotation(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotation>& annotation) {
    if (auto userLocation = std::dynamic_pointer_cast<platform::MKUserLocation>(annotation)) {
        return viewForUserLocation(mapView, userLocation);
    }
    auto view = std::dynamic_pointer_cast<QuovaMapPointView>(
        mapView.dequeueReusableAnnotationView(kMapPointReuseIdentifier));
    if (!view) view = std::make_shared<QuovaMapPointView>(annotation, kMapPointReuseIdentifier);
    view->setCanShowCallout(true);
    view->setDraggable(true);
    const auto point = QuovaMapPointAnnotation::pointFor(annotation);
    const auto tint = point ? point->tagColor() : std::nullopt;
    view->setPinTintColor(tint.value_or(points::defaultPointColor()));
    if (!mapDelegate_.pointCalloutAccessory) {
        auto* image = new platform::ImageView;
        image->setObjectName(QStringLiteral("pointCalloutImage"));
        image->setImage(pointCalloutImage());
        image->setContentMode(platform::ImageView::ContentMode::ScaleAspectFit);
        image->setFixedSize(static_cast<int>(kPointIconSide), static_cast<int>(kPointIconSide));
        mapDelegate_.pointCalloutAccessory = std::make_shared<platform::MKCalloutAccessoryWidget>(image);
    }
    view->setLeftCalloutAccessoryView(mapDelegate_.pointCalloutAccessory);
    view->setAnnotation(annotation);
    return view;
}

std::shared_ptr<platform::MKAnnotationView> MainViewController::viewForUserLocation(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKUserLocation>& userLocation) {
    QLLogInfo("viewForAnnotation for userLocation");
    // Every time: the user-location model writes the real texts at the next update.
    userLocation->setTitle(points::myPositionText());
    userLocation->setSubtitle(points::unknownSpeedBearingText());
    auto view = location::QuovaUserLocationModel::shared().mapViewViewForUserLocation(mapView, userLocation);
    if (!view) return nullptr;
    if (QAbstractButton* settings = makeUserLocationSettingsButton()) {
        view->setLeftCalloutAccessoryView(std::make_shared<platform::MKCalloutAccessoryWidget>(settings));
    }
    if (QAbstractButton* share = makeUserLocationShareButton()) {
        view->setRightCalloutAccessoryView(std::make_shared<platform::MKCalloutAccessoryWidget>(share));
    }
    return view;
}

QAbstractButton* MainViewController::makeUserLocationSettingsButton() {
    initMapScreenSymbols();
    auto normal = platform::NamedImage::named(QStringLiteral("black_gear.png"));
    auto highlighted = platform::NamedImage::named(QStringLiteral("gear.png"));
    if (normal.isNull() || highlighted.isNull()) return nullptr;
    const int side = static_cast<int>(kSettingsButtonSide);
    auto* button = new CalloutImageButton(QSize(side, side), kGearSide);
    button->setObjectName(QStringLiteral("userLocationSettingsButton"));
    platform::makeKeyboardPressable(*button, [button] { button->click(); });
    button->setImages(std::move(normal), std::move(highlighted));
    QColor plate(Qt::lightGray);
    plate.setAlphaF(0.5);
    button->setBackgroundColor(plate);
    button->setCornerRadius(kSettingsButtonSide / 2);
    QObject::connect(button, &QAbstractButton::clicked, button, [weak = weakSelf(), button] {
        if (auto self = weak.lock()) self->userLocationLeftCalloutButton(button);
    });
    return button;
}

QAbstractButton* MainViewController::makeUserLocationShareButton() {
    initMapScreenSymbols();
    auto symbol = platform::NamedImage::named(QStringLiteral("square.and.arrow.up"));
    if (symbol.isNull()) return nullptr;
    const int side = static_cast<int>(kShareButtonSide);
    auto* button = new CalloutImageButton(QSize(side, side), kShareSymbolSide);
    button->setObjectName(QStringLiteral("userLocationShareButton"));
    platform::makeKeyboardPressable(*button, [button] { button->click(); });
    button->setImages(std::move(symbol));
    button->setTintsImage(true);
    QObject::connect(button, &QAbstractButton::clicked, button, [weak = weakSelf(), button] {
        if (auto self = weak.lock()) self->userLocationRightCalloutButton(button);
    });
    return button;
}

void MainViewController::didUpdateUserLocation(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKUserLocation>& userLocation) {
    refreshCircleOverlayForUserLocation();
    location::QuovaUserLocationModel::shared().mapViewDidUpdate(mapView, userLocation);
}

void MainViewController::annotationViewCalloutAccessoryControlTapped(
    platform::MKMapViewModel&, const std::shared_ptr<platform::MKAnnotationView>&,
    const std::shared_ptr<platform::MKCalloutAccessoryView>&) {
    QLLogInfo("mapView(_:annotationView:calloutAccessoryControlTapped:)");
}

// ---- The screens of the callouts

namespace {

std::optional<platform::CLLocation> bestKnownLocationFrom(
    const std::function<std::optional<platform::CLLocation>()>& provider) {
    return provider ? provider() : location::QuovaLocationServices::shared().bestKnownLocation();
}

}  // namespace

void MainViewController::presentInNavigationController(
    const std::shared_ptr<platform::ViewController>& screen, std::function<void()> completion) {
    auto navigation = std::make_shared<platform::NavigationController>(screen);
    if (appinfo::UIDevice_QuovaAdditions::quovaDeviceType() == 0) {
        navigation->setModalPresentationStyle(platform::ModalPresentationStyle::fullScreen);
    } else {
        navigation->setModalPresentationStyle(platform::ModalPresentationStyle::formSheet);
        if (auto* popover = navigation->popoverPresentationController()) {
            popover->setSourceView(view());
            popover->setPassthroughViews({});
        }
        const QWidget* own = view();
        const double height = own->height();
        const QSizeF size(own->width() * 0.5, height / 3 + height / 3);
        screen->setPreferredContentSize(size);
        // The sheet's card takes the size of what is presented: the navigation controller.
        navigation->setPreferredContentSize(size);
        // The same shares of the screen's view from then on: the sheet follows the window both ways.
        const QSizeF share(0.5, 2.0 / 3.0);
        screen->setPreferredContentSizeShare(share);
        navigation->setPreferredContentSizeShare(share);
    }
    present(navigation, true, std::move(completion));
}

void MainViewController::userLocationLeftCalloutButton(QWidget*) {
    QLLogInfo("userLocationLeftCalloutButton(sender:forEvent:)");
    auto settings = std::make_shared<location::UserLocationSettingsViewController>(
        std::string(location::UserLocationSettingsViewController::kViewName));
    settings->setUserLocation(bestKnownLocationFrom(services_.bestKnownLocation));
    settings->setMainVC(std::static_pointer_cast<MainViewController>(shared_from_this()));
    presentInNavigationController(settings, {});
}

void MainViewController::userLocationRightCalloutButton(QWidget* sender) {
    QLLogInfo("userLocationRightCalloutButton(sender:forEvent:)");
    // Only the share sheet of this screen is shown; the screen itself never is.
    auto settings = std::make_shared<location::UserLocationSettingsViewController>(
        std::string(location::UserLocationSettingsViewController::kViewName));
    const auto best = bestKnownLocationFrom(services_.bestKnownLocation);
    settings->setUserLocation(best);
    settings->setMainVC(std::static_pointer_cast<MainViewController>(shared_from_this()));
    if (best) {
        auto annotation = std::make_shared<location::QuovaUserLocationAnnotation>();
        annotation->setCoordinate(best->coordinate());
        annotation->setTitle(points::myPositionText());
        settings->setUserLocationAnnotation(annotation);
    }
    auto sheet =
        settings->shareActivityController(location::UserLocationSettingsViewController::Sender(sender));
    if (!sheet) return;
    platform::DispatchQueue::main()->asyncAfter(kShareSheetDelay, [weak = weakSelf(), sheet, settings] {
        if (auto self = weak.lock()) self->present(sheet, true);
    });
}

void MainViewController::showDetailsForSelectedAnnotation() {
    QLLogInfo("detailDisclosure for active QuovaMapPoint");
    if (!mapView_) {
        QLLogInfo("no annotation selected - nothing to do");
        return;
    }
    std::shared_ptr<points::QuovaMapPoint> point;
    for (const auto& annotation : mapView_->selectedAnnotations()) {
        if (auto selected = QuovaMapPointAnnotation::pointFor(annotation)) point = std::move(selected);
    }
    if (!point) {
        QLLogInfo("No active point found, nothing to do.");
        return;
    }
    QLLogInfo("Showing details view for point " + logging::debugQuoted(point->description()));
    const auto screen = services_.makePointDetails
                            ? services_.makePointDetails(
                                  point, std::static_pointer_cast<MainViewController>(shared_from_this()))
                            : nullptr;
    if (!screen) {
        QLLogInfo("no point details screen to show");
        return;
    }
    presentInNavigationController(screen,
                                  [] { QLLogInfo("navigationController with DetailsVC presented."); });
}

void MainViewController::mapPointDetailsDisclosureButton(QWidget*) {
    showDetailsForSelectedAnnotation();
}

void MainViewController::ghostTapRecognizerTapped() {
    QLLogInfo("ghostTapRecognizerTapped()");
}

void MainViewController::didReceiveMemoryWarning() {
    platform::ViewController::didReceiveMemoryWarning();
    QLLogInfo("* entering didReceiveMemoryWarning");
}

// ---- Selection

void MainViewController::didSelectAnnotationView(platform::MKMapViewModel&,
                                                 const std::shared_ptr<platform::MKAnnotationView>& view) {
    QLLogInfo(traceLine("mapView(_:didSelect:)", __LINE__));
    if (auto pin = std::dynamic_pointer_cast<QuovaMapPointView>(view)) {
        const std::string title = titleText(pin->annotation());
        QLLogInfo("QuovaMapPoint selected: " + logging::debugQuoted(title));
        const auto point = QuovaMapPointAnnotation::pointFor(pin->annotation());
        if (point && !restoration_.selectingRestoredPoint) zoomInOnPoint(point);
        if (!mapDelegate_.calloutTapRecognizer) {
            mapDelegate_.calloutTapRecognizer = std::make_shared<platform::MKGestureRecognizer>(
                [weak = weakSelf()](platform::MKAnnotationView&) {
                    if (auto self = weak.lock()) self->showDetailsForSelectedAnnotation();
                });
        }
        QLLogInfo("ADDED gesture recognizer to callout for " + logging::debugQuoted(title));
        // Once per view, however often the map reports the same selection.
        const auto& attached = pin->gestureRecognizers();
        if (std::find(attached.begin(), attached.end(), mapDelegate_.calloutTapRecognizer) == attached.end())
            pin->addGestureRecognizer(mapDelegate_.calloutTapRecognizer);
    } else if (std::dynamic_pointer_cast<platform::MKUserLocationView>(view)) {
        QLLogInfo(fmt::format("MKUserLocationView <MKUserLocationView: {}> selected.",
                              static_cast<const void*>(view.get())));
    } else {
        QLLogInfo("Other MKAnnotationView on iOS 14+ selected, nothing to do.");
    }
}

void MainViewController::didDeselectAnnotationView(platform::MKMapViewModel&,
                                                   const std::shared_ptr<platform::MKAnnotationView>& view) {
    QLLogInfo(traceLine("mapView(_:didDeselect:)", __LINE__));
    if (!view) return;
    const auto recognizers = view->gestureRecognizers();  // a copy: removing changes the view's list
    auto pin = std::dynamic_pointer_cast<QuovaMapPointView>(view);
    if (!pin) {
        QLLogInfo("Other MKAnnotationView DE-selected.");
        for (const auto& recognizer : recognizers) {
            if (dynamic_cast<const QuovaGhostTapRecognizer*>(recognizer.get()) != nullptr)
                view->removeGestureRecognizer(recognizer);
        }
        return;
    }
    const std::string title = titleText(pin->annotation());
    QLLogInfo("QuovaMapPoint DE-selected: " + logging::debugQuoted(title));
    for (const auto& recognizer : recognizers) {
        if (!mapDelegate_.calloutTapRecognizer || recognizer != mapDelegate_.calloutTapRecognizer) continue;
        QLLogInfo("REMOVED gesture recognizer from callout for " + logging::debugQuoted(title));
        pin->removeGestureRecognizer(mapDelegate_.calloutTapRecognizer);
    }
}

// ---- Dragging

void MainViewController::annotationViewDidChangeDragState(
    platform::MKMapViewModel& mapView, const std::shared_ptr<platform::MKAnnotationView>& view,
    platform::MKAnnotationViewDragState newState, platform::MKAnnotationViewDragState oldState) {
    using State = platform::MKAnnotationViewDragState;
    switch (newState) {
        case State::Starting:
            QLLogInfo("drag starting");
            rememberDragOrigin(view);
            break;
        case State::Dragging:
            QLLogInfo("dragging");
            break;
        case State::Canceling:
            QLLogInfo("drag canceling");
            break;
        case State::Ending:
            QLLogInfo("drag ending");
            break;
        case State::None:
            QLLogInfo("drag state none");
            // Only a drag that ended has moved the pin. A cancelled one left the
            // point where it was, with its address and title, which stay.
            if (oldState == State::Ending) {
                dropDraggedPoint(mapView, view);
            } else {
                QLLogInfo("drag did not end - the point stays as it was.");
            }
            mapDelegate_.dragOrigin.reset();
            break;
    }
}

void MainViewController::rememberDragOrigin(const std::shared_ptr<platform::MKAnnotationView>& view) {
    mapDelegate_.dragOrigin.reset();
    const auto annotation = view ? view->annotation() : nullptr;
    const auto point = QuovaMapPointAnnotation::pointFor(annotation);
    if (!point) return;
    // The map writes the new coordinate into the point before the drop is
    // heard, so the place to go back to is taken now.
    mapDelegate_.dragOrigin = MainViewMapDelegate::DragOrigin{
        annotation,        point->coordinate(),  point->title(),
        point->subtitle(), point->lastSavedAt(), point->lastSavedByAppVersion()};
}

void MainViewController::dropDraggedPoint(platform::MKMapViewModel& mapView,
                                          const std::shared_ptr<platform::MKAnnotationView>& view) {
    const auto annotation = view ? view->annotation() : nullptr;
    const auto point = QuovaMapPointAnnotation::pointFor(annotation);
    if (!point) {
        QLLogInfo("AnnotationView dropped without annotation - can't save new location.");
        return;
    }
    const platform::CLLocationCoordinate2D coordinate = annotation->coordinate();
    if (!platform::CLLocationCoordinate2DIsValid(coordinate)) return;
    std::optional<MainViewMapDelegate::DragOrigin> origin;
    if (mapDelegate_.dragOrigin && mapDelegate_.dragOrigin->annotation == annotation)
        origin = mapDelegate_.dragOrigin;
    point->setCoordinate(coordinate);
    point->setSubtitle(std::nullopt);
    if (!point->hasHandcraftedTitle()) point->setTitle(points::newLocationTitle());
    // Written now: the reverse geocoding below writes the file only when it
    // finds new texts, and may never answer (offline, no result, the program
    // quits first), which would lose the move.
    auto& store = points::QuovaMapPointStore::shared();
    if (const auto saved = point->save(store); !saved.ok()) {
        QLLogInfo("dropped point could not be saved: " + logging::debugQuoted(saved.error().description));
        // The pin would show a place the file does not hold, and be back at
        // the old one after a restart: it goes back there now, with its texts
        // (its circle never left), and nothing is looked up for the refused place.
        if (origin) {
            point->setCoordinate(origin->coordinate);
            point->setTitle(origin->title);
            point->setSubtitle(origin->subtitle);
            point->setLastSavedAt(origin->lastSavedAt);
            point->setLastSavedByAppVersion(origin->lastSavedByAppVersion);
            // The failed save indexed the refused place; the index follows the file again.
            if (!point->deletedAt() && !point->hiddenAt()) store.addPointsToCoreSpotlight({point});
            mapView.annotationChanged(annotation);
        }
        presentLocationNotSaved(saved.error(), "The location stays where it was.");
        return;
    }
    mapView.annotationChanged(annotation);
    moveHaloWithPoint(point);
    startReverseGeocodingForPoint(point);
}

void MainViewController::moveHaloWithPoint(const std::shared_ptr<points::QuovaMapPoint>& point) {
    const auto old = haloForPoint(point);
    if (!old || !mapView_) return;
    const auto& level = mapView_->overlaysInLevel(platform::MKOverlayLevel::AboveLabels);
    const auto found = std::find(level.begin(), level.end(), old);
    const size_t index = static_cast<size_t>(found - level.begin());
    removeHaloFromPoint(point);
    // The annotation is on the map already: this only makes the circle anew
    // around the new coordinate, on top; it then goes back to the old one's place.
    addAnnotation(point);
    if (const auto halo = haloForPoint(point); halo && halo != old) {
        mapView_->removeOverlay(halo);
        mapView_->insertOverlay(halo, index, platform::MKOverlayLevel::AboveLabels);
    }
}

// ---- Renderers

std::shared_ptr<platform::MKOverlayRenderer> MainViewController::rendererForOverlay(
    platform::MKMapViewModel&, const std::shared_ptr<platform::MKOverlay>& overlay) {
    QLLogInfo("* entering mapView(_:rendererFor:)");
    if (auto circle = std::dynamic_pointer_cast<location::QuovaPinCircleOverlay>(overlay)) {
        auto renderer = std::make_shared<platform::MKCircleRenderer>(std::move(circle));
        renderer->setFillColor(alarmCircleFill());
        return renderer;
    }
    if (auto circle = std::dynamic_pointer_cast<location::QuovaUserLocationCircleOverlay>(overlay)) {
        auto renderer = std::make_shared<platform::MKCircleRenderer>(std::move(circle));
        renderer->setFillColor(userCircleFill());
        return renderer;
    }
    if (auto tile = std::dynamic_pointer_cast<tiles::QuovaTileOverlay>(overlay)) {
        // A new one at every ask, named after the overlay's map and linked from it.
        return tiles::TileOverlayRenderer::makeForOverlay(tile);
    }
    // No other kind is put on this map; one that came would not be drawn.
    QLLogInfo("unknown kind of overlay - not drawn");
    return nullptr;
}

// ---- Region changes

void MainViewController::regionWillChangeAnimated(platform::MKMapViewModel&, bool) {
    QLLogInfo("* entering mapView(_:regionWillChangeAnimated:)");
    const double dt = platform::Clock::current()->wallSeconds() - tracking_.programmaticRegionChangeAt;
    QLLogInfo("secs since prog region change: " + platform::text::describe(dt));
    if (regionChangeIsUsers(dt)) {
        QLLogInfo("map zoomed / panned by user");
        userMovedMap();
    }
}

void MainViewController::regionDidChangeAnimated(platform::MKMapViewModel& mapView, bool) {
    auto* map = dynamic_cast<QuovaMKMapView*>(&mapView);
    if (map == nullptr) return;
    QLLogInfo("* entering mapView(_:regionDidChangeAnimated:)");
    const auto zoomLevel = quovaZoomLevel(*map);
    if (!zoomLevel) {
        QLLogDebug("Can't retrieve quovaZoomLevel, fix formula!");
        return;
    }
    const tiles::QuovaTileRect tiles = tileRect(*map, *zoomLevel, 0);
    QLLogInfo("new zoomLevel: " + std::to_string(*zoomLevel));
    if (debugTextView_) {
        debugTextView_->setText(
            QString::fromStdString(tileDebugText(*zoomLevel, map->visibleMapRect(), tiles)));
    }
    updateScaleView(*map);
    const platform::MKCoordinateRegion region = map->region();
    if (const auto overlay = map->currentTileOverlay()) {
        if (const auto renderer = overlay->renderer()) scheduleBaseLayerRedraw(renderer);
        limitZoom(*map, *zoomLevel, *overlay);
    }
    PreviousSpan& previous = previousSpan();
    if (previous.known) {
        QLLogInfo("lat factor: " +
                  platform::text::describe(region.span.latitudeDelta / previous.span.latitudeDelta) +
                  ", long factor: " +
                  platform::text::describe(region.span.longitudeDelta / previous.span.longitudeDelta));
    }
    previous.span = region.span;
    previous.known = true;
}

void MainViewController::scheduleBaseLayerRedraw(
    const std::shared_ptr<tiles::QuovaTileOverlayRendering>& renderer) {
    // One redraw waits per renderer, kBaseLayerRedrawDelay after the latest
    // change: panning for a while asks for one redraw, not one per change.
    const double due = platform::Clock::current()->monotonicSeconds() + kBaseLayerRedrawDelay;
    const auto [entry, added] = mapDelegate_.pendingRedraws.try_emplace(renderer.get(), due);
    if (!added) {
        entry->second = due;
        return;
    }
    platform::DispatchQueue::main()->asyncAfter(kBaseLayerRedrawDelay, [weak = weakSelf(), renderer] {
        if (auto self = weak.lock()) {
            self->runBaseLayerRedraw(renderer);
        } else {
            renderer->setNeedsDisplay();
        }
    });
}

void MainViewController::runBaseLayerRedraw(
    const std::shared_ptr<tiles::QuovaTileOverlayRendering>& renderer) {
    const auto entry = mapDelegate_.pendingRedraws.find(renderer.get());
    if (entry == mapDelegate_.pendingRedraws.end()) return;
    const double remaining = entry->second - platform::Clock::current()->monotonicSeconds();
    if (remaining > 1e-9) {
        // A later change moved the redraw: wait for the rest of its delay.
        platform::DispatchQueue::main()->asyncAfter(remaining, [weak = weakSelf(), renderer] {
            if (auto self = weak.lock()) {
                self->runBaseLayerRedraw(renderer);
            } else {
                renderer->setNeedsDisplay();
            }
        });
        return;
    }
    mapDelegate_.pendingRedraws.erase(entry);
    renderer->setNeedsDisplay();
}

void MainViewController::limitZoom(QuovaMKMapView& mapView, int64_t zoomLevel,
                                   const tiles::QuovaTileOverlay& overlay) {
    const int32_t maxLevel = overlay.maxZoomLevel();
    if (zoomLevel <= static_cast<int64_t>(maxLevel)) return;
    QLLogInfo(fmt::format("zoomed in too far - level {} > maxLevel {}", zoomLevel, maxLevel));
    const auto search =
        zoomOutFactor(mapView.boundsSize().width, platform::MKMapRectGetWidth(mapView.visibleMapRect()),
                      zoomLevel, maxLevel);
    if (!search) return;
    if (search->exhausted) {
        // No zoom reaches a maximum below 0; zooming out anyway would only start the next round.
        QLLogInfo(fmt::format("no zoomOutFactor found within {} steps - the map stays as it is",
                              kMaximumZoomOutSteps));
        return;
    }
    QLLogInfo("found zoomOutFactor " + platform::text::describe(search->factor));
    QPointer<QuovaMKMapView> target = &mapView;
    const double factor = search->factor;
    platform::DispatchQueue::main()->asyncAfter(kZoomOutDelay, [target, factor] {
        if (target) mapscreen::zoom(*target, factor);
    });
}

// ---- Scale bar

void MainViewController::updateScaleView(platform::MKMapViewModel& mapView) {
    const points::ScaleDistances table = platform::text::Locale::current().usesMetricSystem()
                                             ? points::metricScaleDistances()
                                             : points::imperialScaleDistances();
    if (!bottomContainerView_) return;
    // The container's top edge in the map view's own points, wherever the
    // two sit in the screen's widget tree.
    QRectF edge = QRectF(bottomContainerView_->geometry());
    if (auto* mapWidget = dynamic_cast<platform::MKMapView*>(&mapView)) {
        const QPointF topLeft = mapWidget->mapFromGlobal(bottomContainerView_->mapToGlobal(QPointF(0, 0)));
        edge = QRectF(topLeft, QSizeF(bottomContainerView_->size()));
    }
    // Measured over the middle tenth of the edge and scaled to its width: an
    // edge across half the world or more would be measured the short way
    // round the globe (a whole world's width comes out as a few hundred miles).
    const double middle = edge.x() + edge.width() / 2;
    const double half = edge.width() / 20;
    const auto left = mapView.convertPoint({middle - half, edge.top()});
    const auto right = mapView.convertPoint({middle + half, edge.top()});
    const double metres = half > 0
                              ? platform::CLLocation(left.latitude, left.longitude)
                                        .distance(platform::CLLocation(right.latitude, right.longitude)) *
                                    edge.width() / (2 * half)
                              : 0;
    const auto choice = ScaleBarChoice::choose(table, metres, edge.width(), scaleViewDesiredWidth_);
    if (!choice || !scaleView_) return;
    QuovaScaleView* scale = scaleView_;
    platform::Label* label = scale->maxLabel();
    if (label == nullptr) return;
    const QRect frame = scale->geometry();
    const double inset = scale->scaleInset();
    const double total = choice->barLength + 2 * inset;
    const double x = frame.x() + (frame.width() - total) * 0.5;  // the centre stays
    label->setText(QString::fromStdString(choice->label));
    scale->update();
    // The new frame at once: the layout places the bar from the width
    // constraint on every pass, so a frame moving over time would be put
    // back by the next one; the label sits centred on the bar's right end.
    const double height = frame.height();
    scale->setGeometry(QRectF(x, frame.y(), total, height).toRect());
    if (scaleViewWidth_) scaleViewWidth_->setConstant(total);
    scale->setMaxLabelFrame(QRectF(total - 2 * inset, 0, 2 * inset, height / 3));
    // The credit line keeps clear of the bar at its new width.
    placeCreditLabel();
}

// ---- The status label beside the compass

std::optional<double> MainViewController::statusLabelRightEdgeBesideCompass() const {
    if (!mapDelegate_.statusLabelCompassMargin || !mapDelegate_.statusLabelCompassMargin->isActive() ||
        !mapDelegate_.compassView)
        return std::nullopt;
    const QWidget* root = viewIfLoaded();
    if (root == nullptr || !root->isAncestorOf(mapDelegate_.compassView)) return std::nullopt;
    return mapDelegate_.compassView->mapTo(root, QPoint(0, 0)).x() +
           mapDelegate_.statusLabelCompassMargin->constant();
}

void MainViewController::placeCompassBesideColumn() {
    if (!mapView_ || !sideContainer_) return;
    const double column = std::max(0.0, layout_.map.right() - layout_.sideContainer.left());
    mapView_->setCompassTrailingInset(column);
    // A selected point's callout keeps clear of the column too: the map moves to show it beside it.
    mapView_->setCalloutInsets(QMarginsF(0, 0, column, 0));
}

}  // namespace tervolo::mapscreen
