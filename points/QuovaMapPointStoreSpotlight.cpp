// Search-index entries of the point store: one item per titled point with a
// valid coordinate and an identifier.
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/text/SearchIndex.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/SearchThumbnail.hpp"

namespace tervolo::points {

namespace {

platform::SearchableItem makeItem(const QuovaMapPoint& point,
                                  const std::optional<std::vector<uint8_t>>& thumbnail) {
    platform::SearchableItem item;
    item.uniqueIdentifier = *point.uuid;
    item.domainIdentifier = platform::Bundle::main().infoString("CFBundleIdentifier").value_or("");
    item.contentType = "public.content";
    item.title = *point.title;
    item.thumbnailData = thumbnail;
    item.latitude = point.coordinate.latitude;
    item.longitude = point.coordinate.longitude;
    // Translator comment: "Spotlight Item Description".
    item.contentDescription = platform::Bundle::main().localizedString("Location from Tervolo");
    if (point.subtitle) item.contentDescription += " - " + *point.subtitle;
    return item;
}

bool isIndexable(const QuovaMapPoint& point) {
    return point.title && point.uuid && platform::CLLocationCoordinate2DIsValid(point.coordinate);
}

}  // namespace

std::optional<platform::SearchableItem> QuovaMapPointStore::searchableItem(const QuovaMapPoint& point) {
    if (!isIndexable(point)) return std::nullopt;
    return makeItem(point, searchThumbnailJPEG());
}

void QuovaMapPointStore::addPointsToCoreSpotlight(const std::vector<std::shared_ptr<QuovaMapPoint>>& points) {
    // Deletion and hiding stamps are not looked at: every point with a title,
    // a valid coordinate and an identifier gets its item.
    std::vector<platform::SearchableItem> items;
    std::optional<std::optional<std::vector<uint8_t>>> thumbnail;  // read once per request
    for (const auto& point : points) {
        if (!point || !isIndexable(*point)) continue;
        if (!thumbnail) thumbnail = searchThumbnailJPEG();
        items.push_back(makeItem(*point, *thumbnail));
    }
    if (items.empty()) return;
    QLLogInfo("Created array of " + std::to_string(items.size()) + " Spotlight items.");
    platform::SearchIndex::defaultSearchableIndex().indexSearchableItems(
        std::move(items), [](std::optional<platform::Error> error) {
            if (error) {
                QLLogInfo("Spotlight indexing FAILED, reason: " + error->description + ".");
            } else {
                QLLogInfo("Spotlight indexing completed successfully.");
            }
        });
}

void QuovaMapPointStore::removePointFromSpotlight(const QuovaMapPoint& point) {
    // The completion keeps its own copy of the title.
    std::string title = point.title.value_or("(unknown)");
    if (!point.uuid) return;
    platform::SearchIndex::defaultSearchableIndex().deleteSearchableItemsWithIdentifiers(
        {*point.uuid}, [title = std::move(title)](std::optional<platform::Error> error) {
            if (error) {
                QLLogInfo("removing point " + title +
                          " from Spotlight FAILED, reason: " + error->description + ".");
            } else {
                QLLogInfo("removing point " + title + " from Spotlight completed successfully.");
            }
        });
}

}  // namespace tervolo::points
