#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/text/SearchableItem.hpp"
#include "points/QuovaMapPoint.hpp"

namespace tervolo::points {

// The single owner of the in-memory collection of the user's map points. It is
// created on first use (QuovaMapPointStore::shared()), reads every entry of the
// points folder at creation and hands all loaded points to the search index.
//
// The list and the flags have no lock: the store is used from the main thread
// only, as the screens that call it are. The three mutexes guard only the
// short-link fields, which the backend's uploads touch from other threads.
class QuovaMapPointStore {
  public:
    // The short-link cache entry (QuovaMapPointStore.Shorturl): the link text
    // and the instant it was stored.
    struct Shorturl {
        std::string internalShorturl;
        platform::Date internalSavedAt;
    };

    // What the short-link uploads' URL session is made from: the default
    // configuration with a 7-second request time-out and the "responsive data"
    // network service type (the platform's value 6). The HTTP layer of the
    // backend turns it into a session.
    struct EncodingSessionConfiguration {
        double timeoutIntervalForRequest = 7.0;  // seconds
        int networkServiceType = 6;
    };

    // The one store, created (and loaded) on the first caller's thread; the
    // creation is safe when several threads reach it together. Never destroyed.
    static QuovaMapPointStore& shared();

    // Tests: the next shared() makes a fresh store (reading the points folder
    // of the documents folder in force then). The previous store is left alive
    // on purpose, so nothing that still refers to it meets a destroyed object.
    static void resetSharedForTesting();

    // Replaces `points` with every point that decodes from an entry of the
    // points folder, then indexes them all. Called only by the creation.
    void loadPointsFromLocalStore();

    // Logs "QuovaMapPointStore: needs sync flag set." and sets needsSync.
    void setNeedsSync();

    // Search-index entries. searchableItem gives none for a point without a
    // title, a valid coordinate or an identifier.
    static std::optional<platform::SearchableItem> searchableItem(const QuovaMapPoint& point);
    void addPointsToCoreSpotlight(const std::vector<std::shared_ptr<QuovaMapPoint>>& points);
    void removePointFromSpotlight(const QuovaMapPoint& point);

    // Every point read from the folder and every point added since, deleted and
    // hidden ones included, in that order. Callers read it directly.
    std::vector<std::shared_ptr<QuovaMapPoint>> points;

    bool needsSync() const { return needsSync_; }
    bool pointsLoaded() const { return pointsLoaded_; }
    int64_t usageCounter() const { return usageCounter_; }
    const std::shared_ptr<platform::DispatchQueue>& dispatchQueue() const { return dispatchQueue_; }

    // --- short-link half (the uploads themselves belong to the backend) -----
    // The session configuration of the uploads, set at the end of creation.
    std::optional<EncodingSessionConfiguration> encodingSession;
    // Running uploads by point identifier (opaque task handles of the HTTP
    // layer), under encodeTasksSemaphore.
    std::map<std::string, std::shared_ptr<void>> encodeTasks;
    std::mutex encodeTasksSemaphore;
    // Written and read only by an upload's completion, under its mutex.
    std::optional<platform::Date> encodingLastFailedAt;
    std::mutex encodingLastFailedAtSemaphore;
    // Cached short links by point identifier, under shorturlsSemaphore.
    std::map<std::string, Shorturl> shorturls;
    std::mutex shorturlsSemaphore;

    QuovaMapPointStore(const QuovaMapPointStore&) = delete;
    QuovaMapPointStore& operator=(const QuovaMapPointStore&) = delete;

  private:
    QuovaMapPointStore();

    // Owned by the store; no operation puts work on it.
    std::shared_ptr<platform::DispatchQueue> dispatchQueue_;
    // Neither is changed or read by any operation; kept with their values at
    // creation.
    int64_t usageCounter_ = 0;
    bool pointsLoaded_ = false;
    bool needsSync_ = false;
};

}  // namespace tervolo::points
