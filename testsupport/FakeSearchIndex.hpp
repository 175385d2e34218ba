#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/searchindex/SearchIndex.hpp"

namespace tervolo::testsupport {

// An in-memory search index that records every request in order. How a
// request's completion runs is chosen per fake:
// - held (the default for a fake made directly): kept until the test releases
//   it with completePending(), so a test decides when "the platform" answers
//   and can check what happens before;
// - immediately: inside the request call, on the caller's thread;
// - on its own queue: on a serial queue of the fake's (never the caller's
//   thread), as the real index does. install() makes fakes of this kind.
// A failed request changes no item. failNextRequest() makes only the next
// request fail; setFailure() makes every following request fail until
// cleared (the one-shot failure wins where both are set). Thread-safe.
//
// install()/uninstall() set the fake as platform::SearchIndex's default, which
// lives in tervolo_platform_searchindex: binaries using them link that target.
class FakeSearchIndex : public platform::SearchIndex {
  public:
    struct Request {
        enum class Kind { index, remove } kind;
        std::vector<platform::SearchableItem> items;  // index requests
        std::vector<std::string> identifiers;         // remove requests
    };
    enum class Completion { held, immediately, onOwnQueue };

    explicit FakeSearchIndex(Completion completion = Completion::held) : completion_(completion) {}

    // Installs a fresh fake as the default index and returns it; its
    // completions run on its own queue unless told otherwise.
    static std::shared_ptr<FakeSearchIndex> install(Completion completion = Completion::onOwnQueue) {
        installed() = std::make_shared<FakeSearchIndex>(completion);
        platform::SearchIndex::setDefaultForTesting(installed());
        return installed();
    }
    // Lets the installed fake's queued completions finish, then restores the
    // real default index.
    static void uninstall() {
        if (installed()) installed()->waitForQueuedCompletions();
        platform::SearchIndex::setDefaultForTesting(nullptr);
        installed().reset();
    }
    // The fake install() made last (none after uninstall()).
    static std::shared_ptr<FakeSearchIndex> current() { return installed(); }

    void indexSearchableItems(std::vector<platform::SearchableItem> items,
                              CompletionHandler completionHandler) override {
        submit(Request{Request::Kind::index, std::move(items), {}}, std::move(completionHandler));
    }
    void deleteSearchableItemsWithIdentifiers(std::vector<std::string> identifiers,
                                              CompletionHandler completionHandler) override {
        submit(Request{Request::Kind::remove, {}, std::move(identifiers)}, std::move(completionHandler));
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

    // Every request so far, in order, after the completions queued on the
    // fake's own queue have run (held ones stay held).
    std::vector<Request> requests() const {
        waitForQueuedCompletions();
        std::lock_guard lock(mutex_);
        return requests_;
    }
    size_t pendingCount() const {
        std::lock_guard lock(mutex_);
        return pending_.size();
    }
    void setCompletion(Completion completion) {
        std::lock_guard lock(mutex_);
        completion_ = completion;
    }
    void failNextRequest(platform::Error error) {
        std::lock_guard lock(mutex_);
        nextError_ = std::move(error);
    }
    // Makes the following requests fail with this error (none: succeed).
    void setFailure(std::optional<platform::Error> error) {
        std::lock_guard lock(mutex_);
        failure_ = std::move(error);
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
    static std::shared_ptr<FakeSearchIndex>& installed() {
        static std::shared_ptr<FakeSearchIndex> index;
        return index;
    }

    void waitForQueuedCompletions() const {
        queue_->sync([] {});
    }

    void submit(Request request, CompletionHandler completionHandler) {
        std::optional<platform::Error> error;
        Completion completion;
        {
            std::lock_guard lock(mutex_);
            error = nextError_ ? std::move(nextError_) : failure_;
            nextError_.reset();
            if (!error) {
                for (const auto& item : request.items) items_[item.uniqueIdentifier] = item;
                for (const auto& identifier : request.identifiers) items_.erase(identifier);
            }
            requests_.push_back(std::move(request));
            completion = completion_;
            if (completion == Completion::held) {
                pending_.push_back([completionHandler, error] {
                    if (completionHandler) completionHandler(error);
                });
            }
        }
        if (!completionHandler) return;
        if (completion == Completion::immediately) {
            completionHandler(error);
        } else if (completion == Completion::onOwnQueue) {
            queue_->async(
                [completionHandler = std::move(completionHandler), error] { completionHandler(error); });
        }
    }

    const std::shared_ptr<platform::DispatchQueue> queue_ =
        platform::DispatchQueue::serial("testsupport.searchindex");
    mutable std::mutex mutex_;
    std::map<std::string, platform::SearchableItem> items_;
    std::vector<Request> requests_;
    std::deque<std::function<void()>> pending_;
    std::optional<platform::Error> nextError_;
    std::optional<platform::Error> failure_;
    Completion completion_;
};

}  // namespace tervolo::testsupport
