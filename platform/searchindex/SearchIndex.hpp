#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/searchindex/SearchableItem.hpp"

namespace platform {

// The system search index's stand-in: items by unique identifier, added or
// replaced and deleted by asynchronous requests. Requests are carried out in
// the order they are made; each request's completion runs once, on a thread of
// the index's own (never the caller's), with no error or the error that made
// the request fail.
//
// Built as its own target, tervolo_platform_searchindex (it needs the file
// and queue layers, which the plain text functions do not).
class SearchIndex {
  public:
    using CompletionHandler = std::function<void(std::optional<Error> error)>;

    virtual ~SearchIndex() = default;

    // The program's index: the one installed by setDefaultForTesting, else a
    // FileSearchIndex at "<documents>/SearchIndex.json" made on first use and
    // never destroyed.
    static SearchIndex& defaultSearchableIndex();
    // Installs `index` as the default (for tests; none restores the real one).
    static void setDefaultForTesting(std::shared_ptr<SearchIndex> index);

    // Adds the items; an item with the identifier of one already indexed
    // replaces it. A completion may be empty.
    virtual void indexSearchableItems(std::vector<SearchableItem> items,
                                      CompletionHandler completionHandler) = 0;
    // Removes the items with these identifiers; unknown identifiers are no error.
    virtual void deleteSearchableItemsWithIdentifiers(std::vector<std::string> identifiers,
                                                      CompletionHandler completionHandler) = 0;

    // The item with this identifier as of the requests completed so far.
    virtual std::optional<SearchableItem> item(const std::string& uniqueIdentifier) const = 0;
    // Every item, ordered by identifier, as of the requests completed so far.
    virtual std::vector<SearchableItem> allItems() const = 0;
};

}  // namespace platform
