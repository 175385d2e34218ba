#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/NotificationCenter.hpp"
#include "tiles/ConnectionInfo.hpp"
#include "tiles/MapRect.hpp"
#include "tiles/QuovaImageTile.hpp"
#include "tiles/QuovaTileRect.hpp"
#include "tiles/TileDiskCache.hpp"
#include "tiles/TileDownloadSession.hpp"
#include "tiles/TileRedrawInfo.hpp"
#include "tiles/UDPTilePreloader.hpp"

namespace tervolo::tiles {

// What a cache manager asks of its tile overlay. Asked from the URL sessions'
// queues and the drawing threads: answers must not wait for the main thread.
class QuovaTileCacheManagerDelegate {
  public:
    virtual ~QuovaTileCacheManagerDelegate() = default;
    // The tile indices in view at a zoom level; empty when unknown.
    virtual std::optional<QuovaTileRect> tileRectForZoomLevel(int64_t zoomLevel) = 0;
    // The zoom level the renderer last drew.
    virtual int64_t currentZoomLevel() = 0;
    // A redraw of the whole overlay (main queue).
    virtual void setNeedsDisplay() = 0;
};

// The download engine and disk cache of one tile source, found through a
// process-wide registry by map key (a newer manager for a key replaces the
// older one, which lives on until its downloads are answered).
//
// Downloads run through one URL session per host prefix (10 s request
// time-out, 60 s per transfer, 8 connections per host). At most
// concurrentDLs() run at once; the limit adapts to download times between 6
// and 8 per host prefix (at most 48). A tile has at most one download record.
// A failed attempt (an HTTP error, a body that is no image, a reset or
// time-out, a body cut short or over the size cap, a refused connection) is
// followed by another after 1 s (longer when the server asks with
// Retry-After, up to a minute); when that fails too the tile is given up for
// a cool-down of a minute, doubling with every further failure up to
// fifteen. No tile is asked more than 3 times in any minute, whatever
// happens; the first failures use two of them, so the third is left for the
// moment the server looks back: once another tile loads, and when the
// window is restored, exposed or activated, every given-up tile in view is
// asked again at once (as soon as the bound allows). When a cool-down ends, a
// tile in view is asked once more (one out of view when the map next draws
// it). An ask the bound holds back is kept and made when the bound allows,
// never dropped. 400, 401, 403, 404 and 410 are given up until the next
// reset (the foreground notification, after which the failed tiles in view
// are asked again within the bound). While tiles in view are given up for
// failing (and until they load, a reset notwithstanding), the source says
// that tiles cannot be loaded. A tile whose fresh file is on disk is never
// downloaded again. A reply is always filed under the tile that asked for
// it, never under its final URL.
//
// Tiles whose download arrives are redrawn in groups: at most one flush of
// the redraw queues per second across all sources, and a trailing flush one
// second after a skipped one. Diagnostics are plain system-log lines.
//
// Every operation may be called from any thread unless it says otherwise.
class TileCacheManager : public std::enable_shared_from_this<TileCacheManager> {
  public:
    static constexpr int32_t minRunningTileConnections = 6;
    // No tile is asked more than this many times within kAttemptWindowSeconds.
    static constexpr int kMaximumAttempts = 3;
    // Failed requests in a row before a tile rests: one fewer than the bound,
    // so a tile given up can be asked again at once when the server is back.
    static constexpr int kAttemptsBeforeRest = 2;
    // Longest wait a server's Retry-After may ask for before a tile's next attempt (seconds).
    static constexpr double kMaximumRetryAfterSeconds = 60.0;
    // Tiles of failed stores kept in memory so that a full disk does not make
    // the map download them again and again.
    static constexpr size_t kUnstoredTileCapacity = 64;
    // A tile given up after failing rests this long before it is asked again,
    // doubling with each further failure up to the maximum (seconds).
    static constexpr double kFirstCoolDownSeconds = 60.0;
    static constexpr double kMaximumCoolDownSeconds = 900.0;
    // No tile is asked more than kMaximumAttempts times within this span (seconds).
    static constexpr double kAttemptWindowSeconds = 60.0;
    static constexpr const char* kForegroundNotification = "UIApplicationWillEnterForegroundNotification";
    // The application's window became active again: given-up tiles in view are asked at once.
    static constexpr const char* kActiveNotification = "NSApplicationDidBecomeActiveNotification";

