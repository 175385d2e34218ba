// The map screen's import of the point list an earlier generation of the
// program kept in the user defaults ("Points", a list of dictionaries).
#include <cmath>
#include <ctime>
#include <set>
#include <string>

#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "mapscreen/MainViewController.hpp"
#include "mapscreen/PointsOnMapRules.hpp"
#include "platform/foundation/PropertyValue.hpp"
#include "platform/foundation/UserDefaults.hpp"
#include "points/FileIdentifier.hpp"
#include "points/QuovaMapPointStore.hpp"

namespace tervolo::mapscreen {

namespace {

using Dictionary = platform::PropertyValue::Dictionary;

constexpr const char* kLegacyPointsKey = "Points";

// Each read answers only for the key's own type: a value of another type
// counts as missing.
const platform::PropertyValue* member(const Dictionary& element, const char* key) {
    const auto found = element.find(key);
    return found == element.end() ? nullptr : &found->second;
}
std::optional<std::string> textOf(const Dictionary& element, const char* key) {
    const auto* value = member(element, key);
    return value ? value->asString() : std::nullopt;
}
std::optional<double> numberOf(const Dictionary& element, const char* key) {
    const auto* value = member(element, key);
    return value ? value->asDouble() : std::nullopt;
}

// A date as the platform describes one: "2015-03-01 12:00:00 +0000".
std::string dateDescription(platform::Date date) {
    const double unix = std::floor(date.unixTime());
    if (!std::isfinite(unix) || std::fabs(unix) > 1e15) return "(invalid date)";
    const auto seconds = static_cast<std::time_t>(unix);
    std::tm parts{};
    if (gmtime_r(&seconds, &parts) == nullptr) return "(invalid date)";
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return text;
}

// Applies the optional keys in their table order; a missing one leaves its field.
void applyOptionalKeys(points::QuovaMapPoint& point, const Dictionary& element) {
    if (auto subtitle = textOf(element, "Subtitle")) point.setSubtitle(std::move(subtitle));
    if (auto url = textOf(element, "dataSourceURL")) point.setDataSourceURL(std::move(url));
    if (auto unique = textOf(element, "dataSourceUniqueID")) point.setDataSourceUniqueID(std::move(unique));
    if (auto sound = textOf(element, "alarmSound")) point.setAlarmSound(std::move(sound));
    if (auto version = textOf(element, "lastSavedByAppVersion"))
        point.setLastSavedByAppVersion(std::move(version));
    if (const auto* code = member(element, "dataSource"); code && code->asInteger()) {
        point.setDataSource(*code->asInteger());
    }
    if (const auto radius = numberOf(element, "alarmCircleDiameter")) point.setAlarmCircleDiameter(radius);
    if (const auto handcrafted = textOf(element, "hasHandcraftedTitle")) {
        point.setHasHandcraftedTitle(*handcrafted == "YES");
    }
    if (const auto* saved = member(element, "lastSavedAt"); saved && saved->asDate()) {
        QLLogInfo("found date: " + dateDescription(*saved->asDate()));
        point.setLastSavedAt(*saved->asDate());
    }
}

}  // namespace

void MainViewController::importLegacyDataFromDefaults() {
    QLLogInfo("importLegacyDataFromDefauls");
    const auto list = platform::UserDefaults::standard().listValue(kLegacyPointsKey);
    if (!list) return;
    QLLogInfo("Found previously registered points!");

    auto& store = points::QuovaMapPointStore::shared();
    // The list is never removed, so the import runs again at every start
    // without a valid point: an identifier the store knows in any state (a
    // point imported before and deleted since) or an earlier element took
    // is skipped, or its file would be overwritten and the deletion undone.
    std::set<std::string> taken;
    for (const auto& stored : store.points()) {
        if (stored->uuid()) taken.insert(*stored->uuid());
    }
    for (const auto& value : *list) {
        const Dictionary* element = value.asDictionary();
        if (element == nullptr) continue;
        const auto title = textOf(*element, "Title");
        if (!title) continue;
        QLLogInfo("Found point " + logging::debugQuoted(*title));
        const auto latitude = numberOf(*element, "lat");
        const auto longitude = numberOf(*element, "long");
        const auto uid = textOf(*element, "UID");
        if (!latitude || !longitude || !uid) continue;
        // The identifier becomes a file name: nothing but a plain entry of
        // the points folder ("../x" would write elsewhere).
        if (!points::isSafeFileIdentifier(*uid, points::QuovaMapPoint::kFileExtension)) {
            QLLogInfo("skipping point " + logging::debugQuoted(*title) +
                      ": its UID cannot name a point file");
            continue;
        }
        if (taken.count(*uid) != 0) {
            QLLogInfo("skipping point " + logging::debugQuoted(*title) + ": a point with UID " +
                      logging::debugQuoted(*uid) + " is stored already");
            continue;
        }
        const platform::CLLocationCoordinate2D coordinate{*latitude, *longitude};
        if (!platform::CLLocationCoordinate2DIsValid(coordinate)) {
            QLLogInfo("skipping point " + logging::debugQuoted(*title) + ": invalid coordinates");
            continue;
        }
        taken.insert(*uid);

        auto point = points::QuovaMapPoint::make(*title);
        point->setUuid(*uid);
        point->setCoordinate(coordinate);
        store.addPoint(point);
        applyOptionalKeys(*point, *element);
        point->setCreatedAt(platform::Date{leadingSecondsOfIdentifier(*uid)});
        QLLogInfo("Created new MapPoint " + logging::debugQuoted(point->description()));
        QLLogInfo("data path: " + logging::debugQuoted(points::QuovaMapPoint::documentDirectory() + *uid +
                                                       points::QuovaMapPoint::kFileExtension));
        // The legacy save stamps stay in the file when the element had them.
        point->savePreservingLastModification(store);
    }
    for (const auto& point : store.validPointsWithFilter(std::nullopt)) addAnnotation(point);
}

}  // namespace tervolo::mapscreen
