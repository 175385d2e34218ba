#include "tiles/TileCacheManager.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/text/Random.hpp"
#include "tiles/TileLog.hpp"

namespace tervolo::tiles {

void resetRedrawClock();  // TileCacheManagerRedraw.cpp

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<TileCacheManager>> managers;
    TileSessionFactory sessionFactory;
    std::string documentsFolder;
};

Registry& registry() {
    return platform::SharedInstance<Registry>::get();
}

// Shared by every manager: every third fast download, counted across all
// sources, raises one limit by one.
std::atomic<int32_t> gUnthrottleStepper{3};

}  // namespace

std::shared_ptr<TileCacheManager> TileCacheManager::sharedInstanceForMap(const std::string& map) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.managers.find(map);
    return it == r.managers.end() ? nullptr : it->second;
}

void TileCacheManager::setSessionFactory(TileSessionFactory factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.sessionFactory = std::move(factory);
}

void TileCacheManager::setDocumentsFolderForTesting(std::string folder) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.documentsFolder = std::move(folder);
}

void TileCacheManager::resetForTesting() {
    std::map<std::string, std::shared_ptr<TileCacheManager>> managers;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        managers.swap(r.managers);
    }
    for (auto& [key, manager] : managers) manager->reset();
    gUnthrottleStepper = 3;
    resetRedrawClock();
}

TileCacheManager::TileCacheManager(std::string map, std::string pattern, std::vector<std::string> prefixes,
                                   TileDiskCache cache, std::weak_ptr<QuovaTileCacheManagerDelegate> delegate)
    : map_(std::move(map)),
      pattern_(std::move(pattern)),
      prefixes_(std::move(prefixes)),
      cache_(std::move(cache)),
      delegate_(std::move(delegate)) {}

std::shared_ptr<TileCacheManager> TileCacheManager::initWithMap(
    const std::string& map, std::string tileDownloadURLPattern, std::vector<std::string> tileDownloadPrefixes,
    std::string tempDirPrefix, std::weak_ptr<QuovaTileCacheManagerDelegate> delegate) {
    if (!TileDiskCache::isValidFolderName(tempDirPrefix)) {
        tileLog("TilecacheManager: refusing cache folder name {}", tempDirPrefix);
        return nullptr;
    }
    auto& r = registry();
    std::shared_ptr<TileCacheManager> replaced;
    std::shared_ptr<TileCacheManager> manager;
    {
        // Held to the end of the set-up, so two managers for one key cannot interleave.
        std::lock_guard lock(r.mutex);
        manager = std::shared_ptr<TileCacheManager>(new TileCacheManager(
            map, std::move(tileDownloadURLPattern), std::move(tileDownloadPrefixes),
            TileDiskCache(std::move(tempDirPrefix), r.documentsFolder), std::move(delegate)));
        manager->setUp(r.sessionFactory);
        auto& slot = r.managers[map];
        replaced = std::move(slot);
        slot = manager;
    }
    // The replaced manager lives on while its running downloads hold it; its
    // waiting ones would never start for anybody, so they end now.
    if (replaced) replaced->cancelWaitingDownloads();
    // Stores cut short by a kill leave their temporary files for ever: they
    // are swept once whenever a source's folder is opened, off the caller's thread.
    platform::DispatchQueue::global(platform::QoS::Background)->async([cache = manager->cache_] {
        cache.removeAbandonedTemporaryFiles();
    });
    return manager;
}

void TileCacheManager::setUp(const TileSessionFactory& factory) {
    preloader_ = std::make_unique<UDPTilePreloader>(UDPTilePreloader::configuredHost(),
                                                    UDPTilePreloader::configuredPort());
    preloader_->connect();

    foregroundObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        kForegroundNotification, nullptr,
        [weak = weak_from_this()](const platform::NotificationCenter::Notification& notification) {
            if (auto self = weak.lock()) self->notificationReceived(notification);
        });
    activeObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        kActiveNotification, nullptr,
        [weak = weak_from_this()](const platform::NotificationCenter::Notification& notification) {
            if (auto self = weak.lock()) self->notificationReceived(notification);
        });

    auto configuration = platform::URLSessionConfiguration::ephemeral();
    configuration.timeoutIntervalForRequest = 10.0;
    // A trickling server must not hold a download slot for long.
    configuration.timeoutIntervalForResource = 60.0;
    configuration.networkServiceType = 0;
    configuration.httpMaximumConnectionsPerHost = 8;
    configuration.maximumResponseBytes = int64_t(TileDiskCache::kMaximumTileBytes);
    auto make = [&](const std::string& prefix) {
        return factory ? factory(prefix, configuration) : makeURLTileSession(configuration);
    };
    if (prefixes_.empty()) {
        downloadSessions_["default"] = make("default");
    } else {
        for (const auto& prefix : prefixes_) downloadSessions_[prefix] = make(prefix);
    }
    concurrentDLs_ = prefixes_.empty() ? minRunningTileConnections : int32_t(prefixes_.size());
}

