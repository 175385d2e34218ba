#include "points/tests/FakeSearchIndex.hpp"

namespace tervolo::points::testing {

namespace {
std::shared_ptr<FakeSearchIndex>& slot() {
    static std::shared_ptr<FakeSearchIndex> index;
    return index;
}
}  // namespace

std::shared_ptr<FakeSearchIndex> FakeSearchIndex::install() {
    slot() = std::make_shared<FakeSearchIndex>();
    platform::SearchIndex::setDefaultForTesting(slot());
    return slot();
}

void FakeSearchIndex::uninstall() {
    if (slot()) slot()->requests();  // let pending completions finish
    platform::SearchIndex::setDefaultForTesting(nullptr);
    slot().reset();
}

std::shared_ptr<FakeSearchIndex> FakeSearchIndex::current() {
    return slot();
}

void FakeSearchIndex::indexSearchableItems(std::vector<platform::SearchableItem> items,
                                           CompletionHandler completionHandler) {
    {
        std::lock_guard lock(mutex_);
        if (!failure_) {
            for (const auto& item : items) items_[item.uniqueIdentifier] = item;
        }
        requests_.push_back({Request::Kind::index, std::move(items), {}});
    }
    complete(std::move(completionHandler));
}

void FakeSearchIndex::deleteSearchableItemsWithIdentifiers(std::vector<std::string> identifiers,
                                                           CompletionHandler completionHandler) {
    {
        std::lock_guard lock(mutex_);
        if (!failure_) {
            for (const auto& identifier : identifiers) items_.erase(identifier);
        }
        requests_.push_back({Request::Kind::remove, {}, std::move(identifiers)});
    }
    complete(std::move(completionHandler));
}

void FakeSearchIndex::complete(CompletionHandler handler) {
    std::optional<platform::Error> error;
    {
        std::lock_guard lock(mutex_);
        error = failure_;
    }
    queue_->async([handler = std::move(handler), error] {
        if (handler) handler(error);
    });
}

std::optional<platform::SearchableItem> FakeSearchIndex::item(const std::string& uniqueIdentifier) const {
    std::lock_guard lock(mutex_);
    auto it = items_.find(uniqueIdentifier);
    if (it == items_.end()) return std::nullopt;
    return it->second;
}

std::vector<platform::SearchableItem> FakeSearchIndex::allItems() const {
    std::lock_guard lock(mutex_);
    std::vector<platform::SearchableItem> all;
    for (const auto& [identifier, item] : items_) all.push_back(item);
    return all;
}

std::vector<FakeSearchIndex::Request> FakeSearchIndex::requests() {
    queue_->sync([] {});
    std::lock_guard lock(mutex_);
    return requests_;
}

void FakeSearchIndex::setFailure(std::optional<platform::Error> error) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(error);
}

}  // namespace tervolo::points::testing
