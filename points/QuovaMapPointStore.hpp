#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/searchindex/SearchableItem.hpp"
#include "points/ChangeObservers.hpp"
#include "points/MapPointChange.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/ShorturlUploader.hpp"

namespace tervolo::points {

// The single owner of the in-memory collection of the user's map points. It is
// created on first use (QuovaMapPointStore::shared()), reads every entry of the
// points folder at creation and hands all loaded points to the search index.
//
// The list and the flags have no lock: the store is used from the main thread
// only, as the screens that call it are. The short-link state, which the
// backend's uploads touch from other threads, is guarded inside the store.
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

    // --- queries and sorting ---------------------------------------------------
    // A point is valid while neither deletedAt nor hiddenAt is set; deleted
    // when deletedAt is set and hiddenAt is not. A hidden point is returned by
    // no query. Results hold the stored objects themselves.

    // The orders of the point list's segments; stored in one byte. A value
    // outside the four cases sorts like `unsorted`.
    enum class SortOrder : uint8_t { unsorted = 0, alphabetically = 1, byDistance = 2, byLastChange = 3 };

    // The valid (deleted) points, in the order of `points`, whose title or,
    // failing that, subtitle contains `filter` without regard to letter case
    // (accents count; canonically equivalent texts match). No filter: every
    // valid (deleted) point; the empty filter text: none.
    std::vector<std::shared_ptr<QuovaMapPoint>> validPointsWithFilter(
        const std::optional<std::string>& filter) const;
    std::vector<std::shared_ptr<QuovaMapPoint>> deletedPointsWithFilter(
        const std::optional<std::string>& filter) const;
    // The valid points at most `meters` from `fromPoint` (the limit included),
    // nearest first, equal distances in the order of `points`. Points with an
    // invalid coordinate, or an invalid `fromPoint`, are never taken.
    std::vector<std::shared_ptr<QuovaMapPoint>> validPointsWithinDistance(
        double meters, const QuovaMapPoint& fromPoint) const;
    // `points` itself, every point in list order.
    const std::vector<std::shared_ptr<QuovaMapPoint>>& allPoints() const;

    // `points` in a total, stable order (equal keys keep their given order):
    //  - alphabetically: by title, the NFC forms compared by code point (no
    //    case folding, no locale), a missing title counting as the empty text,
    //    so untitled points come first;
    //  - byDistance: from bestKnownLocation(), nearest first, points without a
    //    valid coordinate last; unchanged when no location is known;
    //  - byLastChange: lastSavedAt, newest first;
    //  - unsorted (or any other value): unchanged.
    // Each key is computed once per point, never per comparison.
    static std::vector<std::shared_ptr<QuovaMapPoint>> sortedPoints(
        std::vector<std::shared_ptr<QuovaMapPoint>> points, SortOrder sortOrder);

    // --- mutations ---------------------------------------------------------------
    // "mapPointChange" is posted on the default notification centre with the
    // point as object and "mapPointChangeReason" (a std::string) in the user
    // info; observers run on the posting thread before the call returns.
    static constexpr const char* kMapPointChangeNotification = "mapPointChange";
    static constexpr const char* kMapPointChangeReasonKey = "mapPointChangeReason";
    static constexpr const char* kMapPointDeletedReason = "mapPointDeleted";
    static constexpr const char* kMapPointHiddenReason = "mapPointHidden";

    // Typed observation of every change: addPoint (added), a point's save
    // through this store while it is in `points` (updated), deletePoint
    // (deleted) and hidePoint (hidden). Observers run on the operation's
    // thread before it returns and see the point stamped and saved; hiding a
    // valid point is seen as its deletion, then its hiding. Dropping the token
    // ends the observation.
    using ChangeToken = ChangeObservers<MapPointChange>::Token;
    [[nodiscard]] std::unique_ptr<ChangeToken> observeChanges(
        std::function<void(const MapPointChange&)> observer);
    // Where a point's save through this store ends once the file is written
    // (QuovaMapPoint::save): reports the update unless one of the operations
    // below is saving it.
    void didSavePoint(const std::shared_ptr<QuovaMapPoint>& point);

    // The operations below run on the main thread only (debug builds check).