    // The manager registered under the key, or nothing.
    static std::shared_ptr<TileCacheManager> sharedInstanceForMap(const std::string& map);
    // Builds a manager and registers it under `map`, replacing an earlier one.
    // A cache folder name that is not one plain name is refused (nothing).
    static std::shared_ptr<TileCacheManager> initWithMap(
        const std::string& map, std::string tileDownloadURLPattern,
        std::vector<std::string> tileDownloadPrefixes, std::string tempDirPrefix,
        std::weak_ptr<QuovaTileCacheManagerDelegate> delegate);

    // Where sessions come from (tests: a loopback resolver or a fake);
    // nothing restores the URL sessions. Applies to managers made afterwards.
    static void setSessionFactory(TileSessionFactory factory);
    // The documents folder of managers made afterwards (empty: the application's).
    static void setDocumentsFolderForTesting(std::string folder);
    // Forgets every manager, the shared unthrottle stepper and the last redraw time.
    static void resetForTesting();

    ~TileCacheManager();
    TileCacheManager(const TileCacheManager&) = delete;
    TileCacheManager& operator=(const TileCacheManager&) = delete;

    const std::string& map() const { return map_; }
    const std::string& tileDownloadURLPattern() const { return pattern_; }
    const std::vector<std::string>& tileDownloadPrefixes() const { return prefixes_; }
    const std::string& tempDirPrefix() const { return cache_.tempDirPrefix(); }
    std::shared_ptr<QuovaTileCacheManagerDelegate> delegate() const { return delegate_.lock(); }
    UDPTilePreloader& udpPreloader() { return *preloader_; }

    // Disk cache.
    std::string tempDir() const { return cache_.tempDir(); }
    std::string oldTempDir() const { return cache_.oldTempDir(); }
    // 0 missing, 1 cached and fresh, 2 missing and waiting, 3 missing and
    // running, 4 cached but outdated. A file wins over a record.
    uint64_t tileStateForTile(const QuovaImageTile& tile);
    std::optional<std::vector<uint8_t>> tileDataForStoragePath(const std::string& storagePath,
                                                               bool acceptOutdated);
    bool storeTile(std::span<const uint8_t> bytes, const std::string& storagePath);
    void excludePathFromBackup(const std::string& path) const { cache_.excludePathFromBackup(path); }
    void clearCacheDirs();
    // A cached file that does not decode is deleted, so the tile downloads again.
    void discardUndecodableTile(const std::string& storagePath);
    // Tiles held in memory because the disk refused them: how many, and their bytes.
    size_t unstoredTileCount() const;
    size_t unstoredTileBytes() const;
    static std::optional<std::string> storagePathWithURLString(std::string_view url) {
        return tiles::storagePathWithURLString(url);
    }

    // Downloads.
    void downloadTileAsync(std::shared_ptr<QuovaImageTile> tile, std::shared_ptr<TileRedrawTarget> renderer,
                           MapRect mapRect, double zoomScale);
    void handleDownloadResponse(const TileDownloadReply& reply, uint64_t requestIdentifier,
                                const std::shared_ptr<QuovaImageTile>& tile,
                                const std::shared_ptr<TileRedrawTarget>& renderer, MapRect mapRect,
                                double zoomScale);
    void startWaitingConnections();
    void throttle();
    void unthrottle();
    void resetThrottling();
    void reset();
    void notificationReceived(const platform::NotificationCenter::Notification& notification);

