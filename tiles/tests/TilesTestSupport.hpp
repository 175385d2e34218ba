#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/foundation/OSLog.hpp"
#include "testsupport/TemporaryFolder.hpp"
#include "testsupport/VirtualClockScope.hpp"
#include "testsupport/logging/LogRecorder.hpp"
#include "tiles/QuovaTileRect.hpp"
#include "tiles/TileCacheManager.hpp"
#include "tiles/TileRedrawInfo.hpp"

namespace tervolo::tiles::testing {

// A renderer stand-in that records the redraws asked of it.
class RecordingRenderer : public TileRedrawTarget {
  public:
    struct Redraw {
        MapRect rect;
        double zoomScale;
    };
    void setNeedsDisplayInMapRect(const MapRect& rect, double zoomScale) override;
    void tileWasStored(const QuovaImageTile& tile) override;
    std::vector<Redraw> redraws();
    std::vector<std::string> storedTiles();

  private:
    std::mutex mutex_;
    std::vector<Redraw> redraws_;
    std::vector<std::string> stored_;
};

// An overlay stand-in: a fixed zoom level and tile rectangle in view.
class FixedViewDelegate : public QuovaTileCacheManagerDelegate {
  public:
    FixedViewDelegate(int64_t zoomLevel, QuovaTileRect rect) : zoomLevel_(zoomLevel), rect_(rect) {}
    std::optional<QuovaTileRect> tileRectForZoomLevel(int64_t) override { return rect_; }
    int64_t currentZoomLevel() override { return zoomLevel_; }
    void setNeedsDisplay() override { ++redrawsOfWholeOverlay; }
    std::atomic<int> redrawsOfWholeOverlay{0};

  private:
    int64_t zoomLevel_;
    QuovaTileRect rect_;
};

// A private documents folder, a virtual clock, captured system-log and
// framework lines, and a fresh manager registry for every test.
class TilesTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string documents() const { return folder_->dataHome() + "/TervoloNG"; }
    std::vector<std::string> systemLines() const { return systemLog_->texts(); }
    size_t countSystemLines(const std::string& text) const;
    bool hasSystemLineContaining(const std::string& part) const;
    // Sets a file's modification time to `secondsAgo` before the virtual wall time.
    void age(const std::string& path, double secondsAgo);
    static std::shared_ptr<QuovaImageTile> tile(uint64_t z, uint64_t x, uint64_t y,
                                                MapRect frame = {0, 0, 256, 256});

    std::unique_ptr<tervolo::testsupport::TemporaryFolder> folder_;
    std::unique_ptr<tervolo::testsupport::VirtualClockScope> time_;
    std::shared_ptr<platform::OSLogCapture> systemLog_;
    std::unique_ptr<tervolo::testsupport::SharedLogRecording> frameworkLog_;
};

}  // namespace tervolo::tiles::testing
