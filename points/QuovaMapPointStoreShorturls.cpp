// The point store's bookkeeping of short links: the cache of links returned
// by the backend, the table of running uploads, and the start of an upload
// through the backend's uploader.
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/Date.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace tervolo::points {

namespace {

// The entry of encodeTasks while an upload runs. It is registered before the
// uploader is asked, so a second request for the same identifier cannot start
// a second upload, and a completion that runs before startUpload returns
// still finds (and removes) it.
struct EncodeTask {
    std::shared_ptr<void> task;  // the uploader's handle, once it has one
};

bool hasIdentifier(const QuovaMapPoint& point) {
    return point.uuid() && !point.uuid()->empty();
}

}  // namespace

std::optional<std::string> QuovaMapPointStore::shorturlFor(const QuovaMapPoint& point) {
    if (!hasIdentifier(point)) return std::nullopt;
    std::lock_guard lock(shorturlsMutex_);
    const auto it = shorturls_.find(*point.uuid());
    if (it == shorturls_.end()) return std::nullopt;
    // Valid only while the point has not been saved since the link was stored.
    if (point.lastSavedAt() < it->second.internalSavedAt) {
        QLLogDebug("point older than its shorturl - returning shorturl on file");
        return it->second.internalShorturl;
    }
    QLLogDebug("point has been modified since shorturl creation - returning nil");
    shorturls_.erase(it);
    return std::nullopt;
}

bool QuovaMapPointStore::isEncodingShorturl(const QuovaMapPoint& point) {
    if (!hasIdentifier(point)) return false;
    return isEncodingShorturl(*point.uuid());
}

bool QuovaMapPointStore::isEncodingShorturl(const std::string& identifier) {
    std::lock_guard lock(encodeTasksMutex_);
    return encodeTasks_.count(identifier) != 0;
}

std::optional<platform::Date> QuovaMapPointStore::encodingLastFailedAt() const {
    std::lock_guard lock(encodingLastFailedAtMutex_);
    return encodingLastFailedAt_;
}

void QuovaMapPointStore::setEncodingLastFailedAt(std::optional<platform::Date> date) {
    std::lock_guard lock(encodingLastFailedAtMutex_);
    encodingLastFailedAt_ = date;
}

std::map<std::string, QuovaMapPointStore::Shorturl> QuovaMapPointStore::shorturls() const {
    std::lock_guard lock(shorturlsMutex_);
    return shorturls_;
}

void QuovaMapPointStore::setShorturls(std::map<std::string, Shorturl> shorturls) {
    std::lock_guard lock(shorturlsMutex_);
    shorturls_ = std::move(shorturls);
}

void QuovaMapPointStore::setShorturl(const std::string& identifier, Shorturl shorturl) {
    std::lock_guard lock(shorturlsMutex_);
    shorturls_[identifier] = std::move(shorturl);
}

void QuovaMapPointStore::setShorturlUploader(std::shared_ptr<ShorturlUploader> uploader) {
    std::lock_guard lock(uploaderMutex_);
    uploader_ = std::move(uploader);
}

void QuovaMapPointStore::generateShorturlFor(const std::shared_ptr<QuovaMapPoint>& point) {
    point->ensureUUID();
    if (!hasIdentifier(*point)) {
        QLLogDebug("Can't create UUID for point, that's strange!");
        return;
    }
    const std::string identifier = *point->uuid();
    if (isEncodingShorturl(*point)) return;
    if (!point->title() || !platform::CLLocationCoordinate2DIsValid(point->coordinate())) {
        QLLogWarn("Can't encode location without title & coordinates.");
        return;
    }
    std::shared_ptr<ShorturlUploader> uploader;
    {
        std::lock_guard lock(uploaderMutex_);
        uploader = uploader_;
    }
    if (!uploader) return;

    auto entry = std::make_shared<EncodeTask>();
    {
        // Check and register in one step: two requests for one identifier
        // never both start an upload.
        std::lock_guard lock(encodeTasksMutex_);
        if (!encodeTasks_.try_emplace(identifier, entry).second) return;
    }
    // The store is never destroyed, so the completion may keep `this`.
    auto handle =
        uploader->startUpload(*point, [this, identifier, entry](std::optional<std::string> shorturl) {
            if (shorturl) {
                // The link is stored before the task is removed, so a caller that
                // sees the upload finished finds the link.
                std::lock_guard lock(shorturlsMutex_);
                QLLogInfo("upload successful, generated shorturl " + logging::debugQuoted(*shorturl));
                shorturls_[identifier] = Shorturl{*shorturl, platform::Date::now()};
            }
            std::lock_guard lock(encodeTasksMutex_);
            const auto it = encodeTasks_.find(identifier);
            if (it != encodeTasks_.end() && it->second == entry) encodeTasks_.erase(it);
        });
    std::lock_guard lock(encodeTasksMutex_);
    const auto it = encodeTasks_.find(identifier);
    if (it == encodeTasks_.end() || it->second != entry) return;  // already completed
    if (handle) {
        entry->task = std::move(handle);
    } else {
        // Nothing was started: nobody will remove the entry, and a waiting
        // share request must stop waiting at once.
        encodeTasks_.erase(it);
    }
}

}  // namespace tervolo::points
