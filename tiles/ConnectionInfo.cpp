#include "tiles/ConnectionInfo.hpp"

#include "tiles/TileCacheManager.hpp"

namespace tervolo::tiles {

std::shared_ptr<TileDownloadTask> ConnectionInfo::connection() const {
    std::lock_guard lock(mutex_);
    return connection_;
}
void ConnectionInfo::setConnection(std::shared_ptr<TileDownloadTask> task) {
    std::lock_guard lock(mutex_);
    connection_ = std::move(task);
}
std::optional<double> ConnectionInfo::startDate() const {
    std::lock_guard lock(mutex_);
    return startDate_;
}
void ConnectionInfo::setStartDate(std::optional<double> seconds) {
    std::lock_guard lock(mutex_);
    startDate_ = seconds;
}
double ConnectionInfo::requestedAt() const {
    std::lock_guard lock(mutex_);
    return requestedAt_;
}
void ConnectionInfo::setRequestedAt(double seconds) {
    std::lock_guard lock(mutex_);
    requestedAt_ = seconds;
}
uint64_t ConnectionInfo::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}
void ConnectionInfo::setState(uint64_t state) {
    std::lock_guard lock(mutex_);
    state_ = state;
}
std::shared_ptr<TileCacheManager> ConnectionInfo::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}
void ConnectionInfo::setDelegate(std::weak_ptr<TileCacheManager> manager) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(manager);
}
QuovaTilePath ConnectionInfo::overlayPath() const {
    std::lock_guard lock(mutex_);
    return overlayPath_;
}
void ConnectionInfo::setOverlayPath(QuovaTilePath path) {
    std::lock_guard lock(mutex_);
    overlayPath_ = path;
}

std::string ConnectionInfo::storagePath() const {
    auto path = overlayPath();
    return tileStoragePath(uint64_t(path.z), uint64_t(path.x), uint64_t(path.y));
}

bool ConnectionInfo::isVisible() const {
    auto manager = delegate();
    return manager && manager->isTileVisible(overlayPath());
}

int compareDownloadOrder(bool aVisible, double aRequestedAt, bool bVisible, double bRequestedAt) {
    if (aVisible != bVisible) return aVisible ? -1 : 1;
    if (aRequestedAt > bRequestedAt) return -1;
    if (aRequestedAt < bRequestedAt) return 1;
    return 0;
}

int ConnectionInfo::compare(const ConnectionInfo& other) const {
    return compareDownloadOrder(isVisible(), requestedAt(), other.isVisible(), other.requestedAt());
}

const char* stateStringForState(uint64_t state) {
    if (state == ConnectionInfo::kRunning) return "running";
    if (state == ConnectionInfo::kWaiting) return "waiting";
    return "INVALID";
}

}  // namespace tervolo::tiles
