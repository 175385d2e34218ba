#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tiles/QuovaImageTile.hpp"
#include "tiles/TileDownloadSession.hpp"

namespace tervolo::tiles {

class TileCacheManager;

// The cache manager's record of one tile download, from the moment its task
// is made until its reply is handled. Properties are safe to read and write
// from any thread; the manager changes `state` only under its record lock.
class ConnectionInfo {
  public:
    static constexpr uint64_t kWaiting = 1;
    static constexpr uint64_t kRunning = 2;

    std::shared_ptr<TileDownloadTask> connection() const;
    void setConnection(std::shared_ptr<TileDownloadTask> task);
    // Seconds since 1970 when the task was resumed; nothing until then.
    std::optional<double> startDate() const;
    void setStartDate(std::optional<double> seconds);
    // Seconds since 1970 when the download was asked for.
    double requestedAt() const;
    void setRequestedAt(double seconds);
    uint64_t state() const;
    void setState(uint64_t state);
    std::shared_ptr<TileCacheManager> delegate() const;
    void setDelegate(std::weak_ptr<TileCacheManager> manager);
    QuovaTilePath overlayPath() const;
    void setOverlayPath(QuovaTilePath path);

    std::string storagePath() const;
    // Whether the owning manager (still alive) finds the tile in view.
    bool isVisible() const;
    // The start order: the visible record first; otherwise the newer request
    // first (-1: this one first, 1: the other one first, 0: equal).
    int compare(const ConnectionInfo& other) const;

    // Identifies the request whose reply may remove this record.
    uint64_t requestIdentifier = 0;

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<TileDownloadTask> connection_;
    std::optional<double> startDate_;
    double requestedAt_ = 0;
    uint64_t state_ = kWaiting;
    std::weak_ptr<TileCacheManager> delegate_;
    QuovaTilePath overlayPath_;
};

// The start order of two records whose visibility is already known.
int compareDownloadOrder(bool aVisible, double aRequestedAt, bool bVisible, double bRequestedAt);

// "running" for 2, "waiting" for 1, "INVALID" otherwise.
const char* stateStringForState(uint64_t state);

}  // namespace tervolo::tiles
