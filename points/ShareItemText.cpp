#include "points/ShareItemText.hpp"

#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/PlatformName.hpp"
#include "platform/text/Html.hpp"
#include "platform/text/Numbers.hpp"
#include "points/ShareActivityType.hpp"

namespace tervolo::points {

namespace {

using platform::text::htmlEscaped;

// Configuration values with defaults; TERVOLO_<key> overrides them.
std::string openStreetMapHost() {
    return platform::Bundle::main().infoString("QuovaOpenStreetMapWebHost").value_or("www.openstreetmap.org");
}

std::string productWebHost() {
    return platform::Bundle::main().infoString("QuovaProductWebHost").value_or("www.tervolo.invalid");
}

}  // namespace

std::string shareMapLink(platform::CLLocationCoordinate2D coordinate) {
    const std::string lat = platform::text::describe(coordinate.latitude);
    const std::string lon = platform::text::describe(coordinate.longitude);
    return "https://" + openStreetMapHost() + "/?mlat=" + lat + "&mlon=" + lon + "#map=15/" + lat + "/" + lon;
}

std::string shareMailBody(const std::optional<std::string>& title, const std::string& link) {
    std::string body = "<html>";
    body += platform::localizedString("I'd like to share this location with you:");
    body += "<br><br>";
    body += "<a href=\"" + htmlEscaped(link) + "\">";
    body += title ? htmlEscaped(*title) : platform::localizedString("Location");
    body += "</a><br><br><br><br><br>";
    body += platform::localizedString("Shared with");
    body += " <a href=\"https://" + htmlEscaped(productWebHost()) + "/appstore/\">";
    body += platform::productNameForPlatform("Tervolo");
    body += "</a>";
    body += "</html>";
    return body;
}

std::string shareItemText(const std::optional<std::string>& activityType,
                          const std::optional<std::string>& title, const std::string& link) {
    const std::string type = activityType.value_or("");
    if (activityType && (type == UIActivityTypeAirDrop || type == UIActivityTypeMessage ||
                         type == UIActivityTypeCopyToPasteboard)) {
        return link;
    }
    if (activityType && type == UIActivityTypePostToTwitter) {
        return (title ? *title + " " : std::string()) + link + " via @Tervolo ";
    }
    if (activityType && type == UIActivityTypeMail) return shareMailBody(title, link);
    return title ? *title + " " + link : link;
}

}  // namespace tervolo::points
