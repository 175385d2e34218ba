#include "pointscreens/PointDetailsContent.hpp"

#include <QDateTime>
#include <QLocale>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "geodesy/QuovaCoordinateFormat.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "platform/text/Numbers.hpp"
#include "platform/text/Unicode.hpp"
#include "points/QuovaStringRepresentation.hpp"
#include "points/RecordFile.hpp"
#include "points/WriteFailure.hpp"

namespace tervolo::pointscreens {

namespace {

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
constexpr double kSeconds1970To2001 = 978307200.0;

std::string replaceFirst(std::string text, const std::string& placeholder, const std::string& value) {
    const size_t at = text.find(placeholder);
    if (at != std::string::npos) text.replace(at, placeholder.size(), value);
    return text;
}

}  // namespace

int64_t coordinateFormatFromDefaults(platform::UserDefaults& defaults, int64_t current) {
    const auto stored = defaults.integerValue(geodesy::kCoordinateFormatDefaultsKey);
    if (!stored) {
        QLLogInfo("no coordinateFormat value found in Defaults");
        return current;
    }
    if (*stored < 1 || *stored > 5) {
        QLLogInfo("no valid coordinateFormat found in Defaults");
        return current;
    }
    QLLogInfo("found coordinateFormat " + std::to_string(*stored) + " in Defaults");
    return *stored;
}

int64_t nextCoordinateFormat(int64_t current) {
    switch (current) {
        case 2:
            return 3;
        case 3:
            return 4;
        case 4:
            return 5;
        case 5:
            return 1;
        default:
            return 2;
    }
}

std::string coordinateLabelText(const points::QuovaMapPoint* point, int64_t format) {
    if (!point) return platform::localizedString("(unknown)");
    std::string text = geodesy::quovaCoordinateDescriptionWithFormat(point->coordinate(), format);
    if (format == 5) {
        text += " (MGRS)";
    } else if (format == 4) {
        text += " (UTM)";
    }
    return text;
}

platform::MKMapRect mapRectForRegion(platform::CLLocationCoordinate2D center, double metres) {
    const auto region = platform::MKCoordinateRegionMakeWithDistance(center, metres, metres);
    const platform::MKMapPoint a = platform::MKMapPointForCoordinate(
        {center.latitude + region.span.latitudeDelta / 2, center.longitude - region.span.longitudeDelta / 2});
    const platform::MKMapPoint b = platform::MKMapPointForCoordinate(
        {center.latitude - region.span.latitudeDelta / 2, center.longitude + region.span.longitudeDelta / 2});
    return {a, {std::fabs(a.x - b.x), std::fabs(a.y - b.y)}};
}

double textMeasureWidth(double viewWidth, bool statusLineBesideMap, std::optional<double> clearButtonWidth) {
    double width = viewWidth - 10;
    if (statusLineBesideMap) width /= 2;
    if (clearButtonWidth) width -= *clearButtonWidth;
    return width;
}

double textRowHeightLimit(double viewHeight) {
    return std::max(48.0, std::floor(viewHeight / 3));
}

double clearButtonTopDistance(double textHeight, std::optional<double> buttonHeight) {
    return (textHeight - buttonHeight.value_or(20)) * 0.5;
}

bool isDrawableRadius(double radius) {
    return std::isfinite(radius) && radius > 0;
}

bool isWebAddress(const std::string& address) {
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

std::string googleMapsSearchAddress(platform::CLLocationCoordinate2D coordinate,
                                    const std::optional<std::string>& placeID) {
    std::string address =
        "https://www.google.com/maps/search/?api=1&query=" + platform::text::describe(coordinate.latitude) +
        "," + platform::text::describe(coordinate.longitude);
    if (placeID) {
        // The identifier comes with the point from outside: escaped, it
        // cannot add parameters of its own to the address.
        address +=
            "&query_place_id=" + QUrl::toPercentEncoding(QString::fromStdString(*placeID)).toStdString();
    }
    return address;
}

SourceRow sourceRowForPoint(const points::QuovaMapPoint& point) {
    SourceRow row;
    if (!point.dataSourceName()) return row;
    const std::string& name = *point.dataSourceName();
    std::optional<std::string> address = point.dataSourceURL();
    if (name == "Yelp") {
        row.logoImageName = QStringLiteral("yelp_logo.png");
        row.seePageTitle = platform::localizedString("Yelp ...");
    } else if (name == "OpenStreetMap") {
        row.logoImageName = QStringLiteral("OSM_Logo.png");
        row.seePageTitle = platform::localizedString("OpenStreetMap ...");
    } else if (name == "Google") {
        row.logoImageName = QStringLiteral("google_maps_logo.png");
        row.seePageTitle = platform::localizedString("Google Maps ...");
        address = googleMapsSearchAddress(point.coordinate(), point.dataSourceUniqueID());
        QLLogInfo("using Google Maps URL " + *address);
    } else {
        return row;
    }
    row.hidden = false;
    row.linkLabel = platform::localizedString("Found on");
    if (address && isWebAddress(*address)) row.address = std::move(address);
    return row;
}

std::optional<platform::Color> tagColorFromString(const std::optional<std::string>& colorString) {
    if (!colorString) return std::nullopt;
    if (auto color = points::quovaInitWithDecimalString(*colorString)) return color;
    return points::quovaInitWithHexString(*colorString);
}

PointTagChips chipsForTagIdentifiers(const std::vector<std::string>& identifiers,
                                     const std::vector<std::shared_ptr<points::QuovaPointTag>>& tags) {
    PointTagChips result;
    for (const std::string& identifier : identifiers) {
        const std::string wanted = platform::text::lowercased(identifier);
        std::shared_ptr<points::QuovaPointTag> found;
        for (const auto& tag : tags) {
            if (tag && platform::text::lowercased(tag->uuid()) == wanted) {
                found = tag;
                break;
            }
        }
        if (!found) {
            result.unresolved.push_back(identifier);
            continue;
        }
        result.chips.push_back({found->title(), found->uuid(), tagColorFromString(found->colorString())});
    }
    return result;
}

void applyEdits(points::QuovaMapPoint& point, const PointEdits& edits) {
    // A text view always has a text: an empty one over a point without that
    // text leaves it without, so editing the subtitle alone of a point without
    // a title neither invents an empty title nor counts as a typed one.
    const auto shown = [](const std::optional<std::string>& before, const std::optional<std::string>& text) {
        return !before && text && text->empty() ? std::nullopt : text;
    };
    std::optional<std::string> title = shown(point.title(), edits.title);
    // A point is found by its title: its pin's callout, its letter in the A-Z
    // list and its row show nothing else. An emptied (or blank) title keeps
    // the one the point had, so no save makes a point unreachable.
    if (title && platform::text::trimmed(*title).empty() && point.title()) title = point.title();
    if (point.title() != title) point.setHasHandcraftedTitle(true);
    point.setTitle(title);
    point.setSubtitle(shown(point.subtitle(), edits.subtitle));
    // A radius the screen never applied leaves the point's own; one it applied
    // (the stored one at load, a choice, "(none)" as 0) replaces it.
    if (edits.newRadius) point.setAlarmCircleDiameter(edits.newRadius);
    if (!edits.chipIdentifiers) return;
    std::vector<std::string> tags = *edits.chipIdentifiers;
    for (const std::string& identifier : edits.unresolvedIdentifiers) {
        const std::string lower = platform::text::lowercased(identifier);
        bool present = false;
        for (const std::string& kept : tags) present = present || platform::text::lowercased(kept) == lower;
        if (!present) tags.push_back(identifier);
    }
    QLLogDebug("Keeping UUIDs: " + identifierListText(tags));
    point.setTags(std::move(tags));
}

std::string identifierListText(const std::vector<std::string>& identifiers) {
    std::string text = "[";
    for (size_t i = 0; i < identifiers.size(); ++i) {
        if (i > 0) text += ", ";
        text += "\"" + identifiers[i] + "\"";
    }
    return text + "]";
}

std::string statusLineText(platform::Date createdAt, platform::Date lastSavedAt) {
    const QLocale locale = QLocale::system();
    const auto shortText = [&](platform::Date date) {
        const auto msecs =
            static_cast<qint64>(std::llround((date.secondsSince2001 + kSeconds1970To2001) * 1000));
        return locale.toString(QDateTime::fromMSecsSinceEpoch(msecs).toLocalTime(), QLocale::ShortFormat)
            .toStdString();
    };
    std::string text = platform::localizedString("Location first saved at %@, last change: %@.");
    text = replaceFirst(std::move(text), "%@", shortText(createdAt));
    return replaceFirst(std::move(text), "%@", shortText(lastSavedAt));
}

std::string saveFailureMessage(const platform::Error& error) {
    return points::writeFailureReason(error) + " " +
           platform::localizedString("Your changes are still on the screen.");
}

}  // namespace tervolo::pointscreens
