#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include <QImage>

#include "platform/mapkit/MKGraphicsContext.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "tiles/QuovaTileOverlay.hpp"
#include "tiles/TileRedrawInfo.hpp"

namespace tervolo::tiles {

// One entry of the zoomed-tile cache: the decoded lower-level tile whose
// cells are drawn enlarged (in the form the painter draws), and when it was
// made (whole seconds since 1970).
struct ZoomedTileInfo {
    QImage tileImage;
    uint64_t timestamp = 0;
    uint64_t lastUse = 0;  // order of the latest use, for eviction
};

// Draws one tile overlay into the map: for each tile the overlay lists for a
// cell it asks the overlay's TileCacheManager for the tile's state, draws
// what the disk cache holds (north up, into the cell's 256-point box), posts
// downloads of missing and outdated tiles to the main queue (one per tile
// until it has run) and queues tiles it could not draw for a redraw. Tiles of
// a lower level (the retina shift) are drawn one cell at a time straight from
// the decoded lower tile, which is kept in a small cache: entries older than
// 5 s go once it holds more than 100, and it never holds more than
// kZoomedCacheCapacity entries or kZoomedCacheBytes (least recently used
// first). A tile stored anew or a cleared cache drops what was made from the
// old bytes. A cached file that does not decode (within the decode limits)
// is deleted so the tile downloads again.
//
// canDrawMapRect and drawMapRect run on the map's drawing threads, several at
// a time; everything else may be called from any thread.
class TileOverlayRenderer : public platform::MKOverlayRenderer,
                            public TileRedrawTarget,
                            public QuovaTileOverlayRendering,
                            public std::enable_shared_from_this<TileOverlayRenderer> {
  public:
    static constexpr size_t kZoomedCachePurgeCount = 100;
    static constexpr double kZoomedCachePurgeAge = 5.0;
    static constexpr size_t kZoomedCacheCapacity = 128;
    static constexpr size_t kZoomedCacheBytes = 64 * 1024 * 1024;
    static constexpr double kTileBox = 256.0;

    explicit TileOverlayRenderer(std::shared_ptr<QuovaTileOverlay> overlay);
    // Made, given the overlay's map key and linked from the overlay, as the map screen does.
    static std::shared_ptr<TileOverlayRenderer> makeForOverlay(
        const std::shared_ptr<QuovaTileOverlay>& overlay);

    const std::shared_ptr<QuovaTileOverlay>& tileOverlay() const { return tileOverlay_; }
    std::string map() const;
    void setMap(std::string map);

    bool canDrawMapRect(const platform::MKMapRect& mapRect, platform::MKZoomScale zoomScale) override;
    void drawMapRect(const platform::MKMapRect& mapRect, platform::MKZoomScale zoomScale,
                     platform::MKGraphicsContext& context) override;

    int64_t getLastRequestedZoomLevel() override;
    void storeLastRequestedZoomLevel(int64_t zoomLevel);
    // The user default "shouldShowTileDebugInfo" holds a number other than 0.
    static bool showsTileDebugInfo();
    void stitchInfoForTile(const QuovaImageTile& tile, platform::MKGraphicsContext& context);

    // Redraws asked by the overlay and the cache manager.
    void setNeedsDisplay() override;
    void setNeedsDisplayInMapRect(const MapRect& mapRect, double zoomScale) override;
    void tileWasStored(const QuovaImageTile& tile) override;
    void tileCacheWasCleared() override;
    // The map's window came back: tiles given up in view are asked again (within the bound).
    void mapWindowDidComeBack() override;

    // "<z>-<x>-<y>-<shift>" of the stored (lower) tile.
    std::string zoomedTileKey(const QuovaImageTile& tile) const;
    size_t zoomedTileCount() const;
    size_t zoomedTileBytes() const;
    bool hasZoomedTile(const std::string& key) const;

  private:
    void postDownload(const std::shared_ptr<TileCacheManager>& manager,
                      const std::shared_ptr<QuovaImageTile>& tile, const MapRect& mapRect, double zoomScale,
                      bool frameWhenRun);
    void discardAndDownload(const std::shared_ptr<TileCacheManager>& manager,
                            const std::shared_ptr<QuovaImageTile>& tile, double zoomScale);
    QImage zoomedTile(const QuovaImageTile& tile, const std::vector<uint8_t>& data, bool& undecodable);
    void drawInTileBox(const QuovaImageTile& tile, const QImage& image, double zoomScale,
                       platform::MKGraphicsContext& context);
    void drawCell(const QuovaImageTile& tile, const QImage& lower, double zoomScale,
                  platform::MKGraphicsContext& context);

    const std::shared_ptr<QuovaTileOverlay> tileOverlay_;
    mutable std::mutex mapMutex_;
    std::string map_;

    mutable std::mutex zoomedTileCacheMutex_;
    std::unordered_map<std::string, ZoomedTileInfo> zoomedTileCache_;
    size_t zoomedBytes_ = 0;
    uint64_t useCounter_ = 0;

    std::mutex zoomLevelMutex_;
    int64_t lastRequestedZoomLevel_ = 0;

    std::mutex postedMutex_;
    std::set<std::string> postedDownloads_;  // storage paths whose posted download has not run yet
};

}  // namespace tervolo::tiles
