#pragma once

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/mapkit/MKGeometry.hpp"
#include "platform/mapkit/MKMapViewModel.hpp"

namespace platform {

// The world map the map view draws itself: Natural Earth land and country borders (public domain) at
// 1:110m, 1:50m and 1:10m from resources/basemap/world.tvbm (written by scripts/make-basemap.py).
// Each scale is inflated and prepared on first use, on whichever thread first asks; afterwards it is
// read-only and shared by the drawing threads. The land is cut into a grid of blocks so that a cell
// only touches the paths of the blocks it overlaps.
class MKBaseMap {
  public:
    enum class Detail { Coarse = 0, Medium = 1, Fine = 2 };  // 1:110m, 1:50m, 1:10m

    struct Palette {
        QColor water;
        QColor land;
        QColor coast;
        QColor border;  // invalid: no borders
    };
    static Palette paletteForMapType(MKMapType type);

    // The map of the installed resources; an empty map (water only) when the file is missing or bad.
    static const MKBaseMap& shared();
    // A map read from `path` (tests, tools).
    explicit MKBaseMap(QString path);
    ~MKBaseMap();

    // Which scale draws a zoom level: 1:110m up to level 2, 1:50m up to 5, 1:10m beyond.
    static Detail detailForZoomLevel(int zoomLevel);

    // Draws the map in `mapRect` (map points) into `painter`, whose transform maps map points to the
    // target pixels. Thread-safe.
    void draw(QPainter& painter, const MKMapRect& mapRect, Detail detail, const Palette& palette) const;
    // True when the scale's data loaded (false for a missing or damaged file).
    bool isAvailable(Detail detail) const;
    // Loads a scale now (benchmarks keep the one-off inflation out of their frames).
    void preload(Detail detail) const;
    // The memory a scale's prepared geometry holds; 0 while it is not loaded. Any thread.
    size_t geometryBytes(Detail detail) const { return geometryBytes_[static_cast<int>(detail)]; }

    struct Layer;  // internal

  private:
    const Layer* layer(Detail detail) const;
    QString path_;
    mutable std::array<std::once_flag, 3> once_;
    mutable std::array<std::unique_ptr<Layer>, 3> layers_;
    mutable std::array<std::atomic<size_t>, 3> geometryBytes_{};
};

}  // namespace platform
