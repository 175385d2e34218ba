#include "tiles/TileCacheManager.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/net/URLError.hpp"
#include "platform/text/Random.hpp"
#include "tiles/QuovaNetworkActivityManager.hpp"
#include "tiles/TileImageCheck.hpp"
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

double wallNow() {
    return platform::Clock::current()->wallSeconds();
}

// Statuses after which asking again cannot help.
bool isFinalStatus(int64_t status) {
    return status == 400 || status == 401 || status == 403 || status == 404 || status == 410;
}

// Seconds of a Retry-After header given in seconds; dates are not honoured.
double retryAfterSeconds(const std::optional<platform::HTTPURLResponse>& response) {
    if (!response) return 0;
    auto value = response->value("Retry-After");
    if (!value) return 0;
    int64_t seconds = 0;
    auto [end, error] = std::from_chars(value->data(), value->data() + value->size(), seconds);
    if (error != std::errc() || end != value->data() + value->size() || seconds < 0) return 0;
    return double(std::min<int64_t>(seconds, int64_t(TileCacheManager::kGiveUpSeconds)));
}

std::string errorText(const platform::Error& error) {
    return error.fullDescription();
}

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
}

void TileCacheManager::notificationReceived(const platform::NotificationCenter::Notification& notification) {
    tileLog("TilecacheManager: received notification {}", notification.name);
    if (notification.name == kForegroundNotification) reset();
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
        retries_.clear();
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

// ---- downloads ----

void TileCacheManager::downloadTileAsync(std::shared_ptr<QuovaImageTile> tile,
                                         std::shared_ptr<TileRedrawTarget> renderer, MapRect mapRect,
                                         double zoomScale) {
    download(std::move(tile), std::move(renderer), mapRect, zoomScale, false);
}

void TileCacheManager::download(std::shared_ptr<QuovaImageTile> tile,
                                std::shared_ptr<TileRedrawTarget> renderer, MapRect mapRect, double zoomScale,
                                bool isRetry) {
    if (!tile) return;
    const std::string storagePath = tile->storagePath();
    const std::string plainURL = tile->urlStringWithPattern(pattern_);
    const auto prefix = randomPrefixForURLString();
    const std::string downloadURL = addPrefix(prefix, plainURL);
    auto session = downloadSessions_.at(prefix ? *prefix : std::string("default"));

    enum class Outcome { skippedWaiting, skippedRunning, backingOff, noTask, queued, started, notResumed };
    Outcome outcome;
    uint64_t waiting = 0;
    uint64_t running = 0;
    {
        // The duplicate test, the insertion and the start are one step, and
        // the record is in the store before its task can answer.
        std::lock_guard lock(connectionInfoMutex_);
        if (lookupLocked(storagePath, ConnectionInfo::kWaiting)) {
            outcome = Outcome::skippedWaiting;
        } else if (lookupLocked(storagePath, 0)) {
            outcome = Outcome::skippedRunning;
        } else if (auto retry = retries_.find(storagePath);
                   !isRetry && retry != retries_.end() && wallNow() < retry->second.notBefore) {
            outcome = Outcome::backingOff;
        } else {
            const uint64_t identifier = nextRequestIdentifier_++;
            // The completion keeps this manager alive until the reply is handled,
            // also when a newer manager replaced it meanwhile.
            auto task = session->dataTask(downloadURL, [self = shared_from_this(), identifier, tile, renderer,
                                                        mapRect, zoomScale](TileDownloadReply reply) mutable {
                self->handleDownloadResponse(reply, identifier, tile, renderer, mapRect, zoomScale);
                // The last reference may go here: let it go elsewhere than on
                // the session's own queue, which the manager's end waits for.
                platform::DispatchQueue::global(platform::QoS::Background)->async([keep = std::move(self)] {
                });
            });
            if (!task) {
                outcome = Outcome::noTask;
            } else {
                auto record = std::make_shared<ConnectionInfo>();
                record->setDelegate(weak_from_this());
                record->setConnection(task);
                record->setOverlayPath(tile->overlayPath());
                record->setRequestedAt(wallNow());
                record->requestIdentifier = identifier;
                connectionInfoStore_[storagePath] = record;
                ++waitingCount_;
                if (runningCount_ >= uint64_t(std::max(concurrentDLs_.load(), 0))) {
                    outcome = Outcome::queued;
                } else {
                    task->resume();
                    if (!task->isSuspended()) {
                        record->setStartDate(wallNow());
                        setStateLocked(*record, ConnectionInfo::kRunning);
                        outcome = Outcome::started;
                    } else {
                        outcome = Outcome::notResumed;
                    }
                }
            }
        }
        waiting = waitingCount_;
        running = runningCount_;
    }

    switch (outcome) {
        case Outcome::skippedWaiting:
            tileLog("tile {} is already in download queue; skipping ... ", storagePath);
            return;
        case Outcome::skippedRunning:
            tileLog("tile {} is already being downloaded; skipping ... ", storagePath);
            return;
        case Outcome::backingOff:
            tileLog("tile {} waits before it is asked for again; skipping ... ", storagePath);
            return;
        case Outcome::noTask:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            tileLog("could not create download connection!");
            break;
        case Outcome::queued:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            tileLog("connection not started yet - no slot. {} connections in DL queue.", waiting);
            preloader_->send(plainURL);
            break;
        case Outcome::started:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            QuovaNetworkActivityManager::sharedInstance().startUsingNetwork();
            tileLog("connection started for tile {} - {} running, {} waiting", storagePath, running, waiting);
            break;
        case Outcome::notResumed:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            tileLog("connection created for tile {} - could NOT resume it, will resume later", storagePath);
            break;
    }
    updateStatusStringWithRunningCount(running, waiting);
}

void TileCacheManager::retryLater(const std::shared_ptr<QuovaImageTile>& tile,
                                  const std::shared_ptr<TileRedrawTarget>& renderer, MapRect mapRect,
                                  double zoomScale, double minimumDelay) {
    const std::string storagePath = tile->storagePath();
    int attempts = 0;
    double delay = 0;
    {
        std::lock_guard lock(connectionInfoMutex_);
        auto& retry = retries_[storagePath];
        attempts = ++retry.attempts;
        if (attempts >= kMaximumAttempts) {
            retry.notBefore = wallNow() + kGiveUpSeconds;
        } else {
            delay = std::max(minimumDelay, double(1 << (attempts - 1)));  // 1 s, then 2 s
            retry.notBefore = wallNow() + delay;
        }
    }
    if (attempts >= kMaximumAttempts) {
        tileLog("tile {} giving up after {} attempts", storagePath, attempts);
        return;
    }
    platform::DispatchQueue::main()->asyncAfter(
        delay, [self = shared_from_this(), tile, renderer, mapRect, zoomScale] {
            self->download(tile, renderer, mapRect, zoomScale, true);
        });
}

void TileCacheManager::giveUp(const std::string& storagePath) {
    std::lock_guard lock(connectionInfoMutex_);
    retries_[storagePath] = RetryState{kMaximumAttempts, wallNow() + kGiveUpSeconds};
}

void TileCacheManager::handleDownloadResponse(const TileDownloadReply& reply, uint64_t requestIdentifier,
                                              const std::shared_ptr<QuovaImageTile>& tile,
                                              const std::shared_ptr<TileRedrawTarget>& renderer,
                                              MapRect mapRect, double zoomScale) {
    const std::string storagePath = tile->storagePath();
    std::string url = reply.response ? reply.response->url() : std::string();
    if (url.empty() && reply.error) url = platform::URLError::failingURL(*reply.error);

    // The reply belongs to the tile that asked for it; the final URL after a
    // redirect names nothing that may be stored or removed.
    std::shared_ptr<ConnectionInfo> record;
    {
        std::lock_guard lock(connectionInfoMutex_);
        auto found = lookupLocked(storagePath, 0);
        if (found && found->requestIdentifier == requestIdentifier) record = found;
    }
    if (!record) {
        tileLog(
            "Data integrity issue: connInfo should be found in connectionStore when entering completion "
            "handler, "
            "but can't find connection for tile {}",
            tile->description());
    }
    bool started = false;
    double startSeconds = 0;
    if (auto date = record ? record->startDate() : std::nullopt) {
        started = true;
        startSeconds = *date;
        tileLog("Download returned - took {:.1f} seconds for URL {}.", wallNow() - startSeconds, url);
    }

    if (reply.error) {
        const int64_t code = reply.error->code;
        if (code == 429) {
            tileLog("UPSTREAM timeout for {} ({})", url, errorText(*reply.error));
            removeConnectionInfo(record);
            if (record) retryLater(tile, renderer, mapRect, zoomScale, 0);
        } else if (code == 400) {
            tileLog("no such tile (illegal parameters) for URL {}, removing tile from queue ... ", url);
            removeConnectionInfo(record);
            unthrottle();
            giveUp(storagePath);
        } else if (code == platform::URLError::timedOut) {
            if (started) {
                tileLog("request timed out downloading {}, throttling ... ", url);
                throttle();
            } else {
                tileLog("request downloading {} timed out WITHOUT even running - weird.", url);
            }
            removeConnectionInfo(record);
            if (record) retryLater(tile, renderer, mapRect, zoomScale, 0);
        } else {
            tileLog("General error downloading {} ({})", url, errorText(*reply.error));
            removeConnectionInfo(record);
        }
    } else if (!reply.response) {
        tileLog("Unknown response {} received - dunno what to do!", "(not an HTTP response)");
        removeConnectionInfo(record);
    } else {
        const int64_t status = reply.response->statusCode();
        const std::span<const uint8_t> data =
            reply.data ? std::span<const uint8_t>(*reply.data) : std::span<const uint8_t>();
        if (status == 200 && isTileImage(data)) {
            storeTile(data, storagePath);
            if (renderer) renderer->tileWasStored(*tile);
            ::usleep(200);
            const double seconds = started ? wallNow() - startSeconds : 0.0;
            if (seconds < 1.0) {
                tileLog("fast download ({:.1f} s), unthrottling", seconds);
                unthrottle();
            } else if (seconds > 3.0) {
                tileLog("slow download ({:.1f} s), throttling", seconds);
                throttle();
            } else {
                tileLog("average download ({:.1f} s), leaving throttle untouched", seconds);
            }
            {
                std::lock_guard lock(connectionInfoMutex_);
                retries_.erase(storagePath);
            }
            if (renderer && zoomScale != 0.0) {
                platform::DispatchQueue::main()->async(
                    [self = shared_from_this(), tile, renderer, zoomScale] {
                        self->maybeRedrawTile(tile, renderer, zoomScale);
                    });
            }
            removeConnectionInfo(record);
        } else if (status == 200) {
            tileLog("Error downloading tile {} - no valid image data", storagePath);
            removeConnectionInfo(record);
            if (record) retryLater(tile, renderer, mapRect, zoomScale, 0);
        } else if (isFinalStatus(status)) {
            tileLog("HTTP status {} for URL {} - giving up.", status, url);
            removeConnectionInfo(record);
            giveUp(storagePath);
        } else if (status == 429) {
            tileLog("UPSTREAM timeout for {}", url);
            removeConnectionInfo(record);
            if (record) retryLater(tile, renderer, mapRect, zoomScale, retryAfterSeconds(reply.response));
        } else {
            tileLog("HTTP status {} for URL {} - enqueueing tile again", status, url);
            removeConnectionInfo(record);
            if (record) {
                retryLater(tile, renderer, mapRect, zoomScale,
                           status == 503 ? retryAfterSeconds(reply.response) : 0);
            }
        }
    }
    finishReply();
}

void TileCacheManager::finishReply() {
    startWaitingConnections();
    QuovaNetworkActivityManager::sharedInstance().stopUsingNetwork();
    uint64_t waiting = 0;
    uint64_t running = 0;
    {
        std::lock_guard lock(connectionInfoMutex_);
        waiting = waitingCount_;
        running = runningCount_;
    }
    size_t dirty = 0;
    {
        std::lock_guard lock(dirtyTilesMutex_);
        dirty = dirtyTiles_.size();
    }
    if (waiting + running > 0) {
        tileLog("{} running connections, {} waiting connections", running, waiting);
        platform::DispatchQueue::main()->asyncAfter(1.0, [weak = weak_from_this()] {
            if (auto self = weak.lock()) self->startWaitingConnections();
        });
    } else {
        if (dirty > 0) {
            tileLog("no more running or waiting connections but {} tiles need redraw - flushing redraw queue",
                    dirty);
            redrawAllDirtyTiles();
        }
        platform::DispatchQueue::main()->asyncAfter(1.0, [weak = delegate_] {
            if (auto owner = weak.lock()) owner->setNeedsDisplay();
        });
    }
    updateStatusStringWithRunningCount(running, waiting);
}

void TileCacheManager::startWaitingConnections() {
    std::vector<std::shared_ptr<ConnectionInfo>> candidates;
    int64_t freeSlots = 0;
    {
        std::lock_guard lock(connectionInfoMutex_);
        freeSlots = int64_t(concurrentDLs_.load()) - int64_t(runningCount_);
        if (waitingCount_ == 0) {
            candidates.clear();
        } else {
            for (const auto& [path, record] : connectionInfoStore_) {
                if (record->state() == ConnectionInfo::kWaiting) candidates.push_back(record);
            }
        }
    }
    if (candidates.empty()) {
        tileLog("No more waiting connections - nothing to do.");
        return;
    }
    if (freeSlots <= 0) return;
    tileLog("startWaitingConnections for max. {} tiles ({} waiting).", freeSlots, candidates.size());

    // Visibility asks the overlay and the map view: once per record and
    // outside the lock, never inside the comparison.
    const double sortStart = platform::Clock::current()->monotonicSeconds();
    struct Candidate {
        std::shared_ptr<ConnectionInfo> record;
        bool visible;
        double requestedAt;
    };
    std::vector<Candidate> sorted;
    sorted.reserve(candidates.size());
    for (auto& record : candidates)
        sorted.push_back({record, isTileVisible(record->overlayPath()), record->requestedAt()});
    std::stable_sort(sorted.begin(), sorted.end(), [](const Candidate& a, const Candidate& b) {
        return compareDownloadOrder(a.visible, a.requestedAt, b.visible, b.requestedAt) < 0;
    });
    tileLog("Sorting took {:.4f} seconds.", platform::Clock::current()->monotonicSeconds() - sortStart);

    std::vector<std::pair<std::string, size_t>> started;
    {
        std::lock_guard lock(connectionInfoMutex_);
        int64_t slots = int64_t(concurrentDLs_.load()) - int64_t(runningCount_);
        size_t position = 0;
        for (auto& candidate : sorted) {
            ++position;
            if (slots <= 0) break;
            auto& record = *candidate.record;
            // Skip records removed or started meanwhile.
            auto current = lookupLocked(record.storagePath(), ConnectionInfo::kWaiting);
            if (current != candidate.record) continue;
            auto task = record.connection();
            if (!task || !task->isSuspended()) continue;
            task->resume();
            record.setStartDate(wallNow());
            setStateLocked(record, ConnectionInfo::kRunning);
            started.emplace_back(record.storagePath(), position);
            --slots;
        }
    }
    for (const auto& [path, position] : started) {
        tileLog("just started waiting connection at position {} of {}", position, sorted.size());
        QuovaNetworkActivityManager::sharedInstance().startUsingNetwork();
    }
    if (!started.empty()) updateStatusString();
}

}  // namespace tervolo::tiles
