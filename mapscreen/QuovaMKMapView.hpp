#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mapscreen/QuovaMKMapViewDelegate.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"
#include "tiles/QuovaBaseMapStyle.hpp"
#include "tiles/QuovaTileOverlay.hpp"
#include "tiles/QuovaTileRect.hpp"

namespace tervolo::mapscreen {

// The map screen's map view: a base map style that is either one of the map
// view's own map types (drawn offline from the shipped world map) or a raster
// tile overlay lying beneath every other overlay; the answers the tile engine
// asks of the map; and the compass hooks handed to the map's delegate.
//
// While a tile style is shown the map's own logo and attribution label fade
// out (0.3 s) and the screen's credit label shows the tile source's
// attribution; with one of the map's own types they fade back in and the
// credit label is hidden and emptied.
//
// The tile engine holds its delegate weakly as a shared object, while this
// widget belongs to its Qt parent: the view therefore owns a small forwarding
// object (tileOverlayDelegate()) that the overlays and the map manager hold.
// It is unlinked when the view goes, so a tile engine thread that still holds
// it gets no answer rather than a dangling view.
//
// Threads: everything on the main thread, except tileRectForZoomLevel and
// axisTilesForZoomLevel, which the tile engine's drawing threads ask and which
// read only the map's published visible rect (they never wait for the main
// thread). Zoom-out requests and redraws asked from other threads are carried
// over to the main queue.
class QuovaMKMapView : public platform::MKMapView {
    Q_OBJECT
  public:
    explicit QuovaMKMapView(QWidget* parent = nullptr);
    ~QuovaMKMapView() override;

    // The screen; not owned (the screen owns this view).
    std::shared_ptr<QuovaMKMapViewDelegate> quovaDelegate() const { return quovaDelegate_.lock(); }
    void setQuovaDelegate(std::weak_ptr<QuovaMKMapViewDelegate> delegate) {
        quovaDelegate_ = std::move(delegate);
    }

    // ---- The base map style
    // None until a switch to a style succeeded.
    std::optional<tiles::QuovaBaseMapStyle> mapStyle() const { return mapStyle_; }
    // The style already shown does nothing at all. Otherwise switches the base
    // map (setBaseMap) and records the style only when the switch succeeded: a
    // tile style without its overlay or configuration changes nothing (logged),
    // so asking for it again tries again.
    void setMapStyle(tiles::QuovaBaseMapStyle style);
    // setAppleBaseMap for standard, satellite and hybrid, setTiledBaseMap for
    // the tile styles; true when the switch was made.
    bool setBaseMap(tiles::QuovaBaseMapStyle style);
    // Removes the base tile overlay, sets the map type, the scale bar's light
    // mode (on for satellite and hybrid) and hides the credit label (no lines
    // limit, empty text); fades the logo and attribution in.
    bool setAppleBaseMap(tiles::QuovaBaseMapStyle style);
    // Finds the style's overlay (the map manager's, made on first use) and its
    // configuration first; without either nothing changes. Then removes the old
    // base overlay, resets the download state of every tile overlay the map
    // manager holds, sets the muted map type and re-stacks the overlays in one
    // batch: the base overlay at index 0 above the labels, every overlay that
    // was on the map above it in its old order, all above the labels. Light
    // mode off; the credit label shows the attribution on 2 lines for
    // OpenTopoMap, 1 for the others; the logo and attribution fade out.
    bool setTiledBaseMap(tiles::QuovaBaseMapStyle style);

    // The one base tile overlay on the map: among the overlays that are tile
    // overlays of one of the five tile styles' map keys (the sea-mark layer's
    // "OpenSeaMap" never counts), the single one; none when there is none or
    // more than one.
    std::shared_ptr<tiles::QuovaTileOverlay> currentTileOverlay() const;

    // The map's logo ("MKAppleLogoImageView") and attribution label
    // ("MKAttributionLabel"), found among the direct children by class name.
    QWidget* findAppleLogoView() const;
    QWidget* findAppleLegalView() const;
    static constexpr double kAppleUIFadeDuration = 0.3;  // seconds
    // Fade both (those found) to alpha 0 or 1; they stay shown throughout.
    void hideAppleMapsUI();
    void showAppleMapsUI();

    // ---- What the tile engine asks (QuovaTileOverlayDelegate)
    // The object the overlays hold as their delegate; forwards to this view.
    std::shared_ptr<tiles::QuovaTileOverlayDelegate> tileOverlayDelegate() const;
    // Zooms out by 1.5 (camera distance), whatever the level and overlay. Main thread.
    void needsToZoomOutFromLevel(int32_t zoomLevel, const std::shared_ptr<tiles::QuovaTileOverlay>& overlay);
    // Logged only: the screen reads the overlay's status on its own timer.
    void statusForTileOverlay(const std::shared_ptr<tiles::QuovaTileOverlay>& overlay,
                              const std::string& text);
    // The tiles of the visible rect at `zoomLevel`, widened by one tile on every
    // side and kept inside the level's grid. Any thread: reads the visible rect
    // as last published, never the main thread's live state.
    tiles::QuovaTileRect tileRectForZoomLevel(int64_t zoomLevel) const;
    // Tiles along one axis of the world at `zoomLevel`: 1 at 0, else 2^level
    // (levels past 30 count as 30, below 0 as 0). Any thread.
    static int32_t axisTilesForZoomLevel(int32_t zoomLevel);
    // Asks for a repaint of the map. Main thread.
    void setNeedsMapRedraw();

    // ---- The credit line (the screen's osmCreditLabel while a tile style is shown)
    // What the map shows, one entry each: the tile source's attribution where its tiles show, the
    // map's own attribution (its "MKAttributionLabel") where its own drawing shows through, both
    // when both show. Before the first frame of a tile style: the tile source's. Empty with one of
    // the map's own types (its own label credits it then).
    std::vector<std::string> creditLines() const;
    // Sets the credit label to creditLines() (one per line, wrapping at the label's width; hidden
    // when there are none) and tells the screen when the text changed.
    void updateCreditLabel();
    void frameDidDraw() override;

  protected:
    void didAddSubview(QWidget* subview) override;
    void willRemoveSubview(QWidget* subview) override;
    void cameraDidChange(const CameraState& from, bool animated) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    class TileOverlayForwarder;

    void fadeAppleMapsUI(double alpha);
    void publishMapState();

    struct ShownSources {
        bool tiles = false;
        bool ownMap = false;
        bool operator==(const ShownSources&) const = default;
    };
    std::optional<tiles::QuovaBaseMapStyle> mapStyle_;
    std::string tileCredit_;
    std::optional<ShownSources> shownSources_;  // none until a frame of the tile style was drawn
    std::weak_ptr<QuovaMKMapViewDelegate> quovaDelegate_;
    std::shared_ptr<TileOverlayForwarder> forwarder_;
};

}  // namespace tervolo::mapscreen