    int32_t concurrentDLs() const { return concurrentDLs_.load(); }
    int32_t maxRunningTileConnections() const;
    size_t connectionCount();
    size_t connectionCountForState(uint64_t state);
    std::shared_ptr<ConnectionInfo> connectionInfoForStoragePath(const std::string& storagePath);
    std::shared_ptr<ConnectionInfo> waitingConnectionInfoForStoragePath(const std::string& storagePath);
    std::shared_ptr<ConnectionInfo> runningConnectionInfoForStoragePath(const std::string& storagePath);
    bool hasRunningConnectionForStoragePath(const std::string& storagePath);
    void removeConnectionInfo(const std::shared_ptr<ConnectionInfo>& record);
    // Removes the record of a storage path; whether there was one.
    bool removeConnectionFromDownloadQueueForStoragePath(const std::string& storagePath);
    // The zoom level before the first "-"; the largest int64 for a path without one.
    static int64_t zoomLevelFromStoragePath(const std::optional<std::string>& storagePath);
    // The URL with every "://<prefix>." of the source's prefixes put back to "://".
    std::string removeDownloadPrefixFromURLString(const std::string& url) const;
    bool isTileVisible(const QuovaTilePath& path);
    size_t tileDownloadPrefixCount() const { return prefixes_.size(); }
    std::optional<std::string> randomPrefixForURLString() const;
    static std::string addPrefix(const std::optional<std::string>& prefix, const std::string& url);

    // Redraw queue and status (redraw calls on the main queue where marked).
    void enqueueTile(std::shared_ptr<QuovaImageTile> tile, std::shared_ptr<TileRedrawTarget> renderer,
                     double zoomScale);
    void removeTileFromRedrawQueue(const QuovaImageTile& tile);
    void redrawAllDirtyTiles();
    // Main queue.
    void maybeRedrawTile(std::shared_ptr<QuovaImageTile> tile, std::shared_ptr<TileRedrawTarget> renderer,
                         double zoomScale);
    std::vector<TileRedrawInfo> dirtyTiles();
    void updateStatusString();
    void updateStatusStringWithRunningCount(uint64_t running, uint64_t waiting);
    static std::optional<std::string> statusText(uint64_t running, uint64_t waiting);
    std::optional<std::string> statusString() const;
    // Tiles in view are given up for failing (the server is down or
    // unreachable, as far as this source can tell): false again once they
    // load or leave the view.
    bool tilesCannotBeLoaded();
    // Asks every given-up tile in view again as soon as the attempt bound
    // allows (what the active notification, a loaded tile and the window
    // coming back do).
    void askGivenUpTilesAgain();

  private:
    // What a download was asked with; every retry asks the same.
    struct DownloadRequest {
        std::shared_ptr<QuovaImageTile> tile;
        std::shared_ptr<TileRedrawTarget> renderer;
        MapRect mapRect;
        double zoomScale = 0;
    };
    enum class DownloadOutcome {
        skippedWaiting,
        skippedRunning,
        skippedCached,
        backingOff,
        deferred,
        givenUp,
        noTask,
        queued,
        started,
        notResumed
    };
    struct RetryState {
        int attempts = 0;  // kAttemptsBeforeRest: given up, for a cool-down or (final) until the next reset
        double notBefore = 0;  // monotonic seconds: the end of the back-off, cool-down or deferral
        bool final = false;    // the server said that asking again cannot help
        // Given up for failing and not loaded since (a reset keeps it): the
        // source says tiles cannot be loaded while such a tile is in view.
        bool failing = false;
        bool deferred = false;                   // an ask the bound held back waits for notBefore
        int coolDowns = 0;                       // cool-downs begun since the tile last loaded
        uint64_t coolDownSerial = 0;             // the latest scheduled end of a cool-down
        std::optional<DownloadRequest> request;  // what a given-up tile is asked again with
        // Monotonic seconds of the latest requests, oldest first (a failure's
        // time stands for its request's when that is not known: never earlier).
        double asked[kMaximumAttempts] = {};
        int askedCount = 0;

        void noteAsked(double at);
        // The earliest time the attempt bound allows another request.
        double nextAllowed() const;
    };
    struct CoolDown {
        std::string storagePath;
        uint64_t serial = 0;
        double seconds = 0;
    };

