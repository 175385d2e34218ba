// The write side of the point store: add, delete and hide, the
// "mapPointChange" notification and the typed change observers.
#include <algorithm>
#include <optional>
#include <string>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
#include "points/MainThread.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace tervolo::points {

namespace {

void postChange(const std::shared_ptr<QuovaMapPoint>& point, const char* reason) {
    // Synchronous: every observer has run, on this thread, before the store's
    // operation returns, and sees the point already stamped and saved.
    platform::NotificationCenter::defaultCenter().post(
        QuovaMapPointStore::kMapPointChangeNotification, point,
        {{QuovaMapPointStore::kMapPointChangeReasonKey, std::string(reason)}});
}

std::string logTitle(const QuovaMapPoint& point) {
    // A title may have come with a shared link: one line, whatever it holds.
    return point.title() ? logging::debugQuoted(*point.title()) : std::string("unknown");
}

constexpr const char* kStoreName = "QuovaMapPointStore";

// The fields a store operation stamps before its save, put back when the save
// wrote nothing: the point in memory, and so every screen showing it, must
// say what its file says.
class Stamps {
  public:
    explicit Stamps(const QuovaMapPoint& point)
        : deletedAt_(point.deletedAt()),
          hiddenAt_(point.hiddenAt()),
          lastSavedAt_(point.lastSavedAt()),
          lastSavedBy_(point.lastSavedByAppVersion()) {}
    void restore(QuovaMapPoint& point) const {
        point.setDeletedAt(deletedAt_);
        point.setHiddenAt(hiddenAt_);
        point.setLastSavedAt(lastSavedAt_);
        point.setLastSavedByAppVersion(lastSavedBy_);
    }

  private:
    std::optional<platform::Date> deletedAt_;
    std::optional<platform::Date> hiddenAt_;
    platform::Date lastSavedAt_;
    std::optional<std::string> lastSavedBy_;
};

// Marks a store operation in progress for as long as it runs.
class Mutation {
  public:
    explicit Mutation(int& depth) : depth_(depth) { ++depth_; }
    ~Mutation() { --depth_; }
    Mutation(const Mutation&) = delete;
    Mutation& operator=(const Mutation&) = delete;

  private:
    int& depth_;
};

}  // namespace

std::unique_ptr<QuovaMapPointStore::ChangeToken> QuovaMapPointStore::observeChanges(
    std::function<void(const MapPointChange&)> observer) {
    return changeObservers_.observe(std::move(observer));
}

void QuovaMapPointStore::didSavePoint(const std::shared_ptr<QuovaMapPoint>& point) {
    if (mutationDepth_ > 0) return;
    if (std::find(points_.begin(), points_.end(), point) == points_.end()) return;
    changeObservers_.notify({point, MapPointChange::Reason::updated});
}

std::optional<platform::Error> QuovaMapPointStore::addPoint(const std::shared_ptr<QuovaMapPoint>& point) {
    assertMainThread(kStoreName, "addPoint");
    QLLogInfo("QuovaMapPointStore: add point " + logTitle(*point) + ".");
    {
        Mutation mutation(mutationDepth_);
        point->ensureUUID();
        // The save indexes the point and sets the needs-sync flag, once.
        auto written = point->save(*this);
        if (!written.ok()) {
            // Not on disk, so not in the collection: it would be gone at the
            // next start while the map showed it as kept.
            removePointFromSpotlight(*point);
            return written.error();
        }
        points_.push_back(point);
    }
    changeObservers_.notify({point, MapPointChange::Reason::added});
    return std::nullopt;
}

std::optional<platform::Error> QuovaMapPointStore::deletePoint(const std::shared_ptr<QuovaMapPoint>& point) {
    assertMainThread(kStoreName, "deletePoint");
    QLLogInfo("QuovaMapPointStore: delete point " + logTitle(*point) + ".");
    {
        Mutation mutation(mutationDepth_);
        const Stamps before(*point);
        point->setDeletedAt(platform::Date::now());
        auto written = point->save(*this);
        if (!written.ok()) {
            before.restore(*point);
            return written.error();
        }
        removePointFromSpotlight(*point);
    }
    postChange(point, kMapPointDeletedReason);
    changeObservers_.notify({point, MapPointChange::Reason::deleted});
    return std::nullopt;
}

std::optional<platform::Error> QuovaMapPointStore::hidePoint(const std::shared_ptr<QuovaMapPoint>& point) {
    assertMainThread(kStoreName, "hidePoint");
    QLLogInfo("QuovaMapPointStore: hiding point " + logTitle(*point) + ".");
    {
        Mutation mutation(mutationDepth_);
        // Hiding passes through the deleted state, so observers see the
        // deletion first (before the point has its hiddenAt).
        if (!point->deletedAt()) {
            if (auto error = deletePoint(point)) return error;
        }
        const Stamps before(*point);
        point->setHiddenAt(platform::Date::now());
        auto written = point->save(*this);
        if (!written.ok()) {
            before.restore(*point);
            return written.error();
        }
        removePointFromSpotlight(*point);
    }
    postChange(point, kMapPointHiddenReason);
    changeObservers_.notify({point, MapPointChange::Reason::hidden});
    return std::nullopt;
}

}  // namespace tervolo::points
