// Search-index entries of the point store: one item per titled point with a
// valid coordinate and an identifier.
#include "logging/LoggerMetadataValue.hpp"
#include "logging/QLLogging.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/location/CLLocationCoordinate2D.hpp"
#include "platform/searchindex/SearchIndex.hpp"
#include "points/QuovaMapPointStore.hpp"
#include "points/SearchItemMaker.hpp"
#include "points/SearchThumbnail.hpp"

namespace tervolo::points {

SearchItemMaker::SearchItemMaker()
    : domainIdentifier_(platform::Bundle::main().infoString("CFBundleIdentifier").value_or("")),
      // Translator comment: "Spotlight Item Description".
      description_(platform::Bundle::main().localizedString("Location from Tervolo")),
      thumbnail_(searchThumbnailJPEG()) {}

bool SearchItemMaker::isIndexable(const QuovaMapPoint& point) {
    return point.title() && point.uuid() && platform::CLLocationCoordinate2DIsValid(point.coordinate());
}

std::optional<platform::SearchableItem> SearchItemMaker::make(const QuovaMapPoint& point) const {
    if (!isIndexable(point)) return std::nullopt;
    platform::SearchableItem item;
    item.uniqueIdentifier = *point.uuid();
    item.domainIdentifier = domainIdentifier_;
    item.contentType = "public.content";
    item.title = *point.title();
    item.thumbnailData = thumbnail_;
    item.latitude = point.coordinate().latitude;
    item.longitude = point.coordinate().longitude;
    item.contentDescription = description_;
    if (point.subtitle()) item.contentDescription += " - " + *point.subtitle();
    return item;
}

std::optional<platform::SearchableItem> QuovaMapPointStore::searchableItem(const QuovaMapPoint& point) {
    if (!SearchItemMaker::isIndexable(point)) return std::nullopt;
    return SearchItemMaker().make(point);
}

void QuovaMapPointStore::addPointsToCoreSpotlight(const std::vector<std::shared_ptr<QuovaMapPoint>>& points) {
    // Deletion and hiding stamps are not looked at: every point with a title,
    // a valid coordinate and an identifier gets its item.
    std::vector<platform::SearchableItem> items;
    std::optional<SearchItemMaker> maker;  // made at the first indexable point
    for (const auto& point : points) {
        if (!point || !SearchItemMaker::isIndexable(*point)) continue;
        if (!maker) maker.emplace();
        items.push_back(*maker->make(*point));
    }
    indexSearchableItems(std::move(items));
}

void QuovaMapPointStore::indexSearchableItems(std::vector<platform::SearchableItem> items) {
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
