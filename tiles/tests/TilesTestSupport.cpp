#include "tiles/tests/TilesTestSupport.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/dispatch/RunLoop.hpp"
#include "platform/foundation/Bundle.hpp"
#include "tiles/QuovaNetworkActivityManager.hpp"

namespace tervolo::tiles::testing {

void RecordingRenderer::setNeedsDisplayInMapRect(const MapRect& rect, double zoomScale) {
    std::lock_guard lock(mutex_);
    redraws_.push_back({rect, zoomScale});
}

void RecordingRenderer::tileWasStored(const QuovaImageTile& tile) {
    std::lock_guard lock(mutex_);
    stored_.push_back(tile.storagePath());
}

std::vector<RecordingRenderer::Redraw> RecordingRenderer::redraws() {
    std::lock_guard lock(mutex_);
    return redraws_;
}

std::vector<std::string> RecordingRenderer::storedTiles() {
    std::lock_guard lock(mutex_);
    return stored_;
}

void TilesTest::SetUp() {
    folder_ = std::make_unique<tervolo::testsupport::TemporaryFolder>();
    time_ = std::make_unique<tervolo::testsupport::VirtualClockScope>();
    platform::Bundle::main().setInfoDictionaryForTesting(
        platform::PropertyValue::Dictionary{{"CFBundleName", "TervoloNG"}});
    systemLog_ = platform::OSLogCapture::install();
    frameworkLog_ = std::make_unique<tervolo::testsupport::SharedLogRecording>();
    TileCacheManager::resetForTesting();
    TileDiskCache::resetStoreFailureLogForTesting();
}

void TilesTest::TearDown() {
    TileCacheManager::resetForTesting();
    TileCacheManager::setSessionFactory(nullptr);
    platform::RunLoop::runUntilIdle();
    frameworkLog_.reset();
    systemLog_->uninstall();
    platform::Bundle::main().setInfoDictionaryForTesting(std::nullopt);
    time_.reset();
    folder_.reset();
}

size_t TilesTest::countSystemLines(const std::string& text) const {
    auto lines = systemLines();
    return size_t(std::count(lines.begin(), lines.end(), text));
}

bool TilesTest::hasSystemLineContaining(const std::string& part) const {
    for (const auto& line : systemLines()) {
        if (line.find(part) != std::string::npos) return true;
    }
    return false;
}

void TilesTest::age(const std::string& path, double secondsAgo) {
    const double when = time_->clock().wallSeconds() - secondsAgo;
    struct timespec times[2];
    times[0].tv_sec = time_t(when);
    times[0].tv_nsec = long((when - double(time_t(when))) * 1e9);
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::shared_ptr<QuovaImageTile> TilesTest::tile(uint64_t z, uint64_t x, uint64_t y, MapRect frame) {
    return std::make_shared<QuovaImageTile>(frame, x, y, z, QXTileQuadrant::QXTileQuadrantWholeTile, 0, 0);
}

}  // namespace tervolo::tiles::testing
