#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/text/SearchIndex.hpp"

namespace tervolo::points::testing {

// A search index that records every request in order and completes each on a
// serial queue of its own (never the caller's thread), as the real one does.
class FakeSearchIndex : public platform::SearchIndex {
  public:
    struct Request {
        enum class Kind { index, remove } kind;
        std::vector<platform::SearchableItem> items;  // index requests
        std::vector<std::string> identifiers;         // remove requests
    };

    // Installs a fresh fake as the default index and returns it.
    static std::shared_ptr<FakeSearchIndex> install();
    static void uninstall();
    static std::shared_ptr<FakeSearchIndex> current();

    void indexSearchableItems(std::vector<platform::SearchableItem> items,
                              CompletionHandler completionHandler) override;
    void deleteSearchableItemsWithIdentifiers(std::vector<std::string> identifiers,
                                              CompletionHandler completionHandler) override;
    std::optional<platform::SearchableItem> item(const std::string& uniqueIdentifier) const override;
    std::vector<platform::SearchableItem> allItems() const override;

    // The requests so far, after every completion has run.
    std::vector<Request> requests();
    // Makes the following requests fail with this error (none: succeed).
    void setFailure(std::optional<platform::Error> error);

  private:
    void complete(CompletionHandler handler);

    std::shared_ptr<platform::DispatchQueue> queue_ =
        platform::DispatchQueue::serial("points.tests.searchindex");
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::map<std::string, platform::SearchableItem> items_;
    std::optional<platform::Error> failure_;
};

}  // namespace tervolo::points::testing
