// The point as the share sheet's item source: placeholder, subject and the
// text to share for each way of sharing.
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/text/Numbers.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/MainThread.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/ShareItemText.hpp"
#include "points/ShareItemWait.hpp"

namespace tervolo::points {

std::string QuovaMapPoint::activityViewControllerPlaceholderItem(
    const platform::ActivityViewController* /*activityViewController*/) {
    QLLogInfo("activityViewControllerPlaceholderItem(_:)");
    auto self = shared_from_this();
    std::string result;
    runOnMainThread([&] {
        const std::string shareTitle = title_.value_or(sharedLocationTitle());
        const std::string logTitle = title_.value_or("(unknown)");
        auto& store = QuovaMapPointStore::shared();
        if (auto link = store.shorturlFor(*this)) {
            QLLogInfo("Placeholder request: shorturl for " + logging::debugQuoted(logTitle) +
                      " already encoded");
            result = *link;
        } else if (store.isEncodingShorturl(*this)) {
            QLLogInfo("Placeholder request: shorturl encoding in progress for " +
                      logging::debugQuoted(logTitle) + ", using title");
            result = shareTitle;
        } else {
            // Showing the share sheet already starts the making of the link.
            QLLogInfo("Placeholder request: triggering shorturl encoding, using title");
            store.generateShorturlFor(self);
            result = shareTitle;
        }
    });
    return result;
}

std::string QuovaMapPoint::activityViewControllerSubjectForActivityType(
    const platform::ActivityViewController* /*activityViewController*/,
    const std::optional<std::string>& /*activityType*/) {
    QLLogInfo("activityViewController(_:subjectForActivityType:)");
    std::string result;
    runOnMainThread([&] { result = title_.value_or(sharedLocationTitle()); });
    return result;
}

std::string QuovaMapPoint::activityViewControllerItemForActivityType(
    const platform::ActivityViewController* /*activityViewController*/,
    const std::optional<std::string>& activityType) {
    QLLogInfo("activityViewController(_:itemForActivityType:)");
    auto self = shared_from_this();

    // What the text is built from, read on the main thread once; the wait
    // below touches neither the point nor the store's list.
    std::optional<std::string> pointTitle;
    platform::CLLocationCoordinate2D pointCoordinate = platform::kCLLocationCoordinate2DInvalid;
    std::optional<std::string> shorturl;
    std::optional<std::string> waitFor;  // the identifier whose upload to wait for
    QuovaMapPointStore* store = nullptr;
    runOnMainThread([&] {
        store = &QuovaMapPointStore::shared();
        pointTitle = title_;
        pointCoordinate = coordinate_;
        shorturl = store->shorturlFor(*this);
        if (shorturl) return;
        if (!store->isEncodingShorturl(*this)) {
            QLLogInfo("item request: started generating shorturl");
            store->generateShorturlFor(self);
        }
        waitFor = uuid_;
    });

    if (shorturl) {
        QLLogInfo("item request: using shorturl " + logging::debugQuoted(*shorturl));
    } else {
        // Bounded: a stalled upload ends in the map link, not in a share sheet
        // that never gets its item.
        if (waitFor && !waitForShorturlUpload(*store, *waitFor, [] {
                QLLogInfo("item request: waiting for generator to finish");
            })) {
            QLLogInfo("item request: no shorturl after " + platform::text::describe(shareItemWaitLimit()) +
                      " s - giving up waiting");
        }
        runOnMainThread([&] { shorturl = store->shorturlFor(*this); });
        if (shorturl) QLLogInfo("item request: using shorturl " + logging::debugQuoted(*shorturl));
    }

    std::string link;
    if (shorturl) {
        link = *shorturl;
    } else if (platform::CLLocationCoordinate2DIsValid(pointCoordinate)) {
        QLLogInfo("item request: encoding failed - falling back to OSM link");
        link = shareMapLink(pointCoordinate);
    } else {
        // Neither a short link nor a place on the map: the title is all there
        // is to share.
        QLLogInfo("item request: no shorturl and no valid coordinate - sharing the title alone");
        return pointTitle.value_or(sharedLocationTitle());
    }
    return shareItemText(activityType, pointTitle, link);
}

}  // namespace tervolo::points
