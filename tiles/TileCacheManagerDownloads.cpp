// The cache manager's downloads: queueing a tile, handling its reply,
// retrying with a back-off, and starting waiting downloads.
#include <unistd.h>

#include <algorithm>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/net/URLError.hpp"
#include "tiles/QuovaNetworkActivityManager.hpp"
#include "tiles/TileCacheManager.hpp"
#include "tiles/TileImageCheck.hpp"
#include "tiles/TileLog.hpp"

namespace tervolo::tiles {

namespace {

double wallNow() {
    return platform::Clock::current()->wallSeconds();
}

// Back-offs are measured on the clock the main queue's delays run on, so a
// scheduled attempt never finds its own back-off still running.
double monotonicNow() {
    return platform::Clock::current()->monotonicSeconds();
}

// Statuses after which asking again cannot help.
bool isFinalStatus(int64_t status) {
    return status == 400 || status == 401 || status == 403 || status == 404 || status == 410;
}

// The seconds a server asked to wait with Retry-After, at most kMaximumRetryAfterSeconds.
double retryAfterSeconds(const std::optional<platform::HTTPURLResponse>& response) {
    if (!response) return 0;
    return std::min(response->retryAfterSeconds().value_or(0.0), TileCacheManager::kMaximumRetryAfterSeconds);
}

}  // namespace

void TileCacheManager::downloadTileAsync(std::shared_ptr<QuovaImageTile> tile,
                                         std::shared_ptr<TileRedrawTarget> renderer, MapRect mapRect,
                                         double zoomScale) {
    if (!tile) return;
    download(DownloadRequest{std::move(tile), std::move(renderer), mapRect, zoomScale});
}

TileCacheManager::DownloadOutcome TileCacheManager::insertRecordLocked(const DownloadRequest& request,
                                                                       TileDownloadSession& session,
                                                                       const std::string& downloadURL,
                                                                       std::optional<CoolDown>& deferral) {
    const std::string storagePath = request.tile->storagePath();
    if (lookupLocked(storagePath, ConnectionInfo::kWaiting)) return DownloadOutcome::skippedWaiting;
    if (lookupLocked(storagePath, 0)) return DownloadOutcome::skippedRunning;
    // Scheduled attempts pass here too: one scheduled before a later failure
    // finds that failure's back-off, and none goes past the last attempt
    // before a cool-down has ended.
    const double now = monotonicNow();
    RetryState* retry = nullptr;
    if (auto found = retries_.find(storagePath); found != retries_.end()) {
        retry = &found->second;
        if (retry->final) return DownloadOutcome::givenUp;
        if (now < retry->notBefore) {
            // Its cool-down, back-off or deferred ask ends with an ask of its own.
            return retry->attempts >= kAttemptsBeforeRest && !retry->deferred ? DownloadOutcome::givenUp
                                                                              : DownloadOutcome::backingOff;
        }
        if (now < retry->nextAllowed()) {
            // Held back by the bound alone: nothing else would ask for it
            // later (the map never asks for a drawn cell again), so the ask
            // waits for the bound instead of being dropped.
            deferral = deferLocked(storagePath, *retry, request, now);
            return DownloadOutcome::deferred;
        }
        retry->deferred = false;
    }
    // A download posted before the tile landed may run after it: a fresh file
    // needs none. Looked at after the records, so a tile stored and then
    // unrecorded by a reply meanwhile is seen one way or the other.
    if (cache_.fileState(storagePath) == TileDiskCache::FileState::fresh)
        return DownloadOutcome::skippedCached;
    const uint64_t identifier = nextRequestIdentifier_++;
    // The completion keeps this manager alive until the reply is handled, also
    // when a newer manager replaced it meanwhile.
    auto task = session.dataTask(
        downloadURL, [self = shared_from_this(), identifier, request](TileDownloadReply reply) mutable {
            self->handleDownloadResponse(reply, identifier, request.tile, request.renderer, request.mapRect,
                                         request.zoomScale);
            // The last reference may go here: let it go elsewhere than on the
            // session's own queue, which the manager's end waits for.
            platform::DispatchQueue::global(platform::QoS::Background)->async([keep = std::move(self)] {});
        });
    if (!task) return DownloadOutcome::noTask;

    if (retry != nullptr) retry->noteAsked(now);
    auto record = std::make_shared<ConnectionInfo>();
    record->setDelegate(weak_from_this());
    record->setConnection(task);
    record->setOverlayPath(request.tile->overlayPath());
    record->setRequestedAt(wallNow());
    record->requestIdentifier = identifier;
    connectionInfoStore_[storagePath] = record;
    ++waitingCount_;
    if (runningCount_ >= uint64_t(std::max(concurrentDLs_.load(), 0))) return DownloadOutcome::queued;
    task->resume();
    if (task->isSuspended()) return DownloadOutcome::notResumed;
    record->setStartDate(wallNow());
    setStateLocked(*record, ConnectionInfo::kRunning);
    return DownloadOutcome::started;
}

void TileCacheManager::download(const DownloadRequest& request) {
    const std::string storagePath = request.tile->storagePath();
    const std::string plainURL = request.tile->urlStringWithPattern(pattern_);
    const auto prefix = randomPrefixForURLString();
    const std::string downloadURL = addPrefix(prefix, plainURL);
    auto session = downloadSessions_.at(prefix ? *prefix : std::string("default"));

    DownloadOutcome outcome;
    uint64_t waiting = 0;
    uint64_t running = 0;
    uint64_t generation = 0;
    std::optional<CoolDown> deferral;
    {
        // The duplicate test, the insertion and the start are one step, and
        // the record is in the store before its task can answer.
        std::lock_guard lock(connectionInfoMutex_);
        outcome = insertRecordLocked(request, *session, downloadURL, deferral);
        waiting = waitingCount_;
        running = runningCount_;
        generation = resetGeneration_;
    }

    switch (outcome) {
        case DownloadOutcome::skippedWaiting:
            tileLog("tile {} is already in download queue; skipping ... ", storagePath);
            return;
        case DownloadOutcome::skippedRunning:
            tileLog("tile {} is already being downloaded; skipping ... ", storagePath);
            return;
        case DownloadOutcome::backingOff:
            tileLog("tile {} waits before it is asked for again; skipping ... ", storagePath);
            return;
        case DownloadOutcome::deferred:
            scheduleCoolDownEnd(*deferral, generation);
            tileLog("tile {} was asked for {} times within a minute; asking again in {:.1f} s", storagePath,
                    kMaximumAttempts, deferral->seconds);
            return;
        case DownloadOutcome::givenUp:
            tileLog("tile {} was given up on; skipping ... ", storagePath);
            return;
        case DownloadOutcome::skippedCached:
            tileLog("tile {} is already cached; skipping ... ", storagePath);
            return;
        case DownloadOutcome::noTask:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            tileLog("could not create download connection!");
            break;
        case DownloadOutcome::queued:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            tileLog("connection not started yet - no slot. {} connections in DL queue.", waiting);
            preloader_->send(plainURL);
            break;
        case DownloadOutcome::started:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            QuovaNetworkActivityManager::sharedInstance().startUsingNetwork();
            tileLog("connection started for tile {} - {} running, {} waiting", storagePath, running, waiting);
            break;
        case DownloadOutcome::notResumed:
            tileLog("downloading missing map tile from URL {}", downloadURL);
            tileLog("connection created for tile {} - could NOT resume it, will resume later", storagePath);
            break;
    }
    updateStatusString();
}

void TileCacheManager::RetryState::noteAsked(double at) {
    if (askedCount == kMaximumAttempts) {
        std::copy(asked + 1, asked + kMaximumAttempts, asked);
        --askedCount;
    }
    asked[askedCount++] = at;
}

double TileCacheManager::RetryState::nextAllowed() const {
    return askedCount < kMaximumAttempts ? 0.0 : asked[0] + kAttemptWindowSeconds;
}

TileCacheManager::CoolDown TileCacheManager::beginCoolDownLocked(const std::string& storagePath,
                                                                 RetryState& retry,
                                                                 const DownloadRequest& request, double now) {
    const double seconds =
        std::min(kFirstCoolDownSeconds * double(1 << std::min(retry.coolDowns, 10)), kMaximumCoolDownSeconds);
    ++retry.coolDowns;
    retry.failing = true;
    // Never before the attempt bound allows: the cool-down's end asks at once.
    retry.notBefore = std::max(now + seconds, retry.nextAllowed());
    retry.request = request;
    return CoolDown{storagePath, ++retry.coolDownSerial, retry.notBefore - now};
}

TileCacheManager::CoolDown TileCacheManager::deferLocked(const std::string& storagePath, RetryState& retry,
                                                         const DownloadRequest& request, double now) {
    retry.notBefore = retry.nextAllowed();
    retry.deferred = true;
    retry.request = request;
    return CoolDown{storagePath, ++retry.coolDownSerial, retry.notBefore - now};
}

void TileCacheManager::scheduleCoolDownEnd(const CoolDown& coolDown, uint64_t generation) {
    // Held weakly: a replaced manager is not kept for a quarter of an hour.
    auto end = [weak = weak_from_this(), coolDown, generation] {
        if (auto self = weak.lock()) self->coolDownEnded(coolDown.storagePath, coolDown.serial, generation);
    };
    if (coolDown.seconds <= 0) {
        platform::DispatchQueue::main()->async(std::move(end));
    } else {
        platform::DispatchQueue::main()->asyncAfter(coolDown.seconds, std::move(end));
    }
}

void TileCacheManager::coolDownEnded(const std::string& storagePath, uint64_t serial, uint64_t generation) {
    std::optional<DownloadRequest> request;
    bool deferred = false;
    {
        std::lock_guard lock(connectionInfoMutex_);
        if (resetGeneration_ != generation) return;
        auto found = retries_.find(storagePath);
        // Loaded meanwhile, or another cool-down began.
        if (found == retries_.end() || found->second.coolDownSerial != serial || found->second.final) return;
        request = found->second.request;
        deferred = found->second.deferred;
    }
    if (!request) return;
    // Visibility asks the overlay: outside the lock.
    if (!isTileVisible(request->tile->overlayPath())) {
        tileLog("tile {} may be asked for again; not in view", storagePath);
        return;
    }
    if (deferred) {
        tileLog("tile {} asked for again within the bound", storagePath);
    } else {
        tileLog("tile {} asked for again after its cool-down", storagePath);
    }
    download(*request);
}

void TileCacheManager::askGivenUpTilesAgain() {
    std::vector<CoolDown> due;
    uint64_t generation = 0;
    {
        std::lock_guard lock(connectionInfoMutex_);
        const double now = monotonicNow();
        for (auto& [path, retry] : retries_) {
            // A tile in its back-off has its next attempt scheduled already;
            // one whose download runs is asked already.
            if (!retry.failing || retry.final || !retry.request) continue;
            if (retry.attempts > 0 && retry.attempts < kAttemptsBeforeRest) continue;
            if (connectionInfoStore_.count(path) != 0) continue;
            retry.notBefore = std::max(now, retry.nextAllowed());
            retry.deferred = true;
            due.push_back(CoolDown{path, ++retry.coolDownSerial, retry.notBefore - now});
        }
        generation = resetGeneration_;
    }
    if (!due.empty()) tileLog("asking {} given-up tiles again", due.size());
    for (const auto& coolDown : due) scheduleCoolDownEnd(coolDown, generation);
}

bool TileCacheManager::tilesCannotBeLoaded() {
    std::vector<QuovaTilePath> givenUp;
    {
        std::lock_guard lock(connectionInfoMutex_);
        for (const auto& [path, retry] : retries_) {
            if (retry.failing && !retry.final && retry.request)
                givenUp.push_back(retry.request->tile->overlayPath());
        }
    }
    // Visibility asks the overlay: outside the lock.
    return std::any_of(givenUp.begin(), givenUp.end(),
                       [this](const QuovaTilePath& path) { return isTileVisible(path); });
}

void TileCacheManager::retryLater(const DownloadRequest& request, double minimumDelay) {
    const std::string storagePath = request.tile->storagePath();
    int attempts = 0;
    double delay = 0;
    uint64_t generation = 0;
    bool givenUpNow = false;
    std::optional<CoolDown> coolDown;
    std::weak_ptr<ConnectionInfo> failed;
    {
        std::lock_guard lock(connectionInfoMutex_);
        failed = lookupLocked(storagePath, 0);
        const double now = monotonicNow();
        auto& retry = retries_[storagePath];
        // The first failure stands for its request, which came no later.
        if (retry.askedCount == 0) retry.noteAsked(now);
        // A tile the server refused for good stays so, a late reply included.
        if (retry.final) return;
        generation = resetGeneration_;
        retry.deferred = false;
        if (retry.attempts >= kAttemptsBeforeRest) {
            // The attempt after a cool-down failed as well: a longer one.
            coolDown = beginCoolDownLocked(storagePath, retry, request, now);
        } else {
            attempts = ++retry.attempts;
            if (attempts < kAttemptsBeforeRest) {
                delay = std::max(minimumDelay, double(1 << (attempts - 1)));  // 1 s
                retry.notBefore = now + delay;
            } else {
                givenUpNow = true;
                coolDown = beginCoolDownLocked(storagePath, retry, request, now);
            }
        }
    }
    if (coolDown) {
        tilesFailing_ = true;
        scheduleCoolDownEnd(*coolDown, generation);
        if (givenUpNow) tileLog("tile {} giving up after {} attempts", storagePath, attempts);
        tileLog("tile {} rests for {:.0f} s before it is asked for again", storagePath, coolDown->seconds);
        return;
    }
    // Scheduled before the line is written: whoever acts on the line (a test
    // moving its clock on) finds the attempt already waiting on that clock.
    platform::DispatchQueue::main()->asyncAfter(delay, [self = shared_from_this(), request, generation, failed] {
        self->attemptAgain(request, generation, failed);
    });
    tileLog("tile {} asked for again in {:.1f} s (attempt {} of {})", storagePath, delay, attempts + 1,
            kAttemptsBeforeRest);
}

void TileCacheManager::attemptAgain(const DownloadRequest& request, uint64_t generation,
                                    const std::weak_ptr<ConnectionInfo>& failed) {
    {
        std::lock_guard lock(connectionInfoMutex_);
        // A reset since starts every tile afresh: this attempt belongs to the old count.
        if (resetGeneration_ != generation) return;
        // The failed download removes its record on its own thread just after scheduling this
        // attempt; met before that, the attempt would be skipped as running and never made. Only
        // that record is waited for: a download another ask started in between stands for it.
        const auto failedRecord = failed.lock();
        if (failedRecord && lookupLocked(request.tile->storagePath(), 0) == failedRecord) {
            platform::DispatchQueue::main()->async([self = shared_from_this(), request, generation, failed] {
                self->attemptAgain(request, generation, failed);
            });
            return;
        }
    }
    download(request);
}

void TileCacheManager::giveUp(const std::string& storagePath) {
    std::lock_guard lock(connectionInfoMutex_);
    auto& retry = retries_[storagePath];
    retry.attempts = kAttemptsBeforeRest;
    retry.final = true;
    retry.failing = false;
    retry.deferred = false;
    retry.request.reset();
}

void TileCacheManager::handleDownloadResponse(const TileDownloadReply& reply, uint64_t requestIdentifier,
                                              const std::shared_ptr<QuovaImageTile>& tile,
                                              const std::shared_ptr<TileRedrawTarget>& renderer,
                                              MapRect mapRect, double zoomScale) {
    const DownloadRequest request{tile, renderer, mapRect, zoomScale};
    std::string url = reply.response ? reply.response->url() : std::string();
    if (url.empty() && reply.error) url = platform::URLError::failingURL(*reply.error);

    // The reply belongs to the tile that asked for it; the final URL after a
    // redirect names nothing that may be stored or removed.
    std::shared_ptr<ConnectionInfo> record;
    {
        std::lock_guard lock(connectionInfoMutex_);
        auto found = lookupLocked(tile->storagePath(), 0);
        if (found && found->requestIdentifier == requestIdentifier) record = found;
    }
    if (!record) {
        tileLog(
            "Data integrity issue: connInfo should be found in connectionStore when entering completion "
            "handler, but can't find connection for tile {}",
            tile->description());
    }
    const std::optional<double> startDate = record ? record->startDate() : std::nullopt;
    if (startDate)
        tileLog("Download returned - took {:.1f} seconds for URL {}.", wallNow() - *startDate, url);

    if (reply.error) {
        handleErrorReply(*reply.error, url, request, record);
    } else if (!reply.response) {
        tileLog("Unknown response {} received - dunno what to do!", "(not an HTTP response)");
        if (record) retryLater(request, 0);
        removeConnectionInfo(record);
    } else {
        handleHTTPReply(reply, url, request, record);
    }
    finishReply();
}

void TileCacheManager::handleErrorReply(const platform::Error& error, const std::string& url,
                                        const DownloadRequest& request,
                                        const std::shared_ptr<ConnectionInfo>& record) {
    // A reply whose record is gone (its download was cancelled by a reset) is never retried.
    // Here and for HTTP replies the failure is noted before the record goes: a download asked
    // meanwhile (the map posts several for one missing tile) finds the one or the other, never
    // neither, which would start a request outside the attempt bound.
    if (error.code == 429) {
        tileLog("UPSTREAM timeout for {} ({})", url, error.fullDescription());
        if (record) retryLater(request, 0);
        removeConnectionInfo(record);
    } else if (error.code == 400) {
        tileLog("no such tile (illegal parameters) for URL {}, removing tile from queue ... ", url);
        giveUp(request.tile->storagePath());
        removeConnectionInfo(record);
        unthrottle();
    } else if (error.code == platform::URLError::timedOut) {
        if (record && record->startDate()) {
            tileLog("request timed out downloading {}, throttling ... ", url);
            throttle();
        } else {
            tileLog("request downloading {} timed out WITHOUT even running - weird.", url);
        }
        if (record) retryLater(request, 0);
        removeConnectionInfo(record);
    } else {
        tileLog("General error downloading {} ({})", url, error.fullDescription());
        // A reset, a body cut short or over the size cap, a refused connection:
        // each is an attempt like an HTTP error, or the next redraw asks again
        // at once. A cancelled download ended on purpose.
        if (record && error.code != platform::URLError::cancelled) retryLater(request, 0);
        removeConnectionInfo(record);
    }
}

void TileCacheManager::handleHTTPReply(const TileDownloadReply& reply, const std::string& url,
                                       const DownloadRequest& request,
                                       const std::shared_ptr<ConnectionInfo>& record) {
    const std::string storagePath = request.tile->storagePath();
    const int64_t status = reply.response->statusCode();
    const std::span<const uint8_t> data =
        reply.data ? std::span<const uint8_t>(*reply.data) : std::span<const uint8_t>();
    if (status == 200 && isTileImage(data)) {
        // Stored even when its record is gone: a good reply that raced a reset is still a good tile.
        storeTile(data, storagePath);
        if (request.renderer) request.renderer->tileWasStored(*request.tile);
        ::usleep(200);
        const std::optional<double> startDate = record ? record->startDate() : std::nullopt;
        const double seconds = startDate ? wallNow() - *startDate : 0.0;
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
        // The server answers again: whatever failed before is asked again when in view.
        if (tilesFailing_.exchange(false)) {
            tileLog("tiles load again");
            askGivenUpTilesAgain();
        }
        if (request.renderer && request.zoomScale != 0.0) {
            platform::DispatchQueue::main()->async([self = shared_from_this(), request] {
                self->maybeRedrawTile(request.tile, request.renderer, request.zoomScale);
            });
        }
        removeConnectionInfo(record);
    } else if (status == 200) {
        tileLog("Error downloading tile {} - no valid image data", storagePath);
        if (record) retryLater(request, 0);
        removeConnectionInfo(record);
    } else if (isFinalStatus(status)) {
        tileLog("HTTP status {} for URL {} - giving up.", status, url);
        giveUp(storagePath);
        removeConnectionInfo(record);
    } else if (status == 429) {
        tileLog("UPSTREAM timeout for {}", url);
        if (record) retryLater(request, retryAfterSeconds(reply.response));
        removeConnectionInfo(record);
    } else {
        tileLog("HTTP status {} for URL {} - enqueueing tile again", status, url);
        if (record) retryLater(request, status == 503 ? retryAfterSeconds(reply.response) : 0);
        removeConnectionInfo(record);
    }
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
    updateStatusString();
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
        int64_t freeSlots = int64_t(concurrentDLs_.load()) - int64_t(runningCount_);
        size_t position = 0;
        for (auto& candidate : sorted) {
            ++position;
            if (freeSlots <= 0) break;
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
            --freeSlots;
        }
    }
    for (const auto& [path, position] : started) {
        tileLog("just started waiting connection at position {} of {}", position, sorted.size());
        QuovaNetworkActivityManager::sharedInstance().startUsingNetwork();
    }
    if (!started.empty()) updateStatusString();
}

}  // namespace tervolo::tiles
