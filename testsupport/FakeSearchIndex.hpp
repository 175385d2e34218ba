#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/text/SearchIndex.hpp"

namespace tervolo::testsupport {

// An in-memory search index that records every request. Completions are held
// until the test releases them with completePending() (so a test decides when
// "the platform" answers and can check what happens before), unless
// setCompletesImmediately(true) makes requests complete inside the call.
// A failure set with failNextRequest() is reported by the next request, which
// then changes nothing. Thread-safe.
//
// Install it with platform::SearchIndex::setDefaultForTesting(fake) (and
// reset with nullptr); that call lives in tervolo_platform_searchindex.
class FakeSearchIndex : public platform::SearchIndex {
  public:
    struct Request {
        enum class Kind { Index, Delete } kind;
        std::vector<platform::SearchableItem> items;  // Index
        std::vector<std::string> identifiers;         // Delete
    };

    void indexSearchableItems(std::vector<platform::SearchableItem> items,
                              CompletionHandler completionHandler) override {
        submit(Request{Request::Kind::Index, std::move(items), {}}, std::move(completionHandler));
    }
    void deleteSearchableItemsWithIdentifiers(std::vector<std::string> identifiers,
                                              CompletionHandler completionHandler) override {
        submit(Request{Request::Kind::Delete, {}, std::move(identifiers)}, std::move(completionHandler));
    }
    std::optional<platform::SearchableItem> item(const std::string& uniqueIdentifier) const override {
        std::lock_guard lock(mutex_);
        const auto it = items_.find(uniqueIdentifier);
        if (it == items_.end()) return std::nullopt;
        return it->second;
    }
    std::vector<platform::SearchableItem> allItems() const override {
        std::lock_guard lock(mutex_);
        std::vector<platform::SearchableItem> out;
        for (const auto& [identifier, item] : items_) out.push_back(item);
        return out;
    }

    // Every request so far, in order.
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }
    void setCompletesImmediately(bool immediately) {
        std::lock_guard lock(mutex_);
        immediately_ = immediately;
    }
    void failNextRequest(platform::Error error) {
        std::lock_guard lock(mutex_);
        nextError_ = std::move(error);
    }
    // Runs the held completions in request order on the calling thread and
    // returns how many ran.
    size_t completePending() {
        std::deque<std::function<void()>> run;
        {
            std::lock_guard lock(mutex_);
            run.swap(pending_);
        }
        for (auto& completion : run) completion();
        return run.size();
    }

  private:
    void submit(Request request, CompletionHandler completionHandler) {
        std::optional<platform::Error> error;
        bool immediately = false;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            error = std::move(nextError_);
            nextError_.reset();
            if (!error) {
                for (const auto& item : request.items) items_[item.uniqueIdentifier] = item;
                for (const auto& identifier : request.identifiers) items_.erase(identifier);
            }
            immediately = immediately_;
            if (!immediately) {
                pending_.push_back([completionHandler, error] {
                    if (completionHandler) completionHandler(error);
                });
            }
        }
        if (immediately && completionHandler) completionHandler(error);
    }

    mutable std::mutex mutex_;
    std::map<std::string, platform::SearchableItem> items_;
    std::vector<Request> requests_;
    std::deque<std::function<void()>> pending_;
    std::optional<platform::Error> nextError_;
    bool immediately_ = false;
};

}  // namespace tervolo::testsupport
