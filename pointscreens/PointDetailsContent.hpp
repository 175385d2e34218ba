#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/mapkit/MKGeometry.hpp"
#include "platform/text/Color.hpp"
#include "points/QuovaMapPoint.hpp"
#include "points/QuovaPointTag.hpp"

namespace platform {
class UserDefaults;
}

// The decisions of the point details screen, without widgets: which format
// the coordinate label starts in and where a tap takes it, the small map's
// rect for a region, the source row, the chips of a point's tags, what a
// save writes into the point, the status line and the reason shown when a
// save wrote nothing. Main thread only (the tag store and the point are).
namespace tervolo::pointscreens {

// The format the screen starts in: the integer stored under "coordinateFormat"
// when it is 1 to 5, else `current` (logged with the reason either way).
int64_t coordinateFormatFromDefaults(platform::UserDefaults& defaults, int64_t current);
// The label's cycle: 2 → 3 → 4 → 5 → 1, anything else → 2.
int64_t nextCoordinateFormat(int64_t current);
// The coordinate label's text: the point's coordinate in `format`, with
// " (UTM)" after format 4 and " (MGRS)" after format 5; "(unknown)" without a point.
std::string coordinateLabelText(const points::QuovaMapPoint* point, int64_t format);

// The map rect of a region of `metres` × `metres` around `center`, built from
// its north-west and south-east corners (origin at the first, width and
// height the absolute differences of the two map points).
platform::MKMapRect mapRectForRegion(platform::CLLocationCoordinate2D center, double metres);

// The width a text view is measured at: the view's width minus 10; half of
// that for the status line while it stands beside the map; minus the row's
// clear button for the title and subtitle.
double textMeasureWidth(double viewWidth, bool statusLineBesideMap, std::optional<double> clearButtonWidth);
// The greatest height of the title or subtitle view in a screen view `viewHeight` high: a third of
// it, and never less than 48 pixels (two lines of the title); a longer text scrolls inside its view,
// so the rows below stay on screen and the text's later lines need no laying out before they are
// scrolled to.
double textRowHeightLimit(double viewHeight);
// The clear button's top distance that centres it on a text of `textHeight`
// (a button of 20 when there is none).
double clearButtonTopDistance(double textHeight, std::optional<double> buttonHeight);

// Whether a stored radius (metres) can be drawn as a circle: finite and above 0.
bool isDrawableRadius(double radius);

// The source row of a point found through a search: the data source's logo,
// "Found on" and the see-page button with its address.
struct SourceRow {
    bool hidden = true;                  // no data source, or one of no known name
    QString logoImageName;               // "yelp_logo.png", "OSM_Logo.png", "google_maps_logo.png"
    std::string linkLabel;               // localized "Found on"
    std::string seePageTitle;            // localized "Yelp ...", "OpenStreetMap ...", "Google Maps ..."
    std::optional<std::string> address;  // none: the see-page button is hidden
};
// Addresses come from stored and shared data: only http and https ones are
// offered for opening.
SourceRow sourceRowForPoint(const points::QuovaMapPoint& point);
// "https://www.google.com/maps/search/?api=1&query=<lat>,<lon>" (numbers in
// their shortest decimal form), then "&query_place_id=" and the identifier
// percent-encoded (all but the unreserved characters) when there is one.
std::string googleMapsSearchAddress(platform::CLLocationCoordinate2D coordinate,
                                    const std::optional<std::string>& placeID);
// True for an absolute http or https address with a host.
bool isWebAddress(const std::string& address);

// The colour of a colour string: decimal components first, then hex digits.
std::optional<platform::Color> tagColorFromString(const std::optional<std::string>& colorString);

// One chip: the tag's title, its identifier and colour.
struct TagChip {
    std::string title;
    std::string identifier;
    std::optional<platform::Color> color;
};
struct PointTagChips {
    std::vector<TagChip> chips;           // in the point's order
    std::vector<std::string> unresolved;  // identifiers without a stored tag, in order
};
// The chips of a point's tag identifiers: each identifier finds the first tag
// whose identifier equals it without letter case.
PointTagChips chipsForTagIdentifiers(const std::vector<std::string>& identifiers,
                                     const std::vector<std::shared_ptr<points::QuovaPointTag>>& tags);

// What the screen holds when it is saved.
struct PointEdits {
    std::optional<std::string> title;     // the title view's text (none without the view)
    std::optional<std::string> subtitle;  // the subtitle view's text
    std::optional<double> newRadius;      // metres; none: the radius was never applied here
    // The chips' identifiers in chip order; none without the chip list.
    std::optional<std::vector<std::string>> chipIdentifiers;
    // Identifiers of the point that had no stored tag when the screen loaded:
    // kept after the chips' so a missing tag file loses nothing.
    std::vector<std::string> unresolvedIdentifiers;
};
// Writes the edits into the point: an empty or blank title keeps the one the
// point has (it is how the point is found); a changed title sets hasHandcraftedTitle
// (never cleared here), title and subtitle as shown, the radius applied on
// the screen (none applied: the point keeps its own), the tags rebuilt from
// the chips, then the unresolved ones not already among them.
void applyEdits(points::QuovaMapPoint& point, const PointEdits& edits);
// ["A", "B"] as the save's debug record prints it.
std::string identifierListText(const std::vector<std::string>& identifiers);

// "Location first saved at <created>, last change: <saved>." with both dates
// in the user's short date and time.
std::string statusLineText(platform::Date createdAt, platform::Date lastSavedAt);

// The alert text of a save that wrote nothing, naming the reason.
std::string saveFailureMessage(const platform::Error& error);

}  // namespace tervolo::pointscreens