TileCacheManager::~TileCacheManager() {
    tileLog("TilecacheManager: dealloc for downloads from {}", pattern_);
    foregroundObservation_.reset();
    activeObservation_.reset();
}

void TileCacheManager::notificationReceived(const platform::NotificationCenter::Notification& notification) {
    tileLog("TilecacheManager: received notification {}", notification.name);
    if (notification.name == kForegroundNotification) {
        reset();
        // The reset cancelled the downloads of tiles in view and emptied the
        // redraw queue, and the map never asks for a drawn cell again on its
        // own: without this the map would stay blank for good. The failed
        // tiles in view are asked again (within the bound), the rest when
        // the whole overlay draws again.
        askGivenUpTilesAgain();
        platform::DispatchQueue::main()->async([weak = delegate_] {
            if (auto owner = weak.lock()) owner->setNeedsDisplay();
        });
    }
    if (notification.name == kActiveNotification) askGivenUpTilesAgain();
}

int32_t TileCacheManager::maxRunningTileConnections() const {
    const size_t count = prefixes_.size();
    return count > 5 ? 48 : int32_t(count * 8);
}

// ---- records ----

void TileCacheManager::setStateLocked(ConnectionInfo& record, uint64_t state) {
    const uint64_t old = record.state();
    if (old == state) return;
    if (old == ConnectionInfo::kWaiting) --waitingCount_;
    if (old == ConnectionInfo::kRunning) --runningCount_;
    if (state == ConnectionInfo::kWaiting) ++waitingCount_;
    if (state == ConnectionInfo::kRunning) ++runningCount_;
    record.setState(state);
}

std::shared_ptr<ConnectionInfo> TileCacheManager::lookupLocked(const std::string& storagePath,
                                                               uint64_t state) {
    auto it = connectionInfoStore_.find(storagePath);
    if (it == connectionInfoStore_.end()) return nullptr;
    if (state != 0 && it->second->state() != state) return nullptr;
    return it->second;
}

size_t TileCacheManager::connectionCount() {
    std::lock_guard lock(connectionInfoMutex_);
    return connectionInfoStore_.size();
}

size_t TileCacheManager::connectionCountForState(uint64_t state) {
    std::lock_guard lock(connectionInfoMutex_);
    if (state == ConnectionInfo::kWaiting) return waitingCount_;
    if (state == ConnectionInfo::kRunning) return runningCount_;
    return 0;
}

std::shared_ptr<ConnectionInfo> TileCacheManager::connectionInfoForStoragePath(
    const std::string& storagePath) {
    std::lock_guard lock(connectionInfoMutex_);
    return lookupLocked(storagePath, 0);
}

std::shared_ptr<ConnectionInfo> TileCacheManager::waitingConnectionInfoForStoragePath(
    const std::string& storagePath) {
    std::lock_guard lock(connectionInfoMutex_);
    return lookupLocked(storagePath, ConnectionInfo::kWaiting);
}

std::shared_ptr<ConnectionInfo> TileCacheManager::runningConnectionInfoForStoragePath(
    const std::string& storagePath) {
    std::lock_guard lock(connectionInfoMutex_);
    return lookupLocked(storagePath, ConnectionInfo::kRunning);
}

bool TileCacheManager::hasRunningConnectionForStoragePath(const std::string& storagePath) {
    return runningConnectionInfoForStoragePath(storagePath) != nullptr;
}

void TileCacheManager::removeConnectionInfo(const std::shared_ptr<ConnectionInfo>& record) {
    if (!record) return;
    {
        std::lock_guard lock(connectionInfoMutex_);
        auto it = connectionInfoStore_.find(record->storagePath());
        if (it != connectionInfoStore_.end() && it->second == record) {
            setStateLocked(*record, 0);
            connectionInfoStore_.erase(it);
        }
    }
    updateStatusString();
}

bool TileCacheManager::removeConnectionFromDownloadQueueForStoragePath(const std::string& storagePath) {
    bool removed = false;
    {
        std::lock_guard lock(connectionInfoMutex_);
        if (auto it = connectionInfoStore_.find(storagePath); it != connectionInfoStore_.end()) {
            setStateLocked(*it->second, 0);
            connectionInfoStore_.erase(it);
            removed = true;
        }
    }
    if (removed) updateStatusString();
    return removed;
}

int64_t TileCacheManager::zoomLevelFromStoragePath(const std::optional<std::string>& storagePath) {
    if (!storagePath) return std::numeric_limits<int64_t>::max();
    const std::string_view text(*storagePath);
    int64_t level = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.find('-'), level);
    if (error != std::errc() || text.find('-') == std::string_view::npos ||
        end != text.data() + text.find('-')) {
        return std::numeric_limits<int64_t>::max();
    }
    tileLog("extracted zoomLevel {} from {}", level, *storagePath);
    return level;
}

