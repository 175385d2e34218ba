#include "analytics/TallyPersistency.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "analytics/TallyCommon.hpp"
#include "analytics/TallyConnectionManager.hpp"
#include "analytics/TallyDeviceInfo.hpp"
#include "analytics/TallyQueueFile.hpp"
#include "analytics/TallySingleton.hpp"
#include "analytics/TallyText.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/SharedInstance.hpp"
#include "platform/foundation/FileManager.hpp"
#include "platform/foundation/PropertyValueJSON.hpp"
#include "platform/foundation/UserDefaults.hpp"

namespace tervolo::analytics {

namespace {

constexpr size_t kMaximumFileBytes = 256u * 1024u * 1024u;
// Seconds between the starts of two snapshots written in the background.
constexpr double kSnapshotInterval = 1.0;

TallySingleton<TallyPersistency>& persistencySlot() {
    return platform::SharedInstance<TallySingleton<TallyPersistency>>::get();
}

std::shared_ptr<platform::DispatchQueue> crashLogQueue() {
    return platform::SharedInstance<std::shared_ptr<platform::DispatchQueue>, TallyPersistency>::get([] {
        return new std::shared_ptr<platform::DispatchQueue>(
            platform::DispatchQueue::serial("org.tervolo.analytics.breadcrumbs"));
    });
}

std::optional<std::string> readWhole(const std::string& path, size_t cap) {
    auto bytes = platform::FileManager::defaultManager().readFileSafely(path, cap);
    if (!bytes.ok()) {
        return std::nullopt;
    }
    return std::string(bytes.value().begin(), bytes.value().end());
}

std::string escapedAppKey() {
    auto connection = TallyConnectionManager::sharedInstance();
    return connection ? tly_URLEscaped(connection->appKey()) : std::string();
}

// The "app_key" value of a query exactly as written (escaped form).
std::optional<std::string> rawAppKey(const std::string& query) {
    constexpr std::string_view prefix = "app_key=";
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        if (query.compare(start, prefix.size(), prefix) == 0 && end - start >= prefix.size()) {
            return query.substr(start + prefix.size(), end - start - prefix.size());
        }
        start = end + 1;
    }
    return std::nullopt;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

std::shared_ptr<TallyPersistency> TallyPersistency::sharedInstance() {
    return persistencySlot().get([] { return new TallyPersistency(); });
}

void TallyPersistency::resetForTesting() {
    if (auto old = persistencySlot().reset()) {
        old->waitForPendingSaves();
        old->waitForPendingCrashLogWrites();
    }
}

TallyPersistency::TallyPersistency()
    : writer_(platform::DispatchQueue::serial("org.tervolo.analytics.queue-writer")) {
    std::lock_guard lock(queueMutex_);
    loadLocked();
}

TallyPersistency::~TallyPersistency() {
    if (journalFD_ >= 0) {
        ::close(journalFD_);
    }
}

void TallyPersistency::loadLocked() {
    auto& files = platform::FileManager::defaultManager();
    if (auto error = files.createDirectory(storageDirectory(), true)) {
        TallyLog(TallyLogLevel::Warning, "Application Support directory can not be created: \n{}",
                 error->description);
    }
    uint64_t covered = 0;
    if (auto bytes = readWhole(storageFile(), kMaximumFileBytes)) {
        if (auto snapshot = TallyQueueFile::decodeSnapshot(*bytes)) {
            for (auto& request : snapshot->requests) {
                queuedRequests_.push_back(std::make_shared<const std::string>(std::move(request)));
            }
            covered = snapshot->generation;
        } else {
            // Never guess at a file we cannot read: keep it aside for a
            // person to look at and start with what the journal holds.
            const std::string aside = storageFile() + ".corrupt";
            files.removeItem(aside);
            files.moveItem(storageFile(), aside);
            TallyLog(TallyLogLevel::Warning, "Stored request queue can not be read and is moved aside to {}",
                     aside);
        }
    } else if (files.fileExists(storageFile())) {
        TallyLog(TallyLogLevel::Warning, "Stored request queue can not be opened: {}", storageFile());
    }
    uint64_t newest = covered;
    journal_.clear();
    if (auto bytes = readWhole(journalFile(), kMaximumFileBytes)) {
        size_t malformed = 0;
        for (auto& entry : TallyQueueFile::decodeJournal(*bytes, &malformed)) {
            if (entry.generation <= covered) {
                continue;  // already in the snapshot
            }
            newest = std::max(newest, entry.generation);
            journal_.emplace_back(entry.generation,
                                  TallyQueueFile::encodeJournalLine(entry.generation, entry.request));
            queuedRequests_.push_back(std::make_shared<const std::string>(std::move(entry.request)));
            if (queuedRequests_.size() > storedRequestsLimit()) {
                queuedRequests_.erase(queuedRequests_.begin());
            }
        }
        if (malformed > 0) {
            TallyLog(TallyLogLevel::Warning, "{} unreadable line(s) in the request journal skipped",
                     malformed);
        }
    }
    // Later additions must sort after every generation already on disk.
    generation_ = newest + 1;
    compactJournalLocked(covered);
}

void TallyPersistency::reopenJournalLocked() {
    if (journalFD_ >= 0) {
        ::close(journalFD_);
    }
    journalFD_ = ::open(journalFile().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

void TallyPersistency::compactJournalLocked(uint64_t coveredGeneration) {
    const size_t dropped =
        std::erase_if(journal_, [&](const auto& line) { return line.first <= coveredGeneration; });
    if (dropped == 0 && journalFD_ >= 0) {
        return;  // nothing the snapshot covers: the file is as it should be
    }
    std::string text;
    for (const auto& line : journal_) {
        text += line.second;
    }
    // No fsync while the queue is locked: the journal guards against a killed
    // process, which a rename survives; the snapshot just written is durable.
    if (auto error = TallyQueueFile::writeAtomically(journalFile(), text, false)) {
        TallyLog(TallyLogLevel::Warning, "Request journal can not be written: {}", *error);
    }
    reopenJournalLocked();
}

void TallyPersistency::appendToJournalLocked(const std::string& query) {
    std::string line = TallyQueueFile::encodeJournalLine(generation_, query);
    if (journalFD_ < 0) {
        reopenJournalLocked();
    }
    // One write(2): once it returns the line is the kernel's, whatever
    // happens to this process.
    ssize_t written = -1;
    if (journalFD_ >= 0) {
        do {
            written = ::write(journalFD_, line.data(), line.size());
        } while (written < 0 && errno == EINTR);
    }
    if (written != static_cast<ssize_t>(line.size())) {
        TallyLog(TallyLogLevel::Warning, "Request journal append failed: {}", std::strerror(errno));
    }
    journal_.emplace_back(generation_, std::move(line));
}

void TallyPersistency::dropOverLimitLocked() {
    if (queuedRequests_.size() <= storedRequestsLimit()) {
        return;
    }
    auto connection = TallyConnectionManager::sharedInstance();
    const bool inFlight = connection && connection->hasRequestInFlight();
    // The head is on the wire while a request is in flight: drop the oldest
    // entry behind it instead, so the limit holds even while a request hangs.
    if (inFlight) {
        if (queuedRequests_.size() >= 2) {
            queuedRequests_.erase(queuedRequests_.begin() + 1);
        }
    } else {
        queuedRequests_.erase(queuedRequests_.begin());
    }
    TallyLog(TallyLogLevel::Debug, "Request queue is over its limit ({}); the oldest request is dropped.",
             storedRequestsLimit());
}

void TallyPersistency::addToQueue(const std::string& query) {
    if (query.empty()) {
        return;
    }
    {
        std::lock_guard lock(queueMutex_);
        queuedRequests_.push_back(std::make_shared<const std::string>(query));
        appendToJournalLocked(query);
        dropOverLimitLocked();
    }
    saveToFile();
}

void TallyPersistency::removeFromQueue(const std::string& query) {
    std::lock_guard lock(queueMutex_);
    if (!queuedRequests_.empty() && *queuedRequests_.front() == query) {
        queuedRequests_.erase(queuedRequests_.begin());
    }
}

std::optional<std::string> TallyPersistency::firstItemInQueue() const {
    std::lock_guard lock(queueMutex_);
    if (queuedRequests_.empty()) {
        return std::nullopt;
    }
    return *queuedRequests_.front();
}

std::vector<std::string> TallyPersistency::queuedRequests() const {
    std::lock_guard lock(queueMutex_);
    std::vector<std::string> copy;
    copy.reserve(queuedRequests_.size());
    for (const auto& request : queuedRequests_) copy.push_back(*request);
    return copy;
}

size_t TallyPersistency::queueCount() const {
    std::lock_guard lock(queueMutex_);
    return queuedRequests_.size();
}

void TallyPersistency::flushQueue() {
    {
        std::lock_guard lock(queueMutex_);
        queuedRequests_.clear();
    }
    saveToFile();
}

void TallyPersistency::replaceAllTemporaryDeviceIDsInQueueWithDeviceID(const std::string& deviceID) {
    const std::string from = std::string("&device_id=") + kTallyTemporaryDeviceID;
    const std::string to = "&device_id=" + tly_URLEscaped(deviceID);
    {
        std::lock_guard lock(queueMutex_);
        for (auto& shared : queuedRequests_) {
            if (shared->find(from) != std::string::npos) {
                std::string entry = *shared;
                replaceAll(entry, from, to);
                shared = std::make_shared<const std::string>(std::move(entry));
                TallyLog(TallyLogLevel::Debug,
                         "Detected a request with temporary device ID in queue and replaced it with real "
                         "device ID.");
            }
        }
    }
    saveToFile();
}

void TallyPersistency::replaceAllAppKeysInQueueWithCurrentAppKey() {
    // Keys are compared and replaced in their escaped form, the form the
    // queue holds, so a key with escapable characters matches itself.
    const std::string current = escapedAppKey();
    {
        std::lock_guard lock(queueMutex_);
        isQueueBeingModified_ = true;
        for (auto& shared : queuedRequests_) {
            const auto key = rawAppKey(*shared);
            if (key && *key != current) {
                TallyLog(TallyLogLevel::Debug,
                         "Detected a request with a different app key ({}) in queue and replaced it with "
                         "current app "
                         "key.",
                         tly_percentDecoded(*key).value_or(*key));
                std::string entry = *shared;
                replaceAll(entry, "app_key=" + *key, "app_key=" + current);
                shared = std::make_shared<const std::string>(std::move(entry));
            }
        }
        isQueueBeingModified_ = false;
    }
    saveToFile();
}

void TallyPersistency::removeDifferentAppKeysFromQueue() {
    const std::string current = escapedAppKey();
    {
        std::lock_guard lock(queueMutex_);
        isQueueBeingModified_ = true;
        std::erase_if(queuedRequests_, [&](const auto& entry) {
            const auto key = rawAppKey(*entry);
            if (key && *key == current) {
                return false;
            }
            TallyLog(TallyLogLevel::Debug,
                     "Detected a request with a different app key ({}) in queue and removed it.",
                     key ? tly_percentDecoded(*key).value_or(*key) : std::string());
            return true;
        });
        isQueueBeingModified_ = false;
    }
    saveToFile();
}

void TallyPersistency::saveToFile() {
    if (saveQueued_.exchange(true)) {
        return;  // a write that has not taken its snapshot yet will include this change
    }
    // Every change is already on disk through the journal, so snapshots only
    // fold it in: at most one a second, however busy the queue is.
    const double now = platform::Clock::current()->monotonicSeconds();
    const double delay = std::max(0.0, lastSnapshotStart_.load() + kSnapshotInterval - now);
    std::weak_ptr<TallyPersistency> weak = weak_from_this();
    auto write = [weak] {
        if (auto self = weak.lock(); self && self->saveQueued_.exchange(false)) {
            self->saveToFileSync();
        }
    };
    if (delay > 0) {
        writer_->asyncAfter(delay, std::move(write));
    } else {
        writer_->async(std::move(write));
    }
}

void TallyPersistency::saveToFileSync() {
    std::lock_guard write(writeMutex_);
    lastSnapshotStart_ = platform::Clock::current()->monotonicSeconds();
    std::vector<std::shared_ptr<const std::string>> requests;
    uint64_t generation = 0;
    {
        std::lock_guard lock(queueMutex_);
        requests.assign(queuedRequests_.begin(), queuedRequests_.end());
        generation = generation_;
        ++generation_;
    }
    const auto error =
        TallyQueueFile::writeAtomically(storageFile(), TallyQueueFile::encodeSnapshot(generation, requests));
    snapshotWrites_.fetch_add(1);
    TallyLog(TallyLogLevel::Debug, "Result of writing data to file: {}", error ? 0 : 1);
    if (error) {
        TallyLog(TallyLogLevel::Warning, "{}", *error);
    } else {
        std::lock_guard lock(queueMutex_);
        compactJournalLocked(generation);
    }
    TallyCommon::sharedInstance().finishBackgroundTask();
}

void TallyPersistency::waitForPendingSaves() {
    writer_->sync([] {});
    // A snapshot still waiting for its interval is written now.
    if (saveQueued_.exchange(false)) {
        saveToFileSync();
    }
}

void TallyPersistency::recordEvent(TallyEvent event) {
    auto& common = TallyCommon::sharedInstance();
    if (tly_utf16Length(event.key) > common.maxKeyLength()) {
        event.key = tly_truncatedKey(event.key, "Event key");
    }
    if (event.segmentation && event.segmentation->is_object()) {
        // Most segmentations are within the limits: rebuild only those that are not.
        bool withinLimits = event.segmentation->size() <= common.maxSegmentationValues();
        for (const auto& [key, value] : event.segmentation->items()) {
            if (!withinLimits) break;
            withinLimits = tly_utf16Length(key) <= common.maxKeyLength() &&
                           (!value.is_string() ||
                            tly_utf16Length(value.get_ref<const std::string&>()) <= common.maxValueLength());
        }
        if (!withinLimits) {
            event.segmentation =
                tly_limited(tly_truncated(*event.segmentation, "Event segmentation"), "Event segmentation");
        }
    }
    bool reachedThreshold = false;
    {
        std::lock_guard lock(eventsMutex_);
        recordedEvents_.push_back(std::move(event));
        reachedThreshold = recordedEvents_.size() >= eventSendThreshold();
    }
    // Outside the lock: sending comes back here for the events.
    if (reachedThreshold) {
        if (auto connection = TallyConnectionManager::sharedInstance()) {
            connection->sendEvents();
        }
    }
}

std::optional<std::string> TallyPersistency::serializedRecordedEvents() {
    std::vector<TallyEvent> events;
    {
        std::lock_guard lock(eventsMutex_);
        if (recordedEvents_.empty()) {
            return std::nullopt;
        }
        events.swap(recordedEvents_);
    }
    TallyJSON list = TallyJSON::array();
    for (const auto& event : events) {
        list.push_back(event.dictionaryRepresentation());
    }
    return tly_JSONify(list);
}

void TallyPersistency::flushEvents() {
    std::lock_guard lock(eventsMutex_);
    recordedEvents_.clear();
}

std::vector<TallyEvent> TallyPersistency::recordedEventsForTesting() const {
    std::lock_guard lock(eventsMutex_);
    return recordedEvents_;
}

size_t TallyPersistency::recordedEventCount() const {
    std::lock_guard lock(eventsMutex_);
    return recordedEvents_.size();
}

void TallyPersistency::recordTimedEvent(TallyEvent event) {
    std::lock_guard lock(startedMutex_);
    if (startedEvents_.count(event.key) != 0) {
        TallyLog(TallyLogLevel::Warning, "Event with key '{}' already started!", event.key);
        return;
    }
    std::string key = event.key;
    startedEvents_.emplace(std::move(key), std::move(event));
}

std::optional<TallyEvent> TallyPersistency::timedEventForKey(const std::string& key) {
    std::lock_guard lock(startedMutex_);
    auto found = startedEvents_.find(key);
    if (found == startedEvents_.end()) {
        return std::nullopt;
    }
    TallyEvent event = std::move(found->second);
    startedEvents_.erase(found);
    return event;
}

void TallyPersistency::clearAllTimedEvents() {
    std::lock_guard lock(startedMutex_);
    startedEvents_.clear();
}

void TallyPersistency::writeCustomCrashLogToFile(const std::string& line) {
    // One serial writer: two appends never race to create the file.
    crashLogQueue()->async([text = line + "\n"] {
        const std::string path = customCrashLogFile();
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            TallyLog(TallyLogLevel::Warning, "Crash Log File can not be created: \n{}", std::strerror(errno));
            return;
        }
        std::string_view rest = text;
        while (!rest.empty()) {
            const ssize_t n = ::write(fd, rest.data(), rest.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            rest.remove_prefix(static_cast<size_t>(n));
        }
        ::close(fd);
    });
}

void TallyPersistency::waitForPendingCrashLogWrites() {
    crashLogQueue()->sync([] {});
}

std::optional<std::string> TallyPersistency::customCrashLogsFromFile() const {
    auto text = readWhole(customCrashLogFile(), kMaximumFileBytes);
    if (!text) {
        return std::nullopt;
    }
    return tly_stringUTF8(std::vector<uint8_t>(text->begin(), text->end()));
}

void TallyPersistency::deleteCustomCrashLogFile() {
    auto& files = platform::FileManager::defaultManager();
    const std::string path = customCrashLogFile();
    if (!files.fileExists(path)) {
        return;
    }
    TallyLog(TallyLogLevel::Debug, "Detected Crash Log File and deleting it.");
    if (auto error = files.removeItem(path)) {
        TallyLog(TallyLogLevel::Warning, "Crash Log File can not be deleted: \n{}", error->description);
    }
}

std::string TallyPersistency::storageDirectory() {
    return platform::FileManager::defaultManager().documentsDirectory();
}
std::string TallyPersistency::storageFile() {
    return storageDirectory() + "/Tally.dat";
}
std::string TallyPersistency::journalFile() {
    return storageDirectory() + "/Tally.dat.journal";
}
std::string TallyPersistency::customCrashLogFile() {
    return storageDirectory() + "/TallyCustomCrash.log";
}

namespace {
platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}

std::optional<std::string> storedString(const char* key) {
    return defaults().stringValue(key);
}

TallyJSON storedDictionary(const char* key) {
    auto value = defaults().object(key);
    if (!value || !value->asDictionary()) {
        return TallyJSON::object();
    }
    return TallyJSON(platform::toJSON(*value));
}

void storeDictionary(const char* key, const TallyJSON& dictionary) {
    auto value = platform::propertyValueFromJSON(nlohmann::json::parse(dictionary.dump()));
    if (value && value->asDictionary()) {
        defaults().set(key, *value);
    }
}
}  // namespace

void TallyPersistency::storeDeviceID(const std::string& deviceID) {
    defaults().set("kTallyStoredDeviceIDKey", deviceID);
    TallyLog(TallyLogLevel::Debug, "Device ID successfully stored in UserDefaults: {}", deviceID);
}

std::optional<std::string> TallyPersistency::retrieveDeviceID() {
    auto stored = storedString("kTallyStoredDeviceIDKey");
    if (stored) {
        TallyLog(TallyLogLevel::Debug, "Device ID successfully retrieved from UserDefaults: {}", *stored);
    } else {
        TallyLog(TallyLogLevel::Debug, "There is no stored Device ID in UserDefaults!");
    }
    return stored;
}

void TallyPersistency::storeIsCustomDeviceID(bool isCustom) {
    defaults().set("kTallyIsCustomDeviceIDKey", isCustom);
}
bool TallyPersistency::retrieveIsCustomDeviceID() {
    return defaults().boolValue("kTallyIsCustomDeviceIDKey").value_or(false);
}
void TallyPersistency::storeStarRatingStatus(const TallyJSON& status) {
    storeDictionary("kTallyStarRatingStatusKey", status);
}
TallyJSON TallyPersistency::retrieveStarRatingStatus() {
    return storedDictionary("kTallyStarRatingStatusKey");
}
void TallyPersistency::storeNotificationPermission(bool allowed) {
    defaults().set("kTallyNotificationPermissionKey", allowed);
}
bool TallyPersistency::retrieveNotificationPermission() {
    return defaults().boolValue("kTallyNotificationPermissionKey").value_or(false);
}
void TallyPersistency::storeRemoteConfig(const TallyJSON& config) {
    storeDictionary("kTallyRemoteConfigPersistencyKey", config);
}
TallyJSON TallyPersistency::retrieveRemoteConfig() {
    return storedDictionary("kTallyRemoteConfigPersistencyKey");
}
void TallyPersistency::storeNSUUID(const std::string& uuid) {
    defaults().set("kTallyStoredNSUUIDKey", uuid);
}
std::optional<std::string> TallyPersistency::retrieveNSUUID() {
    return storedString("kTallyStoredNSUUIDKey");
}
void TallyPersistency::storeWatchParentDeviceID(const std::string& deviceID) {
    defaults().set("kTallyWatchParentDeviceIDKey", deviceID);
}
std::optional<std::string> TallyPersistency::retrieveWatchParentDeviceID() {
    return storedString("kTallyWatchParentDeviceIDKey");
}

}  // namespace tervolo::analytics
