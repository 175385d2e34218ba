#include "backend/MapStateSnapshot.hpp"

#include <mutex>

#include "platform/mapkit/TileZoomLevel.hpp"

namespace tervolo::backend {

namespace {
std::mutex snapshotMutex;
std::optional<MapStateSnapshot> published;
}  // namespace

std::optional<MapStateSnapshot> MapStateSnapshot::current() {
    std::lock_guard lock(snapshotMutex);
    return published;
}

void MapStateSnapshot::publish(std::optional<MapStateSnapshot> snapshot) {
    std::lock_guard lock(snapshotMutex);
    published = snapshot;
}

std::string mapTypeLetter(std::optional<int> mapStyleIndex) {
    static constexpr const char* letters[] = {"m", "k", "h", "s", "r", "t", "c", "d"};
    if (!mapStyleIndex || *mapStyleIndex < 0 || *mapStyleIndex >= 8) return "s";
    return letters[*mapStyleIndex];
}

int64_t shareZoomLevel(double boundsWidthPoints, double visibleMapWidth) {
    // The map screen's own zoom rule; the upload only adds 16 where that rule has no level.
    return platform::tileZoomLevel(boundsWidthPoints, visibleMapWidth).value_or(16);
}

}  // namespace tervolo::backend
