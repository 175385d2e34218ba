// The write side of the point store: add, delete and hide, and the
// "mapPointChange" notification.
#include "logging/QLLogging.hpp"
#include "platform/dispatch/Date.hpp"
#include "platform/dispatch/NotificationCenter.hpp"
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
    return point.title.value_or("unknown");
}

}  // namespace

void QuovaMapPointStore::addPoint(const std::shared_ptr<QuovaMapPoint>& point) {
    QLLogInfo("QuovaMapPointStore: add point " + logTitle(*point) + ".");
    point->ensureUUID();
    // The save indexes the point and sets the needs-sync flag, once.
    point->save(*this);
    points.push_back(point);
}

void QuovaMapPointStore::deletePoint(const std::shared_ptr<QuovaMapPoint>& point) {
    QLLogInfo("QuovaMapPointStore: delete point " + logTitle(*point) + ".");
    point->deletedAt = platform::Date::now();
    point->save(*this);
    removePointFromSpotlight(*point);
    postChange(point, kMapPointDeletedReason);
}

void QuovaMapPointStore::hidePoint(const std::shared_ptr<QuovaMapPoint>& point) {
    QLLogInfo("QuovaMapPointStore: hiding point " + logTitle(*point) + ".");
    // Hiding passes through the deleted state, so observers see the deletion
    // first (before the point has its hiddenAt).
    if (!point->deletedAt) deletePoint(point);
    point->hiddenAt = platform::Date::now();
    point->save(*this);
    removePointFromSpotlight(*point);
    postChange(point, kMapPointHiddenReason);
}

}  // namespace tervolo::points
