#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/mapkit/MKOverlay.hpp"
#include "tiles/QuovaImageTile.hpp"
#include "tiles/QuovaTileRect.hpp"
#include "tiles/TileCacheManager.hpp"

namespace tervolo::tiles {

class QuovaTileOverlay;

// What a tile overlay asks of the map view showing it. tileRectForZoomLevel
// and axisTilesForZoomLevel are asked from drawing threads and must not wait
// for the main thread; the zoom-out request arrives on the main queue.
class QuovaTileOverlayDelegate {
  public:
    virtual ~QuovaTileOverlayDelegate() = default;
    virtual void needsToZoomOutFromLevel(int32_t zoomLevel,
                                         const std::shared_ptr<QuovaTileOverlay>& overlay) = 0;
    virtual void statusForTileOverlay(const std::shared_ptr<QuovaTileOverlay>& overlay,
                                      const std::string& text) = 0;
    virtual std::optional<QuovaTileRect> tileRectForZoomLevel(int64_t zoomLevel) = 0;
    virtual int32_t axisTilesForZoomLevel(int32_t zoomLevel) = 0;
    virtual void setNeedsMapRedraw() = 0;
};

// What the overlay asks of its renderer: the zoom level it last drew and a
// redraw of everything. Any thread.
class QuovaTileOverlayRendering {
  public:
    virtual ~QuovaTileOverlayRendering() = default;
    virtual int64_t getLastRequestedZoomLevel() = 0;
    virtual void setNeedsDisplay() = 0;
    // The tile files of the overlay were cleared: images made from them are stale.
    virtual void tileCacheWasCleared() {}
};

// The map overlay of one raster tile source. It works out which tiles cover a
// map area at a zoom scale (from a lower zoom level, enlarged, where the
// retina shift applies), creates the source's TileCacheManager and reaches it
// afterwards only through the registry by its map key. Covers the whole world
// (origin 0, 0). tilesInMapRect may be called from any thread, several at a
// time; it does no input or output and takes no lock. Units: map points
// (the world is 2^28 wide), zoom scale = view points per map point.
class QuovaTileOverlay : public platform::MKOverlay,
                         public QuovaTileCacheManagerDelegate,
                         public std::enable_shared_from_this<QuovaTileOverlay> {
  public:
    // Most tiles one request may yield; a larger request is refused with a log line.
    static constexpr size_t kMaximumTilesPerRequest = 4096;

    static std::shared_ptr<QuovaTileOverlay> initOverlayForMap(
        const std::string& map, int64_t maxTileZ, const std::string& tempDirPrefix,
        const std::string& tileDownloadURLPattern, const std::vector<std::string>& tileDownloadPrefixes,
        int64_t retinaShiftFrom, int64_t retinaShiftLevel);

    // Zoom level of a zoom scale: round(log2 s) + 20, at least 0; a scale that
    // is not a finite positive number gives 0.
    static int64_t zoomLevelForZoomScale(double zoomScale);
    int32_t maxZoomLevel() const;
    // The tiles for a screen of the density the retina shift was made for:
    // from retinaShiftFrom on, tiles of a lower level enlarged.
    std::vector<std::shared_ptr<QuovaImageTile>> tilesInMapRect(const platform::MKMapRect& mapRect,
                                                                double zoomScale);
    // The tiles for a screen of `contentScale` device pixels per point. A
    // tile of the view's own level fills its cell pixel for pixel at 1. On a
    // dense screen (kFinerLevelDensity or more) that tile's pixel would cover
    // two device pixels or more and its text would look blocky: there each
    // cell is made of the 2 × 2 tiles of the next finer level (each tile's
    // frame a quarter of the cell), so a tile pixel covers about one device
    // pixel (at most 1.5 with the map's power-of-two cells), where the source
    // has that level. That is for sources of plain 256-pixel tiles, the ones
    // configured with the shift; a source without it serves tiles of twice
    // the pixels, already one to one on such a screen at the view's level.
    // At the source's last level the view's own tiles are drawn, beyond it
    // the retina shift enlarges a lower level. An infinite density stands
    // for the screen the shift was made for (the overload above): from
    // retinaShiftFrom on, lower tiles enlarged.
    std::vector<std::shared_ptr<QuovaImageTile>> tilesInMapRect(const platform::MKMapRect& mapRect,
                                                                double zoomScale, double contentScale);
    // Device pixels per point from which tiles of the finer level are drawn.
    static constexpr double kFinerLevelDensity = 1.5;
    // The zoom level of the tiles tilesInMapRect gives for a zoom scale and density.
    int64_t tileZoomLevel(double zoomScale, double contentScale) const;

    platform::MKMapRect boundingMapRect() const override { return platform::MKMapRectWorld; }
    bool canReplaceMapContent() const override { return replaceMapContent_.load(); }
    void setReplaceMapContent(bool replace) { replaceMapContent_ = replace; }

    int64_t maxTileZ() const { return maxTileZ_; }
    int64_t retinaShiftFrom() const { return retinaShiftFrom_; }
    int64_t retinaShiftLevel() const { return retinaShiftLevel_; }
    const std::string& map() const { return map_; }
    const std::string& tileDownloadURLPattern() const { return tileDownloadURLPattern_; }
    const std::vector<std::string>& tileDownloadPrefixes() const { return tileDownloadPrefixes_; }
    const std::string& tempDirPrefix() const { return tempDirPrefix_; }

    // Held weakly: the renderer owns its overlay.
    std::shared_ptr<QuovaTileOverlayRendering> renderer() const;
    void setRenderer(std::weak_ptr<QuovaTileOverlayRendering> renderer);
    std::shared_ptr<QuovaTileOverlayDelegate> delegate() const;
    void setDelegate(std::weak_ptr<QuovaTileOverlayDelegate> delegate);

    std::optional<std::string> statusString() const;
    // Whether the source's tiles fail to load (its manager gave tiles up and none loaded since).
    bool tilesCannotBeLoaded() const;
    void clearTileCache();
    void resetCacheManager();

    // As the manager's delegate.
    std::optional<QuovaTileRect> tileRectForZoomLevel(int64_t zoomLevel) override;
    int64_t currentZoomLevel() override;
    void setNeedsDisplay() override;

    // Forgets the process-wide time of the last zoom-out request (tests).
    static void resetZoomOutClockForTesting();

  private:
    QuovaTileOverlay() = default;
    // The axis tile counts of levels 1 to 24 (index = level; 0: not wrapped).
    struct AxisTable {
        int64_t tiles[25] = {};
    };
    const AxisTable* axisTable();
    void requestZoomOut(int64_t zoomLevel);

    int64_t maxTileZ_ = 0;
    int64_t retinaShiftFrom_ = 0;
    int64_t retinaShiftLevel_ = 0;
    std::string map_;
    std::string tileDownloadURLPattern_;
    std::vector<std::string> tileDownloadPrefixes_;
    std::string tempDirPrefix_;
    std::atomic<bool> replaceMapContent_{true};
    mutable std::mutex linksMutex_;
    std::weak_ptr<QuovaTileOverlayRendering> renderer_;
    std::weak_ptr<QuovaTileOverlayDelegate> delegate_;
};

}  // namespace tervolo::tiles
