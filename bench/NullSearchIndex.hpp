#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/searchindex/SearchIndex.hpp"

namespace tervolo::bench {

// Takes every request and answers none: a benchmark of the point store
// measures the store, not an index.
class NullSearchIndex : public platform::SearchIndex {
  public:
    void indexSearchableItems(std::vector<platform::SearchableItem>, CompletionHandler) override {}
    void deleteSearchableItemsWithIdentifiers(std::vector<std::string>, CompletionHandler) override {}
    std::optional<platform::SearchableItem> item(const std::string&) const override { return std::nullopt; }
    std::vector<platform::SearchableItem> allItems() const override { return {}; }
};

}  // namespace tervolo::bench
