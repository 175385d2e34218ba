// The user's position as the share sheet's item source: placeholder, subject
// and the text to share for each way of sharing.
#include "location/QuovaUserLocationAnnotation.hpp"
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/text/Numbers.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/MainThread.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/ShareItemText.hpp"
#include "points/ShareItemWait.hpp"

namespace tervolo::location {

std::string QuovaUserLocationAnnotation::activityViewControllerPlaceholderItem(
    const platform::ActivityViewController* /*activityViewController*/) {
    QLLogInfo("activityViewControllerPlaceholderItem(_:)");
    std::string result;
    points::runOnMainThread([&] {
        const auto& point = mapPoint();
        const std::optional<std::string> title = point->title();
        const std::string displayTitle = title.value_or(points::myPositionText());
        const std::string logTitle = title.value_or("(unknown)");
        auto& store = points::QuovaMapPointStore::shared();
        if (auto link = store.shorturlFor(*point)) {
            QLLogInfo("Placeholder request: shorturl for " + logging::debugQuoted(logTitle) +
                      " already encoded");
            result = *link;
        } else if (store.isEncodingShorturl(*point)) {
            QLLogInfo("Placeholder request: shorturl encoding in progress for " +
                      logging::debugQuoted(logTitle) + ", using title");
            result = displayTitle;
        } else {
            // Opening the share sheet already starts the making of the link, so
            // it is often there by the time an activity is chosen.
            QLLogInfo("Placeholder request: triggering shorturl encoding, using title");
            store.generateShorturlFor(point);
            result = displayTitle;
        }
    });
    return result;
}

std::string QuovaUserLocationAnnotation::activityViewControllerSubjectForActivityType(
    const platform::ActivityViewController* /*activityViewController*/,
    const std::optional<std::string>& /*activityType*/) {
    QLLogInfo("activityViewController(_:subjectForActivityType:)");
    std::string result;
    points::runOnMainThread([&] { result = mapPoint()->title().value_or(points::myPositionText()); });
    return result;
}

std::string QuovaUserLocationAnnotation::activityViewControllerItemForActivityType(
    const platform::ActivityViewController* /*activityViewController*/,
    const std::optional<std::string>& activityType) {
    QLLogInfo("activityViewController(_:itemForActivityType:)");

    // What the text is built from, read on the main thread once; the wait
    // below touches neither the annotation nor the store's list.
    std::optional<std::string> title;
    platform::CLLocationCoordinate2D coordinate = platform::kCLLocationCoordinate2DInvalid;
    std::optional<std::string> shorturl;
    std::optional<std::string> waitFor;  // the identifier whose upload to wait for
    points::QuovaMapPointStore* store = nullptr;
    std::shared_ptr<points::QuovaMapPoint> point;
    points::runOnMainThread([&] {
        point = mapPoint();
        store = &points::QuovaMapPointStore::shared();
        title = point->title();
        coordinate = point->coordinate();
        shorturl = store->shorturlFor(*point);
        if (shorturl) return;
        if (!store->isEncodingShorturl(*point)) {
            store->generateShorturlFor(point);
            QLLogInfo("item request: started generating shorturl");
        }
        // A point without identifier has no upload to wait for.
        if (point->uuid() && !point->uuid()->empty()) waitFor = point->uuid();
    });

    if (shorturl) {
        QLLogInfo("item request: using shorturl " + logging::debugQuoted(*shorturl));
    } else {
        // Bounded: a stalled upload ends in the map link, not in a share sheet
        // that never gets its item.
        if (waitFor && !points::waitForShorturlUpload(*store, *waitFor, [] {
                QLLogInfo("item request: waiting for generator to finish");
            })) {
            QLLogInfo("item request: no shorturl after " +
                      platform::text::describe(points::shareItemWaitLimit()) + " s - giving up waiting");
        }
        points::runOnMainThread([&] { shorturl = store->shorturlFor(*point); });
        if (shorturl) {
            QLLogInfo("item request: using shorturl " + logging::debugQuoted(*shorturl));
        } else {
            QLLogInfo("item request: encoding failed - falling back to OSM link");
            // The user's position always has a coordinate once a screen made the
            // annotation from a fix; one never set shares the link of (-180, -180).
            if (!platform::CLLocationCoordinate2DIsValid(coordinate)) {
                QLLogInfo("item request: position not known - the link shows no real place");
            }
        }
    }
    const std::string link = shorturl ? *shorturl : points::shareMapLink(coordinate);
    return points::shareItemText(activityType, title, link);
}

}  // namespace tervolo::location
