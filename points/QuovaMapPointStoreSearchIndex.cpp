// Search-index entries of the point store: one item per titled point with a
// valid coordinate and an identifier.
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/SearchThumbnail.hpp"

namespace tervolo::points {

namespace {

// What every item of one request shares: read once per request, not per point.
struct ItemContext {
    std::string domainIdentifier = platform::Bundle::main().infoString("CFBundleIdentifier").value_or("");
    // Translator comment: "Spotlight Item Description".
    std::string description = platform::Bundle::main().localizedString("Location from Tervolo");
    std::optional<std::vector<uint8_t>> thumbnail = searchThumbnailJPEG();
};

platform::SearchableItem makeItem(const QuovaMapPoint& point, const ItemContext& context) {
    platform::SearchableItem item;
    item.uniqueIdentifier = *point.uuid();
    item.domainIdentifier = context.domainIdentifier;
    item.contentType = "public.content";
    item.title = *point.title();
    item.thumbnailData = context.thumbnail;
    item.latitude = point.coordinate().latitude;
    item.longitude = point.coordinate().longitude;
    item.contentDescription = context.description;
    if (point.subtitle()) item.contentDescription += " - " + *point.subtitle();
    return item;
}

bool isIndexable(const QuovaMapPoint& point) {
    return point.title() && point.uuid() && platform::CLLocationCoordinate2DIsValid(point.coordinate());
}

}  // namespace

std::optional<platform::SearchableItem> QuovaMapPointStore::searchableItem(const QuovaMapPoint& point) {
    if (!isIndexable(point)) return std::nullopt;
    return makeItem(point, ItemContext{});
}

void QuovaMapPointStore::addPointsToCoreSpotlight(const std::vector<std::shared_ptr<QuovaMapPoint>>& points) {
    // Deletion and hiding stamps are not looked at: every point with a title,
    // a valid coordinate and an identifier gets its item.
    std::vector<platform::SearchableItem> items;
    std::optional<ItemContext> context;  // made at the first indexable point
    for (const auto& point : points) {
        if (!point || !isIndexable(*point)) continue;
        if (!context) context.emplace();
        items.push_back(makeItem(*point, *context));
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
    std::string title = point.title().value_or("(unknown)");
    if (!point.uuid()) return;
    platform::SearchIndex::defaultSearchableIndex().deleteSearchableItemsWithIdentifiers(
        {*point.uuid()}, [title = std::move(title)](std::optional<platform::Error> error) {
            if (error) {
                QLLogInfo("removing point " + logging::debugQuoted(title) +
                          " from Spotlight FAILED, reason: " + error->description + ".");
            } else {
                QLLogInfo("removing point " + logging::debugQuoted(title) +
                          " from Spotlight completed successfully.");
            }
        });
}

}  // namespace tervolo::points
