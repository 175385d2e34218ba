#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/TallyEvent.hpp"
#include "analytics/TallyJSON.hpp"

namespace platform {
class DispatchQueue;
}

namespace tervolo::analytics {

// Everything of the analytics client that outlives one call: the request
// queue (in "Tally.dat" and its journal in the application's data folder,
// see TallyQueueFile.hpp), the recorded and started events (memory only), the
// breadcrumb file and the client's user-default values.
//
// Any thread. The queue, the recorded events and the started events each
// have their own lock; none is held while another module is called, so the
// threshold send needs no re-entrant lock.
//
// Durability: a request whose addToQueue() returned is on disk (one append to
// the journal) and survives the process being killed; the whole queue is
// rewritten by one serial writer, latest snapshot wins, coalescing bursts.
class TallyPersistency : public std::enable_shared_from_this<TallyPersistency> {
  public:
    // None (with the not-started line) before the client has started; made
    // on the first call after start, reading the queue from disk.
    static std::shared_ptr<TallyPersistency> sharedInstance();
    // Waits for pending writes and forgets the instance, so the next call
    // reads the files again, as a new process would (tests).
    static void resetForTesting();

    ~TallyPersistency();
    TallyPersistency(const TallyPersistency&) = delete;
    TallyPersistency& operator=(const TallyPersistency&) = delete;

    // Queue.
    void addToQueue(const std::string& query);
    void removeFromQueue(const std::string& query);  // only when it is the head
    std::optional<std::string> firstItemInQueue() const;
    std::vector<std::string> queuedRequests() const;
    size_t queueCount() const;
    void flushQueue();
    void replaceAllTemporaryDeviceIDsInQueueWithDeviceID(const std::string& deviceID);
    void replaceAllAppKeysInQueueWithCurrentAppKey();
    void removeDifferentAppKeysFromQueue();
    bool isQueueBeingModified() const { return isQueueBeingModified_.load(); }

    // Rewrites the file on the writer queue, at most once a second; requests
    // made while one is waiting share it.
    void saveToFile();
    // Rewrites the file on the calling thread, after any write in progress.
    void saveToFileSync();
    // Returns once no background write is waiting or running (one waiting
    // for its interval is written at once).
    void waitForPendingSaves();
    // Runs `work` while holding the queue's lock (tests of crashes that strike
    // while it is held).
    template <typename Work>
    void runWithQueueLockedForTesting(Work&& work) {
        std::lock_guard lock(queueMutex_);
        work();
    }
    // Snapshots written by this instance (benchmarks, tests).
    uint64_t snapshotWriteCount() const { return snapshotWrites_.load(); }

    // Events.
    void recordEvent(TallyEvent event);
    // All recorded events as escaped JSON text, removing them; none when empty.
    std::optional<std::string> serializedRecordedEvents();
    void flushEvents();
    size_t recordedEventCount() const;
    // The recorded events, left in place (tests).
    std::vector<TallyEvent> recordedEventsForTesting() const;
    void recordTimedEvent(TallyEvent event);
    std::optional<TallyEvent> timedEventForKey(const std::string& key);
    void clearAllTimedEvents();

    // Breadcrumbs of the external crash-reporter mode, one line each.
    void writeCustomCrashLogToFile(const std::string& line);
    std::optional<std::string> customCrashLogsFromFile() const;
    void deleteCustomCrashLogFile();
    // Returns once every breadcrumb write queued so far has been done.
    void waitForPendingCrashLogWrites();

    uint64_t eventSendThreshold() const { return eventSendThreshold_.load(); }
    void setEventSendThreshold(uint64_t v) { eventSendThreshold_.store(v); }
    uint64_t storedRequestsLimit() const { return storedRequestsLimit_.load(); }
    void setStoredRequestsLimit(uint64_t v) { storedRequestsLimit_.store(v == 0 ? 1 : v); }

    // "<data folder>" and the files in it.
    static std::string storageDirectory();
    static std::string storageFile();         // ".../Tally.dat"
    static std::string journalFile();         // ".../Tally.dat.journal"
    static std::string customCrashLogFile();  // ".../TallyCustomCrash.log"

    // User-default values (written through at once).
    static void storeDeviceID(const std::string& deviceID);
    static std::optional<std::string> retrieveDeviceID();
    static void storeIsCustomDeviceID(bool isCustom);
    static bool retrieveIsCustomDeviceID();
    static void storeStarRatingStatus(const TallyJSON& status);
    static TallyJSON retrieveStarRatingStatus();
    static void storeNotificationPermission(bool allowed);
    static bool retrieveNotificationPermission();
    static void storeRemoteConfig(const TallyJSON& config);
    static TallyJSON retrieveRemoteConfig();
    static void storeNSUUID(const std::string& uuid);
    static std::optional<std::string> retrieveNSUUID();
    static void storeWatchParentDeviceID(const std::string& deviceID);
    static std::optional<std::string> retrieveWatchParentDeviceID();

  private:
    TallyPersistency();
    void loadLocked();
    void appendToJournalLocked(const std::string& query);
    void dropOverLimitLocked();
    void compactJournalLocked(uint64_t coveredGeneration);
    void reopenJournalLocked();

    std::atomic<bool> isQueueBeingModified_{false};
    std::atomic<uint64_t> eventSendThreshold_{100};
    std::atomic<uint64_t> storedRequestsLimit_{1000};

    mutable std::mutex queueMutex_;
    // Entries are shared and never changed in place, so a snapshot copies
    // pointers under the lock and writes the texts after releasing it.
    std::deque<std::shared_ptr<const std::string>> queuedRequests_;
    // Generation that additions are journalled under; a snapshot covers all
    // generations up to the one current when it was taken.
    uint64_t generation_ = 1;
    std::vector<std::pair<uint64_t, std::string>> journal_;  // lines in the journal file
    int journalFD_ = -1;

    std::mutex writeMutex_;  // one snapshot write at a time, in snapshot order
    std::atomic<bool> saveQueued_{false};
    std::atomic<uint64_t> snapshotWrites_{0};
    std::atomic<double> lastSnapshotStart_{-1e9};  // monotonic seconds
    std::shared_ptr<platform::DispatchQueue> writer_;

    mutable std::mutex eventsMutex_;
    std::vector<TallyEvent> recordedEvents_;
    mutable std::mutex startedMutex_;
    std::map<std::string, TallyEvent> startedEvents_;
};

}  // namespace tervolo::analytics