std::string TileCacheManager::removeDownloadPrefixFromURLString(const std::string& url) const {
    std::string result = url;
    for (const auto& prefix : prefixes_) {
        const std::string marked = "://" + prefix + ".";
        tileLog("eliminating {}", marked);
        for (size_t at; (at = result.find(marked)) != std::string::npos;)
            result.replace(at, marked.size(), "://");
    }
    return result;
}

bool TileCacheManager::isTileVisible(const QuovaTilePath& path) {
    auto owner = delegate();
    if (!owner || path.z != owner->currentZoomLevel()) return false;
    auto rect = owner->tileRectForZoomLevel(path.z);
    return rect && rect->containsTile(path);
}

std::optional<std::string> TileCacheManager::randomPrefixForURLString() const {
    if (prefixes_.empty()) return std::nullopt;
    return prefixes_[platform::text::randomIndex(prefixes_.size())];
}

std::string TileCacheManager::addPrefix(const std::optional<std::string>& prefix, const std::string& url) {
    if (!prefix) return url;
    const std::string replacement = "://" + *prefix + ".";
    std::string result;
    size_t start = 0;
    for (size_t found; (found = url.find("://", start)) != std::string::npos; start = found + 3) {
        result.append(url, start, found - start);
        result += replacement;
    }
    result.append(url, start, std::string::npos);
    return result;
}

// ---- throttling ----

void TileCacheManager::throttle() {
    int32_t value = concurrentDLs_.load();
    while (value > minRunningTileConnections && !concurrentDLs_.compare_exchange_weak(value, value - 1)) {
    }
    tileLog("throttling downloads; concurrent DLs limited to {}", concurrentDLs_.load());
}

void TileCacheManager::unthrottle() {
    int32_t stepper = gUnthrottleStepper.load();
    while (true) {
        if (stepper - 1 > 0) {
            if (gUnthrottleStepper.compare_exchange_weak(stepper, stepper - 1)) {
                tileLog("not yet unthrottling; stepper value is {}", stepper - 1);
                return;
            }
        } else if (gUnthrottleStepper.compare_exchange_weak(stepper, 3)) {
            break;  // only the thread that wound the stepper back raises the limit
        }
    }
    const int32_t ceiling = maxRunningTileConnections();
    int32_t value = concurrentDLs_.load();
    while (value < ceiling && !concurrentDLs_.compare_exchange_weak(value, value + 1)) {
    }
    tileLog("unthrottling downloads; concurrent DLs limited to {}", concurrentDLs_.load());
}

void TileCacheManager::resetThrottling() {
    concurrentDLs_ = 12;
    tileLog("throttling reset to default; concurrent DLs now reset to default {}", 12);
}

void TileCacheManager::reset() {
    tileLog("TileCacheManager: flushing download queues");
    {
        std::lock_guard lock(dirtyTilesMutex_);
        dirtyTiles_.clear();
    }
    std::vector<std::shared_ptr<TileDownloadTask>> tasks;
    {
        std::lock_guard lock(connectionInfoMutex_);
        for (auto& [path, record] : connectionInfoStore_) {
            if (auto task = record->connection()) tasks.push_back(std::move(task));
        }
        connectionInfoStore_.clear();
        waitingCount_ = 0;
        runningCount_ = 0;
        // Every tile starts afresh, but what it was asked lately still counts
        // against the bound (a window restored again and again is no request
        // loop), and a tile that failed until now is still missing: the
        // source keeps saying so until it loads.
        const double now = platform::Clock::current()->monotonicSeconds();
        for (auto it = retries_.begin(); it != retries_.end();) {
            RetryState& retry = it->second;
            const bool recent =
                retry.askedCount > 0 && retry.asked[retry.askedCount - 1] + kAttemptWindowSeconds > now;
            if (!recent && !retry.failing) {
                it = retries_.erase(it);
                continue;
            }
            RetryState kept;
            std::copy(retry.asked, retry.asked + kMaximumAttempts, kept.asked);
            kept.askedCount = retry.askedCount;
            kept.failing = retry.failing;
            if (retry.failing) kept.request = retry.request;
            retry = std::move(kept);
            ++it;
        }
        ++resetGeneration_;
    }
    // Cancelled outside the lock: a fake or synchronous session may answer at once.
    for (auto& task : tasks) task->cancel();
    resetThrottling();
    updateStatusString();
}

void TileCacheManager::cancelWaitingDownloads() {
    std::vector<std::shared_ptr<TileDownloadTask>> tasks;
    {
        std::lock_guard lock(connectionInfoMutex_);
        ++resetGeneration_;  // nor do the attempts it scheduled
        for (auto it = connectionInfoStore_.begin(); it != connectionInfoStore_.end();) {
            if (it->second->state() == ConnectionInfo::kWaiting) {
                if (auto task = it->second->connection()) tasks.push_back(std::move(task));
                setStateLocked(*it->second, 0);
                it = connectionInfoStore_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& task : tasks) task->cancel();
}

}  // namespace tervolo::tiles
