#pragma once

#include <QPointF>
#include <QPointer>
#include <QRectF>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "mapscreen/InfoLayer.hpp"
#include "mapscreen/QuovaMKMapView.hpp"
#include "tiles/QuovaTileOverlay.hpp"

class QWidget;

namespace platform {
class ViewController;
}

namespace tervolo::mapscreen {

// The part of the map screen behind four of its buttons: the point list and
// the About screen (popovers from the pressed button, full screen on a phone),
// the map style sheet and the map layers sheet (popovers on the map view at the
// last mouse position, else a third of the way along its top edge), the
// sea-mark tile layer over the base map, and clearing every tile cache.
//
// The screen owns this part and the map view; the part holds the map view as
// a QPointer (nothing happens without one) and the screen by reference (it
// presents from it and sizes the popovers by its view). The point list lies
// above the map screen and the About screen in the shell: both come from
// factories the composition fills; without a factory (or when it makes
// nothing) the button only logs.
//
// The sea-mark tiles come from "<scheme>://<host>/tiles/openseamap/%1$@/%2$@/%3$@.png"
// with the host prefixes "a", "b", "d", "e"; host and scheme are the
// information dictionary's "QuovaSeaMarkTileServerHost" (default under the
// reserved .invalid domain, so a fresh install asks no real server) and
// "QuovaSeaMarkTileServerScheme" (default "https"). Main thread only.
class StylesAndLayers {
  public:
    using ScreenFactory = std::function<std::shared_ptr<platform::ViewController>()>;
    static constexpr const char* kCheckMark = " \u2714\uFE0F";  // appended to the current choice
    static constexpr double kButtonFadeDuration = 0.3;          // seconds

    explicit StylesAndLayers(platform::ViewController& screen);
    ~StylesAndLayers();
    StylesAndLayers(const StylesAndLayers&) = delete;
    StylesAndLayers& operator=(const StylesAndLayers&) = delete;

    QuovaMKMapView* mapView() const { return mapView_.data(); }
    void setMapView(QuovaMKMapView* mapView) { mapView_ = mapView; }
    // The last hover position in the screen's view (none while unknown).
    void setLastMouseLocationProvider(std::function<std::optional<QPointF>()> provider) {
        lastMouseLocation_ = std::move(provider);
    }
    // Handed to the sea-mark overlay when it is made (2 unless changed before).
    int64_t retinaShiftLevel() const { return retinaShiftLevel_; }
    void setRetinaShiftLevel(int64_t level) { retinaShiftLevel_ = level; }
    // The point list (its back reference to the screen set) and the About screen.
    void setPointListFactory(ScreenFactory factory) { pointListFactory_ = std::move(factory); }
    void setAboutScreenFactory(ScreenFactory factory) { aboutScreenFactory_ = std::move(factory); }

    // ---- Buttons: each logs, fades the pressed button back to alpha 1 over 0.3 s, then acts.
    void pointsButtonPressed(QWidget* sender);
    void infoButtonPressed(QWidget* sender);
    void mapStyleButtonPressed(QWidget* sender);
    void mapLayersButtonPressed(QWidget* sender);

    // ---- Sheets, each a popover at `anchor` (the button that opened it), so it opens in the same
    // place every time; without a shown anchor, at sheetSourceRect() in the map view.
    // One action per base map style in their order, the current one (OpenStreetMap
    // when none is set) marked with kCheckMark, then Cancel; nothing without a map view.
    void showMapStyleActionSheetFrom(QWidget* anchor);
    // The sea-mark layer (marked when its switch is on), then Cancel. Choosing it
    // flips the switch and takes the layer off or puts it on.
    void showMapLayersActionSheetFrom(QWidget* anchor);
    // Where a sheet without an anchor points, in the map view: a 1 × 1 rect at
    // the last mouse position, else at a third of the screen view's width on
    // the top edge.
    QRectF sheetSourceRect() const;

    // ---- The sea-mark layer
    // Directly above the base tile overlay, or on top of the map when there is
    // none; the other keys draw nothing.
    void addLayerFor(InfoLayerKey key);
    void removeLayerFor(InfoLayerKey key);
    // Makes the sea-mark overlay once (not put on the map here).
    void setUpOpenSeaMapOverlay();
    const std::shared_ptr<tiles::QuovaTileOverlay>& osmSeamapOverlay() const { return osmSeamapOverlay_; }
    static std::string seaMarkTileURLPattern();

    // Empties the tile caches of every overlay the map manager holds (on the map
    // or not) and of the sea-mark overlay. Nothing is redrawn here.
    void clearAllOSMCaches();

  private:
    void buttonPressed(QWidget* sender);
    void toggle(const InfoLayer& layer, bool wasActive);
    void presentScreen(const std::shared_ptr<platform::ViewController>& content,
                       const std::shared_ptr<platform::ViewController>& wrapper, QWidget* sender,
                       const std::string& completionLog);
    void presentSheet(const std::shared_ptr<platform::ViewController>& sheet, QWidget* anchor);

    platform::ViewController& screen_;
    QPointer<QuovaMKMapView> mapView_;
    std::function<std::optional<QPointF>()> lastMouseLocation_;
    int64_t retinaShiftLevel_ = 2;
    ScreenFactory pointListFactory_;
    ScreenFactory aboutScreenFactory_;
    std::shared_ptr<tiles::QuovaTileOverlay> osmSeamapOverlay_;
    // Sheet handlers hold this weakly and do nothing once the part is gone.
    std::shared_ptr<StylesAndLayers*> self_;
};

}  // namespace tervolo::mapscreen
