// The point as the share sheet's item source: placeholder, subject and the
// text to share for each way of sharing.
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "logging/QLLogging.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainQueueExecutor.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/text/Numbers.hpp"
#include "points/AppTextsAndColors.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/ShareActivityType.hpp"
#include "points/ShareItemWait.hpp"

namespace tervolo::points {

namespace {

struct WaitSlot {
    std::mutex mutex;
    std::optional<ShareItemWait> wait;
};

WaitSlot& waitSlot() {
    static auto* slot = new WaitSlot;  // never destroyed: safe at exit
    return *slot;
}

ShareItemWait currentWait() {
    std::lock_guard lock(waitSlot().mutex);
    return waitSlot().wait.value_or(ShareItemWait{});
}

// The point and the store belong to the main thread. The item request comes
// on a thread of the share sheet's own, so everything it reads or changes of
// them runs as a block on the main queue (inline when already there).
void onMain(const std::function<void()>& block) {
    if (platform::isMainThread()) {
        block();
    } else {
        platform::DispatchQueue::main()->sync(block);
    }
}

// Configuration values with defaults; TERVOLO_<key> overrides them.
std::string openStreetMapHost() {
    return platform::Bundle::main().infoString("QuovaOpenStreetMapWebHost").value_or("www.openstreetmap.org");
}

std::string productWebHost() {
    return platform::Bundle::main().infoString("QuovaProductWebHost").value_or("www.tervolo.invalid");
}

// The point on the OpenStreetMap web map at zoom level 15.
std::string mapLink(platform::CLLocationCoordinate2D coordinate) {
    const std::string lat = platform::text::describe(coordinate.latitude);
    const std::string lon = platform::text::describe(coordinate.longitude);
    return "https://" + openStreetMapHost() + "/?mlat=" + lat + "&mlon=" + lon + "#map=15/" + lat + "/" + lon;
}

// Titles come from users and from received short links, and the link from
// the network: both are escaped before they go into the mail's HTML, as text
// and as a double-quoted attribute value.
std::string htmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string mailBody(const std::optional<std::string>& title, const std::string& link) {
    std::string body = "<html>";
    body += platform::localizedString("I'd like to share this location with you:");
    body += "<br><br>";
    body += "<a href=\"" + htmlEscaped(link) + "\">";
    body += title ? htmlEscaped(*title) : platform::localizedString("Location");
    body += "</a><br><br><br><br><br>";
    body += platform::localizedString("Shared with");
    body += " <a href=\"https://" + htmlEscaped(productWebHost()) + "/appstore/\">";
    body += platform::localizedString("Tervolo for Mac");
    body += "</a>";
    body += "</html>";
    return body;
}

std::string itemText(const std::optional<std::string>& activityType, const std::optional<std::string>& title,
                     const std::string& link) {
    const std::string type = activityType.value_or("");
    if (activityType && (type == UIActivityTypeAirDrop || type == UIActivityTypeMessage ||
                         type == UIActivityTypeCopyToPasteboard)) {
        return link;
    }
    if (activityType && type == UIActivityTypePostToTwitter) {
        return (title ? *title + " " : std::string()) + link + " via @Tervolo ";
    }
    if (activityType && type == UIActivityTypeMail) return mailBody(title, link);
    return title ? *title + " " + link : link;
}

}  // namespace

void setShareItemWaitForTesting(std::optional<ShareItemWait> wait) {
    std::lock_guard lock(waitSlot().mutex);
    waitSlot().wait = std::move(wait);
}

std::string QuovaMapPoint::activityViewControllerPlaceholderItem(
    const platform::ActivityViewController* /*activityViewController*/) {
    QLLogInfo("activityViewControllerPlaceholderItem(_:)");
    auto self = shared_from_this();
    std::string result;
    onMain([&] {
        const std::string shareTitle = title_.value_or(sharedLocationTitle());
        const std::string logTitle = title_.value_or("(unknown)");
        auto& store = QuovaMapPointStore::shared();
        if (auto link = store.shorturlFor(*this)) {
            QLLogInfo("Placeholder request: shorturl for " + logTitle + " already encoded");
            result = *link;
        } else if (store.isEncodingShorturl(*this)) {
            QLLogInfo("Placeholder request: shorturl encoding in progress for " + logTitle + ", using title");
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
    onMain([&] { result = title_.value_or(sharedLocationTitle()); });
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
    onMain([&] {
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
        QLLogInfo("item request: using shorturl " + *shorturl);
    } else {
        if (waitFor) {
            // The upload's completion removes its entry from the running uploads. The
            // wait is bounded: a stalled upload ends in the map link, not in a
            // share sheet that never gets its item.
            const ShareItemWait wait = currentWait();
            const double interval = wait.pollIntervalSeconds > 0 ? wait.pollIntervalSeconds : 0.1;
            const double limit = wait.limitSeconds > 0 ? wait.limitSeconds : 0;
            const auto maxPolls = static_cast<long>(std::ceil(limit / interval));
            for (long polls = 0;; ++polls) {
                if (!store->isEncodingShorturl(*waitFor)) break;
                if (polls >= maxPolls) {
                    QLLogInfo("item request: no shorturl after " + platform::text::describe(limit) +
                              " s - giving up waiting");
                    break;
                }
                QLLogInfo("item request: waiting for generator to finish");
                if (wait.sleep) {
                    wait.sleep(interval);
                } else {
                    std::this_thread::sleep_for(std::chrono::duration<double>(interval));
                }
            }
        }
        onMain([&] { shorturl = store->shorturlFor(*this); });
        if (shorturl) QLLogInfo("item request: using shorturl " + *shorturl);
    }

    std::string link;
    if (shorturl) {
        link = *shorturl;
    } else if (platform::CLLocationCoordinate2DIsValid(pointCoordinate)) {
        QLLogInfo("item request: encoding failed - falling back to OSM link");
        link = mapLink(pointCoordinate);
    } else {
        // Neither a short link nor a place on the map: the title is all there
        // is to share.
        QLLogInfo("item request: no shorturl and no valid coordinate - sharing the title alone");
        return pointTitle.value_or(sharedLocationTitle());
    }
    return itemText(activityType, pointTitle, link);
}

}  // namespace tervolo::points
