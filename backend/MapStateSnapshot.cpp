#include "backend/MapStateSnapshot.hpp"

#include <cmath>
#include <cstdint>
#include <mutex>

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
    // log2 of the world's width in map points (2^28) over a 256-point tile.
    constexpr double worldZoom = 20.0;
    const double ratio = boundsWidthPoints / visibleMapWidth;
    const float f = std::log2(static_cast<float>(ratio));
    const double sum = worldZoom + std::floor(static_cast<double>(f) + 0.5);
    if (std::isnan(sum) || sum < 0) return 0;
    if (sum >= 9223372036854775808.0) return 16;  // does not fit a signed 64-bit integer
    return static_cast<int64_t>(sum);
}

}  // namespace tervolo::backend