    // Gives the point an identifier, saves it (which indexes it and sets the
    // needs-sync flag) and appends it to `points` (no check for a point
    // already there). Posts no "mapPointChange".
    //
    // Each of the three answers why its save wrote nothing, or none. A
    // failed save changes nothing: the point keeps the fields it had (and is
    // not added), nothing is posted or observed, so what the screens show
    // stays what is on disk. The caller tells the user.
    std::optional<platform::Error> addPoint(const std::shared_ptr<QuovaMapPoint>& point);
    // Stamps deletedAt (replacing an earlier stamp), saves, takes the point out
    // of the search index and posts "mapPointDeleted". The point stays in
    // `points`.
    std::optional<platform::Error> deletePoint(const std::shared_ptr<QuovaMapPoint>& point);
    // Deletes the point first when it is not deleted yet (with its own
    // notification), then stamps hiddenAt, saves, takes it out of the search
    // index and posts "mapPointHidden". When only the hiding fails, the point
    // stays deleted (that was written).
    std::optional<platform::Error> hidePoint(const std::shared_ptr<QuovaMapPoint>& point);

    // Every point read from the folder and every point added since, deleted and
    // hidden ones included, in that order.
    const std::vector<std::shared_ptr<QuovaMapPoint>>& points() const { return points_; }
    // Tests and benchmarks: puts `points` in place of the list, unsaved and
    // unindexed.
    void replacePointsForTesting(std::vector<std::shared_ptr<QuovaMapPoint>> points) {
        points_ = std::move(points);
    }

    bool needsSync() const { return needsSync_; }
    bool pointsLoaded() const { return pointsLoaded_; }
    int64_t usageCounter() const { return usageCounter_; }
    const std::shared_ptr<platform::DispatchQueue>& dispatchQueue() const { return dispatchQueue_; }

    // --- short-link half (the uploads themselves belong to the backend) -----
    // The session configuration of the uploads, set at the end of creation.
    const std::optional<EncodingSessionConfiguration>& encodingSession() const { return encodingSession_; }
    // When an upload last failed (the backend's completion records it).
    // Thread-safe.
    std::optional<platform::Date> encodingLastFailedAt() const;
    void setEncodingLastFailedAt(std::optional<platform::Date> date);
    // The cached short links by point identifier. Thread-safe.
    std::map<std::string, Shorturl> shorturls() const;
    void setShorturls(std::map<std::string, Shorturl> shorturls);
    void setShorturl(const std::string& identifier, Shorturl shorturl);

    // The short link made for the point's identifier while the point has not
    // been saved since it was stored; a stale entry is removed. None without
    // an identifier or entry.
    std::optional<std::string> shorturlFor(const QuovaMapPoint& point);
    // Whether an upload for the point's identifier is registered.
    // Thread-safe.
    bool isEncodingShorturl(const QuovaMapPoint& point);
    bool isEncodingShorturl(const std::string& identifier);
    // Gives the point an identifier and starts its upload through the
    // installed uploader, unless one runs for the identifier already or the
    // point has no title or no valid coordinate. Main thread (it writes the
    // point's identifier). Without an uploader nothing is started.
    void generateShorturlFor(const std::shared_ptr<QuovaMapPoint>& point);
    // The backend installs its uploader here (null: none).
    void setShorturlUploader(std::shared_ptr<ShorturlUploader> uploader);

    QuovaMapPointStore(const QuovaMapPointStore&) = delete;
    QuovaMapPointStore& operator=(const QuovaMapPointStore&) = delete;

  private:
    friend class platform::SharedInstance<QuovaMapPointStore>;
    QuovaMapPointStore();

    // Hands the items to the search index in one request (none when empty).
    void indexSearchableItems(std::vector<platform::SearchableItem> items);

    std::vector<std::shared_ptr<QuovaMapPoint>> points_;
    ChangeObservers<MapPointChange> changeObservers_;
    std::optional<EncodingSessionConfiguration> encodingSession_;
    // Running uploads by point identifier (opaque task handles of the HTTP
    // layer), under encodeTasksMutex_.
    std::map<std::string, std::shared_ptr<void>> encodeTasks_;
    mutable std::mutex encodeTasksMutex_;
    std::optional<platform::Date> encodingLastFailedAt_;
    mutable std::mutex encodingLastFailedAtMutex_;
    // Cached short links by point identifier, under shorturlsMutex_.
    std::map<std::string, Shorturl> shorturls_;
    mutable std::mutex shorturlsMutex_;
    // Depth of add, delete and hide in progress: their own saves report no
    // "updated" (main thread only, like the operations).
    int mutationDepth_ = 0;

    std::once_flag loaded_;

    // Owned by the store; no operation puts work on it.
    std::shared_ptr<platform::DispatchQueue> dispatchQueue_;
    // Neither is changed or read by any operation; kept with their values at
    // creation.
    int64_t usageCounter_ = 0;
    bool pointsLoaded_ = false;
    bool needsSync_ = false;

    std::mutex uploaderMutex_;
    std::shared_ptr<ShorturlUploader> uploader_;
};

}  // namespace tervolo::points
