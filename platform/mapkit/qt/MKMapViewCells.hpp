#pragma once

#include <QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/mapkit/qt/MKBaseMap.hpp"

class QThreadPool;

namespace platform {

// One cell of one layer: world-aligned, `zoom` fixing its size (the world is 2^zoom cells across).
struct CellKey {
    uintptr_t layer = 0;  // a renderer's address, or a small number for the base map's palettes
    int zoom = 0;
    int64_t x = 0;
    int64_t y = 0;
    bool operator==(const CellKey&) const = default;
    MKMapRect mapRect() const;
};

struct CellKeyHash {
    size_t operator()(const CellKey& key) const;
};

// Drawn cells of every layer, shared between the main thread (lookups, requests) and the drawing
// threads (results). Bounded by bytes; the least recently shown cells go first. Invalidation keeps a
// cell's old image on screen (marked stale) until its new one arrives.
//
// All map views of the process share one cache (shared()) and one pool of drawing threads
// (drawingPool()), so they share one memory budget: a second, small map (a details screen's) adds its
// cells to the same bound instead of a budget of its own, and views that show the same base map share
// its cells.
class CellCache {
  public:
    explicit CellCache(size_t byteLimit);

    // The one cache of the process, bounded by sharedByteLimit(); never destroyed.
    static constexpr size_t kSharedByteLimit = 192u * 1024 * 1024;  // the most it is ever given
    static constexpr size_t kMinimumSharedByteLimit = 32u * 1024 * 1024;
    // Four screens of cells of the largest screen (at its pixel ratio) when that fits between the
    // minimum and kSharedByteLimit: a full view of each of three layers at the level shown, with the
    // cells a view partly shows, and room for the next level's first cells while a zoom settles.
    // (Six screens, room for two whole levels, held a third of the program's resident size after
    // ordinary use.) Without screens (no GUI yet), the minimum.
    static size_t sharedByteLimit();
    static CellCache& shared();
    // The drawing threads of every map view (2 to 4 threads); never destroyed.
    static QThreadPool& drawingPool();

    struct Lookup {
        bool exists = false;
        bool ready = false;
        bool stale = false;
        bool inFlight = false;
        bool blank = false;  // the renderer could not draw it (canDrawMapRect said no)
        bool hasContent = false;
        // Only the inked part of a mostly empty cell is kept (a small circle's cell is nearly all
        // transparent): `image` holds the pixels of `ink`, a rect in the whole cell's pixels of size
        // `full`.
        QImage image;
        QRect ink;
        QSize full;
    };

    // Listeners are called (from any thread) when a result arrived or cells were invalidated, with
    // the map rect whose drawing changed (a null rect: anywhere); they must not call back into the
    // cache. Once removeRepaintListener returns, its listener is not running and is never called
    // again.
    using ListenerId = uint64_t;
    ListenerId addRepaintListener(std::function<void(const MKMapRect&)> listener);
    void removeRepaintListener(ListenerId id);
    void addLayer(uintptr_t layer);
    void dropLayer(uintptr_t layer);
    void clear();
    // `zoom` < 0: every zoom; a null rect: every cell of the layer.
    void invalidate(uintptr_t layer, const MKMapRect& rect, int zoom);

    // The frame holds the lock across its lookups and requests.
    std::unique_lock<std::mutex> lockForFrame() { return std::unique_lock(mutex_); }
    // Marks the cell as used now (the least recently used go first when the cache is over its bound).
    Lookup lookup(const CellKey& key);
    // Marks a cell as being drawn; false when it already is or its layer is gone.
    bool beginJob(const CellKey& key, uint64_t* generation);

    void finishJob(const CellKey& key, uint64_t generation, QImage image, bool blank);

    size_t cellCount() const;
    size_t byteCount() const;
    size_t byteLimit() const { return byteLimit_; }

  private:
    struct Cell {
        QImage image;
        QRect ink;
        QRect inkDrawn;  // where the image has ink, in the whole cell's pixels
        QSize full;
        size_t bytes = 0;
        uint64_t generation = 0;
        uint64_t lastUsed = 0;
        bool ready = false;
        bool stale = false;
        bool inFlight = false;
        bool blank = false;
        bool hasContent = false;
    };
    void evictIfNeeded();
    // Whether a cell of another level that a frame could show in the place of `key` is drawn.
    bool standInExists(const CellKey& key) const;
    void notifyRepaint(const MKMapRect& rect);

    mutable std::mutex mutex_;
    std::unordered_map<CellKey, Cell, CellKeyHash> cells_;
    std::unordered_set<uintptr_t> liveLayers_;
    size_t bytes_ = 0;
    size_t byteLimit_;
    uint64_t uses_ = 0;  // the order of lookups, for least-recently-used eviction

    std::mutex listenersMutex_;  // held while listeners run
    std::vector<std::pair<ListenerId, std::function<void(const MKMapRect&)>>> listeners_;
    ListenerId nextListener_ = 1;
};

// What a drawing thread needs for one cell: the base map with a palette, or a renderer.
struct CellJob {
    CellKey key;
    uint64_t generation = 0;
    double devicePixelRatio = 1;
    const MKBaseMap* baseMap = nullptr;
    MKBaseMap::Palette palette;
    std::shared_ptr<MKOverlayRenderer> renderer;
};

// Draws a cell (on a drawing thread). Renderers are asked canDrawMapRect by the caller first.
QImage renderCell(const CellJob& job);

}  // namespace platform
