#pragma once

#include <optional>
#include <string>

#include "platform/location/CLLocationCoordinate2D.hpp"

// The texts a shared place is made of, the same for every share item (a map
// point, the user's own position): the public web map link used when no short
// link can be had, and the text for each way of sharing. Pure functions of
// their arguments and the configured hosts; any thread.
namespace tervolo::points {

// The place on the public web map at zoom level 15:
// "https://<host>/?mlat=<lat>&mlon=<lon>#map=15/<lat>/<lon>", each number the
// shortest decimal text that reads back as the same double ("13.0", "1e-05").
// The host is the information dictionary's "QuovaOpenStreetMapWebHost"
// (default "www.openstreetmap.org").
std::string shareMapLink(platform::CLLocationCoordinate2D coordinate);

// The HTML body of a shared place's mail: an invitation, the link with the
// title (the localized "Location" when there is none) as its text, and a
// "Shared with" line linking the product's web site ("QuovaProductWebHost").
// Titles come from users and links from the network, so both are escaped (as
// text and as a double-quoted attribute value): nothing in them becomes
// markup.
std::string shareMailBody(const std::optional<std::string>& title, const std::string& link);

// The text to share for an activity type (points/ShareActivityType.hpp):
// AirDrop, Message and Copy get the link alone; Twitter "<title> <link> via
// @Tervolo " (the title part only with a title; the text ends with a blank);
// Mail the HTML body above; no type or any other type "<title> <link>", or the
// link alone without a title.
std::string shareItemText(const std::optional<std::string>& activityType,
                          const std::optional<std::string>& title, const std::string& link);

}  // namespace tervolo::points
