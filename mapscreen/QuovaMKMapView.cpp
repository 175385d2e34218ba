#include "mapscreen/QuovaMKMapView.hpp"

#include <QPointer>
#include <QResizeEvent>

#include <fmt/format.h>

#include <QStringList>

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "backend/MapStateSnapshot.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/MapViewZoomLevel.hpp"
#include "mapscreen/QuovaScaleView.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/ui/AnimationWidget.hpp"
#include "platform/ui/Animator.hpp"
#include "tiles/QuovaMapManager.hpp"
#include "tiles/TileGrid.hpp"
#include "widgets/hud/MultilineLabel.hpp"

namespace tervolo::mapscreen {

using tiles::QuovaBaseMapStyle;
using tiles::QuovaTileOverlay;

namespace {

bool isAppleStyle(QuovaBaseMapStyle style) {
    return style == QuovaBaseMapStyle::standard || style == QuovaBaseMapStyle::satellite ||
           style == QuovaBaseMapStyle::hybrid;
}

// The map key of a base tile overlay: one of the five tile styles' identifiers.
bool isBaseMapKey(const std::string& key) {
    const auto style = tiles::styleWithIdentifier(key);
    return style && !isAppleStyle(*style);
}

// The class name without its namespaces ("platform::MKCompassView" → "MKCompassView").
QString typeName(const QWidget* widget) {
    const QString name = QString::fromLatin1(widget->metaObject()->className());
    const qsizetype colon = name.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? name : name.mid(colon + 1);
}

// "<MKAttributionLabel: frame = (x y; w h); alpha = a>", the platform's way of describing a view.
std::string describe(const QWidget* widget) {
    const QRect frame = widget->geometry();
    return fmt::format("<{}: frame = ({} {}; {} {}); alpha = {}>", typeName(widget).toStdString(), frame.x(),
                       frame.y(), frame.width(), frame.height(), platform::alpha(widget));
}

// The map view that last published the shared map state, so that only it takes
// the state back when it goes.
std::atomic<const void*> gPublisher{nullptr};

}  // namespace

// What the tile engine holds. The pointer is read under a shared lock by the
// drawing threads and cleared under the exclusive lock by the view's destructor,
// which therefore waits for a question in flight and leaves no later one a
// dangling view.
class QuovaMKMapView::TileOverlayForwarder : public tiles::QuovaTileOverlayDelegate,
                                             public std::enable_shared_from_this<TileOverlayForwarder> {
  public:
    explicit TileOverlayForwarder(QuovaMKMapView* view) : view_(view) {}

    void detach() {
        std::unique_lock lock(mutex_);
        view_ = nullptr;
    }

    void needsToZoomOutFromLevel(int32_t zoomLevel,
                                 const std::shared_ptr<QuovaTileOverlay>& overlay) override {
        onMain(
            [zoomLevel, overlay](QuovaMKMapView& view) { view.needsToZoomOutFromLevel(zoomLevel, overlay); });
    }
    void statusForTileOverlay(const std::shared_ptr<QuovaTileOverlay>& overlay,
                              const std::string& text) override {
        onMain([overlay, text](QuovaMKMapView& view) { view.statusForTileOverlay(overlay, text); });
    }
    std::optional<tiles::QuovaTileRect> tileRectForZoomLevel(int64_t zoomLevel) override {
        std::shared_lock lock(mutex_);
        if (view_ == nullptr) return std::nullopt;
        return view_->tileRectForZoomLevel(zoomLevel);
    }
    int32_t axisTilesForZoomLevel(int32_t zoomLevel) override {
        return QuovaMKMapView::axisTilesForZoomLevel(zoomLevel);
    }
    void setNeedsMapRedraw() override {
        onMain([](QuovaMKMapView& view) { view.setNeedsMapRedraw(); });
    }

  private:
    // Runs `work` with the view on the main thread: at once when called there,
    // else queued (and dropped when the view is gone by then).
    void onMain(std::function<void(QuovaMKMapView&)> work) {
        if (platform::isMainThread()) {
            if (QuovaMKMapView* view = mainThreadView()) work(*view);
            return;
        }
        platform::DispatchQueue::main()->async([weak = weak_from_this(), work = std::move(work)] {
            const auto self = weak.lock();
            if (!self) return;
            if (QuovaMKMapView* view = self->mainThreadView()) work(*view);
        });
    }
    // Only the main thread clears the pointer, so it stays valid while the main thread uses it.
    QuovaMKMapView* mainThreadView() {
        std::shared_lock lock(mutex_);
        return view_;
    }

    std::shared_mutex mutex_;
    QuovaMKMapView* view_;
};

QuovaMKMapView::QuovaMKMapView(QWidget* parent)
    : MKMapView(parent), forwarder_(std::make_shared<TileOverlayForwarder>(this)) {}

QuovaMKMapView::~QuovaMKMapView() {
    forwarder_->detach();
    const void* self = this;
    if (gPublisher.compare_exchange_strong(self, nullptr)) backend::MapStateSnapshot::publish(std::nullopt);
}

std::shared_ptr<tiles::QuovaTileOverlayDelegate> QuovaMKMapView::tileOverlayDelegate() const {
    return forwarder_;
}

// ---- Style

void QuovaMKMapView::setMapStyle(QuovaBaseMapStyle style) {
    if (mapStyle_ && *mapStyle_ == style) {
        QLLogDebug("mapStyle: map style unchanged, nothing to do");
        return;
    }
    QLLogDebug("setBaseMap(_:)");
    // Recorded only when the map shows it: a failed switch recorded anyway would
    // refuse the next request for the same style as "unchanged" and leave the map
    // without its base map.
    if (setBaseMap(style)) {
        mapStyle_ = style;
        publishMapState();
    }
}

bool QuovaMKMapView::setBaseMap(QuovaBaseMapStyle style) {
    return isAppleStyle(style) ? setAppleBaseMap(style) : setTiledBaseMap(style);
}

bool QuovaMKMapView::setAppleBaseMap(QuovaBaseMapStyle style) {
    QLLogDebug("setAppleBaseMap(_:)");
    if (!isAppleStyle(style)) return false;
    if (const auto overlay = currentTileOverlay()) removeOverlay(overlay);
    setMapType(static_cast<platform::MKMapType>(static_cast<int>(style)));
    if (const auto delegate = quovaDelegate()) {
        if (QuovaScaleView* scale = delegate->scaleView())
            scale->setLightMode(style != QuovaBaseMapStyle::standard);
    }
    tileCredit_.clear();
    updateCreditLabel();
    showAppleMapsUI();
    return true;
}

bool QuovaMKMapView::setTiledBaseMap(QuovaBaseMapStyle style) {
    QLLogDebug("setTiledBaseMap(_:)");
    auto& manager = tiles::QuovaMapManager::shared();
    // Both found before anything changes, so a style that cannot be shown leaves
    // the map as it was.
    const auto overlay = manager.baseMapOverlayForMapView(tileOverlayDelegate(), style);
    if (!overlay) {
        QLLogDebug("can't create tile overlay for style " + tiles::identifier(style));
        return false;
    }
    const auto configuration = manager.configurationForMapStyle(style);
    if (!configuration) {
        QLLogDebug("can't retrieve configuration for style " + tiles::identifier(style));
        return false;
    }

    const auto previous = currentTileOverlay();
    for (const auto& registered : manager.allTileOverlays()) registered->resetCacheManager();
    setMapType(platform::MKMapType::MutedStandard);

    // One batch: everything off, the base overlay at the bottom, the rest back on
    // top in its order. The widget repaints once for all of it, and each renderer
    // is asked for again once, when the next frame draws it.
    std::vector<std::shared_ptr<platform::MKOverlay>> taken;
    const auto all = overlays();
    taken.reserve(all.size());
    for (const auto& existing : all) {
        if (existing != previous && existing != overlay) taken.push_back(existing);
    }
    removeOverlays(all);
    insertOverlay(overlay, 0, platform::MKOverlayLevel::AboveLabels);
    addOverlays(taken);

    if (const auto delegate = quovaDelegate()) {
        if (QuovaScaleView* scale = delegate->scaleView()) scale->setLightMode(false);
    }
    tileCredit_ = configuration->copyrightString;
    // Until a frame tells what shows, the style's own credit.
    shownSources_.reset();
    updateCreditLabel();
    hideAppleMapsUI();
    return true;
}

std::shared_ptr<QuovaTileOverlay> QuovaMKMapView::currentTileOverlay() const {
    std::shared_ptr<QuovaTileOverlay> found;
    for (const auto level : {platform::MKOverlayLevel::AboveRoads, platform::MKOverlayLevel::AboveLabels}) {
        for (const auto& overlay : overlaysInLevel(level)) {
            auto tile = std::dynamic_pointer_cast<QuovaTileOverlay>(overlay);
            if (!tile || !isBaseMapKey(tile->map())) continue;
            if (found) return nullptr;  // more than one: none of them is the base map
            found = std::move(tile);
        }
    }
    return found;
}

// ---- The map's logo and attribution

std::vector<std::string> QuovaMKMapView::creditLines() const {
    std::vector<std::string> lines;
    if (tileCredit_.empty()) return lines;
    // What the last frame showed: the tiles where they arrived, the map's own drawing where they did
    // not (a source that cannot be reached, tiles still on their way, beyond the source's levels).
    const bool tilesShown = !shownSources_ || shownSources_->tiles;
    const bool ownMapShown = shownSources_ && shownSources_->ownMap;
    if (tilesShown) lines.push_back(tileCredit_);
    if (ownMapShown) {
        if (const auto* legal = qobject_cast<platform::MKAttributionLabel*>(
                findSubview(QStringLiteral("MKAttributionLabel"))))
            lines.push_back(legal->text().toStdString());
    }
    return lines;
}

void QuovaMKMapView::updateCreditLabel() {
    const auto delegate = quovaDelegate();
    widgets::hud::MultilineLabel* credit = delegate ? delegate->osmCreditLabel() : nullptr;
    if (credit == nullptr) return;
    QStringList lines;
    for (const std::string& line : creditLines()) lines << QString::fromStdString(line);
    const QString text = lines.join(QLatin1Char('\n'));
    if (text == credit->text() && credit->isHidden() == text.isEmpty()) return;
    // As many lines as the text needs where the screen places it: it wraps rather than being cut.
    credit->setNumberOfLines(0);
    credit->setText(text);
    credit->setHidden(text.isEmpty());
    delegate->creditLabelDidChange();
}

void QuovaMKMapView::frameDidDraw() {
    MKMapView::frameDidDraw();
    if (tileCredit_.empty()) return;
    const FrameStats stats = lastFrameStats();
    const ShownSources shown{stats.cellsReplacedShown > 0, stats.cellsOwnMapShown > 0};
    if (shownSources_ && *shownSources_ == shown) return;
    shownSources_ = shown;
    // Not from inside the paint: the label and the screen's layout change on the next turn.
    platform::DispatchQueue::main()->async([view = QPointer<QuovaMKMapView>(this)] {
        if (view) view->updateCreditLabel();
    });
}

QWidget* QuovaMKMapView::findAppleLogoView() const {
    QWidget* view = findSubview(QStringLiteral("MKAppleLogoImageView"));
    if (view != nullptr) {
        QLLogDebug("findAppleLogoView(): logo found at " + describe(view));
    } else {
        QLLogDebug("findAppleLogoView(): logo NOT found");
    }
    return view;
}

QWidget* QuovaMKMapView::findAppleLegalView() const {
    QWidget* view = findSubview(QStringLiteral("MKAttributionLabel"));
    if (view != nullptr) {
        QLLogDebug("findAppleLegalView(): legal label found at " + describe(view));
    } else {
        QLLogDebug("findAppleLegalView(): legal label NOT found");
    }
    return view;
}

void QuovaMKMapView::hideAppleMapsUI() {
    QLLogDebug("hideAppleMapsUI()");
    fadeAppleMapsUI(0.0);
}

void QuovaMKMapView::showAppleMapsUI() {
    QLLogDebug("showAppleMapsUI()");
    fadeAppleMapsUI(1.0);
}

void QuovaMKMapView::fadeAppleMapsUI(double alpha) {
    // Faded only, never hidden or removed: the map keeps them in its layout.
    for (QWidget* view : {findAppleLogoView(), findAppleLegalView()}) {
        if (view == nullptr) continue;
        platform::Animator::animate(kAppleUIFadeDuration, [view, alpha] { platform::setAlpha(view, alpha); });
    }
}

// ---- Compass hooks

void QuovaMKMapView::didAddSubview(QWidget* subview) {
    MKMapView::didAddSubview(subview);
    const QString type = typeName(subview);
    QLLogDebug(std::string(__func__) + " - added a " + type.toStdString());
    if (type != QLatin1String("MKCompassView")) return;
    if (const auto screen = std::dynamic_pointer_cast<QuovaMKMapViewDelegate>(delegate()))
        screen->quovaMapViewDidAddCompassView(*this, subview);
}

void QuovaMKMapView::willRemoveSubview(QWidget* subview) {
    MKMapView::willRemoveSubview(subview);
    const QString type = typeName(subview);
    QLLogDebug(std::string(__func__) + " - will remove a " + type.toStdString());
    if (type != QLatin1String("MKCompassView")) return;
    if (const auto screen = std::dynamic_pointer_cast<QuovaMKMapViewDelegate>(delegate()))
        screen->quovaMapViewWillRemoveCompassView(*this, subview);
}

// ---- Tile engine

void QuovaMKMapView::needsToZoomOutFromLevel(int32_t, const std::shared_ptr<QuovaTileOverlay>&) {
    QLLogInfo("needsToZoomOut(fromLevel:for:)");
    zoom(*this, 1.5);
}

void QuovaMKMapView::statusForTileOverlay(const std::shared_ptr<QuovaTileOverlay>&, const std::string&) {
    QLLogInfo("status(for:didChangeTo:)");
}

tiles::QuovaTileRect QuovaMKMapView::tileRectForZoomLevel(int64_t zoomLevel) const {
    return tiles::tileRectForZoomLevel(visibleMapRectSnapshot(), zoomLevel, 1);
}

int32_t QuovaMKMapView::axisTilesForZoomLevel(int32_t zoomLevel) {
    return tiles::axisTilesForZoomLevel(zoomLevel);
}

void QuovaMKMapView::setNeedsMapRedraw() {
    update();
}

// ---- Shared map state

void QuovaMKMapView::cameraDidChange(const CameraState& from, bool animated) {
    MKMapView::cameraDidChange(from, animated);
    publishMapState();
}

void QuovaMKMapView::resizeEvent(QResizeEvent* event) {
    MKMapView::resizeEvent(event);
    publishMapState();
}

void QuovaMKMapView::publishMapState() {
    // A shared point's upload reads this on its own thread instead of the live map.
    backend::MapStateSnapshot snapshot;
    if (mapStyle_) snapshot.mapStyleIndex = static_cast<int>(*mapStyle_);
    snapshot.boundsWidthPoints = boundsSize().width;
    snapshot.visibleMapWidth = platform::MKMapRectGetWidth(visibleMapRect());
    gPublisher = this;
    backend::MapStateSnapshot::publish(snapshot);
}

}  // namespace tervolo::mapscreen
