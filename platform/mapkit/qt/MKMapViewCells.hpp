#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKOverlayRenderer.hpp"
#include "platform/mapkit/qt/MKBaseMap.hpp"

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
class CellCache {
  public:
    explicit CellCache(size_t byteLimit);

    struct Lookup {
        bool exists = false;
        bool ready = false;
        bool stale = false;
        bool inFlight = false;
        bool blank = false;  // the renderer could not draw it (canDrawMapRect said no)
        bool hasContent = false;
        QImage image;
    };

    // Called (from any thread) when a result arrived or cells were invalidated.
    void setRepaintCallback(std::function<void()> callback);
    void addLayer(uintptr_t layer);
    void dropLayer(uintptr_t layer);
    void clear();
    // `zoom` < 0: every zoom; a null rect: every cell of the layer.
    void invalidate(uintptr_t layer, const MKMapRect& rect, int zoom);

    // The frame holds the lock across its lookups and requests.
    std::unique_lock<std::mutex> lockForFrame() { return std::unique_lock(mutex_); }
    Lookup lookup(const CellKey& key, uint64_t frame);
    // Marks a cell as being drawn; false when it already is or its layer is gone.
    bool beginJob(const CellKey& key, uint64_t* generation);

    void finishJob(const CellKey& key, uint64_t generation, QImage image, bool blank);

    size_t cellCount() const;
    size_t byteCount() const;

  private:
    struct Cell {
        QImage image;
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
    void notifyRepaint();

    mutable std::mutex mutex_;
    std::unordered_map<CellKey, Cell, CellKeyHash> cells_;
    std::unordered_set<uintptr_t> liveLayers_;
    size_t bytes_ = 0;
    size_t byteLimit_;
    std::function<void()> repaint_;
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
