#pragma once

#include <optional>
#include <string>

#include "platform/foundation/PropertyValue.hpp"

namespace tervolo::app {

// The activity types and the user-info key the program answers to.
inline constexpr const char* NSUserActivityTypeBrowsingWeb = "NSUserActivityTypeBrowsingWeb";
inline constexpr const char* kSearchableItemActivityType = "com.apple.corespotlightitem";
inline constexpr const char* CSSearchableItemActivityIdentifier = "kCSSearchableItemActivityIdentifier";

// Something the user asked the program to continue: a web link to open, or
// one of the user's own points found through the desktop. The desktop has no
// universal links and no search index of the platform's kind; the program's
// links (IncomingLink) are turned into these.
struct UserActivity {
    std::string activityType;
    // Web activities: the link as given.
    std::optional<std::string> webpageURL;
    // Search-index activities: the point identifier under
    // CSSearchableItemActivityIdentifier.
    std::optional<platform::PropertyValue::Dictionary> userInfo;

    // <UserActivity: type "…", URL "…", userInfo [...]>, for the log.
    std::string debugDescription() const;
};

// A dictionary's text for the log: ["key": value, ...], "[:]" when empty.
std::string describeUserInfo(const platform::PropertyValue::Dictionary& userInfo);

}  // namespace tervolo::app