    TileCacheManager(std::string map, std::string pattern, std::vector<std::string> prefixes,
                     TileDiskCache cache, std::weak_ptr<QuovaTileCacheManagerDelegate> delegate);
    void setUp(const TileSessionFactory& factory);
    void download(const DownloadRequest& request);
    // Under the record lock: the duplicate test, the record's insertion and, with a free slot, its start.
    DownloadOutcome insertRecordLocked(const DownloadRequest& request, TileDownloadSession& session,
                                       const std::string& downloadURL, std::optional<CoolDown>& deferral);
    void handleErrorReply(const platform::Error& error, const std::string& url,
                          const DownloadRequest& request, const std::shared_ptr<ConnectionInfo>& record);
    void handleHTTPReply(const TileDownloadReply& reply, const std::string& url,
                         const DownloadRequest& request, const std::shared_ptr<ConnectionInfo>& record);
    // Schedules another attempt (after at least `minimumDelay` seconds) or gives up; under no lock.
    void retryLater(const DownloadRequest& request, double minimumDelay);
    // The attempt retryLater scheduled: made once the failed download's record is gone.
    void attemptAgain(const DownloadRequest& request, uint64_t generation,
                      const std::weak_ptr<ConnectionInfo>& failed);
    void giveUp(const std::string& storagePath);
    // Under the record lock: gives the tile its next cool-down.
    CoolDown beginCoolDownLocked(const std::string& storagePath, RetryState& retry,
                                 const DownloadRequest& request, double now);
    void scheduleCoolDownEnd(const CoolDown& coolDown, uint64_t generation);
    // Under the record lock: an ask the attempt bound holds back waits for it.
    CoolDown deferLocked(const std::string& storagePath, RetryState& retry, const DownloadRequest& request,
                         double now);
    // Main queue: a cool-down ended; the tile is asked again when in view.
    void coolDownEnded(const std::string& storagePath, uint64_t serial, uint64_t generation);
    void finishReply();
    void setStateLocked(ConnectionInfo& record, uint64_t state);
    std::shared_ptr<ConnectionInfo> lookupLocked(const std::string& storagePath, uint64_t state);
    void rememberUnstoredTile(const std::string& storagePath, std::span<const uint8_t> bytes);
    std::optional<std::vector<uint8_t>> unstoredTile(const std::string& storagePath);
    void forgetUnstoredTiles();
    void cancelWaitingDownloads();
    void trailingFlush();

    const std::string map_;
    const std::string pattern_;
    const std::vector<std::string> prefixes_;
    const TileDiskCache cache_;
    const std::weak_ptr<QuovaTileCacheManagerDelegate> delegate_;
    std::unique_ptr<UDPTilePreloader> preloader_;
    std::map<std::string, std::shared_ptr<TileDownloadSession>> downloadSessions_;
    std::unique_ptr<platform::NotificationCenter::Token> foregroundObservation_;
    std::unique_ptr<platform::NotificationCenter::Token> activeObservation_;
    // Tiles were given up for failing and none has loaded since.
    std::atomic<bool> tilesFailing_{false};

    std::atomic<int32_t> concurrentDLs_{minRunningTileConnections};

    std::mutex connectionInfoMutex_;
    std::unordered_map<std::string, std::shared_ptr<ConnectionInfo>> connectionInfoStore_;
    uint64_t waitingCount_ = 0;
    uint64_t runningCount_ = 0;
    uint64_t nextRequestIdentifier_ = 1;
    std::unordered_map<std::string, RetryState> retries_;
    uint64_t resetGeneration_ =
        0;  // counts resets and replacements; retries scheduled before one are dropped

    std::mutex dirtyTilesMutex_;
    std::vector<TileRedrawInfo> dirtyTiles_;
    bool trailingFlushPending_ = false;  // main queue only

    mutable std::mutex statusMutex_;
    std::optional<std::string> statusString_;

    mutable std::mutex unstoredMutex_;
    std::list<std::pair<std::string, std::vector<uint8_t>>> unstoredTiles_;  // most recent first
};

}  // namespace tervolo::tiles
