#pragma once

// The floor of a map view's frame for the map benchmarks: a bare QPainter drawing the very cell
// images and marker pictures one frame of the view drew, with nothing of the view's own work.
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include "platform/mapkit/qt/MKBaseMap.hpp"
#include "platform/mapkit/qt/MKMapView.hpp"

namespace tervolo::bench {

// The least of `runs` timings of `run`, seconds.
inline double bestOf(int runs, const std::function<double()>& run) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) best = std::min(best, run());
    return best;
}

// The middle of `values` (the mean of the two middle ones for an even count); 0 for none.
inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

class BareMapFrame {
  public:
    // Records what `drawFrame` (one whole frame of `map`) draws.
    BareMapFrame(platform::MKMapView& map, const std::function<void()>& drawFrame)
        : water_(platform::MKBaseMap::paletteForMapType(map.mapType()).water) {
        map.setRecordsDrawing(true);
        drawFrame();
        map.setRecordsDrawing(false);
        cells_ = map.drawnCells();
        pixmaps_ = map.drawnPixmaps();
    }

    const std::vector<platform::MKMapView::DrawnImage>& cells() const { return cells_; }
    const std::vector<platform::MKMapView::DrawnPixmap>& pixmaps() const { return pixmaps_; }

    // Draws the recorded frame into `target`; seconds taken.
    double drawSeconds(QImage& target) const {
        QPainter painter(&target);
        const auto start = std::chrono::steady_clock::now();
        painter.fillRect(target.rect(), water_);
        for (const auto& cell : cells_) painter.drawImage(cell.target, cell.image, cell.source);
        for (const auto& pin : pixmaps_) painter.drawPixmap(pin.topLeft, pin.pixmap);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

  private:
    QColor water_;
    std::vector<platform::MKMapView::DrawnImage> cells_;
    std::vector<platform::MKMapView::DrawnPixmap> pixmaps_;
};

}  // namespace tervolo::bench
